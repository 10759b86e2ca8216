// SPDX-License-Identifier: GPL-3.0-or-later
// The repair data velmora_tolk writes, read with the tests' own reader of its format (header
// fields at their offsets, the parity by the formula, CRC-32C bit by bit) and Debian's
// libiso9660; and dat2file against damage as a disc suffers it, each outcome predicted by an
// oracle that knows nothing of the decoder: a file comes back byte-exact exactly when every
// sector it lost lies in a code word that lost at most m members, else as NAME.damaged whose
// ranges are exactly those of the sectors that could not be rebuilt, every other byte exact.

#include "cdimage/base/sector.h"
#include "discdamage.h"
#include "referencecode.h"
#include "sectorharm.h"
#include "toolrun.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;
using namespace velmora::test;

namespace {

constexpr qint64 kRaw = 2352;
constexpr qint64 kData = 2324;

// A sector's symbol as the format gives it: a Form 2 sector's 2,324 user bytes, a Form 1
// sector's 2,048 and zeros.
Bytes symbolAt(const QByteArray& bin, std::uint32_t lba) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(bin.constData()) + lba * kRaw;
    Bytes symbol(kData, 0);
    std::memcpy(symbol.data(), raw + 24, (raw[18] & 0x20) ? 2324 : 2048);
    return symbol;
}

struct Image {
    QString folder, cue, bin;
    QMap<QString, QByteArray> files;                 // by name
    QMap<QString, std::pair<qint64, qint64>> places; // first sector and count, by name
    RepairPlace repair;
    std::array<std::uint32_t, 2> headerLbas{};
    std::uint32_t headerSectors = 0, sectors = 0, firstFile = 0;
    std::pair<qint64, qint64> list;
    QByteArray header; // the first copy's header sector
};

// The image IMG in `folder` of files of `sizes` pseudo-random bytes, its repair data of
// `repair` bands ("" for the default), and where everything lies.
Image buildImage(const QString& folder, const QList<qint64>& sizes, const QString& repair) {
    Image image;
    image.folder = folder;
    QStringList arguments;
    if (!repair.isEmpty())
        arguments << u"--repair"_qs << repair;
    arguments << u"-v"_qs << u"R"_qs << u"-o"_qs << u"IMG"_qs << u"-m"_qs;
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const QString name = u"f%1.dat"_qs.arg(i);
        image.files.insert(name, randomBytes(sizes.at(i), quint32(100 + i)));
        arguments << writeFile(folder + u"/in"_qs, name, image.files[name]);
    }
    const Run built = run(tolkProgram(), arguments, folder);
    if (built.status != 0)
        qFatal("velmora_tolk failed: %s", qPrintable(built.errors));
    image.cue = folder + u"/IMG.cue"_qs;
    image.bin = folder + u"/IMG.bin"_qs;
    for (const QString& name : image.files.keys())
        image.places[name] = placeOf(image.cue, name.toUpper(), folder);
    image.firstFile = std::uint32_t(image.places.first().first);
    for (const auto& place : image.places)
        image.firstFile = std::min(image.firstFile, std::uint32_t(place.first));
    image.list = placeOf(image.cue, u"VELMORA.LST"_qs, folder);
    const QByteArray bin = readFile(image.bin);
    image.sectors = std::uint32_t(bin.size() / kRaw);
    const auto rph = placeOf(image.cue, u"VELMORA.RPH"_qs, folder);
    image.header = bin.mid(rph.first * kRaw + 24, 2048);
    const QByteArray& h = image.header;
    image.repair.m = std::uint8_t(h[20]) | std::uint8_t(h[21]) << 8;
    image.repair.bandLength = le32(h, 24);
    image.repair.protectedSectors = le32(h, 28);
    image.repair.parityLba = le32(h, 32);
    image.headerLbas = {le32(h, 36), le32(h, 40)};
    image.headerSectors = std::uint32_t(rph.second);
    return image;
}

// The bytes of sectors [first, first + count) of an image's file, as Form 1 sectors hold them.
QByteArray form1Bytes(const QByteArray& bin, qint64 first, qint64 count) {
    QByteArray bytes;
    for (qint64 i = 0; i < count; ++i)
        bytes += bin.mid((first + i) * kRaw + 24, 2048);
    return bytes;
}

// The byte ranges a ".damaged.ranges" file names, as one sorted set of byte offsets' runs.
QList<std::pair<qint64, qint64>> rangesIn(const QString& path) {
    QList<std::pair<qint64, qint64>> ranges;
    const QStringList lines = QString::fromUtf8(readFile(path)).split(u'\n');
    for (const QString& line : lines) {
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u' ');
        ranges.append({fields.at(0).toLongLong(), fields.at(1).toLongLong()});
    }
    return ranges;
}

