// SPDX-License-Identifier: GPL-3.0-or-later
// The image-building tool as a program: the images it writes, read back by Debian's cd-info
// and libiso9660, and the builds it refuses without leaving anything behind.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <sys/stat.h>

#include <csignal>

#include "toolrun.h"

using namespace velmora::test;

namespace {

Run build(const QString& folder, const QStringList& arguments) {
    return run(tolkProgram(), arguments, folder);
}

// What a failed build may not leave: an image, a cue sheet or a part of either.
QStringList leftovers(const QString& folder) {
    // Temporary files are hidden: ".Kestrel.bin.velmora_tolk-PID-N.tmp".
    return QDir(folder).entryList({QStringLiteral("Kestrel*"), QStringLiteral(".Kestrel*")},
                                  QDir::Files | QDir::System | QDir::Hidden);
}

// Checks every raw sector of an image as ECMA-130 lays it out, with nothing of the writer's own:
// the sync pattern, the header address (position + 150 frames, in BCD), mode 2, and the two
// copies of the CD-ROM XA subheader. Returns the first fault found, or nothing.
QString firstSectorFault(const QString& bin) {
    QFile file(bin);
    if (!file.open(QIODevice::ReadOnly))
        return u"cannot open "_qs + bin;
    static const QByteArray sync = QByteArray::fromHex("00ffffffffffffffffffff00");
    const auto bcd = [](int value) {
        return char(((value / 10) << 4) | (value % 10));
    };
    for (qint64 position = 0;; ++position) {
        const QByteArray sector = file.read(2352);
        if (sector.isEmpty())
            return {};
        const qint64 frames = position + 150;
        const QByteArray header = QByteArray() + bcd(int(frames / 4500)) +
                                  bcd(int(frames / 75 % 60)) + bcd(int(frames % 75)) + char(2);
        const auto fault = [&](const char* what) {
            return QStringLiteral("sector %1: %2").arg(position).arg(QLatin1StringView(what));
        };
        if (sector.size() != 2352)
            return fault("short");
        if (sector.first(12) != sync)
            return fault("sync");
        if (sector.mid(12, 4) != header)
            return fault("header address or mode") + u' ' +
                   QString::fromLatin1(sector.mid(12, 4).toHex()) + u" instead of "_qs +
                   QString::fromLatin1(header.toHex());
        if (sector.mid(16, 4) != sector.mid(20, 4))
            return fault("the two subheader copies differ");
    }
}

// The identifiers of the root directory's records, in the order they stand, read from the raw
// image as ECMA-119 lays them out: the primary volume descriptor at block 16, its root record
// at byte 156, records in Form 1 sectors (user data from byte 24 of each raw sector).
// A record of a root folder, read as ECMA-119 9.1 and CD-ROM XA lay it out.
struct RootRecord {
    QByteArray identifier;
    quint32 lba = 0, size = 0;
    quint16 xaAttributes = 0; // 0 when the record has no XA field
    QDateTime recorded;       // ECMA-119 9.1.5, its offset from UTC applied
};

// The records of the root folder of the volume descriptor at sector `descriptorLba`, its own
// and its parent's left out.
QList<RootRecord> rootRecords(const QString& bin, qint64 descriptorLba) {
    QFile file(bin);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto block = [&](qint64 lba) {
        file.seek(lba * 2352 + 24);
        return file.read(2048);
    };
    const auto le32 = [](const QByteArray& data, int at) {
        return quint32(quint8(data[at])) | quint32(quint8(data[at + 1])) << 8 |
               quint32(quint8(data[at + 2])) << 16 | quint32(quint8(data[at + 3])) << 24;
    };
    const QByteArray descriptor = block(descriptorLba);
    const quint32 extent = le32(descriptor, 156 + 2);
    const quint32 size = le32(descriptor, 156 + 10);
    QList<RootRecord> found;
    for (quint32 sector = 0; sector < (size + 2047) / 2048; ++sector) {
        const QByteArray records = block(extent + sector);
        for (int at = 0; at < records.size() && quint8(records[at]) > 0;
             at += quint8(records[at])) {
            const int length = quint8(records[at + 32]);
            RootRecord record{
                records.mid(at + 33, length), le32(records, at + 2), le32(records, at + 10), 0, {}};
            const auto byte = [&](int i) {
                return int(quint8(records[at + 18 + i]));
            };
            record.recorded =
                QDateTime(QDate(1900 + byte(0), byte(1), byte(2)), QTime(byte(3), byte(4), byte(5)),
                          QTimeZone(int(qint8(records[at + 24])) * 15 * 60));
            const int systemUse = at + 33 + length + (length % 2 == 0 ? 1 : 0);
            if (records.mid(systemUse + 6, 2) == "XA")
                record.xaAttributes =
                    quint16(quint8(records[systemUse + 4]) << 8 | quint8(records[systemUse + 5]));
            if (record.identifier != QByteArray(1, '\0') &&
                record.identifier != QByteArray(1, '\1'))
                found.append(record);
        }
    }
    return found;
}

QStringList rootIdentifiers(const QString& bin) {
    QStringList identifiers;
    for (const RootRecord& record : rootRecords(bin, 16))
        identifiers.append(QString::fromLatin1(record.identifier));
    return identifiers;
}

// A file's modification time as the system keeps it (QFileInfo takes 1970-01-01 for none).
QDateTime modifiedOf(const QString& path) {
    struct stat facts {};
    if (::stat(QFile::encodeName(path).constData(), &facts) != 0)
        return {};
    return QDateTime::fromSecsSinceEpoch(facts.st_mtime, Qt::UTC);
}

// Big-endian UCS-2, as Joliet records names.
QString fromUcs2(const QByteArray& bytes) {
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(char16_t(quint8(bytes[i]) << 8 | quint8(bytes[i + 1]))));
    return text;
}

} // namespace

class VelmoraTolkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void imageIsReadByCdInfoAndLibiso9660();
    void everySectorHeaderIsExact();
    void namesAndEndingsAreMapped();
    void rootDirectoryIsInStandardOrder();
    void jolietTreeKeepsOriginalNames();
    void namesAlikeOnlyInTheirMappingBuild();
    void datesAreKeptAndGivenBack();
    void isoinfoSeesNamesAndDates();
    void refusedBuildsLeaveNothingBehind_data();
    void refusedBuildsLeaveNothingBehind();
    void existingImageIsKeptUnlessForced();
    void fullDiskLeavesNothingBehind();
    void stopSignalLeavesNothingBehind_data();
    void stopSignalLeavesNothingBehind();
    void reportSaysWhatWasWrittenAndHowFull();
    void helpAndBadArguments();
    void windowsBuildGivesTheSameImage();
    void foldersPastTheClassicPathLimit();
};

void VelmoraTolkTest::imageIsReadByCdInfoAndLibiso9660() {
    QTemporaryDir sources, storage;
    struct Stored {
        QString name;
        QString identifier;
        QByteArray data;
    };
    const QList<Stored> files = {
        {QStringLiteral("empty.dat"), QStringLiteral("EMPTY.DAT"), {}},
        {QStringLiteral("one.bin"), QStringLiteral("ONE.BIN"), randomBytes(1, 1)},
        {QStringLiteral("a2323.bin"), QStringLiteral("A2323.BIN"), randomBytes(2323, 2)},
        {QStringLiteral("a2324.bin"), QStringLiteral("A2324.BIN"), randomBytes(2324, 3)},
        {QStringLiteral("a2325.bin"), QStringLiteral("A2325.BIN"), randomBytes(2325, 4)},
        {QStringLiteral("big file é.raw"), QStringLiteral("BIG_FILE__.RAW"),
         randomBytes(3000000, 5)},
    };
    QStringList arguments = {QStringLiteral("-v"), QStringLiteral("Kestrel"), QStringLiteral("-o"),
                             QStringLiteral("Kestrel"), QStringLiteral("-m")};
    for (const Stored& file : files)
        arguments.append(writeFile(sources.path(), file.name, file.data));

    const Run built = build(storage.path(), arguments);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const QString cue = QDir(storage.path()).filePath(QStringLiteral("Kestrel.cue"));
    QFile cueFile(cue);
    QVERIFY(cueFile.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(cueFile.readAll()),
             QStringLiteral(
                 "FILE \"Kestrel.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"));
    QCOMPARE(QFileInfo(storage.path() + QStringLiteral("/Kestrel.bin")).size() % 2352, 0);
    QVERIFY(QFileInfo(storage.path() + QStringLiteral("/Kestrel.bin")).size() >= 300 * 2352);

    const Run info =
        run(QStringLiteral("cd-info"),
            {QStringLiteral("--no-header"), QStringLiteral("--no-device-info"),
             QStringLiteral("--iso9660"), QStringLiteral("--no-joliet"), QStringLiteral("-c"), cue},
            storage.path());
    QVERIFY2(info.status == 0, qPrintable(info.output + info.errors));
    QVERIFY(info.output.contains(QStringLiteral("CD DATA (Mode 2)")));
    QVERIFY(info.output.contains(QStringLiteral("Volume     : KESTREL")));
    const QStringList lines = info.output.split(u'\n');
    for (const Stored& file : files) {
        const qint64 sectors = (file.data.size() + 2323) / 2324;
        const QString name =
            file.identifier.toLower().remove(QRegularExpression(QStringLiteral("\\.$")));
        const auto line = std::find_if(lines.cbegin(), lines.cend(), [&](const QString& shown) {
            return shown.endsWith(u"  "_qs + name);
        });
        QVERIFY2(line != lines.cend(), qPrintable(name + u" in\n"_qs + info.output));
        QVERIFY2(line->contains(QStringLiteral("---2-")), qPrintable(*line));
        QVERIFY2(line->contains(QRegularExpression(
                     QStringLiteral(" %1 \\( *%2\\)").arg(sectors * 2324).arg(sectors * 2048))),
                 qPrintable(*line));

        const QString readBack = QDir(storage.path()).filePath(QStringLiteral("read.back"));
        const Run read = run(QStringLiteral(ISO9660_READER),
                             {cue, u"/"_qs + file.identifier + u";1"_qs, readBack}, storage.path());
        QVERIFY2(read.status == 0, qPrintable(read.errors));
        QVERIFY2(read.output.startsWith(QStringLiteral("attributes 0x1555 ")),
                 qPrintable(read.output));
        QVERIFY(read.output.contains(QStringLiteral(" sectors %1 ").arg(sectors)));
        QFile back(readBack);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QByteArray expected = file.data;
        expected.append(QByteArray(sectors * 2324 - file.data.size(), '\0'));
        QVERIFY2(back.readAll() == expected, qPrintable(file.name));
    }
    QVERIFY(info.output.contains(QStringLiteral("velmora.lst")));

    // Through the Joliet tree every file shows its own name, still as a Form 2 file.
    const Run joliet =
        run(QStringLiteral("cd-info"),
            {u"--no-header"_qs, u"--no-device-info"_qs, u"--iso9660"_qs, u"-c"_qs, cue},
            storage.path());
    QVERIFY(joliet.output.contains(QStringLiteral("joliet extension level 3")));
    const QStringList jolietLines = joliet.output.split(u'\n');
    for (const Stored& file : files) {
        const auto line =
            std::find_if(jolietLines.cbegin(), jolietLines.cend(), [&](const QString& shown) {
                return shown.endsWith(u"  "_qs + file.name);
            });
        QVERIFY2(line != jolietLines.cend(), qPrintable(file.name + u" in\n"_qs + joliet.output));
        QVERIFY2(line->contains(QStringLiteral("---2-")), qPrintable(*line));
    }
    QCOMPARE(leftovers(storage.path()),
             (QStringList{QStringLiteral("Kestrel.bin"), QStringLiteral("Kestrel.cue"),
                          QStringLiteral("Kestrel.toc")}));

    // cdrdao takes the same image through its table of contents, the whole track readable.
    const QString toc = QDir(storage.path()).filePath(QStringLiteral("Kestrel.toc"));
    const qint64 trackSectors =
        QFileInfo(storage.path() + QStringLiteral("/Kestrel.bin")).size() / 2352;
    const Run shown = run(QStringLiteral("cdrdao"), {u"show-toc"_qs, toc}, storage.path());
    QVERIFY2(shown.status == 0, qPrintable(shown.errors));
    QVERIFY(shown.output.contains(QStringLiteral("TOC TYPE: CD_ROM_XA")));
    QVERIFY(shown.output.contains(QStringLiteral("Mode MODE2_RAW")));
    const Run size = run(QStringLiteral("cdrdao"), {u"toc-size"_qs, toc}, storage.path());
    QCOMPARE(size.output.trimmed().split(u'\n').constLast(), QString::number(trackSectors));
    const Run read = run(QStringLiteral("cdrdao"), {u"read-test"_qs, toc}, storage.path());
    QVERIFY2(read.status == 0, qPrintable(read.errors));
    QVERIFY(QString(read.output + read.errors)
                .contains(QStringLiteral("Read %1 blocks.").arg(trackSectors)));
}

