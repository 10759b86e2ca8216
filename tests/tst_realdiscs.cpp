// SPDX-License-Identifier: GPL-3.0-or-later
// Discs as people fill them: hundreds of files from nested folders, names in many scripts and
// of every length, empty files, large files with holes, built with the default repair data
// through the command line the window runs. Each image is read by the tests' own reader of the
// standards and of the repair format (imagecheck.h), given back whole by dat2file, checked by
// `dat2file --check`, and given back whole again after damage the repair data must rebuild.
// File lists of one sector to hundreds, and images whose list velmora_tolk 0.3 protected in a
// form of its own.

#include "cdimage/base/sector.h"
#include "discdamage.h"
#include "imagecheck.h"
#include "referencecode.h"
#include "sectorharm.h"
#include "toolrun.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <random>

using namespace Qt::StringLiterals;
using namespace velmora::test;

namespace {

constexpr qint64 kRaw = 2352;

// A file of the set: where it lies, its name and what it holds.
struct SetFile {
    QString path;
    QString name;
    QByteArray bytes;
    QDateTime modified;
};

const QStringList kWords = {
    u"Crêpes chez Hélène"_qs,  u"Île de Bréhat (vélo)"_qs, u"L'été à Saint-Malo"_qs,
    u"北京の夜景"_qs,          u"東京タワーと富士山"_qs,   u"한강 공원 산책"_qs,
    u"Пляж у моря"_qs,         u"Ελληνικό νησί"_qs,        u"🎉 anniversaire de Zoé 🎂"_qs,
    u"Ça va? (bis)"_qs,        u"naïve café, 2ᵉ jour"_qs,  u"São Paulo — Carnaval"_qs,
    u"Grand-mère's garden"_qs, u"שלום חברים"_qs,           u"مرحبا بالعالم"_qs,
    u"Dîner d'adieu [HD]"_qs};
const QStringList kEndings = {u".avi"_qs, u".mpg"_qs, u".mp4"_qs, u".jpg"_qs, u".dat"_qs};
const QStringList kFolders = {u"2024/Bretagne/jour 1"_qs,
                              u"2024/Bretagne/jour 2"_qs,
                              u"2025/東京"_qs,
                              u"2025/Été (famille)"_qs,
                              u"vidéos"_qs,
                              u"2023/Ελλάδα/νησιά/Σαντορίνη"_qs};

// Writes `size` bytes whose first ones are random, the rest a hole; returns them.
QByteArray writeWithHole(const QString& path, qint64 size, qint64 head, std::mt19937& random) {
    QDir().mkpath(QFileInfo(path).path());
    QByteArray bytes(qsizetype(std::min(size, head)), Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(random());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.resize(size))
        qFatal("cannot write %s", qPrintable(path));
    bytes.resize(qsizetype(size), '\0');
    return bytes;
}

// A holiday disc's files under `folder`: `count` of them in nested folders; names with
// accents, CJK, emoji, apostrophes and parentheses, some over 100 characters; a few empty; sizes
// up to `largest`, the large ones mostly holes; dates from 1999 to 2026.
QList<SetFile> holidayFiles(const QString& folder, int count, qint64 largest, quint32 seed) {
    std::mt19937 random(seed);
    QList<SetFile> files;
    for (int i = 0; i < count; ++i) {
        QString name =
            u"%1 "_qs.arg(i, 3, 10, QChar(u'0')) + kWords.at(int(random() % kWords.size()));
        if (i % 9 == 4) // a long one: over 100 characters, under 255 bytes
            while (name.size() < 100 + int(random() % 20) && name.toUtf8().size() < 200)
                name += u' ' + kWords.at(int(random() % kWords.size()));
        name += kEndings.at(int(random() % kEndings.size()));
        const qint64 size = i % 23 == 7 ? 0
                            : i % 20 == 3
                                ? largest / 2 + qint64(random() % std::uint32_t(largest / 2))
                                : qint64(random() % 200'000);
        SetFile file;
        file.name = name;
        file.path = folder + u'/' + kFolders.at(int(random() % kFolders.size())) + u'/' + name;
        file.bytes = writeWithHole(file.path, size, 40'000, random);
        file.modified =
            QDateTime::fromSecsSinceEpoch(915'148'800 + qint64(random() % 880'000'000), Qt::UTC);
        QFile handle(file.path);
        if (!handle.open(QIODevice::ReadWrite) ||
            !handle.setFileTime(file.modified, QFileDevice::FileModificationTime))
            qFatal("cannot date %s", qPrintable(file.path));
        files.append(file);
    }
    return files;
}

// velmora_tolk as the window runs it, with `repair` first where given.
Run buildFrom(const QList<SetFile>& files, const QString& folder, const QStringList& repair = {}) {
    QStringList arguments = repair;
    arguments << u"-v"_qs << u"HOLIDAYS"_qs << u"-o"_qs << u"IMG"_qs << u"-m"_qs;
    for (const SetFile& file : files)
        arguments << file.path;
    return run(tolkProgram(), arguments, folder);
}

// All a run said, on either stream.
QString said(const Run& run) {
    return run.output + run.errors;
}

// What a run said but for the files it wrote, for a failure's message.
QString summary(const Run& run) {
    QStringList lines = said(run).split(u'\n');
    lines.removeIf([](const QString& line) { return line.contains(u"SHA-256 checked"_qs); });
    return lines.join(u'\n');
}

// The tests' own reader's faults, one per line.
QString faultsOf(const ImageFacts& facts) {
    QStringList lines;
    for (const std::string& fault : facts.faults)
        lines << QString::fromStdString(fault);
    return lines.join(u'\n');
}

ImageFacts checked(const QByteArray& bin, const CheckOptions& options = {}) {
    return checkImage(reinterpret_cast<const std::uint8_t*>(bin.constData()),
                      std::size_t(bin.size()), options);
}

// Files given back under `folder` are the set's, byte for byte, each with its date.
void expectFilesBack(const QString& folder, const QList<SetFile>& files) {
    const QMap<QString, QByteArray> back = filesUnder(folder);
    QCOMPARE(back.size(), files.size());
    for (const SetFile& file : files) {
        QVERIFY2(back.contains(file.name), qPrintable(file.name));
        QVERIFY2(back.value(file.name) == file.bytes, qPrintable(file.name));
        QCOMPARE(QFileInfo(folder + u'/' + file.name).lastModified().toSecsSinceEpoch(),
                 file.modified.toSecsSinceEpoch());
    }
}

// Where an image's repair data lies, by the tests' own reader.
RepairPlace placeOf(const ImageFacts& facts) {
    RepairPlace place;
    place.m = facts.m;
    place.bandLength = facts.bandLength;
    place.protectedSectors = facts.protectedSectors;
    place.parityLba = facts.parityLba;
    return place;
}

// Writes `bin` with `sectors` harmed as `how` says into `path`.
void writeHarmed(const QString& path, QByteArray bin, const Sectors& sectors, Harm how,
                 std::mt19937& random) {
    harm(bin, sectors, how, random);
    writeFile(QFileInfo(path).path(), QFileInfo(path).fileName(), bin);
}

void putLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}

// The image rewritten as velmora_tolk 0.3 protected it: each sector of the file list stands in
// its check table and its parity as the list's bytes from that sector's start, 2,324 of them.
QByteArray asWrittenByOldBuilder(QByteArray bin, const ImageFacts& facts) {
    auto* image = reinterpret_cast<std::uint8_t*>(bin.data());
    const auto raw = [&](std::uint32_t lba) {
        return image + qint64(lba) * kRaw;
    };
    const CheckedFile list = facts.isoFiles.at("VELMORA.LST");
    const CheckedFile rph = facts.isoFiles.at("VELMORA.RPH");
    const std::uint32_t D = facts.protectedSectors, L = facts.bandLength;
    const int m = facts.m, k = 255 - m;
    const QByteArray text = QByteArray::fromStdString(facts.fileList);
    const auto symbolOf = [&](std::uint32_t lba) {
        if (lba >= list.lba && lba < D) {
            Bytes symbol(2324, 0);
            const qsizetype from = qsizetype(lba - list.lba) * 2048;
            const QByteArray part = text.mid(from, 2324);
            std::memcpy(symbol.data(), part.constData(), std::size_t(part.size()));
            return symbol;
        }
        return symbolOfSector(raw(lba));
    };
    // The header's sectors: the table, its sum, the parity's sum, the builder, the CRC.
    const std::uint32_t headers[2] = {
        rph.lba, le32(QByteArray(reinterpret_cast<char*>(raw(rph.lba) + 24), 2048), 40)};
    std::uint8_t* header = raw(rph.lba) + 24;
    const std::uint32_t entries = D + std::uint32_t(m) * L;
    std::vector<std::uint8_t> table(std::size_t(entries) * 4);
    for (std::uint32_t i = 0; i < entries; ++i)
        std::memcpy(&table[i * 4], raw(rph.lba + 1 + i / 512) + 24 + (i % 512) * 4, 4);
    for (std::uint32_t lba = list.lba; lba < D; ++lba) {
        const Bytes symbol = symbolOf(lba);
        putLe32(&table[lba * 4], crc32cOf(symbol.data(), symbol.size()));
    }
    std::set<std::uint32_t> words;
    for (std::uint32_t lba = list.lba; lba < D; ++lba)
        words.insert(lba % L);
    for (const std::uint32_t j : words) {
        std::vector<Bytes> members;
        for (int c = 0; c < k; ++c) {
            const std::uint32_t lba = std::uint32_t(c) * L + j;
            members.push_back(lba < D ? symbolOf(lba) : Bytes(2324, 0));
        }
        const std::vector<Bytes> parity = referenceParity(members, m);
        for (int r = 0; r < m; ++r) {
            const std::uint32_t index = std::uint32_t(r) * L + j;
            std::uint8_t* sector = raw(facts.parityLba + index);
            cdimage::writeForm2(sector, facts.parityLba + index, sector[18],
                                parity[std::size_t(r)].data(), 2324, sector[16]);
            putLe32(&table[(D + index) * 4], crc32cOf(parity[std::size_t(r)].data(), 2324));
        }
    }
    QCryptographicHash paritySum(QCryptographicHash::Sha256);
    for (std::uint32_t i = 0; i < std::uint32_t(m) * L; ++i)
        paritySum.addData(QByteArrayView(raw(facts.parityLba + i) + 24, 2324));
    std::uint8_t newHeader[2048];
    std::memcpy(newHeader, header, 2048);
    std::memcpy(newHeader + 56, paritySum.result().constData(), 32);
    std::memcpy(newHeader + 88,
                QCryptographicHash::hash(QByteArrayView(table.data(), qsizetype(table.size())),
                                         QCryptographicHash::Sha256)
                    .constData(),
                32);
    std::memset(newHeader + 128, 0, 32);
    std::memcpy(newHeader + 128, "velmora_tolk 0.3", 16);
    putLe32(newHeader + 160, bitwiseCrc32c(newHeader, 160));
    for (const std::uint32_t copy : headers) {
        cdimage::writeForm1(raw(copy), copy, raw(copy)[18], newHeader, 2048);
        for (std::uint32_t s = 0; s * 512 < entries; ++s) {
            std::uint8_t sector[2048] = {};
            std::memcpy(sector, &table[s * 512 * 4],
                        std::min<std::size_t>(2048, table.size() - s * 512 * 4));
            cdimage::writeForm1(raw(copy + 1 + s), copy + 1 + s, raw(copy + 1 + s)[18], sector,
                                2048);
        }
    }
    return bin;
}

} // namespace

class RealDiscsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fileListsOfEveryLengthAreProtectedRight_data();
    void fileListsOfEveryLengthAreProtectedRight();
    void imageOfTheOldBuilderFromOutsideReadsWhole();
    void imagesOfTheOldBuilderReadWhole_data();
    void imagesOfTheOldBuilderReadWhole();
    void holidayDiscComesBackWhole();
    void holidayDiscSurvivesDamageWithinTheLimit_data();
    void holidayDiscSurvivesDamageWithinTheLimit();
    void namesReachTheTerminalEscaped();

private:
    QTemporaryDir m_folder;
    QList<SetFile> m_holidays;
};