// Runs merged where they touch.
QList<std::pair<qint64, qint64>> merged(QList<std::pair<qint64, qint64>> ranges) {
    std::sort(ranges.begin(), ranges.end());
    QList<std::pair<qint64, qint64>> out;
    for (const auto& range : ranges) {
        if (!out.isEmpty() && range.first <= out.last().second + 1)
            out.last().second = std::max(out.last().second, range.second);
        else
            out.append(range);
    }
    return out;
}

} // namespace

class RepairDataTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void repairDataIsWhatTheFormatSays_data();
    void repairDataIsWhatTheFormatSays();
    void pinnedFilesGiveThePinnedRepairData();
    void damageComesBackAsTheOraclePredicts_data();
    void damageComesBackAsTheOraclePredicts();
    void damagedRepairDataStillRepairsOrReadsAsBefore_data();
    void damagedRepairDataStillRepairsOrReadsAsBefore();
    void tableSectorLostInBothCopiesCostsOnlyWhatNothingProves();
    void copiesOfEveryFileRepairACopy_data();
    void copiesOfEveryFileRepairACopy();
    void reproducedImagesReadAsTheyShould_data();
    void reproducedImagesReadAsTheyShould();
    void discChangedAfterItsRepairDataIsToldNotHidden();

private:
    // What dat2file gives back from `bin` with `lost` sectors harmed, against the oracle.
    void expectOracle(const Image& image, const QByteArray& bin, const Sectors& lost);

    QTemporaryDir m_folder;
    Image m_image; // about 8 MB: L = 16 at m = 32
};

void RepairDataTest::initTestCase() {
    m_image = buildImage(m_folder.filePath(u"base"_qs),
                         {3'000'000, 2'000'000, 1'500'000, 1'000'000, 400'000, 123'457}, {});
    QCOMPARE(m_image.repair.m, 32);
    QVERIFY(m_image.repair.bandLength >= 10 && m_image.repair.bandLength <= 100);
}

void RepairDataTest::repairDataIsWhatTheFormatSays_data() {
    QTest::addColumn<QString>("repair");
    QTest::addColumn<int>("m");
    QTest::newRow("default") << QString() << 32;
    QTest::newRow("8") << u"8"_qs << 8;
    QTest::newRow("127") << u"127"_qs << 127;
}

