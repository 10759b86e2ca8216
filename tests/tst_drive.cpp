// SPDX-License-Identifier: GPL-3.0-or-later
// A damaged disc read from a drive, in the drive model's virtual time: one pass skipping ahead
// after errors, then only what the repair data still needs, every file back; far quicker than
// reading each run again sector by sector; every readable sector read when the damage is beyond
// repair; the drive's retries lowered while it is read and put back after.

#include "discdamage.h"
#include "drivemodel.h"
#include "toolrun.h"

#include "cdimage/read/openimage.h"
#include "cdimage/repair/repairdata.h"
#include "dat2file/adaptivereads.h"
#include "dat2file/commands.h"
#include "dat2file/repairing.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace velmora::test;

namespace {

struct Read {
    double seconds = 0;
    int status = -1;
    QMap<QString, QByteArray> files; // what came back, damaged copies and ranges included
    QList<int> retriesSet;           // every retry count the reader gave the drive
    QList<int> speedsSet;            // and every speed
    std::uint64_t lost = 0, rebuilt = 0;
};

Read readFromDrive(const QByteArray& image, const Sectors& damaged, bool adaptive,
                   const QString& out, const Sectors& marginal = {},
                   std::optional<dat2file::Keeping> keeping = std::nullopt) {
    DriveModel drive(image, damaged, marginal);
    Read read;
    {
        cdimage::OpenedSource opened = openedOn(drive, adaptive, keeping);
        QDir(out).removeRecursively();
        dat2file::ReadingSource reading(opened);
        read.status =
            dat2file::extractImage(reading.sectors(), "the model drive", out.toStdString(), false);
        if (const cdimage::RepairingSource* repairing = reading.repairing()) {
            read.lost = repairing->count().lost;
            read.rebuilt = repairing->count().rebuilt;
        }
    }
    read.seconds = drive.seconds();
    read.retriesSet = drive.retriesSet();
    read.speedsSet = drive.speedsSet();
    read.files = filesUnder(out);
    return read;
}

} // namespace

class DriveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void scratchWithinRepairIsReadInOnePass();
    void damageBeyondRepairStillReadsEveryReadableSector();
    void wordsJustBeyondRepairAreTriedAgainSlowly();
    void whatWasReadIsKeptPastMemoryInAFileThatVanishes();

private:
    QTemporaryDir m_folder;
    QMap<QString, QByteArray> m_files;
    QByteArray m_image;
};

// 24 files, 20 MB: a disc stretched over the radii of a full one, so that damage of a given
// size costs it the share it costs a full disc.
void DriveTest::initTestCase() {
    QStringList arguments = {u"-v"_qs, u"DRIVE"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs};
    for (int i = 0; i < 24; ++i) {
        const QString name = u"clip %1.mpg"_qs.arg(i, 2, 10, QChar(u'0'));
        m_files.insert(name, randomBytes(800'000 + 7'919 * i, quint32(300 + i)));
        arguments << writeFile(m_folder.filePath(u"in"_qs), name, m_files[name]);
    }
    QCOMPARE(run(tolkProgram(), arguments, m_folder.path()).status, 0);
    m_image = readFile(m_folder.filePath(u"IMG.bin"_qs));
    QVERIFY(m_image.size() > 8000 * 2352);
}

void DriveTest::scratchWithinRepairIsReadInOnePass() {
    const DiscGeometry disc(std::uint32_t(m_image.size() / 2352));
    std::mt19937 random(3);
    const Sectors scratch = radialScratch(disc, 1.0, 32, 8, random);
    const QString out = m_folder.filePath(u"out"_qs);
    const Read clean = readFromDrive(m_image, {}, true, out);
    QCOMPARE(clean.status, 0);
    const Read damaged = readFromDrive(m_image, scratch, true, out);
    QCOMPARE(damaged.status, 0);
    QCOMPARE(damaged.files, m_files);
    QVERIFY(damaged.rebuilt >= scratch.size() / 2);
    // One pass and what the parity needs: a little more than the undamaged read.
    QVERIFY2(damaged.seconds < 1.5 * clean.seconds,
             qPrintable(u"%1 s against %2 s"_qs.arg(damaged.seconds).arg(clean.seconds)));
    // The retries lowered while the disc is read, and put back when the drive is let go.
    QCOMPARE(damaged.retriesSet.first(), dat2file::AdaptiveReads::kLoweredRetries);
    QCOMPARE(damaged.retriesSet.last(), DriveModel::kDefaultRetries);
    // Runs read again sector by sector, each failing one with the drive's own retries, and
    // words rebuilt by seeking to their members: many times slower, same files.
    const Read before = readFromDrive(m_image, scratch, false, out);
    QCOMPARE(before.files, m_files);
    QVERIFY2(before.seconds > 10 * damaged.seconds,
             qPrintable(u"%1 s against %2 s"_qs.arg(before.seconds).arg(damaged.seconds)));
}