void VelmoraTolkTest::everySectorHeaderIsExact() {
    QTemporaryDir folder;
    QStringList arguments = {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    for (const int size : {0, 1, 2324, 2325, 3000000})
        arguments.append(
            writeFile(folder.path(), QString::number(size) + u".dat"_qs, randomBytes(size, 9)));
    const Run built = build(folder.path(), arguments);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const QString fault = firstSectorFault(folder.filePath(QStringLiteral("Kestrel.bin")));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void VelmoraTolkTest::namesAndEndingsAreMapped() {
    QTemporaryDir folder;
    const QString file = writeFile(folder.path(), QStringLiteral("a.bin"), randomBytes(10, 1));
    const Run built = build(folder.path(), {QStringLiteral("-v"), QStringLiteral("Été 2026!"),
                                            QStringLiteral("-o"), QStringLiteral("Mon image.BIN"),
                                            QStringLiteral("-m"), file});
    QCOMPARE(built.status, 0);
    QVERIFY(built.output.contains(QStringLiteral("volume identifier _T__2026_")));
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("Mon image.bin"))));
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("Mon image.cue"))));
}

void VelmoraTolkTest::rootDirectoryIsInStandardOrder() {
    QTemporaryDir folder;
    QStringList arguments = {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    for (const QString& name : {u"x.b1"_qs, u"readme.1"_qs, u"x.b"_qs, u"readme"_qs, u"x_b.a"_qs})
        arguments.append(writeFile(folder.path(), name, randomBytes(10, 1)));
    const Run built = build(folder.path(), arguments);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    // Names padded with blanks, then extensions likewise: "README." before "README.1",
    // "X.B" before "X.B1", and "X" before "X_B".
    QCOMPARE(
        rootIdentifiers(folder.filePath(u"Kestrel.bin"_qs)),
        (QStringList{u"README.;1"_qs, u"README.1;1"_qs, u"VELMORA.LST;1"_qs, u"VELMORA.RPD;1"_qs,
                     u"VELMORA.RPH;1"_qs, u"X.B;1"_qs, u"X.B1;1"_qs, u"X_B.A;1"_qs}));
}

void VelmoraTolkTest::jolietTreeKeepsOriginalNames() {
    QTemporaryDir folder;
    const QString longName = QString(70, u'l') + u".data"_qs;
    QStringList names = {u"with blank é.dat"_qs, u"Ölçü — 名前.txt"_qs, longName, u"what?.bin"_qs,
                         u"readme"_qs};
    if (testingWindowsTools())
        names.removeAll(u"what?.bin"_qs); // no Windows name holds a ?
    QStringList arguments = {u"-v"_qs, u"Kestrel vol é"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    for (const QString& name : names)
        arguments.append(writeFile(folder.path(), name, randomBytes(3000, 2)));
    const Run built = build(folder.path(), arguments);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const QString bin = folder.filePath(u"Kestrel.bin"_qs);

    // The supplementary descriptor follows the primary one: UCS-2 level 3, the volume's own name.
    QFile image(bin);
    QVERIFY(image.open(QIODevice::ReadOnly));
    image.seek(17 * 2352 + 24);
    const QByteArray descriptor = image.read(2048);
    QCOMPARE(descriptor.left(7), QByteArray("\x02"
                                            "CD001\x01",
                                            7));
    QCOMPARE(descriptor.mid(88, 3), QByteArray("%/E"));
    QCOMPARE(fromUcs2(descriptor.mid(40, 32)).trimmed(), u"Kestrel vol é"_qs);

    // Every file under its own name (the forbidden '?' replaced, the long one cut to 64
    // characters before its extension), at the same place and size as its primary record,
    // with the same XA attributes.
    QMap<quint32, RootRecord> primary;
    for (const RootRecord& record : rootRecords(bin, 16))
        primary.insert(record.lba, record);
    QStringList jolietNames;
    for (const RootRecord& record : rootRecords(bin, 17)) {
        jolietNames.append(fromUcs2(record.identifier));
        QVERIFY(primary.contains(record.lba));
        QCOMPARE(record.size, primary[record.lba].size);
        QCOMPARE(record.xaAttributes, primary[record.lba].xaAttributes);
    }
    jolietNames.sort();
    QStringList expected = {
        u"with blank é.dat"_qs, u"Ölçü — 名前.txt"_qs, QString(59, u'l') + u".data"_qs,
        u"what_.bin"_qs,        u"readme"_qs,          u"VELMORA.LST"_qs,
        u"VELMORA.RPD"_qs,      u"VELMORA.RPH"_qs};
    if (testingWindowsTools())
        expected.removeAll(u"what_.bin"_qs);
    expected.sort();
    QCOMPARE(jolietNames, expected);
    QCOMPARE(primary.size(), expected.size());
}

// Names that only the ISO 9660 mapping makes alike build: a number keeps the ISO 9660 names
// apart, Joliet and the file list keep each original name, and each file comes back under it.
void VelmoraTolkTest::namesAlikeOnlyInTheirMappingBuild() {
    QTemporaryDir folder;
    const QStringList names = {u"é.dat"_qs,
                               u"ü.dat"_qs,
                               u"中国.mpg"_qs,
                               u"日本.mpg"_qs,
                               u"Clip.dat"_qs,
                               u"clip.dat"_qs,
                               u"my file.dat"_qs,
                               u"my_file.dat"_qs,
                               QString(27, u'x') + u"A.dat"_qs,
                               QString(27, u'x') + u"B.dat"_qs};
    QStringList arguments = {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    for (qsizetype i = 0; i < names.size(); ++i)
        arguments.append(writeFile(folder.path(), names.at(i), randomBytes(3000 + i, quint32(i))));
    // Windows holds no two names that differ in case alone: the image comes from this system's
    // tool there, and its extraction is what is tried.
    const Run built = testingWindowsTools()
                          ? run(QStringLiteral(VELMORA_TOLK), arguments, folder.path())
                          : build(folder.path(), arguments);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    QVERIFY2(built.output.contains(u"; ISO 9660 names numbered to stay apart: _1.DAT (ü.dat)"_qs),
             qPrintable(built.output));
    const QString bin = folder.filePath(u"Kestrel.bin"_qs);
    QStringList identifiers = rootIdentifiers(bin);
    for (const QString& own : {u"VELMORA.LST;1"_qs, u"VELMORA.RPD;1"_qs, u"VELMORA.RPH;1"_qs})
        identifiers.removeAll(own);
    QCOMPARE(identifiers.size(), names.size());
    QCOMPARE(QSet<QString>(identifiers.begin(), identifiers.end()).size(), names.size());
    QVERIFY(identifiers.contains(u"__1.MPG;1"_qs));
    QVERIFY(identifiers.contains(u"CLIP1.DAT;1"_qs));
    QStringList jolietNames;
    for (const RootRecord& record : rootRecords(bin, 17))
        jolietNames.append(fromUcs2(record.identifier));
    for (const QString& own : {u"VELMORA.LST"_qs, u"VELMORA.RPD"_qs, u"VELMORA.RPH"_qs})
        jolietNames.removeAll(own);
    QCOMPARE(QSet<QString>(jolietNames.begin(), jolietNames.end()),
             QSet<QString>(names.begin(), names.end()));
    const Run extracted =
        run(dat2fileProgram(), {bin, folder.filePath(u"back/Kestrel.bin"_qs)}, folder.path());
    QVERIFY2(extracted.status == 0, qPrintable(extracted.errors));
    for (qsizetype i = 0; i < names.size(); ++i) {
        QString name = names.at(i);
        // Where case alone tells two apart, Windows takes the second by its ISO 9660 name.
        if (testingWindowsTools() && name == u"clip.dat"_qs)
            name = u"CLIP1.DAT"_qs;
        QCOMPARE(readFile(folder.filePath(u"back/Kestrel/"_qs + name)),
                 randomBytes(3000 + i, quint32(i)));
    }
}

// Each file's date in its ISO 9660 and Joliet records and in the file list; a date no record
// can hold is held at its bound, said, and kept whole in the list. dat2file gives each back.
void VelmoraTolkTest::datesAreKeptAndGivenBack() {
    QTemporaryDir folder;
    const QList<std::pair<QString, QDateTime>> dated = {
        {u"a1970.dat"_qs, QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)},
        {u"b1985.dat"_qs, QDateTime(QDate(1985, 6, 15), QTime(12, 34, 56), Qt::UTC)},
        {u"c2001.dat"_qs, QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC)},
        {u"d2049.dat"_qs, QDateTime(QDate(2049, 12, 31), QTime(23, 59, 59), Qt::UTC)},
        {u"e2200.dat"_qs, QDateTime(QDate(2200, 1, 1), QTime(0, 0), Qt::UTC)},
    };
    QStringList arguments = {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    for (const auto& [name, when] : dated) {
        const QString path = writeFile(folder.path(), name, randomBytes(3000, 7));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
        arguments.append(path);
    }
    const Run built = build(folder.path(), arguments);
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    QVERIFY2(built.errors.contains(u"e2200.dat\": its date lies outside what a CD records (1900 "
                                   "to 2155); its records say 2155"_qs),
             qPrintable(built.errors));
    const QString bin = folder.filePath(u"Kestrel.bin"_qs);
    for (const qint64 descriptor : {16, 17}) {
        QMap<QString, QDateTime> recorded;
        for (const RootRecord& record : rootRecords(bin, descriptor))
            recorded.insert(descriptor == 16 ? QString::fromLatin1(record.identifier).toLower()
                                             : fromUcs2(record.identifier).toLower() + u";1"_qs,
                            record.recorded);
        for (const auto& [name, when] : dated)
            QCOMPARE(recorded.value(name + u";1"_qs),
                     name.startsWith(u'e')
                         ? QDateTime(QDate(2155, 12, 31), QTime(23, 59, 59), Qt::UTC)
                         : when);
    }
    const Run extracted =
        run(dat2fileProgram(), {bin, folder.filePath(u"back/Kestrel.bin"_qs)}, folder.path());
    QVERIFY2(extracted.status == 0, qPrintable(extracted.errors));
    for (const auto& [name, when] : dated)
        QCOMPARE(modifiedOf(folder.filePath(u"back/Kestrel/"_qs + name)), when);
}

// Debian's isoinfo, reading the image's file system (its blocks of 2048 bytes taken from the
// raw sectors), sees the names apart and the dates kept.
void VelmoraTolkTest::isoinfoSeesNamesAndDates() {
    if (QStandardPaths::findExecutable(u"isoinfo"_qs).isEmpty())
        QSKIP("isoinfo (genisoimage) is not installed");
    QTemporaryDir folder;
    QStringList arguments = {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    const QStringList names = {u"é.dat"_qs, u"ü.dat"_qs, u"Clip.dat"_qs, u"clip.dat"_qs};
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString path = writeFile(folder.path(), names.at(i), randomBytes(100, 1));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(1985 + int(i), 6, 15), QTime(12, 0), Qt::UTC),
                                 QFileDevice::FileModificationTime));
        arguments.append(path);
    }
    QVERIFY(build(folder.path(), arguments).status == 0);
    const QByteArray raw = readFile(folder.filePath(u"Kestrel.bin"_qs));
    QByteArray blocks;
    for (qsizetype at = 0; at < raw.size(); at += 2352)
        blocks += raw.mid(at + 24, 2048);
    writeFile(folder.path(), u"blocks.iso"_qs, blocks);
    for (const bool joliet : {false, true}) {
        QStringList options = {u"-l"_qs, u"-i"_qs, folder.filePath(u"blocks.iso"_qs)};
        if (joliet)
            options = QStringList{u"-J"_qs, u"-j"_qs, u"iso8859-1"_qs} + options;
        QProcess isoinfo;
        isoinfo.start(u"isoinfo"_qs, options);
        QVERIFY(isoinfo.waitForFinished(20000));
        const QString text = QString::fromLatin1(isoinfo.readAllStandardOutput()); // as asked
        const QStringList seen = joliet ? names
                                        : QStringList{u"_.DAT;1"_qs, u"_1.DAT;1"_qs,
                                                      u"CLIP.DAT;1"_qs, u"CLIP1.DAT;1"_qs};
        for (qsizetype i = 0; i < seen.size(); ++i)
            QVERIFY2(
                text.contains(QRegularExpression(u"Jun 15 %1 \\[ *\\d+ 00\\]  "_qs.arg(1985 + i) +
                                                 QRegularExpression::escape(seen.at(i)))),
                qPrintable(seen.at(i) + u"\n"_qs + text));
    }
}