// Every field of the header where the format document puts it, the parity by the formula, the
// check table bit by bit, both copies alike, the list's record, the folder's records.
void RepairDataTest::repairDataIsWhatTheFormatSays() {
    QFETCH(QString, repair);
    QFETCH(int, m);
    QTemporaryDir folder;
    const Image image = buildImage(folder.path(), {700'000, 300'000, 5'000}, repair);
    const QByteArray bin = readFile(image.bin);
    const QByteArray& h = image.header;
    const int k = 255 - m;
    const std::uint32_t L = image.repair.bandLength, D = image.repair.protectedSectors;

    QCOMPARE(h.left(8), QByteArray("VLMREPR\x1A", 8));
    QCOMPARE(le32(h, 8), 1u);     // version
    QCOMPARE(le32(h, 12), 2324u); // symbol size
    QCOMPARE(std::uint8_t(h[16]) | std::uint8_t(h[17]) << 8, 255);
    QCOMPARE(std::uint8_t(h[18]) | std::uint8_t(h[19]) << 8, k);
    QCOMPARE(image.repair.m, m);
    QCOMPARE(D, std::uint32_t(image.list.first + (image.list.second)));
    QCOMPARE(L, (D + std::uint32_t(k) - 1) / std::uint32_t(k));
    QCOMPARE(le32(h, 44), D + std::uint32_t(m) * L); // entries of the check table
    QCOMPARE(le32(h, 48), 1u);                       // code id
    QCOMPARE(le32(h, 52), std::uint32_t(m - 1) * L + 1);
    QCOMPARE(le32(h, 160),
             bitwiseCrc32c(reinterpret_cast<const std::uint8_t*>(h.constData()), 160));
    QVERIFY(h.mid(164).count('\0') == h.size() - 164);

    // Where libiso9660 finds the two files: where the header says.
    const auto rpd = placeOf(image.cue, u"VELMORA.RPD"_qs, folder.path());
    QCOMPARE(rpd, (std::pair<qint64, qint64>(image.repair.parityLba, qint64(m) * L)));
    QCOMPARE(image.headerLbas[0], D);
    QCOMPARE(qint64(image.headerLbas[1] + image.headerSectors), bin.size() / kRaw);
    QCOMPARE(image.headerSectors, 1 + (D + std::uint32_t(m) * L + 511) / 512);

    // The parity, word by word, by the formula; each parity sector a Form 2 sector.
    QCryptographicHash paritySum(QCryptographicHash::Sha256);
    std::vector<std::vector<Bytes>> parity(L);
    for (std::uint32_t j = 0; j < L; ++j) {
        std::vector<Bytes> data;
        for (int c = 0; c < k; ++c) {
            const std::uint32_t lba = std::uint32_t(c) * L + j;
            data.push_back(lba < D ? symbolAt(bin, lba) : Bytes(kData, 0));
        }
        parity[j] = referenceParity(data, m);
    }
    for (int r = 0; r < m; ++r)
        for (std::uint32_t j = 0; j < L; ++j) {
            const std::uint32_t lba = image.repair.parityLba + std::uint32_t(r) * L + j;
            QVERIFY(bin[lba * kRaw + 18] & 0x20);
            QVERIFY2(symbolAt(bin, lba) == parity[j][std::size_t(r)],
                     qPrintable(u"parity %1 of word %2"_qs.arg(r).arg(j)));
            paritySum.addData(QByteArrayView(parity[j][std::size_t(r)].data(), kData));
        }
    QCOMPARE(h.mid(56, 32), paritySum.result());

    // The check table in both copies, each entry the CRC-32C of its symbol.
    const QByteArray first = form1Bytes(bin, image.headerLbas[0], image.headerSectors);
    const QByteArray second = form1Bytes(bin, image.headerLbas[1], image.headerSectors);
    QCOMPARE(first, second);
    const QByteArray table = first.mid(2048, qsizetype(le32(h, 44)) * 4);
    for (std::uint32_t i = 0; i < le32(h, 44); ++i) {
        const std::uint32_t lba = i < D ? i : image.repair.parityLba + (i - D);
        const Bytes symbol = symbolAt(bin, lba);
        QCOMPARE(le32(table, qsizetype(i) * 4), bitwiseCrc32c(symbol.data(), symbol.size()));
    }
    QCOMPARE(h.mid(88, 32), QCryptographicHash::hash(table, QCryptographicHash::Sha256));

    // The list names both, in one record of its own.
    const QByteArray list = form1Bytes(bin, image.list.first, image.list.second);
    QVERIFY2(list.contains(u"\n# repair code 1 m %1 L %2 D %3 rpd %4 rph %5 %6\n"_qs.arg(m)
                               .arg(L)
                               .arg(D)
                               .arg(image.repair.parityLba)
                               .arg(image.headerLbas[0])
                               .arg(image.headerLbas[1])
                               .toUtf8()),
             list.constData());
    // dat2file lists it, and leaves both files out of what it gives back.
    const Run listed = run(dat2fileProgram(), {u"--list"_qs, image.cue}, folder.path());
    QVERIFY2(listed.output.startsWith(u"# repair data: %1 parity bands of 255"_qs.arg(m)),
             qPrintable(listed.output));
    QVERIFY(!listed.output.contains(u"not in the file list"_qs));
    const Run back = run(dat2fileProgram(), {image.cue, u"out"_qs}, folder.path());
    QCOMPARE(back.status, 0);
    QCOMPARE(filesUnder(folder.filePath(u"out"_qs)), image.files);
}

// Files, dates and clock fixed: the parity and the check table are the pinned ones, from this
// system's build and from the Windows build alike.
void RepairDataTest::pinnedFilesGiveThePinnedRepairData() {
    QTemporaryDir folder;
    QStringList arguments = {u"-v"_qs, u"PINNED"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs};
    for (int i = 0; i < 3; ++i) {
        const QString path = writeFile(folder.filePath(u"in"_qs), u"p%1.dat"_qs.arg(i),
                                       randomBytes(200'000 + i * 77'777, quint32(7 + i)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5), Qt::UTC),
                                 QFileDevice::FileModificationTime));
        arguments << path;
    }
    qputenv("SOURCE_DATE_EPOCH", "1767225600");
    const Run built = run(tolkProgram(), arguments, folder.path());
    qunsetenv("SOURCE_DATE_EPOCH");
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const auto rph = placeOf(folder.filePath(u"IMG.cue"_qs), u"VELMORA.RPH"_qs, folder.path());
    const QByteArray header =
        readFile(folder.filePath(u"IMG.bin"_qs)).mid(rph.first * kRaw + 24, 2048);
    QCOMPARE(header.mid(56, 32).toHex(),
             QByteArray("ccb1e8b9388e3a6a546d729ab3889eff98254ddf94ddec39bb227e613512e25a"));
    QCOMPARE(header.mid(88, 32).toHex(),
             QByteArray("9f6f93508e681d14542b950d5e4c2e096109b52d182148e08f71c9f79ddbd7ee"));
}