void RealDiscsTest::initTestCase() {
    QVERIFY(m_folder.isValid());
    m_holidays = holidayFiles(m_folder.filePath(u"holidays"_qs), 320, 3'000'000, 2026);
}

void RealDiscsTest::fileListsOfEveryLengthAreProtectedRight_data() {
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("nameLength");
    QTest::addColumn<QString>("repair");
    // A list of one sector, of 2,049 to 2,324 bytes, just over one symbol, of a few sectors, and
    // of about 200 sectors (its folders of many sectors too, its check table of several).
    QTest::newRow("one sector") << 3 << 8 << QString();
    QTest::newRow("2,049 to 2,324 bytes") << 12 << 20 << QString();
    QTest::newRow("ten ordinary names") << 10 << 40 << QString();
    QTest::newRow("four names of 251 bytes") << 4 << 251 << u"8"_qs;
    QTest::newRow("fifteen short names") << 15 << 6 << u"127"_qs;
    QTest::newRow("about 200 sectors") << 1400 << 251 << QString();
}

// Whatever the list's length, every sector's symbol in the check table and in the parity is its
// own user data: the tests' own reader agrees with every entry, dat2file reads it with no sector
// taken for lost, and --check finds nothing.
void RealDiscsTest::fileListsOfEveryLengthAreProtectedRight() {
    QFETCH(int, files);
    QFETCH(int, nameLength);
    QFETCH(QString, repair);
    QTemporaryDir folder;
    QList<SetFile> set;
    std::mt19937 random(std::uint32_t(files * 1000 + nameLength));
    for (int i = 0; i < files; ++i) {
        SetFile file;
        const QString prefix = u"%1 "_qs.arg(i, 4, 10, QChar(u'0'));
        file.name = prefix +
                    QString(qMax(1, nameLength - int(prefix.size()) - 4), QChar(u'a' + i % 26)) +
                    u".dat"_qs;
        file.path = folder.filePath(u"in/"_qs + file.name);
        file.bytes =
            writeWithHole(file.path, i % 3 == 0 ? 0 : qint64(random() % 5000), 5000, random);
        file.modified = QFileInfo(file.path).lastModified();
        set.append(file);
    }
    const Run built = buildFrom(
        set, folder.path(), repair.isEmpty() ? QStringList() : QStringList{u"--repair"_qs, repair});
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));
    const ImageFacts facts = checked(bin, {1000, true});
    QVERIFY2(facts.faults.empty(), qPrintable(faultsOf(facts)));
    QCOMPARE(int(facts.listedFiles), files);
    QVERIFY(facts.m >= 8);
    const Run back = run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    QVERIFY2(said(back).contains(u"repair data: 0 sectors unreadable"_qs),
             qPrintable(summary(back)));
    const Run check = run(dat2fileProgram(), {u"--check"_qs, u"IMG.cue"_qs}, folder.path());
    QVERIFY2(check.status == 0, qPrintable(summary(check)));
    QVERIFY2(check.output.contains(u"no code word lost a sector"_qs), qPrintable(check.output));
}