void VelmoraTolkTest::refusedBuildsLeaveNothingBehind_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("named");
    QTest::newRow("missing file") << QStringList{QStringLiteral("a.bin"),
                                                 QStringLiteral("gone.bin")}
                                  << QStringLiteral("gone.bin");
    QTest::newRow("the same file twice")
        << QStringList{QStringLiteral("a.bin"), QStringLiteral("./a.bin")}
        << QStringLiteral("the same file is listed twice");
    QTest::newRow("the same file by a link")
        << QStringList{QStringLiteral("alias.bin"), QStringLiteral("a.bin")}
        << QStringLiteral("the same file is listed twice");
    QTest::newRow("the list's own name") << QStringList{QStringLiteral("velmora.lst")}
                                         << QStringLiteral("the name of the file list");
    QTest::newRow("a folder") << QStringList{QStringLiteral("sub")} << QStringLiteral("not a file");
    QTest::newRow("more than a disc addresses")
        << QStringList{QStringLiteral("huge.bin")} << QStringLiteral("a disc addresses at most");
}

void VelmoraTolkTest::refusedBuildsLeaveNothingBehind() {
    QFETCH(QStringList, files);
    QFETCH(QString, named);
    QTemporaryDir folder;
    for (const QString& name : {u"a.bin"_qs, u"a b.bin"_qs, u"a_b.bin"_qs, u"velmora.lst"_qs})
        writeFile(folder.path(), name, randomBytes(3000, 1));
    QFile huge(folder.filePath(QStringLiteral("huge.bin")));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(450000) * 2324)); // sparse
    huge.close();
    QDir(folder.path()).mkdir(QStringLiteral("sub"));
    QFile::link(folder.filePath(QStringLiteral("a.bin")),
                folder.filePath(QStringLiteral("alias.bin")));

    const Run built = build(
        folder.path(), QStringList{u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs} + files);
    QCOMPARE(built.status, 1);
    QVERIFY2(built.errors.contains(named), qPrintable(built.errors));
    QCOMPARE(leftovers(folder.path()), QStringList());
}