void RepairDataTest::damageComesBackAsTheOraclePredicts_data() {
    QTest::addColumn<QString>("damage");
    for (const char* damage :
         {"radial scratch 10 mm", "radial scratch 30 mm", "opaque spot 12 mm",
          "three opaque spots 12 mm", "wiped ring 2 mm", "wiped ring 6 mm", "tangential arc",
          "edge crack 5 mm", "edge crack 15 mm", "longest burst", "burst one band too long",
          "rim decay", "random 1 %", "random 5 %", "random 10 %", "garbage with a wrong EDC",
          "garbage with a valid EDC", "one flipped bit while few are lost"})
        QTest::newRow(damage) << QString::fromLatin1(damage);
}

void RepairDataTest::damageComesBackAsTheOraclePredicts() {
    QFETCH(QString, damage);
    const Image& image = m_image;
    QByteArray bin = readFile(image.bin);
    const DiscGeometry disc(image.sectors);
    std::mt19937 random(std::uint32_t(qHash(damage)));
    const auto angle = [&] {
        return std::uniform_real_distribution<double>(0, 6.283)(random);
    };
    const auto radius = [&](double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(random);
    };
    const std::uint32_t m = std::uint32_t(image.repair.m), L = image.repair.bandLength;
    const std::uint32_t dataEnd = image.repair.parityLba + m * L;
    Sectors lost;
    Harm how = Harm::Zeroed;
    if (damage.startsWith(u"radial scratch"_qs)) {
        const double length = damage.contains(u"10"_qs) ? 10 : 30;
        lost = radialScratch(disc, angle(), radius(26, disc.rim() - length), length, random);
    } else if (damage == u"opaque spot 12 mm"_qs) {
        lost = spot(disc, radius(32, 50), angle(), 12);
    } else if (damage == u"three opaque spots 12 mm"_qs) {
        for (int i = 0; i < 3; ++i)
            lost.merge(spot(disc, radius(32, 50), angle(), 12));
    } else if (damage.startsWith(u"wiped ring"_qs)) {
        lost = ring(disc, radius(32, 50), damage.contains(u"2 mm"_qs) ? 2 : 6);
    } else if (damage == u"tangential arc"_qs) {
        lost = tangentialArc(disc, radius(30, 50), 0.5, angle(), 2.0);
    } else if (damage.startsWith(u"edge crack"_qs)) {
        lost = edgeCrack(disc, angle(), damage.contains(u"15"_qs) ? 15 : 5, random);
    } else if (damage == u"longest burst"_qs || damage == u"burst one band too long"_qs) {
        const std::uint32_t length = damage == u"longest burst"_qs ? (m - 1) * L + 1 : (m + 1) * L;
        lost =
            burst(image.firstFile + std::uint32_t(random() % (dataEnd - image.firstFile - length)),
                  length);
    } else if (damage == u"rim decay"_qs) {
        lost = rimDecay(disc, 4, 0.3, random);
    } else if (damage.startsWith(u"random"_qs)) {
        lost = scattered(disc, damage.split(u' ').at(1).toDouble(), random);
    } else if (damage == u"one flipped bit while few are lost"_qs) {
        // A few sectors zeroed, and three with one bit changed and a valid EDC: each word
        // loses fewer than m, and only the check table and the spare parity tell the three.
        for (const std::uint32_t lba : scattered(disc, 0.5, random))
            if (lba >= image.firstFile && lba < image.list.first)
                lost.insert(lba);
        harm(bin, lost, Harm::Zeroed, random);
        const Sectors flipped = {image.firstFile + 100, image.firstFile + 107,
                                 image.firstFile + 114};
        harm(bin, flipped, Harm::FlippedBit, random);
        lost.merge(Sectors(flipped));
        const std::vector<int> losses = lossesPerWord(image.repair, lost);
        QVERIFY(*std::max_element(losses.begin(), losses.end()) < int(m));
    } else {
        // Sectors of the files alone, with other data: the EDC tells them, or only the table.
        how = damage.contains(u"wrong"_qs) ? Harm::GarbageBadEdc : Harm::GarbageGoodEdc;
        for (const std::uint32_t lba : scattered(disc, 3, random))
            if (lba >= image.firstFile && lba < image.list.first)
                lost.insert(lba);
    }
    if (damage != u"one flipped bit while few are lost"_qs)
        harm(bin, lost, how, random);
    QVERIFY(!lost.empty());
    expectOracle(image, bin, lost);
}

