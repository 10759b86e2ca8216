// SPDX-License-Identifier: GPL-3.0-or-later
// What repair data survives on a full 80-minute disc, by the tests' damage model and the
// oracle that counts each code word's losses: for m = 16, 32 and 64 parity bands, the longest
// run of lost sectors, and the largest radial scratch, opaque spot, wiped ring and edge crack
// that every one of 20 placements survives. Then the worst case timed: a full disc's image in
// which every code word lost m = 32 sectors, given back whole by dat2file; and 700 MB of files
// as a holiday disc holds them (400 files under long names) built with and without repair data.

#include "benchclock.h"
#include "discdamage.h"
#include "referencecode.h"

#include "cdimage/format/repairformat.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace velmora::test;

namespace {

constexpr std::uint32_t kDisc = DiscGeometry::kFullDisc;

// A full disc's layout at `m`: the most protected sectors whose repair data still fits.
struct FullDisc {
    RepairPlace place;
    std::uint32_t header = 0, sectors = 0;
};

FullDisc fullDisc(int m) {
    const cdimage::RepairLayout layout =
        cdimage::RepairLayout::of(cdimage::mostProtectedSectors(m, kDisc), m);
    FullDisc disc;
    disc.place.m = m;
    disc.place.protectedSectors = layout.protectedSectors;
    disc.place.bandLength = layout.bandLength;
    disc.header = layout.headerSectors();
    disc.place.parityLba = layout.protectedSectors + disc.header;
    disc.sectors = disc.place.parityLba + layout.paritySectors() + disc.header;
    return disc;
}

bool survives(const FullDisc& disc, const Sectors& lost) {
    const std::vector<int> losses = lossesPerWord(disc.place, lost);
    return *std::max_element(losses.begin(), losses.end()) <= disc.place.m;
}

// The largest size, in `step` mm up to `most`, that all 20 placements of `damage` survive.
double largestSurvived(const FullDisc& disc, double step, double most,
                       const std::function<Sectors(double, std::mt19937&)>& damage) {
    double best = 0;
    for (double size = step; size <= most + 1e-9; size += step) {
        std::mt19937 random(7);
        bool all = true;
        for (int placement = 0; placement < 20 && all; ++placement)
            all = survives(disc, damage(size, random));
        if (!all)
            break;
        best = size;
    }
    return best;
}

double uniform(std::mt19937& random, double from, double to) {
    return std::uniform_real_distribution<double>(from, to)(random);
}

void damageTable() {
    std::printf("%-6s %10s %10s %10s %12s %10s %10s %12s %10s\n", "m", "files MB", "parity",
                "burst", "burst MB", "scratch", "spot", "three spots", "ring");
    for (const int m : {16, 32, 64}) {
        const FullDisc disc = fullDisc(m);
        const DiscGeometry geometry(disc.sectors);
        const double rim = geometry.rim();
        const double burst = double(m - 1) * disc.place.bandLength + 1;
        const double scratch =
            largestSurvived(disc, 1, 34, [&](double length, std::mt19937& random) {
                const double from = uniform(random, DiscGeometry::kHub, rim - length);
                return radialScratch(geometry, uniform(random, 0, 6.283), from, length, random);
            });
        const double spotSize =
            largestSurvived(disc, 1, 40, [&](double size, std::mt19937& random) {
                return spot(geometry,
                            uniform(random, DiscGeometry::kHub + size / 2, rim - size / 2),
                            uniform(random, 0, 6.283), size);
            });
        const double threeSpots =
            largestSurvived(disc, 1, 40, [&](double size, std::mt19937& random) {
                Sectors lost;
                for (int i = 0; i < 3; ++i)
                    lost.merge(spot(geometry,
                                    uniform(random, DiscGeometry::kHub + size / 2, rim - size / 2),
                                    uniform(random, 0, 6.283), size));
                return lost;
            });
        const double ringWidth =
            largestSurvived(disc, 0.1, 10, [&](double width, std::mt19937& random) {
                return ring(geometry, uniform(random, DiscGeometry::kHub, rim - width), width);
            });
        const double crack = largestSurvived(disc, 1, 34, [&](double length, std::mt19937& random) {
            return edgeCrack(geometry, uniform(random, 0, 6.283), length, random);
        });
        std::printf("%-6d %10.0f %9.1f%% %10.0f %12.0f %8.0f mm %7.0f mm %9.0f mm %7.1f mm"
                    "  (edge crack %.0f mm)\n",
                    m, disc.place.protectedSectors * 2324.0 / 1e6,
                    100.0 * (disc.sectors - disc.place.protectedSectors) /
                        disc.place.protectedSectors,
                    burst, burst * 2324 / 1e6, scratch, spotSize, threeSpots, ringWidth, crack);
    }
}

// A full disc's image (728 MB of files at m = 32) with 32 whole bands zeroed, so that every
// code word lost 32 members, given back whole; against reading the image undamaged.
int worstCase() {
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../");
    QTemporaryDir folder;
    const FullDisc disc = fullDisc(32);
    const qint64 bytes = qint64(disc.place.protectedSectors - 600) * 2324; // room for folders
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(3);
    generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QFile file(folder.filePath(QStringLiteral("full.bin")));
    file.open(QIODevice::WriteOnly);
    for (qint64 written = 0, mb = 0; written < bytes; written += block.size(), ++mb) {
        block[int(mb % block.size())] = char(mb);
        file.write(block.constData(), std::min<qint64>(block.size(), bytes - written));
    }
    file.close();
    if (!velmora::bench::runQuietly(tools + QStringLiteral("velmora_tolk"),
                                    {QStringLiteral("-v"), QStringLiteral("FULL"),
                                     QStringLiteral("-o"), QStringLiteral("FULL"),
                                     QStringLiteral("-m"), file.fileName()},
                                    folder.path()))
        return 1;
    QFile::remove(file.fileName());
    QFile image(folder.filePath(QStringLiteral("FULL.bin")));
    image.open(QIODevice::ReadWrite);
    // The image's own band length, from its listing.
    QProcess listing;
    listing.setWorkingDirectory(folder.path());
    listing.start(tools + QStringLiteral("dat2file"),
                  {QStringLiteral("--list"), QStringLiteral("FULL.bin")});
    listing.waitForFinished(-1);
    const qint64 bandLength = QRegularExpression(QStringLiteral("255 bands of (\\d+) sector"))
                                  .match(QString::fromUtf8(listing.readAllStandardOutput()))
                                  .captured(1)
                                  .toLongLong();
    if (bandLength == 0)
        return 1;
    const auto timeExtraction = [&](const char* name) {
        QDir(folder.filePath(QStringLiteral("out"))).removeRecursively();
        QElapsedTimer clock;
        clock.start();
        const bool ok = velmora::bench::runQuietly(
            tools + QStringLiteral("dat2file"), {QStringLiteral("FULL.bin"), QStringLiteral("out")},
            folder.path());
        const double ms = clock.nsecsElapsed() / 1e6;
        std::printf("%-48s %10.2f ms%s\n", name, ms, ok ? "" : "  (FAILED)");
        return ms;
    };
    const double undamaged = timeExtraction("dat2file, full disc undamaged");
    const QByteArray zeros(int(bandLength * 2352), '\0');
    for (int band = 40; band < 72; ++band) {
        image.seek(band * bandLength * 2352);
        image.write(zeros);
    }
    image.close();
    const double repaired = timeExtraction("dat2file, every word lost 32 of 32");
    std::printf("%-48s %10.2f s   (bound 15 s: %s); %.2f times the undamaged read\n",
                "worst case repaired whole", repaired / 1e3, repaired <= 15000 ? "within" : "OVER",
                repaired / undamaged);
    return 0;
}

// 700 MB as a holiday disc holds it: 400 files of 100 KB to 3.5 MB under long names in many
// scripts, so that the file list takes some 40 sectors. Built with the default repair data and
// without, then given back whole; each against the build without repair data.
int realisticDisc() {
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../");
    QTemporaryDir folder;
    const QStringList words = {
        QStringLiteral("Crêpes chez Hélène"),   QStringLiteral("北京の夜景"),
        QStringLiteral("Île de Bréhat (vélo)"), QStringLiteral("L'anniversaire de Zoé 🎂"),
        QStringLiteral("Пляж у моря"),          QStringLiteral("Ελληνικό νησί")};
    QByteArray block(4 << 20, Qt::Uninitialized);
    QRandomGenerator generator(11);
    generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QStringList arguments = {QStringLiteral("-v"), QStringLiteral("HOLIDAYS"), QStringLiteral("-o"),
                             QStringLiteral("IMG"), QStringLiteral("-m")};
    qint64 total = 0;
    for (int i = 0; total < 700'000'000; ++i) {
        QString name = QStringLiteral("%1 ").arg(i, 3, 10, QChar(u'0'));
        const QString& word = words.at(i % words.size());
        while (name.size() < 60 + i % 60 && (name + word).toUtf8().size() < 240)
            name += word + u' ';
        const QString path =
            folder.filePath(QStringLiteral("in/%1/").arg(i % 7) + name + QStringLiteral(".mpg"));
        QDir().mkpath(QFileInfo(path).path());
        const qint64 size =
            std::min<qint64>(100'000 + qint64(generator.bounded(3'400'000)), 700'000'000 - total);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        block[i % block.size()] = char(i); // no two files alike
        file.write(block.constData() + i * 4096 % (block.size() - size), size);
        total += size;
        arguments << path;
    }
    const auto build = [&](const QStringList& repair) {
        QFile::remove(folder.filePath(QStringLiteral("IMG.bin")));
        QFile::remove(folder.filePath(QStringLiteral("IMG.cue")));
        QFile::remove(folder.filePath(QStringLiteral("IMG.toc")));
        return velmora::bench::bestOf(1, [&] {
            if (!velmora::bench::runQuietly(tools + QStringLiteral("velmora_tolk"),
                                            repair + arguments, folder.path()))
                std::printf("velmora_tolk FAILED\n");
        });
    };
    // The best of three of each, taken in turns: the machine's other work weighs on both alike.
    double bare = 1e300, repaired = 1e300;
    for (int round = 0; round < 3; ++round) {
        bare = std::min(bare, build({QStringLiteral("--repair"), QStringLiteral("off")}));
        repaired = std::min(repaired, build({}));
    }
    const double extraction = velmora::bench::bestOf(1, [&] {
        QDir(folder.filePath(QStringLiteral("out"))).removeRecursively();
        if (!velmora::bench::runQuietly(tools + QStringLiteral("dat2file"),
                                        {QStringLiteral("IMG.cue"), QStringLiteral("out")},
                                        folder.path()))
            std::printf("dat2file FAILED\n");
    });
    std::printf("%d files of 700 MB, as a holiday disc holds them:\n", int(arguments.size() - 5));
    velmora::bench::report("velmora_tolk, repair data, against none", repaired, "--repair off",
                           bare, 2.5);
    velmora::bench::report("dat2file, all of it back, against the bare build", extraction,
                           "--repair off", bare, 2.5);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (application.arguments().contains(QStringLiteral("--realistic-only")))
        return realisticDisc();
    if (!application.arguments().contains(QStringLiteral("--worst-case-only")))
        damageTable();
    const int status = realisticDisc();
    return worstCase() | status;
}