// velmora_tolk 0.3's own image of 14 files, whose 2,312-byte list it protected in its form.
void RealDiscsTest::imageOfTheOldBuilderFromOutsideReadsWhole() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(REPAIR5_DATA) + u'/';
    if (!unpack(data + u"tolk_list2312.bin.xz"_qs, folder.path(), u"tolk_list2312.bin"_qs))
        QSKIP("xz cannot unpack the test image here");
    QFile::copy(data + u"tolk_list2312.cue"_qs, folder.filePath(u"tolk_list2312.cue"_qs));
    const Run check =
        run(dat2fileProgram(), {u"--check"_qs, u"tolk_list2312.cue"_qs}, folder.path());
    QVERIFY2(check.status == 0, qPrintable(summary(check)));
    QVERIFY2(check.output.contains(u"14 intact, 0 repairable, 0 damaged; no code word lost"_qs),
             qPrintable(summary(check)));
    const Run back = run(dat2fileProgram(), {u"tolk_list2312.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(summary(back)));
    QVERIFY2(said(back).contains(u"14 checked against the file list, 0 damaged"_qs) &&
                 said(back).contains(u"repair data: 0 sectors unreadable"_qs),
             qPrintable(summary(back)));
}

void RealDiscsTest::imagesOfTheOldBuilderReadWhole_data() {
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("nameLength");
    QTest::addColumn<QString>("lost");
    QTest::newRow("2,049 to 2,324 bytes") << 12 << 20 << QString();
    QTest::newRow("several sectors") << 60 << 120 << QString();
    QTest::newRow("several sectors, one lost") << 60 << 120 << u"second list sector"_qs;
    QTest::newRow("several sectors, all lost") << 60 << 120 << u"every list sector"_qs;
}

// velmora_tolk 0.3 took as the symbol of a list sector the list's bytes from its start, 2,324 of
// them. Such images read with no sector taken for lost, their files checked; a list sector lost
// is rebuilt in that form and given as the Form 1 sector it is.
void RealDiscsTest::imagesOfTheOldBuilderReadWhole() {
    QFETCH(int, files);
    QFETCH(int, nameLength);
    QFETCH(QString, lost);
    QTemporaryDir folder;
    QList<SetFile> set;
    std::mt19937 random(7);
    for (int i = 0; i < files; ++i) {
        SetFile file;
        file.name =
            u"%1"_qs.arg(i, 3, 10, QChar(u'0')) + QString(nameLength - 7, u'é') + u".dat"_qs;
        file.path = folder.filePath(u"in/"_qs + file.name);
        file.bytes = writeWithHole(file.path, 100 + qint64(random() % 9000), 9000, random);
        file.modified = QFileInfo(file.path).lastModified();
        set.append(file);
    }
    QVERIFY(buildFrom(set, folder.path()).status == 0);
    const QByteArray fresh = readFile(folder.filePath(u"IMG.bin"_qs));
    const ImageFacts facts = checked(fresh);
    QVERIFY2(facts.faults.empty(), qPrintable(faultsOf(facts)));
    QVERIFY(facts.fileList.size() > 2048);
    const QByteArray old = asWrittenByOldBuilder(fresh, facts);
    // The old form differs: the tests' own reader finds the list's first entry not its symbol's.
    QVERIFY(faultsOf(checked(old)).contains(u"check table entry"_qs));

    const CheckedFile list = facts.isoFiles.at("VELMORA.LST");
    Sectors harmed;
    if (lost == u"second list sector"_qs)
        harmed.insert(list.lba + 1);
    if (lost == u"every list sector"_qs)
        for (std::uint32_t lba = list.lba; lba < facts.protectedSectors; ++lba)
            harmed.insert(lba);
    std::mt19937 noise(1);
    writeHarmed(folder.filePath(u"IMG.bin"_qs), old, harmed, Harm::Zeroed, noise);
    const Run back = run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(summary(back)));
    const QString rebuilt = QString::number(harmed.size());
    QVERIFY2(said(back).contains(u"repair data: %1 sectors unreadable, %1 rebuilt"_qs.arg(rebuilt)),
             qPrintable(summary(back)));
    expectFilesBack(folder.filePath(u"out"_qs), set);
    if (harmed.empty()) {
        const Run check = run(dat2fileProgram(), {u"--check"_qs, u"IMG.cue"_qs}, folder.path());
        QVERIFY2(check.status == 0, qPrintable(summary(check)));
    }
}