void RepairDataTest::expectOracle(const Image& image, const QByteArray& bin, const Sectors& lost) {
    // The repair data is found while the header reads in either copy; it is degraded once a
    // sector of either copy is lost. A sector of the check table lost in both copies leaves
    // its entries unknown: then only "nothing written as good but different" is asked.
    const bool repairFound = !lost.count(image.headerLbas[0]) || !lost.count(image.headerLbas[1]);
    bool degraded = false, tableHoles = false;
    for (std::uint32_t i = 0; i < image.headerSectors; ++i) {
        degraded =
            degraded || lost.count(image.headerLbas[0] + i) || lost.count(image.headerLbas[1] + i);
        tableHoles = tableHoles || (i > 0 && lost.count(image.headerLbas[0] + i) &&
                                    lost.count(image.headerLbas[1] + i));
    }
    const QString folder = image.folder + u"/try"_qs;
    QDir(folder).removeRecursively();
    writeFile(folder, u"IMG.bin"_qs, bin);
    writeFile(folder, u"IMG.cue"_qs, readFile(image.cue));
    const std::vector<int> losses = lossesPerWord(image.repair, lost);
    const int m = image.repair.m;
    const auto gone = [&](std::uint32_t lba) {
        return lost.count(lba) && (!repairFound || lba >= image.repair.protectedSectors ||
                                   losses[lba % image.repair.bandLength] > m);
    };
    // The file system and the list must come back for the files to: else only "nothing
    // written as good but different" is asked.
    bool metaGone = tableHoles;
    for (std::uint32_t lba = 16; lba < image.firstFile; ++lba)
        metaGone = metaGone || gone(lba);
    for (qint64 lba = image.list.first; lba < image.list.first + image.list.second; ++lba)
        metaGone = metaGone || gone(std::uint32_t(lba));

    const Run extracted = run(dat2fileProgram(), {u"IMG.bin"_qs, u"out"_qs}, folder);
    bool anyDamaged = false;
    for (auto it = image.files.cbegin(); it != image.files.cend(); ++it) {
        const auto [first, count] = image.places[it.key()];
        const QByteArray& bytes = it.value();
        QList<std::pair<qint64, qint64>> expected;
        for (qint64 i = 0; i < count; ++i)
            if (gone(std::uint32_t(first + i)))
                expected.append({i * kData, std::min((i + 1) * kData, qint64(bytes.size())) - 1});
        const QString out = folder + u"/out/"_qs + it.key();
        if (QFile::exists(out))
            QVERIFY2(readFile(out) == bytes,
                     qPrintable(it.key() + u" written as good, but differs"_qs));
        if (metaGone)
            continue;
        anyDamaged = anyDamaged || !expected.isEmpty();
        if (expected.isEmpty()) {
            QVERIFY2(QFile::exists(out), qPrintable(it.key() + u": "_qs + extracted.errors));
            continue;
        }
        QVERIFY2(!QFile::exists(out), qPrintable(it.key()));
        const QList<std::pair<qint64, qint64>> ranges =
            merged(rangesIn(out + u".damaged.ranges"_qs));
        if (ranges != merged(expected))
            qWarning("%s", readFile(out + u".damaged.ranges"_qs).constData());
        QCOMPARE(ranges, merged(expected));
        // Every byte outside the ranges exact: rebuilt sectors are the file's.
        QByteArray damaged = readFile(out + u".damaged"_qs), original = bytes;
        QCOMPARE(damaged.size(), original.size());
        for (const auto& range : expected) {
            damaged.replace(range.first, range.second - range.first + 1,
                            QByteArray(range.second - range.first + 1, 'x'));
            original.replace(range.first, range.second - range.first + 1,
                             QByteArray(range.second - range.first + 1, 'x'));
        }
        QVERIFY2(damaged == original, qPrintable(it.key()));
    }
    if (metaGone)
        return;
    QCOMPARE(extracted.status, anyDamaged ? 3 : 0);
    if (repairFound)
        QVERIFY2(extracted.output.contains(u"dat2file: repair data: "_qs),
                 qPrintable(extracted.output));

    // --check says the same of each file, and the worst word's losses.
    const Run checked = run(dat2fileProgram(), {u"--check"_qs, u"IMG.bin"_qs}, folder);
    const bool anyLost =
        std::any_of(losses.begin(), losses.end(), [](int count) { return count > 0; });
    QCOMPARE(checked.status, anyDamaged ? 3 : degraded ? 5 : anyLost && repairFound ? 4 : 0);
    for (auto it = image.files.cbegin(); it != image.files.cend(); ++it) {
        const auto [first, count] = image.places[it.key()];
        bool fileGone = false;
        for (qint64 i = 0; i < count; ++i)
            fileGone = fileGone || gone(std::uint32_t(first + i));
        QVERIFY2(checked.output.contains((fileGone ? u"damaged    "_qs : u""_qs) + it.key()),
                 qPrintable(checked.output));
    }
    if (repairFound) {
        const int worst = *std::max_element(losses.begin(), losses.end());
        QVERIFY2(checked.output.contains(
                     worst == 0 ? u"no code word lost a sector"_qs
                                : u"the worst code word lost %1 of the %2 sectors it can lose"_qs
                                      .arg(worst)
                                      .arg(m)),
                 qPrintable(checked.output));
    }
}

