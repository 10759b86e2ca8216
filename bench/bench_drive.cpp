// SPDX-License-Identifier: GPL-3.0-or-later
// A full 80-minute disc read from a drive, in the drive model's virtual time (tests/drivemodel.h):
// undamaged, with a 10 mm radial scratch, three 12 mm spots, a 6 mm ring, and damage beyond
// what the repair data rebuilds; each as a ratio to the undamaged read of the same run. The
// first row also read the way dat2file read drives before (runs of 32, each sector of a failed
// run tried three times with the drive's own retries, words rebuilt by seeking to their
// members), for the record. Then, in real time, an image file with repair data extracted
// against the same files without.

#include "benchclock.h"
#include "discdamage.h"
#include "drivemodel.h"

#include "cdimage/base/report.h"
#include "cdimage/read/openimage.h"
#include "cdimage/repair/repairdata.h"
#include "dat2file/commands.h"
#include "dat2file/repairing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace velmora::test;

namespace {

// The run's closing lines and its first problems, where VELMORA_BENCH_VERBOSE is set.
class ShownReport : public cdimage::Report {
public:
    void progress(std::uint64_t, std::uint64_t, const std::string&) override {}
    void progressEnds() override {}
    void line(Kind kind, const std::string& text) override {
        if (qEnvironmentVariableIsSet("VELMORA_BENCH_VERBOSE") &&
            (kind == Kind::Done || m_shown++ < 5))
            std::printf("    %s\n", text.c_str());
    }

private:
    int m_shown = 0;
};

struct Outcome {
    double seconds = 0;
    int status = -1;
    std::uint64_t commands = 0;
};

// The image read from the model with `damaged` lost, every file extracted into `out`.
Outcome readFromDrive(const QByteArray& image, const Sectors& damaged, bool adaptive,
                      const QString& out) {
    DriveModel drive(image, damaged);
    cdimage::OpenedSource opened = openedOn(drive, adaptive);
    QDir(out).removeRecursively();
    Outcome outcome;
    try {
        ShownReport report;
        dat2file::ReadingSource reading(opened);
        outcome.status = dat2file::extractImage(reading.sectors(), "the model drive",
                                                out.toStdString(), false, report);
        if (const auto summary = reading.repairSummary())
            report.done("repair data: " + *summary);
    } catch (const std::exception& error) {
        std::printf("  (failed: %s)\n", error.what());
    }
    outcome.seconds = drive.seconds();
    outcome.commands = drive.commands();
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../");
    QTemporaryDir folder;
    // 12 files of 56 MiB: 705 MB, a full disc at the default m = 32.
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(5);
    generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QStringList files;
    for (int i = 0; i < 12; ++i) {
        QFile file(folder.filePath(QStringLiteral("film %1.mpg").arg(i)));
        file.open(QIODevice::WriteOnly);
        for (int mb = 0; mb < 56; ++mb) {
            block[mb] = char(i);
            file.write(block);
        }
        files << file.fileName();
    }
    for (const bool repair : {true, false}) {
        QStringList arguments = {
            QStringLiteral("-v"), QStringLiteral("FILMS"), QStringLiteral("-o"),
            repair ? QStringLiteral("FULL") : QStringLiteral("BARE"), QStringLiteral("-m")};
        if (!repair)
            arguments.prepend(QStringLiteral("off")), arguments.prepend(QStringLiteral("--repair"));
        if (!velmora::bench::runQuietly(tools + QStringLiteral("velmora_tolk"), arguments + files,
                                        folder.path()))
            return 1;
    }
    for (const QString& file : files)
        QFile::remove(file);
    QFile bin(folder.filePath(QStringLiteral("FULL.bin")));
    bin.open(QIODevice::ReadOnly);
    const QByteArray image = bin.readAll();
    const DiscGeometry disc(std::uint32_t(image.size() / 2352));
    const QString out = folder.filePath(QStringLiteral("out"));

    const Outcome clean = readFromDrive(image, {}, true, out);
    std::printf("%-44s %9.0f s virtual, %7llu commands%s\n", "undamaged", clean.seconds,
                static_cast<unsigned long long>(clean.commands),
                clean.status == 0 ? "" : "  (NOT ALL BACK)");
    std::mt19937 random(9);
    struct Row {
        const char* name;
        Sectors damage;
        bool today;
    };
    Sectors spots;
    for (int i = 0; i < 3; ++i)
        spots.merge(spot(disc, 30 + 10 * i, 1.0 + 2 * i, 12));
    Sectors beyond = ring(disc, 40, 12);
    const Row rows[] = {
        {"10 mm radial scratch", radialScratch(disc, 2.0, 33, 10, random), true},
        {"three 12 mm spots", spots, false},
        {"6 mm ring", ring(disc, 44, 6), false},
        {"beyond the limit: 12 mm ring", beyond, false},
    };
    bool first = true;
    cdimage::OpenedSource direct =
        cdimage::openImage(folder.filePath(QStringLiteral("FULL.bin")).toStdString());
    const auto found = cdimage::findRepairData(*direct.sectors);
    for (const Row& row : rows) {
        if (found && qEnvironmentVariableIsSet("VELMORA_BENCH_VERBOSE")) {
            const auto& layout = found->header.layout;
            std::vector<int> losses(layout.bandLength, 0);
            for (const std::uint32_t lba : row.damage) {
                if (lba < layout.protectedSectors)
                    ++losses[layout.wordOf(lba)];
                else if (lba >= found->header.parityLba &&
                         lba - found->header.parityLba < layout.paritySectors())
                    ++losses[(lba - found->header.parityLba) % layout.bandLength];
            }
            std::printf("    worst word loses %d of %d (L %u)\n",
                        *std::max_element(losses.begin(), losses.end()), layout.parity,
                        layout.bandLength);
        }
        const Outcome damaged = readFromDrive(image, row.damage, true, out);
        const double ratio = damaged.seconds / clean.seconds;
        std::printf("%-44s %9.0f s virtual, %7llu commands, %.2f x undamaged, %zu lost, "
                    "exit %d\n",
                    row.name, damaged.seconds, static_cast<unsigned long long>(damaged.commands),
                    ratio, row.damage.size(), damaged.status);
        if (first)
            std::printf("scratch ratio %.2f\n", ratio);
        if (row.today) {
            const Outcome before = readFromDrive(image, row.damage, false, out);
            std::printf("%-44s %9.0f s virtual, %7llu commands, %.2f x undamaged, exit %d\n",
                        "  the same, read as before", before.seconds,
                        static_cast<unsigned long long>(before.commands),
                        before.seconds / clean.seconds, before.status);
        }
        first = false;
    }

    // Real time: the undamaged image with repair data, against the same files without.
    const auto timed = [&](const QString& name) {
        QDir(out).removeRecursively();
        QElapsedTimer clock;
        clock.start();
        velmora::bench::runQuietly(tools + QStringLiteral("dat2file"),
                                   {name, QStringLiteral("out")}, folder.path());
        return clock.nsecsElapsed() / 1e9;
    };
    // Each the best of three, taken in turns, so that neither pays alone for a busy moment.
    double with = 1e9, without = 1e9;
    for (int round = 0; round < 3; ++round) {
        with = std::min(with, timed(QStringLiteral("FULL.bin")));
        without = std::min(without, timed(QStringLiteral("BARE.bin")));
    }
    std::printf("%-44s %9.2f s real, %.2f x the image without (%.2f s)\n",
                "image file with repair data, undamaged", with, with / without, without);
    return 0;
}