// 320 files in nested folders, built as the window builds them: the tests' own reader agrees
// with every sector, every table entry and the parity; every file comes back exact with its name
// and date; --check finds every file intact.
void RealDiscsTest::holidayDiscComesBackWhole() {
    const QString folder = m_folder.filePath(u"whole"_qs);
    QDir().mkpath(folder);
    const Run built = buildFrom(m_holidays, folder);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    QVERIFY2(built.output.contains(u"repair data of 32 parity bands"_qs), qPrintable(built.output));
    const QByteArray bin = readFile(folder + u"/IMG.bin"_qs);
    const ImageFacts facts = checked(bin, {96, true});
    QVERIFY2(facts.faults.empty(), qPrintable(faultsOf(facts)));
    QCOMPARE(int(facts.listedFiles), m_holidays.size());
    QVERIFY(facts.fileList.size() > 20 * 2048);
    const Run back = run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, folder);
    QVERIFY2(back.status == 0, qPrintable(summary(back)));
    QVERIFY(said(back).contains(u"repair data: 0 sectors unreadable"_qs));
    expectFilesBack(folder + u"/out"_qs, m_holidays);
    const Run check = run(dat2fileProgram(), {u"--check"_qs, u"IMG.cue"_qs}, folder);
    QVERIFY2(check.status == 0, qPrintable(summary(check)));
    QVERIFY2(check.output.contains(u"%1 intact, 0 repairable, 0 damaged; no code word lost"_qs.arg(
                 m_holidays.size())),
             qPrintable(check.output));
}