void RepairDataTest::damagedRepairDataStillRepairsOrReadsAsBefore_data() {
    QTest::addColumn<QString>("damage");
    for (const char* damage : {"first header copy", "second header copy", "both header copies",
                               "a table sector of the first copy, with a valid EDC", "the folders",
                               "the file list", "the parity"})
        QTest::newRow(damage) << QString::fromLatin1(damage);
}

// The repair data's own sectors damaged, and sectors of a file lost besides: what is left of it
// still repairs, else the image reads as one without repair data.
void RepairDataTest::damagedRepairDataStillRepairsOrReadsAsBefore() {
    QFETCH(QString, damage);
    const Image& image = m_image;
    QByteArray bin = readFile(image.bin);
    std::mt19937 random(std::uint32_t(qHash(damage)));
    const std::uint32_t L = image.repair.bandLength;
    Sectors lost = burst(image.firstFile + 50, 2 * L); // a scratch in the first file
    Sectors repairHarm;
    Harm how = Harm::Zeroed;
    if (damage.contains(u"first header"_qs) || damage.contains(u"both"_qs))
        repairHarm.merge(burst(image.headerLbas[0], image.headerSectors));
    if (damage.contains(u"second header"_qs) || damage.contains(u"both"_qs))
        repairHarm.merge(burst(image.headerLbas[1], image.headerSectors));
    if (damage.contains(u"table sector"_qs)) {
        repairHarm.insert(image.headerLbas[0] + 1);
        how = Harm::GarbageGoodEdc;
    }
    if (damage == u"the folders"_qs)
        lost.merge(burst(16, image.firstFile - 16)); // descriptors, path tables, folders
    if (damage == u"the file list"_qs)
        lost.merge(burst(std::uint32_t(image.list.first), std::uint32_t(image.list.second)));
    if (damage == u"the parity"_qs)
        lost.merge(burst(image.repair.parityLba, 5 * L));
    harm(bin, lost, Harm::Zeroed, random);
    harm(bin, repairHarm, how, random);
    lost.merge(repairHarm);
    expectOracle(image, bin, lost);
}

// A sector of the check table lost in both copies leaves its 512 entries unknown, nothing
// else: members it covers are rebuilt where the word's spare parity proves them, and a word
// with no spare gives back only its members whose entries are known.
void RepairDataTest::tableSectorLostInBothCopiesCostsOnlyWhatNothingProves() {
    const Image& image = m_image;
    const std::uint32_t L = image.repair.bandLength, m = std::uint32_t(image.repair.m);
    QVERIFY(image.headerSectors >= 5);
    QByteArray bin = readFile(image.bin);
    std::mt19937 random(7);
    const std::uint32_t table = 2; // entries 1,024 to 1,535: sectors of the files
    Sectors lost = {image.headerLbas[0] + 1 + table, image.headerLbas[1] + 1 + table};
    // One member lost in each of eight words, some of them covered by the lost table sector.
    lost.merge(burst(1530, 8));
    // A word that loses m: one member of unknown entry, m - 1 known ones.
    const std::uint32_t unproved = 1027, word = unproved % L;
    QVERIFY(word < 1530 % L || word >= (1530 % L) + 8); // not one of the eight
    lost.insert(unproved);
    for (std::uint32_t i = 0; i + 1 < m; ++i)
        lost.insert(1536 + word + i * L);
    QVERIFY(1536 + word + (m - 2) * L < image.list.first);
    harm(bin, lost, Harm::Zeroed, random);
    const QString folder = image.folder + u"/holes"_qs;
    writeFile(folder, u"IMG.bin"_qs, bin);
    writeFile(folder, u"IMG.cue"_qs, readFile(image.cue));

    const Run extracted = run(dat2fileProgram(), {u"IMG.bin"_qs, u"out"_qs}, folder);
    QCOMPARE(extracted.status, 3);
    QVERIFY2(extracted.errors.contains(u"cannot be read in either copy"_qs),
             qPrintable(extracted.errors));
    for (auto it = image.files.cbegin(); it != image.files.cend(); ++it) {
        const auto [first, count] = image.places[it.key()];
        const QString out = folder + u"/out/"_qs + it.key();
        if (unproved < first || unproved >= first + count) {
            QVERIFY2(QFile::exists(out), qPrintable(it.key()));
            QCOMPARE(readFile(out), it.value());
            continue;
        }
        // Exactly the unproved sector's bytes lost, everything else the file's.
        const qint64 from = (unproved - first) * kData;
        QCOMPARE(rangesIn(out + u".damaged.ranges"_qs),
                 (QList<std::pair<qint64, qint64>>{{from, from + kData - 1}}));
        QByteArray damaged = readFile(out + u".damaged"_qs), original = it.value();
        QCOMPARE(damaged.remove(from, kData), original.remove(from, kData));
    }
    const Run checked = run(dat2fileProgram(), {u"--check"_qs, u"IMG.bin"_qs}, folder);
    QCOMPARE(checked.status, 3);
    QVERIFY2(checked.errors.contains(u"is degraded: 1 of the"_qs), qPrintable(checked.errors));
}

