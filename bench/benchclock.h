// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace velmora::bench {

// The best of `runs` timings of `work`, in milliseconds.
template <class Work> double bestOf(int runs, Work&& work) {
    double best = std::numeric_limits<double>::max();
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        work();
        best = std::min(best, clock.nsecsElapsed() / 1e6);
    }
    return best;
}

inline void report(const char* what, double measured, const char* baselineName, double baseline,
                   double bound) {
    const double ratio = measured / baseline;
    std::printf("%-48s %10.2f ms  %s %10.2f ms  ratio %6.2f  (bound %.1f: %s)\n", what, measured,
                baselineName, baseline, ratio, bound, ratio <= bound ? "within" : "OVER");
}

// Runs `program` in `folder`, its output dropped; whether it ended well.
inline bool runQuietly(const QString& program, const QStringList& arguments,
                       const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace velmora::bench
