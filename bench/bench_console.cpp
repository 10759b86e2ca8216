// SPDX-License-Identifier: GPL-3.0-or-later
// The console window under load: 100 MB of tool output shown in the window, against the same
// output read and dropped by a bare process, with the longest time the window's event loop
// waited meanwhile; a soak of the console program fed 1 GB of mixed output (its peak memory,
// its event loop's longest wait, the time until its result line); and how soon a launched
// console has shown its tool's result, against starting the tool alone. All in the same run.

#include "benchclock.h"
#include "console/consolewindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>

#include <sys/resource.h>

namespace {

const QString kTool = QStringLiteral(SCRIPTED_TOOL);
const QString kConsole = QStringLiteral(VELMORA_CONSOLE);
constexpr qint64 kFlood = qint64(100) << 20;

double drainedByAProcess() {
    return velmora::bench::bestOf(3, [] {
        QProcess process;
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                         [&process] { process.readAllStandardOutput(); });
        process.start(kTool, {QStringLiteral("flood"), QString::number(kFlood)});
        QSignalSpy done(&process, &QProcess::finished);
        done.wait(600000);
    });
}

struct Shown {
    double milliseconds = 0;
    qint64 longestWait = 0; // of the event loop, in milliseconds
    qint64 characters = 0;
};

Shown shownInTheWindow() {
    velmora::console::ConsoleWindow window(
        {kTool, QStringLiteral("flood"), QString::number(kFlood)});
    window.show();
    QElapsedTimer beat;
    qint64 longest = 0;
    QTimer heart;
    heart.setInterval(5);
    QObject::connect(&heart, &QTimer::timeout, &heart,
                     [&] { longest = std::max(longest, beat.restart()); });
    QSignalSpy finished(&window, &velmora::console::ConsoleWindow::toolFinished);
    QElapsedTimer clock;
    clock.start();
    beat.start();
    heart.start();
    window.start();
    finished.wait(600000);
    Shown shown;
    shown.milliseconds = clock.nsecsElapsed() / 1e6;
    shown.longestWait = longest;
    shown.characters =
        window.findChild<QPlainTextEdit*>(QStringLiteral("output"))->document()->characterCount();
    return shown;
}

double untilReported(const QString& report, const QString& program, const QStringList& arguments) {
    return velmora::bench::bestOf(5, [&] {
        QFile::remove(report);
        QElapsedTimer clock;
        clock.start();
        QProcess::startDetached(program, arguments);
        while (!QFile::exists(report) && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    });
}

struct Soak {
    double milliseconds = 0;
    long peakKilobytes = 0;
    QString longestWait;
};

// The console program itself, its tool writing 1 GB of mixed output; what it reports at the end.
Soak soakedConsole(const QString& folder) {
    QProcess console;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELMORA_CONSOLE_REPORT"), folder + QStringLiteral("/soak"));
    environment.insert(QStringLiteral("VELMORA_CONSOLE_NAME"),
                       folder + QStringLiteral("/soak-console"));
    console.setProcessEnvironment(environment);
    console.setProgram(kConsole);
    console.setArguments({kTool, QStringLiteral("mixed"), QString::number(qint64(1) << 30)});
    QElapsedTimer clock;
    clock.start();
    console.start();
    console.waitForFinished(-1);
    Soak soak;
    soak.milliseconds = clock.nsecsElapsed() / 1e6;
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    soak.peakKilobytes = usage.ru_maxrss;
    QFile report(folder + QStringLiteral("/soak"));
    report.open(QIODevice::ReadOnly);
    const QString text = QString::fromUtf8(report.readAll());
    soak.longestWait = text.section(QStringLiteral("longest wait: "), 1).trimmed();
    return soak;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir folder;
    // Before any other child, so that the peak memory measured is the console's.
    const Soak soak = soakedConsole(folder.path());
    std::printf("%-48s %10.2f ms  (%.0f MB/s)\n", "console soak: 1 GB of mixed output, to result",
                soak.milliseconds, 1024 * 1000 / soak.milliseconds);
    std::printf("%-48s %10ld MB  (bound 100: %s)\n", "console soak: peak memory",
                soak.peakKilobytes / 1024, soak.peakKilobytes / 1024 <= 100 ? "within" : "OVER");
    std::printf("%-48s %10s     (bound 100 ms)\n", "console soak: longest wait of its event loop",
                qPrintable(soak.longestWait));

    const double drained = drainedByAProcess();
    const Shown shown = shownInTheWindow();
    std::printf("%-48s %10.2f ms  read and dropped %10.2f ms  ratio %6.2f  (%.0f MB/s)\n",
                "console: 100 MB of output shown", shown.milliseconds, drained,
                shown.milliseconds / drained, 100 * 1000 / shown.milliseconds);
    std::printf("%-48s %10lld ms  (bound 100: %s; %lld characters in the view)\n",
                "console: longest wait of its event loop meanwhile", shown.longestWait,
                shown.longestWait <= 100 ? "within" : "OVER", shown.characters);

    const QString report = folder.filePath(QStringLiteral("report"));
    const QString record = folder.filePath(QStringLiteral("records"));
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(report));
    const double console =
        untilReported(report, kConsole, {kTool, QStringLiteral("lines"), QStringLiteral("1")});
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(folder.path()));
    const double bare = velmora::bench::bestOf(5, [] {
        QProcess process;
        process.start(kTool, {QStringLiteral("lines"), QStringLiteral("1")});
        process.waitForFinished();
    });
    velmora::bench::report("console: launched, tool run, result shown", console, "tool alone", bare,
                           300.0 / std::max(bare, 0.001));
    return 0;
}