void RepairDataTest::copiesOfEveryFileRepairACopy_data() {
    QTest::addColumn<QString>("left");
    QTest::addColumn<bool>("whole");
    QTest::newRow("every copy") << QString() << true;
    QTest::newRow("one file's copy missing") << u"F5.DAT"_qs << true;
    QTest::newRow("the parity's copy missing") << u"VELMORA.RPD"_qs << false;
}

// A disc copied file by file, as Windows copies it (RIFF CDXA copies of the Form 2 files, the
// Form 1 ones plain), one copy scratched: the copies beside it rebuild its lost sectors.
void RepairDataTest::copiesOfEveryFileRepairACopy() {
    QFETCH(QString, left);
    QFETCH(bool, whole);
    const Image& image = m_image;
    QTemporaryDir folder;
    const QString cd = folder.filePath(u"cd"_qs);
    for (const QString& own : {u"VELMORA.LST"_qs, u"VELMORA.RPH"_qs}) {
        run(QStringLiteral(ISO9660_READER),
            {image.cue, u"/"_qs + own + u";1"_qs, folder.filePath(own)}, folder.path());
        writeFile(cd, own, readFile(folder.filePath(own)));
    }
    QStringList riffs = {u"VELMORA.RPD"_qs};
    for (const QString& name : image.files.keys())
        riffs << name.toUpper();
    for (const QString& identifier : riffs)
        if (identifier != left)
            writeFile(cd, identifier,
                      riffOf(image.bin, placeOf(image.cue, identifier, folder.path())));
    // A scratch across two bands of the first file's copy.
    const std::uint32_t L = image.repair.bandLength;
    QByteArray scratched = readFile(cd + u"/F0.DAT"_qs);
    scratched.replace(44 + 100 * kRaw, 2 * L * kRaw, QByteArray(2 * L * kRaw, '\0'));
    writeFile(cd, u"F0.DAT"_qs, scratched);

    const Run back = run(dat2fileProgram(), {cd + u"/F0.DAT"_qs, u"f0.dat"_qs}, folder.path());
    if (whole) {
        QVERIFY2(back.status == 0, qPrintable(back.errors));
        QVERIFY(readFile(folder.filePath(u"f0.dat"_qs)) == image.files[u"f0.dat"_qs]);
        QVERIFY2(back.output.contains(u"repair data: %1 sectors unreadable, %1 rebuilt, 0 not "
                                      "rebuildable (from the copies in"_qs.arg(2 * L)),
                 qPrintable(back.output));
    } else {
        QCOMPARE(back.status, 3);
        QVERIFY(!QFile::exists(folder.filePath(u"f0.dat"_qs)));
        QCOMPARE(merged(rangesIn(folder.filePath(u"f0.dat.damaged.ranges"_qs))),
                 (QList<std::pair<qint64, qint64>>{{100 * kData, (100 + 2 * L) * kData - 1}}));
    }
}

void RepairDataTest::reproducedImagesReadAsTheyShould_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QStringList>("damaged"); // the files given back as damaged copies
    QTest::addColumn<QList<int>>("check");    // the exit statuses --check may end with
    const QList<int> damaged = {3}, degraded = {5};
    QTest::newRow("hb2") << u"hb2"_qs << QStringList() << QList<int>{0};
    // Header fields out of range or outside the image, or no header that reads: the repair data
    // is refused (--check says it is degraded), the files read as without it.
    for (const char* image :
         {"D0_L0", "D0_L1", "hdr_crc_broken", "huge_D_consistent", "huge_D_wrapped",
          "huge_L_invalid", "k_plus_m_256", "m0_k255", "m254_k1", "m255_k0", "rpd_outside",
          "rph_fields_zero", "scan_flood", "copy1_sha_parity_wrong"})
        QTest::newRow(image) << QString::fromLatin1(image) << QStringList() << degraded;
    // A header copy lost or out of reach, a table that lies: the other copy, the true parity, or
    // the sectors' own bytes checked by the SHA-256 give every file back.
    for (const char* image : {"rph1_header_lost_plus_burst", "rph2_million_away"})
        QTest::newRow(image) << QString::fromLatin1(image) << QStringList() << degraded;
    for (const char* image : {"table_lies_le_m", "table_lies_gt_m", "table_all_zero"})
        QTest::newRow(image) << QString::fromLatin1(image) << QStringList() << QList<int>{4};
    // Forged or garbage parity, a table refused, two header copies that disagree: what cannot
    // be rebuilt is damaged, never written as good.
    for (const char* image : {"parity_forged_lt_m_lost", "parity_forged_m_lost", "parity_garbage",
                              "table_sha_wrong", "copies_differ"})
        QTest::newRow(image) << QString::fromLatin1(image) << QStringList{u"h2.mpg"_qs} << damaged;
    // The list and both header copies garbled, their EDC left wrong: --check says what
    // extraction does.
    QTest::newRow("check_blind_to_edc")
        << u"check_blind_to_edc"_qs
        << QStringList{u"h1.txt"_qs,      u"h2.mpg"_qs,      u"h3.dat"_qs,
                       u"VELMORA.LST"_qs, u"VELMORA.RPD"_qs, u"VELMORA.RPH"_qs}
        << damaged;
}

