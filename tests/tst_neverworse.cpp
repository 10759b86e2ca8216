// SPDX-License-Identifier: GPL-3.0-or-later
// Reading through repair data never gives less than reading without it: every sector of a small
// image zeroed in turn, and every run of two and three, costs no file; and the same files built
// with and without repair data, harmed alike past what the repair data rebuilds, give back with
// it every file they give back without it, and more.

#include "imagecheck.h"
#include "sectorharm.h"
#include "toolrun.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <random>
#include <set>

using namespace Qt::StringLiterals;
using namespace velmora::test;

namespace {

constexpr qint64 kRaw = 2352;

struct Built {
    QString folder;
    QByteArray bin;
    ImageFacts facts;
    std::uint32_t firstFile = 0; // the first file's sector
};

// The image IMG of `files` in `folder`, with the tool's default repair data or none.
Built build(const QString& folder, const QMap<QString, QByteArray>& files, bool repair) {
    QStringList arguments;
    if (!repair)
        arguments << u"--repair"_qs << u"off"_qs;
    arguments << u"-v"_qs << u"SMALL"_qs << u"-o"_qs << u"IMG"_qs << u"-m"_qs;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        arguments << writeFile(folder + u"/in"_qs, it.key(), it.value());
    const Run built = run(tolkProgram(), arguments, folder);
    if (built.status != 0)
        qFatal("velmora_tolk failed: %s", qPrintable(built.errors));
    Built image{folder, readFile(folder + u"/IMG.bin"_qs), {}, 0};
    image.facts = checkImage(reinterpret_cast<const std::uint8_t*>(image.bin.constData()),
                             std::size_t(image.bin.size()), {0, false});
    image.firstFile = UINT32_MAX;
    for (const auto& [name, file] : image.facts.isoFiles)
        if (file.form2 && name.rfind("VELMORA.", 0) != 0)
            image.firstFile = std::min(image.firstFile, file.lba);
    return image;
}

// The files dat2file gives back whole (not as damaged copies) from `bin` zeroed at `lost`.
QMap<QString, QByteArray> givenBack(const Built& image, const std::set<std::uint32_t>& lost,
                                    const QString& trial) {
    QByteArray bin = image.bin;
    std::mt19937 unused;
    harm(bin, lost, Harm::Zeroed, unused);
    QDir(trial).removeRecursively();
    writeFile(trial, u"IMG.bin"_qs, bin);
    QFile::copy(image.folder + u"/IMG.cue"_qs, trial + u"/IMG.cue"_qs);
    run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, trial);
    QMap<QString, QByteArray> whole = filesUnder(trial + u"/out"_qs);
    whole.removeIf([](const auto& entry) { return entry.key().contains(u".damaged"_qs); });
    return whole;
}