// A ring far wider than the repair data rebuilds, and spots: nothing rebuilds the words they
// hit, yet every sector the drive can read comes back, and the damaged copies name exactly the
// sectors it cannot.
void DriveTest::damageBeyondRepairStillReadsEveryReadableSector() {
    const DiscGeometry disc(std::uint32_t(m_image.size() / 2352));
    Sectors damage = ring(disc, 38, 6);
    damage.merge(spot(disc, 50, 2.0, 10));
    const QString out = m_folder.filePath(u"out"_qs);
    const Read clean = readFromDrive(m_image, {}, true, out);
    const Read damaged = readFromDrive(m_image, damage, true, out);
    QCOMPARE(damaged.status, 3);
    int damagedFiles = 0;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (damaged.files.contains(it.key())) {
            QCOMPARE(damaged.files[it.key()], it.value());
            continue;
        }
        ++damagedFiles;
        // Every zeroed range is a sector of the damage; every other byte is the file's.
        const QByteArray copy = damaged.files.value(it.key() + u".damaged"_qs);
        QCOMPARE(copy.size(), it.value().size());
        const QStringList lines =
            QString::fromUtf8(damaged.files.value(it.key() + u".damaged.ranges"_qs))
                .split(u'\n', Qt::SkipEmptyParts)
                .mid(1);
        QByteArray expected = it.value();
        for (const QString& line : lines) {
            const QStringList fields = line.split(u' ');
            const qint64 from = fields[0].toLongLong(), to = fields[1].toLongLong();
            const QStringList sectors = fields[2].split(u'-');
            for (qint64 lba = sectors.first().toLongLong(); lba <= sectors.last().toLongLong();
                 ++lba)
                QVERIFY2(damage.count(std::uint32_t(lba)),
                         qPrintable(u"sector %1 of %2 is readable"_qs.arg(lba).arg(it.key())));
            expected.replace(from, to - from + 1, QByteArray(to - from + 1, '\0'));
        }
        QVERIFY2(copy == expected, qPrintable(it.key()));
    }
    QVERIFY(damagedFiles > 0);
    // A ring alone costs a few tries at each of its edges: less than twice the undamaged
    // read. (Spots beyond repair cost a turn of the disc for each track they cross, about
    // twice the undamaged read: bench_drive says how much.)
    const Read ringOnly = readFromDrive(m_image, ring(disc, 38, 6), true, out);
    QCOMPARE(ringOnly.status, 3);
    QVERIFY2(ringOnly.seconds < 2 * clean.seconds,
             qPrintable(u"%1 s against %2 s"_qs.arg(ringOnly.seconds).arg(clean.seconds)));
}

// Two code words each lose three members more than the parity rebuilds; three of those are
// worn rather than broken, readable at a low speed. The disc is read at full speed, then only
// those few sectors again, slowly: every file back, the drive's speed put back after.
void DriveTest::wordsJustBeyondRepairAreTriedAgainSlowly() {
    cdimage::OpenedSource opened =
        cdimage::openImage(m_folder.filePath(u"IMG.bin"_qs).toStdString());
    const auto found = cdimage::findRepairData(*opened.sectors);
    QVERIFY(found);
    const cdimage::RepairLayout& layout = found->header.layout;
    Sectors broken, worn;
    for (const std::uint32_t word : {7u, 300u % layout.bandLength})
        for (int member = 0; member < layout.parity + 3; ++member) {
            const std::uint32_t lba = std::uint32_t(member) * layout.bandLength + word;
            (member == 1 || member == 9 || member == 17 ? worn : broken).insert(lba);
        }
    const QString out = m_folder.filePath(u"out"_qs);
    const Read fast = readFromDrive(m_image, broken, true, out, worn);
    QCOMPARE(fast.status, 0);
    QCOMPARE(fast.files, m_files);
    QCOMPARE(fast.speedsSet,
             (QList<int>{dat2file::AdaptiveReads::kSlowSpeed, dat2file::DriveKnobs::kFastest}));
    // Worn sectors that read at full speed need none of it.
    const Read clean = readFromDrive(m_image, {}, true, out);
    QVERIFY(clean.speedsSet.isEmpty());
}

// A small share of memory: the rest of what was read goes to a file beside the output, which
// is gone when the drive is let go; without a place for it, sectors are read again instead.
// The same files either way.
void DriveTest::whatWasReadIsKeptPastMemoryInAFileThatVanishes() {
    const DiscGeometry disc(std::uint32_t(m_image.size() / 2352));
    std::mt19937 random(4);
    const Sectors scratch = radialScratch(disc, 2.5, 30, 10, random);
    const QString out = m_folder.filePath(u"out"_qs);
    const Read inMemory = readFromDrive(m_image, scratch, true, out);
    QCOMPARE(inMemory.files, m_files);
    QTemporaryDir beside;
    const Read inFile = readFromDrive(m_image, scratch, true, out, {},
                                      dat2file::Keeping{beside.path().toStdString(), 1024});
    QCOMPARE(inFile.files, m_files);
    QCOMPARE(inFile.seconds, inMemory.seconds);
    QVERIFY(QDir(beside.path()).isEmpty());
    const Read nowhere =
        readFromDrive(m_image, scratch, true, out, {},
                      dat2file::Keeping{QString(beside.path() + u"/gone"_qs).toStdString(), 1024});
    QCOMPARE(nowhere.files, m_files);
    QVERIFY(nowhere.seconds > inMemory.seconds);
}

QTEST_GUILESS_MAIN(DriveTest)
#include "tst_drive.moc"