void VelmoraTolkTest::existingImageIsKeptUnlessForced() {
    QTemporaryDir folder;
    const QString file = writeFile(folder.path(), QStringLiteral("a.bin"), randomBytes(10, 1));
    writeFile(folder.path(), QStringLiteral("Kestrel.bin"), QByteArray("old"));
    const QStringList arguments = {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs, file};
    const Run refused = build(folder.path(), arguments);
    QCOMPARE(refused.status, 1);
    // The advice is one the window's user can follow: its folder whole, no option named.
    QCOMPARE(refused.errors, u"velmora_tolk: \"Kestrel.bin\" exists already in \""_qs +
                                 shownPath(folder.path()) +
                                 u"\": choose another image name or remove the old image\n"_qs);
    QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("Kestrel.bin"))).size(), 3);
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("Kestrel.cue"))));

    QCOMPARE(build(folder.path(), QStringList{u"--force"_qs} + arguments).status, 0);
    QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("Kestrel.bin"))).size(), 300 * 2352);
}

void VelmoraTolkTest::fullDiskLeavesNothingBehind() {
    const SmallDisk disk(512 * 1024);
    if (disk.path.isEmpty())
        QSKIP(qPrintable(disk.why));
    QTemporaryDir sources;
    const QString file =
        writeFile(sources.path(), QStringLiteral("a.bin"), randomBytes(1000000, 1));
    const Run built =
        build(disk.path, {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs, file});
    QCOMPARE(built.status, 1);
    QVERIFY2(built.errors.contains(diskFullText()), qPrintable(built.errors));
    QCOMPARE(leftovers(disk.path), QStringList());
}

