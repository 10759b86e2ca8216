// SPDX-License-Identifier: GPL-3.0-or-later
// The two CD image tools on a file of 700 MB: velmora_tolk building its image with its repair
// data, against genisoimage writing a plain Mode 1 image of the same file and against the
// SHA-256 of the same bytes alone, and without repair data; dat2file extracting the file from
// that image (undamaged: no decoding), one file by its name and the whole image into a folder,
// against cp copying it and against the SHA-256 it checks; and the EDC's speed on one core.
// All in the same run.

#include "benchclock.h"
#include "cdimage/base/edc.h"
#include "cdimage/base/sha256.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <functional>
#include <limits>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString genisoimage = QStandardPaths::findExecutable(QStringLiteral("genisoimage"));
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../");
    if (genisoimage.isEmpty()) {
        std::printf("genisoimage is not installed: nothing to compare with\n");
        return 1;
    }

    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("recording.bin"));
    QByteArray block(1'000'000, Qt::Uninitialized);
    QRandomGenerator generator(1);
    generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QFile file(source);
    file.open(QIODevice::WriteOnly);
    for (int mb = 0; mb < 700; ++mb) {
        block[mb] = char(mb); // no two megabytes alike
        file.write(block);
    }
    file.close();
    const QStringList files = {source};

    const QString output = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(output);
    bool ok = true;
    const auto clean = [&] {
        for (const QString& name : QDir(output).entryList(QDir::Files))
            QFile::remove(QDir(output).filePath(name));
        for (const QString& name : QDir(output).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(QDir(output).filePath(name)).removeRecursively();
    };
    // Each command starts with its output gone and the disk written back, so that no run pays
    // for the one before; the two commands of a pair take turns, best of five each.
    const auto timed = [&](const QString& program, const QStringList& arguments) {
        clean();
        ok &= velmora::bench::runQuietly(QStringLiteral("sync"), {}, output);
        QElapsedTimer clock;
        clock.start();
        ok &= velmora::bench::runQuietly(program, arguments, output);
        return clock.nsecsElapsed() / 1e6;
    };
    // Reports the tool against its baseline; returns both best times.
    const auto pair = [&](const char* what, const char* baselineName, double bound,
                          const QString& baseline, const QStringList& baselineArguments,
                          const QString& tool, const QStringList& toolArguments,
                          const std::function<void()>& prepare) {
        double best = std::numeric_limits<double>::max();
        double bestBaseline = best;
        for (int run = 0; run < 5; ++run) {
            bestBaseline = std::min(bestBaseline, timed(baseline, baselineArguments));
            prepare();
            best = std::min(best, timed(tool, toolArguments));
        }
        if (ok)
            velmora::bench::report(what, best, baselineName, bestBaseline, bound);
        return std::pair{best, bestBaseline};
    };
    const QStringList buildArguments =
        QStringList{QStringLiteral("-v"), QStringLiteral("Kestrel"), QStringLiteral("-o"),
                    QStringLiteral("Kestrel"), QStringLiteral("-m")} +
        files;
    const auto [buildTime, isoTime] =
        pair("velmora_tolk, a file of 700 MB", "genisoimage", 1.3, genisoimage,
             QStringList{QStringLiteral("-quiet"), QStringLiteral("-o"), QStringLiteral("x.iso")} +
                 files,
             tools + QStringLiteral("velmora_tolk"), buildArguments, [] {});
    (void)isoTime;
    double bareBuildTime = std::numeric_limits<double>::max();
    for (int run = 0; run < 3; ++run)
        bareBuildTime = std::min(
            bareBuildTime,
            timed(tools + QStringLiteral("velmora_tolk"),
                  QStringList{QStringLiteral("--repair"), QStringLiteral("off")} + buildArguments));

    // The image to extract from lies in a folder of its own, out of reach of clean().
    const QString images = folder.filePath(QStringLiteral("image"));
    QDir().mkpath(images);
    ok &=
        velmora::bench::runQuietly(tools + QStringLiteral("velmora_tolk"), buildArguments, images);
    const QString cue = QDir(images).filePath(QStringLiteral("Kestrel.cue"));
    const auto [extractTime, copyTime] =
        pair("dat2file --image, a file of 700 MB", "cp", 1.5, QStringLiteral("cp"),
             {source, QStringLiteral("copy.bin")}, tools + QStringLiteral("dat2file"),
             {QStringLiteral("--image"), cue, QStringLiteral("/RECORDING.BIN;1"),
              QStringLiteral("copy.bin")},
             clean);
    // The whole image into a folder, as the window's "Extract files from CD" asks for it.
    const QString bin = QDir(images).filePath(QStringLiteral("Kestrel.bin"));
    const auto [wholeTime, wholeCopyTime] =
        pair("dat2file IMAGE.bin, a whole image of 700 MB", "cp", 1.5, QStringLiteral("cp"),
             {source, QStringLiteral("copy.bin")}, tools + QStringLiteral("dat2file"),
             {bin, QStringLiteral("Kestrel.bin")}, clean);
    (void)wholeCopyTime;
    // The same without repair data: what reading through it costs.
    ok &= velmora::bench::runQuietly(tools + QStringLiteral("velmora_tolk"),
                                     QStringList{QStringLiteral("--repair"), QStringLiteral("off"),
                                                 QStringLiteral("-v"), QStringLiteral("Bare"),
                                                 QStringLiteral("-o"), QStringLiteral("Bare"),
                                                 QStringLiteral("-m")} +
                                         files,
                                     images);
    double bareTime = std::numeric_limits<double>::max();
    for (int run = 0; run < 5; ++run)
        bareTime = std::min(bareTime, timed(tools + QStringLiteral("dat2file"),
                                            {QDir(images).filePath(QStringLiteral("Bare.bin")),
                                             QStringLiteral("Bare.bin")}));
    if (!ok)
        return 1;

    std::vector<std::uint8_t> data(64 << 20, 0x5A);
    // The sum dat2file checks, alone, in memory: the least any checked extraction can take.
    const double sumTime = velmora::bench::bestOf(3, [&] {
        cdimage::Sha256 sum;
        for (std::size_t done = 0; done < 700'000'000; done += data.size())
            sum.add(data.data(), std::min<std::size_t>(data.size(), 700'000'000 - done));
        data[0] = std::uint8_t(sum.hex()[0]);
    });
    velmora::bench::report("SHA-256 of 700 MB alone, in memory", sumTime, "cp", copyTime, 1.5);
    // Building means summing too: with repair data (m = 32) and without.
    velmora::bench::report("velmora_tolk, repair data, against SHA-256 alone", buildTime, "SHA-256",
                           sumTime, 1.25);
    velmora::bench::report("velmora_tolk --repair off, against SHA-256", bareBuildTime, "SHA-256",
                           sumTime, 1.25);
    // Extracting means summing: the extraction against the sum alone.
    velmora::bench::report("dat2file --image against its SHA-256 alone", extractTime, "SHA-256",
                           sumTime, 1.1);
    velmora::bench::report("dat2file, whole image, against its SHA-256 alone", wholeTime, "SHA-256",
                           sumTime, 1.1);
    velmora::bench::report("dat2file, no repair data, against SHA-256", bareTime, "SHA-256",
                           sumTime, 1.1);

    std::uint32_t sink = 0;
    const double edcTime =
        velmora::bench::bestOf(5, [&] { sink ^= cdimage::edc(data.data(), data.size()); });
    std::printf("%-48s %10.0f MB/s (bound 1000 MB/s: %s)%s\n", "EDC on one core",
                data.size() / 1e6 / (edcTime / 1e3),
                data.size() / 1e6 / (edcTime / 1e3) >= 1000 ? "within" : "UNDER",
                sink == 1 ? " " : "");
    return 0;
}