QMap<QString, QByteArray> smallSet() {
    return {{u"clip one.mpg"_qs, randomBytes(40'000, 1)},
            {u"Été.dat"_qs, randomBytes(90'000, 2)},
            {u"notes.txt"_qs, randomBytes(25'000, 3)}};
}

} // namespace

class NeverWorseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everySectorZeroedInTurnCostsNoFile_data();
    void everySectorZeroedInTurnCostsNoFile();
    void repairDataGivesBackEveryFileTheBareImageDoes();
    void eitherRootFolderServesWhereTheOtherIsLost();
    void imageCutShortKeepsTheRepairDataItHolds();
    void aCopyNoSectorExplainsNamesEveryByte();
};

void NeverWorseTest::everySectorZeroedInTurnCostsNoFile_data() {
    QTest::addColumn<int>("run");
    QTest::newRow("one sector") << 1;
    QTest::newRow("two sectors") << 2;
    QTest::newRow("three sectors") << 3;
}

// The volume descriptors, the path tables, both root folders, the file list, each file, the
// parity and both copies of the header: whichever run is lost, every file comes back exact.
void NeverWorseTest::everySectorZeroedInTurnCostsNoFile() {
    QFETCH(int, run);
    QTemporaryDir folder;
    const QMap<QString, QByteArray> files = smallSet();
    const Built image = build(folder.path(), files, true);
    QVERIFY2(image.facts.faults.empty(),
             image.facts.faults.empty() ? "" : image.facts.faults.front().c_str());
    QVERIFY(image.facts.sectors < 400);
    for (std::uint32_t first = 0; first + std::uint32_t(run) <= image.facts.sectors; ++first) {
        std::set<std::uint32_t> lost;
        for (int i = 0; i < run; ++i)
            lost.insert(first + std::uint32_t(i));
        const QMap<QString, QByteArray> back = givenBack(image, lost, folder.filePath(u"trial"_qs));
        QVERIFY2(back == files,
                 qPrintable(u"sectors %1 to %2 zeroed: %3 of %4 files given back"_qs.arg(first)
                                .arg(first + std::uint32_t(run) - 1)
                                .arg(back.size())
                                .arg(files.size())));
    }
}

// Damage up to and past the limit, the same for both images (the same files' sectors and the
// list's): every file the bare image gives back whole, the one with repair data gives back too.
void NeverWorseTest::repairDataGivesBackEveryFileTheBareImageDoes() {
    QTemporaryDir folder;
    QMap<QString, QByteArray> files;
    for (int i = 0; i < 10; ++i)
        files.insert(u"file %1.dat"_qs.arg(i), randomBytes(30'000 + i * 17'000, quint32(50 + i)));
    const Built bare = build(folder.filePath(u"bare"_qs), files, false);
    const Built repaired = build(folder.filePath(u"repaired"_qs), files, true);
    QVERIFY(bare.firstFile != UINT32_MAX && repaired.firstFile != UINT32_MAX);
    // From the first file to the list's end, sector for sector alike in both.
    const CheckedFile& list = bare.facts.isoFiles.at("VELMORA.LST");
    const std::uint32_t span = list.lba + (list.recordedBytes + 2047) / 2048 - bare.firstFile;
    const std::uint32_t m = std::uint32_t(repaired.facts.m), L = repaired.facts.bandLength;
    int moreBack = 0;
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        std::mt19937 random(seed);
        std::set<std::uint32_t> offsets; // from the first file
        // Within the limit for some seeds, past it for others.
        const std::uint32_t burst =
            std::min(span - 1, (m / 2 + std::uint32_t(random() % (m / 2 + 8))) * L);
        const std::uint32_t from = std::uint32_t(random() % (span - burst));
        for (std::uint32_t i = 0; i < burst; ++i)
            offsets.insert(from + i);
        for (int i = 0; i < 20; ++i)
            offsets.insert(std::uint32_t(random() % span));
        std::set<std::uint32_t> onBare, onRepaired;
        for (const std::uint32_t offset : offsets) {
            onBare.insert(bare.firstFile + offset);
            onRepaired.insert(repaired.firstFile + offset);
        }
        const QMap<QString, QByteArray> withoutRepair =
            givenBack(bare, onBare, folder.filePath(u"trial bare"_qs));
        const QMap<QString, QByteArray> withRepair =
            givenBack(repaired, onRepaired, folder.filePath(u"trial repaired"_qs));
        for (auto it = withoutRepair.cbegin(); it != withoutRepair.cend(); ++it) {
            QVERIFY2(files.value(it.key()) == it.value(), qPrintable(it.key()));
            QVERIFY2(withRepair.value(it.key()) == it.value(),
                     qPrintable(u"seed %1: %2 given back without repair data only"_qs.arg(seed).arg(
                         it.key())));
        }
        for (auto it = withRepair.cbegin(); it != withRepair.cend(); ++it)
            QVERIFY2(files.value(it.key()) == it.value(), qPrintable(it.key()));
        moreBack += int(withRepair.size() - withoutRepair.size());
    }
    QVERIFY(moreBack > 0); // the repair data still rebuilt something past its limit
}

// Without repair data, the ISO 9660 root folder lost: the Joliet tree names the files, the
// list's entries at their places vouch for them; the Joliet root lost, the ISO 9660 one serves.
// Never "0 files" for a folder that cannot be read.
void NeverWorseTest::eitherRootFolderServesWhereTheOtherIsLost() {
    QTemporaryDir folder;
    const QMap<QString, QByteArray> files = smallSet();
    const Built bare = build(folder.path(), files, false);
    const std::uint32_t isoRoot = 23; // after the descriptors and the four path tables
    std::set<std::uint32_t> roots = {isoRoot};
    for (std::uint32_t lba = isoRoot + 1; lba < bare.firstFile; ++lba)
        roots.insert(lba); // the Joliet root, after the ISO 9660 one
    for (const std::uint32_t lba : roots) {
        const QMap<QString, QByteArray> back = givenBack(bare, {lba}, folder.filePath(u"trial"_qs));
        QVERIFY2(back == files,
                 qPrintable(u"sector %1 zeroed: %2 of %3 files given back"_qs.arg(lba)
                                .arg(back.size())
                                .arg(files.size())));
    }
    // Both lost: a failure that says so, never an empty folder and success.
    QByteArray bin = bare.bin;
    std::mt19937 unused;
    harm(bin, roots, Harm::Zeroed, unused);
    const QString trial = folder.filePath(u"both"_qs);
    writeFile(trial, u"IMG.bin"_qs, bin);
    QFile::copy(bare.folder + u"/IMG.cue"_qs, trial + u"/IMG.cue"_qs);
    const Run both = run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, trial);
    QVERIFY2(both.status != 0, qPrintable(both.errors));
    const Run check = run(dat2fileProgram(), {u"--check"_qs, u"IMG.cue"_qs}, trial);
    QVERIFY2(check.status != 0, qPrintable(check.output + check.errors));
}

// An image whose end is cut off, one sector of the parity and the header's second copy with it:
// the parity it still holds rebuilds what it can, the cut sectors counted as lost.
void NeverWorseTest::imageCutShortKeepsTheRepairDataItHolds() {
    QTemporaryDir folder;
    const QMap<QString, QByteArray> files = smallSet();
    Built image = build(folder.path(), files, true);
    const std::uint32_t parityEnd =
        image.facts.parityLba + std::uint32_t(image.facts.m) * image.facts.bandLength;
    image.bin.truncate(qint64(parityEnd - 1) * kRaw);
    std::set<std::uint32_t> lost;
    for (std::uint32_t i = 0; i < 20; ++i)
        lost.insert(image.firstFile + 5 + i);
    const QString trial = folder.filePath(u"trial"_qs);
    QCOMPARE(givenBack(image, lost, trial), files);
    const Run check = run(dat2fileProgram(), {u"--check"_qs, u"IMG.cue"_qs}, trial);
    QCOMPARE(check.status, 5); // whole, through the repair data, which lost its second copy
}

// A sector whose data was changed and its EDC made anew, on an image without repair data:
// every sector passes its checks, the SHA-256 does not. The damaged copy's ranges then name the
// whole file, never nothing.
void NeverWorseTest::aCopyNoSectorExplainsNamesEveryByte() {
    QTemporaryDir folder;
    const QMap<QString, QByteArray> files = smallSet();
    const Built image = build(folder.path(), files, false);
    QByteArray bin = image.bin;
    std::mt19937 random(5);
    const auto& notes = image.facts.isoFiles.at("NOTES.TXT");
    harm(bin, {notes.lba + 3}, Harm::GarbageGoodEdc, random);
    const QString trial = folder.filePath(u"trial"_qs);
    writeFile(trial, u"IMG.bin"_qs, bin);
    QFile::copy(image.folder + u"/IMG.cue"_qs, trial + u"/IMG.cue"_qs);
    const Run back = run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, trial);
    QCOMPARE(back.status, 3);
    const QStringList lines =
        QString::fromUtf8(readFile(trial + u"/out/notes.txt.damaged.ranges"_qs))
            .split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].startsWith(u"0 24999 %1-%2 "_qs.arg(notes.lba).arg(notes.lba + 10)),
             qPrintable(lines[1]));
    const Run checked = run(dat2fileProgram(), {u"--check"_qs, u"IMG.cue"_qs}, trial);
    QCOMPARE(checked.status, 3);
    QVERIFY(checked.output.contains(u"damaged    notes.txt: its SHA-256 differs"_qs));
}

QTEST_GUILESS_MAIN(NeverWorseTest)
#include "tst_neverworse.moc"