void VelmoraTolkTest::stopSignalLeavesNothingBehind_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void VelmoraTolkTest::stopSignalLeavesNothingBehind() {
    QFETCH(int, signal);
    QTemporaryDir folder;
    QFile big(folder.filePath(QStringLiteral("big.raw")));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(900) << 20)); // sparse
    big.close();
    const Stop stopped = stopMidway(
        tolkProgram(), {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs, big.fileName()},
        folder.path(), signal);
    QVERIFY2(stopped.sawProgress, qPrintable(stopped.errors));
    QVERIFY(endedByStop(stopped, signal));
    QVERIFY(stopped.errors.contains(QStringLiteral("stopped by a signal")));
    QCOMPARE(leftovers(folder.path()), QStringList());
}

void VelmoraTolkTest::reportSaysWhatWasWrittenAndHowFull() {
    QTemporaryDir folder;
    const QString file = writeFile(folder.path(), QStringLiteral("a.bin"), randomBytes(5000, 1));
    const Run built =
        build(folder.path(), {u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs, file});
    QCOMPARE(built.status, 0);
    // 300 sectors and the 150 of the lead-in's pause: 450 frames, 6 seconds. The 29 sectors
    // up to the list's end make 29 bands of one sector; 32 of parity and two headers of two.
    QCOMPARE(built.output,
             QStringLiteral(
                 "velmora_tolk: wrote Kestrel.bin, Kestrel.cue and Kestrel.toc: 1 file, 5000 "
                 "bytes, 300 sectors, 0 min 06 s of an 80-minute disc (0.1%); repair data of 32 "
                 "parity bands (36 sectors, 124.1% of the 29 it covers) rebuilds any run of up "
                 "to 32 lost sectors\n"));
    const Run bare = build(folder.path(), {u"--repair"_qs, u"off"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs,
                                           u"bare"_qs, u"-m"_qs, file});
    QVERIFY2(bare.output.endsWith(u"(0.1%); no repair data (--repair off)\n"_qs),
             qPrintable(bare.output));
    // 770 MB fit an 80-minute disc with 19 bands, not 32.
    QFile large(folder.filePath(u"large.raw"_qs));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(770'000'000)); // sparse
    large.close();
    const Run shrunk = build(
        folder.path(), {u"-v"_qs, u"V"_qs, u"-o"_qs, u"large"_qs, u"-m"_qs, large.fileName()});
    QVERIFY(QFile::remove(folder.filePath(u"large.bin"_qs)));
    QVERIFY2(shrunk.output.endsWith(
                 u"359449 sectors, 79 min 54 s of an 80-minute disc (99.8%); repair data of 19 "
                 "parity bands (28097 sectors, 8.5% of the 331352 it covers) rebuilds any run of "
                 "up to 25291 lost sectors\n"_qs),
             qPrintable(shrunk.output));
    // Fewer bands than asked is said first, as a warning, before the closing line.
    QVERIFY2(shrunk.errors.contains(u"velmora_tolk: warning: only 19 of the 32 repair bands "
                                    "asked fit with the files on an 80-minute disc"_qs),
             qPrintable(shrunk.errors));
    QVERIFY(built.errors.contains(QStringLiteral("velmora_tolk: progress 100% done\n")));

    for (const QString& name : {u"a\"b"_qs, u"a\nb"_qs}) {
        const Run refused =
            build(folder.path(), {u"-v"_qs, name, u"-o"_qs, u"Other"_qs, u"-m"_qs, file});
        QCOMPARE(refused.status, 1);
        QVERIFY(refused.errors.contains(QStringLiteral("double quote or a control character")));
        QCOMPARE(build(folder.path(), {u"-v"_qs, u"V"_qs, u"-o"_qs, name, u"-m"_qs, file}).status,
                 1);
    }
    QCOMPARE(leftovers(folder.path()).size(), 3);
}