void RealDiscsTest::holidayDiscSurvivesDamageWithinTheLimit_data() {
    QTest::addColumn<int>("m");
    QTest::addColumn<QString>("damage");
    for (const int m : {8, 32, 127})
        for (const char* damage :
             {"zeros", "garbage with a valid EDC", "radial scratch", "the list and the folders"})
            QTest::addRow("m %d, %s", m, damage) << m << QString::fromLatin1(damage);
}

// Damage that leaves every code word at most m lost, over random seeds: every file exact.
void RealDiscsTest::holidayDiscSurvivesDamageWithinTheLimit() {
    QFETCH(int, m);
    QFETCH(QString, damage);
    const QString folder = m_folder.filePath(u"m%1"_qs.arg(m));
    if (!QFileInfo::exists(folder + u"/IMG.bin"_qs)) {
        QDir().mkpath(folder);
        const Run built = buildFrom(m_holidays, folder, {u"--repair"_qs, QString::number(m)});
        QVERIFY2(built.status == 0, qPrintable(built.errors));
    }
    const QByteArray bin = readFile(folder + u"/IMG.bin"_qs);
    const ImageFacts facts = checked(bin, {0, false});
    QVERIFY2(facts.faults.empty(), qPrintable(faultsOf(facts)));
    QCOMPARE(facts.m, m);
    const RepairPlace place = placeOf(facts);
    const std::uint32_t L = facts.bandLength;
    const std::uint32_t parityEnd = facts.parityLba + std::uint32_t(m) * L;
    const DiscGeometry disc(facts.sectors);
    int tried = 0;
    for (quint32 seed = 1; seed <= 12 && tried < 2; ++seed) {
        std::mt19937 random(seed * 7919 + std::uint32_t(m));
        Sectors lost;
        Harm how = Harm::Zeroed;
        if (damage == u"zeros"_qs || damage == u"garbage with a valid EDC"_qs) {
            const std::uint32_t longest = std::uint32_t(m - 1) * L + 1;
            const std::uint32_t length = longest / 2 + random() % (longest / 2);
            lost = burst(std::uint32_t(random() % (parityEnd - length)), length);
            how = damage == u"zeros"_qs ? Harm::Zeroed : Harm::GarbageGoodEdc;
        } else if (damage == u"radial scratch"_qs) {
            for (int tries = 0; tries < 50; ++tries) {
                lost = radialScratch(disc, std::uniform_real_distribution<double>(0, 6.28)(random),
                                     26 + random() % 20, m < 32 ? 3 : 8, random);
                const std::vector<int> losses = lossesPerWord(place, lost);
                if (*std::max_element(losses.begin(), losses.end()) <= m)
                    break;
            }
        } else {
            const CheckedFile list = facts.isoFiles.at("VELMORA.LST");
            for (std::uint32_t lba = list.lba; lba < facts.protectedSectors; ++lba)
                lost.insert(lba);
            // The path tables and both folders: the Form 1 sectors before the first file's.
            for (std::uint32_t lba = 19; !(bin[qsizetype(lba) * kRaw + 18] & 0x20); ++lba)
                lost.insert(lba);
        }
        // The header's second copy stays: the first may be lost with the rest.
        const std::uint32_t headerSectors =
            1 + (facts.protectedSectors + std::uint32_t(m) * L + 511) / 512;
        const std::uint32_t secondCopy = facts.sectors - headerSectors;
        for (auto it = lost.begin(); it != lost.end();)
            it = *it >= secondCopy ? lost.erase(it) : std::next(it);
        const std::vector<int> losses = lossesPerWord(place, lost);
        if (*std::max_element(losses.begin(), losses.end()) > m)
            continue; // beyond the limit: not this test's
        QVERIFY(!lost.empty());
        ++tried;
        const QString trial = folder + u"/trial"_qs;
        QDir(trial).removeRecursively();
        writeHarmed(trial + u"/IMG.bin"_qs, bin, lost, how, random);
        QFile::copy(folder + u"/IMG.cue"_qs, trial + u"/IMG.cue"_qs);
        const Run back = run(dat2fileProgram(), {u"IMG.cue"_qs, u"out"_qs}, trial);
        QVERIFY2(
            back.status == 0,
            qPrintable(u"seed %1, %2 sectors: "_qs.arg(seed).arg(lost.size()) + summary(back)));
        QVERIFY2(said(back).contains(u"0 not rebuildable"_qs), qPrintable(summary(back)));
        expectFilesBack(trial + u"/out"_qs, m_holidays);
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY(tried > 0);
}

// A name with an escape sequence or a line break in its folder reaches the terminal escaped.
void RealDiscsTest::namesReachTheTerminalEscaped() {
    QTemporaryDir folder;
    std::mt19937 random(3);
    const QString path = folder.filePath(u"in/\x1b]0;owned\x07\x1b[2J/clip.dat"_qs);
    writeWithHole(path, 1000, 1000, random);
    const QString broken = folder.filePath(u"in/line\nbreak.dat"_qs);
    writeWithHole(broken, 1000, 1000, random);
    const Run built =
        run(tolkProgram(), {u"-v"_qs, u"V"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs, path, broken},
            folder.path());
    QCOMPARE(built.status, 1); // the line break in a name is refused
    QVERIFY2(built.errors.contains(u"line\\x0abreak.dat"_qs), qPrintable(built.errors));
    const Run stored =
        run(tolkProgram(), {u"-v"_qs, u"V"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs, path, path},
            folder.path());
    QCOMPARE(stored.status, 1); // the same file twice, named in the message
    QVERIFY2(stored.errors.contains(u"\\x1b]0;owned\\x07\\x1b[2J"_qs), qPrintable(stored.errors));
    for (const QString& text : {built.errors, built.output, stored.errors, stored.output})
        QVERIFY(!text.contains(QChar(0x1b)) && !text.contains(QChar(7)));
}

QTEST_GUILESS_MAIN(RealDiscsTest)
#include "tst_realdiscs.moc"