// Images whose repair data lies or whose damage sits at its edge, made outside: never a wrong
// file written as good, never less than the image read without its repair data, and --check
// saying what extraction does.
void RepairDataTest::reproducedImagesReadAsTheyShould() {
    QFETCH(QString, image);
    QFETCH(QStringList, damaged);
    QFETCH(QList<int>, check);
    const QMap<QString, QByteArray> sums = {
        {u"h1.txt"_qs, "5ce59d5488dda87ec8209ec768fd5353386c79fbe98ba4cadaf53bd0e0ef8254"},
        {u"h2.mpg"_qs, "2d77bb6e5c60cd0c0d1f95370882755266289942e3670dc666271ba491477679"},
        {u"h3.dat"_qs, "8386b827f16fc0486fba5f82b98b0b4795cf8e7c49c3ef48308673c96959cb29"}};
    QTemporaryDir folder;
    const QString data = QStringLiteral(REPAIR5_DATA) + u'/';
    if (!unpack(data + image + u".bin.xz"_qs, folder.path(), image + u".bin"_qs))
        QSKIP("xz cannot unpack the test image here");
    QFile::copy(data + image + u".cue"_qs, folder.filePath(image + u".cue"_qs));
    const Run back = run(dat2fileProgram(), {image + u".cue"_qs, u"out"_qs}, folder.path());
    QCOMPARE(back.status, damaged.isEmpty() ? 0 : 3);
    const QMap<QString, QByteArray> files = filesUnder(folder.filePath(u"out"_qs));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.key().endsWith(u".ranges"_qs))
            continue;
        const QString name = it.key().endsWith(u".damaged"_qs) ? it.key().chopped(8) : it.key();
        QVERIFY2(damaged.contains(name) == it.key().endsWith(u".damaged"_qs), qPrintable(it.key()));
        if (!it.key().endsWith(u".damaged"_qs)) // written as good: exactly the original
            QCOMPARE(QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex(),
                     sums.value(name));
    }
    for (const QString& name : sums.keys())
        QVERIFY2(files.contains(name) || files.contains(name + u".damaged"_qs), qPrintable(name));
    const Run checked = run(dat2fileProgram(), {u"--check"_qs, image + u".cue"_qs}, folder.path());
    QVERIFY2(check.contains(checked.status), qPrintable(checked.output + checked.errors));
    for (const QString& name : damaged)
        QVERIFY2(checked.output.contains(u"damaged    "_qs + name), qPrintable(checked.output));
}

// The first file's sectors read well but differ from the check table, whose SHA-256, the
// parity and the file list all agree on another version (a disc changed after it was made, or
// its repair data made for another). Nothing on the disc tells which is right: the repair data,
// proved by the table and the list, is taken, and both the run and --check say so plainly.
void RepairDataTest::discChangedAfterItsRepairDataIsToldNotHidden() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(REPAIR5_DATA) + u'/';
    if (!unpack(data + u"forgery_intact_data.bin.xz"_qs, folder.path(),
                u"forgery_intact_data.bin"_qs))
        QSKIP("xz cannot unpack the test image here");
    QFile::copy(data + u"forgery_intact_data.cue"_qs,
                folder.filePath(u"forgery_intact_data.cue"_qs));
    const Run back =
        run(dat2fileProgram(), {u"forgery_intact_data.cue"_qs, u"out"_qs}, folder.path());
    QCOMPARE(back.status, 0);
    QVERIFY2(back.output.contains(u"2 sectors read without error yet differed from the check "
                                  "table, and the repair data's version was given: this disc is "
                                  "not as it was made"_qs),
             qPrintable(back.output));
    const Run checked =
        run(dat2fileProgram(), {u"--check"_qs, u"forgery_intact_data.cue"_qs}, folder.path());
    QCOMPARE(checked.status, 4);
    QVERIFY2(checked.errors.contains(u"the disc is not as it was made"_qs),
             qPrintable(checked.errors));
}

QTEST_GUILESS_MAIN(RepairDataTest)
#include "tst_repairdata.moc"