void VelmoraTolkTest::helpAndBadArguments() {
    QTemporaryDir folder;
    const Run help = build(folder.path(), {QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    QVERIFY(help.output.contains(u"[--repair M|off] -v VOLUME -o IMAGE [--files-from LIST]"_qs));
    QCOMPARE(build(folder.path(), {QStringLiteral("--version")}).status, 0);
    const QString file = writeFile(folder.path(), u"a.bin"_qs, randomBytes(10, 1));
    for (const QString& bands : {u"7"_qs, u"128"_qs, u"32x"_qs, u""_qs, u"-8"_qs}) {
        const Run refused = build(folder.path(), {u"--repair"_qs, bands, u"-v"_qs, u"V"_qs,
                                                  u"-o"_qs, u"K"_qs, u"-m"_qs, file});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.errors.contains(u"--repair takes a number from 8 to 127, or off"_qs),
                 qPrintable(refused.errors));
    }
    QVERIFY(QFile::remove(file));
    QCOMPARE(build(folder.path(), {QStringLiteral("-v"), QStringLiteral("V")}).status, 2);
    QCOMPARE(build(folder.path(), {QStringLiteral("-x")}).status, 2);
    QCOMPARE(leftovers(folder.path()), QStringList());
}

// The Windows build (under wine) writes the very image this system's build writes of the same
// files, dates and clock, and gives every file back exact, with its date.
void VelmoraTolkTest::windowsBuildGivesTheSameImage() {
    if (!testingWindowsTools())
        QSKIP("the Windows build is not under test (make test sets VELMORA_TEST_WINDOWS_TOOLS)");
    QTemporaryDir sources, here, windows;
    const QStringList names = {u"café au lait.dat"_qs, u"€ and Ł.bin"_qs, u"日本語.mpg"_qs,
                               u"plain.txt"_qs};
    QStringList arguments = {u"-v"_qs, u"Kestrel"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    const QDateTime written(QDate(2024, 2, 29), QTime(12, 34, 56), Qt::UTC);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString path =
            writeFile(sources.path(), names.at(i), randomBytes(700'000 + i * 1000, quint32(i)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(written.addDays(i), QFileDevice::FileModificationTime));
        arguments.append(path);
    }
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    const Run linux = run(QStringLiteral(VELMORA_TOLK), arguments, here.path());
    const Run onWindows = build(windows.path(), arguments);
    qunsetenv("SOURCE_DATE_EPOCH");
    QVERIFY2(linux.status == 0, qPrintable(linux.errors));
    QVERIFY2(onWindows.status == 0, qPrintable(onWindows.errors));
    for (const QString& output : {u"Kestrel.bin"_qs, u"Kestrel.cue"_qs, u"Kestrel.toc"_qs})
        QVERIFY2(readFile(here.filePath(output)) == readFile(windows.filePath(output)),
                 qPrintable(output));
    const Run back =
        run(dat2fileProgram(), {u"Kestrel.bin"_qs, u"back/Kestrel.bin"_qs}, windows.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString path = windows.filePath(u"back/Kestrel/"_qs + names.at(i));
        QVERIFY2(readFile(path) == randomBytes(700'000 + i * 1000, quint32(i)),
                 qPrintable(names.at(i)));
        QCOMPARE(QFileInfo(path).lastModified().toUTC(), written.addDays(i));
    }
}

// An image built in a folder whose paths pass Windows' classic limit of 260 characters, and
// given back whole into a folder deeper still (from a short current folder: wine itself cannot
// start a program in a longer one).
void VelmoraTolkTest::foldersPastTheClassicPathLimit() {
    QTemporaryDir root;
    QString deep = root.path();
    for (int level = 0; level < 8; ++level)
        deep += u"/folder_with_a_rather_long_name_"_qs + QString::number(level);
    QVERIFY(QDir().mkpath(deep));
    QVERIFY(deep.size() > 260);
    const QByteArray data = randomBytes(500000, 11);
    const QString file = writeFile(deep, u"clip.dat"_qs, data);
    const Run built =
        run(tolkProgram(), {u"-v"_qs, u"V"_qs, u"-o"_qs, deep + u"/img"_qs, u"-m"_qs, file},
            root.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const Run back =
        run(dat2fileProgram(), {deep + u"/img.cue"_qs, deep + u"/whole"_qs}, root.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    QVERIFY(readFile(deep + u"/whole/clip.dat"_qs) == data);
}

QTEST_GUILESS_MAIN(VelmoraTolkTest)
#include "tst_velmora_tolk.moc"
