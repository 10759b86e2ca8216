// SPDX-License-Identifier: GPL-3.0-or-later
// The extraction tool as a program: exact files back from images built by velmora_tolk (taken
// straight from the image file, or read through libcdio when another track follows) and from
// RIFF CDXA files assembled from the image's raw sectors; damaged, broken and truncated copies.

#include "toolrun.h"

#include "cdimage/base/sector.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>

using namespace velmora::test;

namespace {

struct Stored {
    QString name;       // as given to velmora_tolk
    QString identifier; // on the CD
    QByteArray data;
};

const QList<Stored>& storedFiles() {
    static const QList<Stored> files = {
        {QStringLiteral("empty.dat"), QStringLiteral("EMPTY.DAT"), {}},
        {QStringLiteral("one.bin"), QStringLiteral("ONE.BIN"), randomBytes(1, 1)},
        {QStringLiteral("a2323.bin"), QStringLiteral("A2323.BIN"), randomBytes(2323, 2)},
        {QStringLiteral("a2324.bin"), QStringLiteral("A2324.BIN"), randomBytes(2324, 3)},
        {QStringLiteral("a2325.bin"), QStringLiteral("A2325.BIN"), randomBytes(2325, 4)},
        {QStringLiteral("some data.raw"), QStringLiteral("SOME_DATA.RAW"), randomBytes(3000000, 5)},
    };
    return files;
}

// A file's bytes with those of its sectors `first` to `last` (counted in the file) zeroed, as a
// damaged copy gives them back.
QByteArray withZeros(QByteArray data, qint64 first, qint64 last) {
    const qint64 from = first * 2324;
    const qint64 to = std::min<qint64>(data.size(), (last + 1) * 2324);
    if (from < to)
        data.replace(from, to - from, QByteArray(to - from, '\0'));
    return data;
}

// An image "big" in `folder` of one file of 400 MB (sparse: quick to build, long to extract).
bool buildBigImage(const QString& folder) {
    QFile big(QDir(folder).filePath(QStringLiteral("big.raw")));
    if (!big.open(QIODevice::WriteOnly) || !big.resize(qint64(400) << 20))
        return false;
    big.close();
    const Run built = run(tolkProgram(),
                          {u"--repair"_qs, u"off"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs, u"big"_qs,
                           u"-m"_qs, big.fileName()},
                          folder);
    return built.status == 0 && big.remove();
}

Run dat2file(const QStringList& arguments, const QString& folder) {
    return run(dat2fileProgram(), arguments, folder);
}

} // namespace

class Dat2FileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void filesComeBackExactFromTheImage();
    void imagesOfEveryLayoutGiveExactOrDamagedCopies_data();
    void imagesOfEveryLayoutGiveExactOrDamagedCopies();
    void filesComeBackExactFromRiffFiles();
    void listShowsWhatWasStored();
    void damagedCopyIsWrittenAsDamaged();
    void brokenSectorsCostThemselvesAlone_data();
    void brokenSectorsCostThemselvesAlone();
    void brokenHeaderIsRefusedAndLeavesNothing_data();
    void brokenHeaderIsRefusedAndLeavesNothing();
    void withoutTheListWholeSectorsAreWritten();
    void fileReadThroughAPlainIsoReaderIsExplained();
    void destinationIsKeptUnlessForced();
    void stopSignalLeavesWhatStoodBefore();
    void wholeImageComesBackIntoAFolder();
    void damagedFileOfAWholeImageLetsTheOthersThrough();
    void foldersAndForm1FilesOfAnotherToolsImage();
    void stoppedWholeExtractionLeavesNothing();
    void videoCdInEveryLayoutComesBackWhole();
    void trackPlacedElsewhereIsNeverReadAsAnother();
    void descriptionsAsOtherSystemsWriteThem();
    void closingLineStandsOnALineOfItsOwnOnATerminal();

private:
    QTemporaryDir m_folder;
    QString m_cue, m_bin, m_cd; // the image, and a folder laid out as its CD would be
};

void Dat2FileTest::initTestCase() {
    const QString sources = m_folder.filePath(QStringLiteral("sources"));
    // Without repair data: damage here costs what it touches, as on every image of before.
    QStringList arguments = {u"--repair"_qs, u"off"_qs,     u"-v"_qs, u"Kestrel"_qs,
                             u"-o"_qs,       u"Kestrel"_qs, u"-m"_qs};
    for (const Stored& file : storedFiles())
        arguments.append(writeFile(sources, file.name, file.data));
    const Run built = run(tolkProgram(), arguments, m_folder.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    m_cue = m_folder.filePath(QStringLiteral("Kestrel.cue"));
    m_bin = m_folder.filePath(QStringLiteral("Kestrel.bin"));

    // The CD as Windows shows it: the file list in its root, each Form 2 file as RIFF CDXA.
    m_cd = m_folder.filePath(QStringLiteral("cd"));
    QStringList identifiers;
    for (const Stored& file : storedFiles())
        identifiers.append(file.identifier);
    layOutCd(m_cue, m_cd, identifiers);
    QVERIFY(QFile::exists(m_cd + u"/VELMORA.LST"_qs));
}

void Dat2FileTest::filesComeBackExactFromTheImage() {
    QTemporaryDir out;
    for (const Stored& file : storedFiles()) {
        const QString target = out.filePath(u"new folder/"_qs + file.name);
        const Run extracted = dat2file(
            {u"--image"_qs, m_cue, u"/"_qs + file.identifier + u";1"_qs, target}, out.path());
        QVERIFY2(extracted.status == 0, qPrintable(file.name + u": "_qs + extracted.errors));
        QVERIFY2(readFile(target) == file.data, qPrintable(file.name));
    }
    QCOMPARE(QDir(out.filePath(u"new folder"_qs)).entryList(QDir::Files | QDir::Hidden).size(),
             storedFiles().size()); // nothing beside the files
    // The same image through the table of contents written for cdrdao.
    const QString toc = m_folder.filePath(QStringLiteral("Kestrel.toc"));
    for (const Stored& file : storedFiles()) {
        const QString target = out.filePath(u"toc/"_qs + file.name);
        const Run extracted = dat2file({u"--image"_qs, toc, file.identifier, target}, out.path());
        QVERIFY2(extracted.status == 0, qPrintable(file.name + u": "_qs + extracted.errors));
        QVERIFY2(readFile(target) == file.data, qPrintable(file.name));
    }
    QCOMPARE(dat2file({u"--list"_qs, toc}, out.path()).output,
             dat2file({u"--list"_qs, m_cue}, out.path()).output);

    // The name as the mounted CD shows it works as well.
    const QString target = out.filePath(u"lower"_qs);
    QCOMPARE(dat2file({u"--image"_qs, m_cue, u"some_data.raw"_qs, target}, out.path()).status, 0);
    QVERIFY(readFile(target) == storedFiles().last().data);

    const Run missing =
        dat2file({u"--image"_qs, m_cue, u"/NOT_THERE.BIN"_qs, out.filePath(u"x"_qs)}, out.path());
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.errors.contains(QStringLiteral("NOT_THERE.BIN")));
    QVERIFY(!QFile::exists(out.filePath(u"x"_qs)));
}

void Dat2FileTest::imagesOfEveryLayoutGiveExactOrDamagedCopies_data() {
    // Sectors after the data track: none (the image is taken straight from its .bin file), or
    // an audio track (a mixed-mode CD, read through libcdio as a drive would be).
    QTest::addColumn<int>("audioSectors");
    QTest::newRow("one data track") << 0;
    QTest::newRow("data and audio tracks") << 150;
}

void Dat2FileTest::imagesOfEveryLayoutGiveExactOrDamagedCopies() {
    QFETCH(int, audioSectors);
    QTemporaryDir out;
    QByteArray bin = readFile(m_bin);
    const qint64 dataSectors = bin.size() / 2352;
    QString cue = u"FILE \"Copy.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n"
                  u"    INDEX 01 00:00:00\r\n"_qs;
    if (audioSectors > 0) {
        bin.append(QByteArray(2352 * audioSectors, '\0'));
        cue += u"  TRACK 02 AUDIO\r\n    INDEX 01 %1:%2:%3\r\n"_qs
                   .arg(dataSectors / 75 / 60, 2, 10, QChar(u'0'))
                   .arg(dataSectors / 75 % 60, 2, 10, QChar(u'0'))
                   .arg(dataSectors % 75, 2, 10, QChar(u'0'));
    }
    const QString copy = writeFile(out.path(), u"Copy.cue"_qs, cue.toUtf8());
    const auto extracted = [&](const Stored& file, const QString& target) {
        return dat2file({u"--image"_qs, copy, file.identifier, target}, out.path());
    };

    writeFile(out.path(), u"Copy.bin"_qs, bin);
    for (const Stored& file : storedFiles()) {
        const QString target = out.filePath(file.name);
        const Run run = extracted(file, target);
        QVERIFY2(run.status == 0, qPrintable(file.name + u": "_qs + run.errors));
        QVERIFY2(readFile(target) == file.data, qPrintable(file.name));
    }

    // One data byte of the large file's sector 3 changed.
    const Stored& large = storedFiles().last();
    const qint64 sector = placeOf(copy, large.identifier, out.path()).first + 3;
    bin[sector * 2352 + 24 + 100] = char(bin[sector * 2352 + 24 + 100] ^ 0x01);
    writeFile(out.path(), u"Copy.bin"_qs, bin);
    const QString target = out.filePath(u"damaged copy"_qs);
    const Run damaged = extracted(large, target);
    QCOMPARE(damaged.status, 3);
    QVERIFY2(damaged.errors.contains(QStringLiteral("1 sector cannot be read or fails its checks")),
             qPrintable(damaged.errors));
    QVERIFY2(damaged.errors.contains(
                 u"bytes 6972 to 9295: sector %1 fails its EDC check"_qs.arg(sector)),
             qPrintable(damaged.errors));
    QVERIFY(readFile(target + u".damaged"_qs) == withZeros(large.data, 3, 3));
    QCOMPARE(QString::fromUtf8(readFile(target + u".damaged.ranges"_qs)).section(u'\n', 1),
             u"6972 9295 %1 fails its EDC check\n"_qs.arg(sector));
    QVERIFY(!QFile::exists(target));
}

void Dat2FileTest::filesComeBackExactFromRiffFiles() {
    QTemporaryDir out;
    for (const Stored& file : storedFiles()) {
        const QString target = out.filePath(file.name);
        const Run extracted =
            dat2file({m_cd + u"/FILES/"_qs + file.identifier, target}, out.path());
        QVERIFY2(extracted.status == 0, qPrintable(file.name + u": "_qs + extracted.errors));
        QVERIFY2(readFile(target) == file.data, qPrintable(file.name));
    }
    // A system that reads Joliet shows each file by its original name: the list knows it by
    // that name too, so the copy is cut to its length and checked.
    const QString joliet = out.filePath(u"joliet"_qs);
    QDir().mkpath(joliet + u"/FILES"_qs);
    QVERIFY(QFile::copy(m_cd + u"/VELMORA.LST"_qs, joliet + u"/VELMORA.LST"_qs));
    for (const Stored& file : storedFiles()) {
        const QString shown = joliet + u"/FILES/"_qs + file.name;
        QVERIFY(QFile::copy(m_cd + u"/FILES/"_qs + file.identifier, shown));
        const QString target = out.filePath(u"by original name "_qs + file.name);
        const Run extracted = dat2file({shown, target}, out.path());
        QVERIFY2(extracted.status == 0, qPrintable(file.name + u": "_qs + extracted.errors));
        // (A file of no bytes has no sectors to place it by, and needs no cutting.)
        QVERIFY2(file.data.isEmpty() || extracted.output.contains(u"SHA-256 checked"_qs),
                 qPrintable(file.name + u": "_qs + extracted.output + extracted.errors));
        QVERIFY2(readFile(target) == file.data, qPrintable(file.name));
    }
}

void Dat2FileTest::listShowsWhatWasStored() {
    const Run listed = dat2file({u"--list"_qs, m_cue}, m_folder.path());
    QCOMPARE(listed.status, 0);
    const QStringList lines = listed.output.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), storedFiles().size());
    for (const Stored& file : storedFiles()) {
        const QString sum = QString::fromLatin1(
            QCryptographicHash::hash(file.data, QCryptographicHash::Sha256).toHex());
        const QRegularExpression line(QRegularExpression::escape(file.identifier) + u" +"_qs +
                                      QString::number(file.data.size()) + u"  "_qs + sum +
                                      u"  "_qs + QRegularExpression::escape(file.name));
        QVERIFY2(lines.filter(line).size() == 1, qPrintable(file.name + u"\n"_qs + listed.output));
    }
}

void Dat2FileTest::damagedCopyIsWrittenAsDamaged() {
    QTemporaryDir out;
    QByteArray riff = readFile(m_cd + u"/FILES/SOME_DATA.RAW"_qs);
    riff[44 + 2352 * 3 + 24 + 100] =
        char(riff[44 + 2352 * 3 + 24 + 100] ^ 0x01); // one data byte of sector 3
    writeFile(m_cd, u"FILES/SOME_DATA.RAW"_qs, riff);
    const QString target = out.filePath(u"some data.raw"_qs);
    const Run extracted = dat2file({m_cd + u"/FILES/SOME_DATA.RAW"_qs, target}, out.path());
    writeFile(m_cd, u"FILES/SOME_DATA.RAW"_qs,
              riffOf(m_bin, placeOf(m_cue, u"SOME_DATA.RAW"_qs, out.path())));

    QCOMPARE(extracted.status, 3);
    QVERIFY2(extracted.errors.contains(QStringLiteral("damaged")), qPrintable(extracted.errors));
    QVERIFY(extracted.errors.contains(QStringLiteral("SHA-256")) ||
            extracted.errors.contains(QStringLiteral("EDC")));
    QVERIFY(!QFile::exists(target));
    QVERIFY(readFile(target + u".damaged"_qs) == withZeros(storedFiles().last().data, 3, 3));
}

void Dat2FileTest::brokenSectorsCostThemselvesAlone_data() {
    QTest::addColumn<int>("cut");    // bytes cut off the end
    QTest::addColumn<int>("byte");   // a byte changed, -1 for none
    QTest::addColumn<int>("sector"); // the sector of the file that is lost
    QTest::addColumn<QString>("said");
    QTest::newRow("broken sync") << 0 << 44 + 2352 * 5 + 3 << 5
                                 << QStringLiteral("is broken: broken sync pattern");
    QTest::newRow("not mode 2") << 0 << 44 + 2352 * 2 + 15 << 2 << QStringLiteral("mode 18");
    QTest::newRow("subheaders differ")
        << 0 << 44 + 2352 * 7 + 17 << 7 << QStringLiteral("the two copies of the subheader");
    QTest::newRow("truncated last sector")
        << 100 << -1 << 1290 << QStringLiteral("SOME_DATA.RAW\" holds only 1290 whole sectors");
}

void Dat2FileTest::brokenSectorsCostThemselvesAlone() {
    QFETCH(int, cut);
    QFETCH(int, byte);
    QFETCH(int, sector);
    QFETCH(QString, said);
    QTemporaryDir out;
    QByteArray riff = readFile(m_cd + u"/FILES/SOME_DATA.RAW"_qs);
    QCOMPARE(riff.size(), 44 + 2352 * 1291);
    if (byte >= 0)
        riff[byte] = char(riff[byte] ^ 0x10);
    riff.chop(cut);
    const QString source = writeFile(m_cd, u"FILES/SOME_DATA.RAW"_qs, riff);
    const QString target = out.filePath(u"sub/out.raw"_qs);
    const Run extracted = dat2file({source, target}, out.path());
    writeFile(m_cd, u"FILES/SOME_DATA.RAW"_qs,
              riffOf(m_bin, placeOf(m_cue, u"SOME_DATA.RAW"_qs, out.path())));
    QCOMPARE(extracted.status, 3);
    QVERIFY2(extracted.errors.contains(said), qPrintable(extracted.errors));
    const qint64 lba = placeOf(m_cue, u"SOME_DATA.RAW"_qs, out.path()).first + sector;
    QVERIFY2(extracted.errors.contains(u"sector %1"_qs.arg(lba)), qPrintable(extracted.errors));
    QVERIFY(readFile(target + u".damaged"_qs) ==
            withZeros(storedFiles().last().data, sector, sector));
    QVERIFY(readFile(target + u".damaged.ranges"_qs).contains(u" %1 "_qs.arg(lba).toUtf8()));
    QCOMPARE(QDir(out.filePath(u"sub"_qs)).entryList(QDir::Files | QDir::Hidden),
             (QStringList{u"out.raw.damaged"_qs, u"out.raw.damaged.ranges"_qs}));
}

void Dat2FileTest::brokenHeaderIsRefusedAndLeavesNothing_data() {
    QTest::addColumn<int>("cut");  // bytes cut off the end
    QTest::addColumn<int>("byte"); // a byte changed, -1 for none
    QTest::addColumn<QString>("said");
    QTest::newRow("not RIFF") << 0 << 0 << QStringLiteral("not a RIFF file");
    QTest::newRow("not CDXA") << 0 << 9 << QStringLiteral("not of the form CDXA");
    QTest::newRow("shorter than a header")
        << 2352 * 1291 + 10 << -1 << QStringLiteral("shorter than a RIFF header");
}

void Dat2FileTest::brokenHeaderIsRefusedAndLeavesNothing() {
    QFETCH(int, cut);
    QFETCH(int, byte);
    QFETCH(QString, said);
    QTemporaryDir out;
    QByteArray riff = readFile(m_cd + u"/FILES/SOME_DATA.RAW"_qs);
    if (byte >= 0)
        riff[byte] = char(riff[byte] ^ 0x10);
    riff.chop(cut);
    const QString source = writeFile(m_cd, u"FILES/BROKEN.RAW"_qs, riff);
    const Run extracted = dat2file({source, out.filePath(u"sub/out.raw"_qs)}, out.path());
    QFile::remove(source);
    QCOMPARE(extracted.status, 1);
    QVERIFY2(extracted.errors.contains(said), qPrintable(extracted.errors));
    QVERIFY(extracted.errors.contains(QStringLiteral("BROKEN.RAW")));
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void Dat2FileTest::fileReadThroughAPlainIsoReaderIsExplained() {
    // What the kernel's ISO 9660 reader gives of a Form 2 file: 2048 bytes of each sector.
    const QByteArray riff = readFile(m_cd + u"/FILES/SOME_DATA.RAW"_qs);
    QByteArray plain;
    for (qsizetype sector = 0; 44 + (sector + 1) * 2352 <= riff.size(); ++sector)
        plain += riff.mid(44 + sector * 2352 + 24, 2048);
    QTemporaryDir out;
    const QString source = writeFile(out.path(), u"some_data.raw"_qs, plain);
    const Run extracted = dat2file({source, out.filePath(u"back"_qs)}, out.path());
    QCOMPARE(extracted.status, 1);
    QVERIFY2(extracted.errors.contains(u"whole 2048-byte blocks"_qs), qPrintable(extracted.errors));
    QVERIFY(extracted.errors.contains(u"dat2file --image IMAGE.cue NAME DESTINATION"_qs));
    QVERIFY(!QFile::exists(out.filePath(u"back"_qs)));
}

void Dat2FileTest::withoutTheListWholeSectorsAreWritten() {
    QTemporaryDir out;
    const QString source =
        writeFile(out.path(), u"A2325.BIN"_qs, readFile(m_cd + u"/FILES/A2325.BIN"_qs));
    const Run extracted = dat2file({source, out.filePath(u"whole"_qs)}, out.path());
    QCOMPARE(extracted.status, 0);
    QVERIFY(extracted.errors.contains(QStringLiteral("exact length is not known")));
    QByteArray expected = storedFiles().at(4).data;
    expected.append(QByteArray(2 * 2324 - expected.size(), '\0'));
    QVERIFY(readFile(out.filePath(u"whole"_qs)) == expected);
}

void Dat2FileTest::destinationIsKeptUnlessForced() {
    QTemporaryDir out;
    const QString target = writeFile(out.path(), u"kept"_qs, QByteArray("old"));
    const QStringList arguments = {m_cd + u"/FILES/ONE.BIN"_qs, target};
    const Run refused = dat2file(arguments, out.path());
    QCOMPARE(refused.status, 1);
    QCOMPARE(refused.errors, u"dat2file: \"kept\" exists already in \""_qs + shownPath(out.path()) +
                                 u"\": choose another storage folder or remove the old file\n"_qs);
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(dat2file(QStringList{u"--force"_qs} + arguments, out.path()).status, 0);
    QVERIFY(readFile(target) == storedFiles().at(1).data);
}

void Dat2FileTest::stopSignalLeavesWhatStoodBefore() {
    QTemporaryDir folder;
    QVERIFY(buildBigImage(folder.path()));
    const QString target = writeFile(folder.path(), u"out/big.raw"_qs, QByteArray("mine"));
    const Stop stopped = stopMidway(
        dat2fileProgram(),
        {u"--force"_qs, u"--image"_qs, folder.filePath(u"big.cue"_qs), u"BIG.RAW"_qs, target},
        folder.path(), SIGTERM);
    QVERIFY2(stopped.sawProgress, qPrintable(stopped.errors));
    QVERIFY(endedByStop(stopped, SIGTERM));
    QCOMPARE(readFile(target), QByteArray("mine"));
    QCOMPARE(QDir(folder.filePath(u"out"_qs)).entryList(QDir::Files | QDir::Hidden),
             QStringList{u"big.raw"_qs});
}

namespace {

bool setModified(const QString& path, qint64 seconds) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

qint64 modifiedOf(const QString& path) {
    struct stat facts {};
    return ::stat(QFile::encodeName(path).constData(), &facts) == 0 ? qint64(facts.st_mtime) : -1;
}

QMap<QString, QByteArray> storedByName() {
    QMap<QString, QByteArray> stored;
    for (const Stored& file : storedFiles())
        stored.insert(file.name, file.data);
    return stored;
}

QString lastLine(const QString& text) {
    return text.trimmed().section(u'\n', -1);
}

} // namespace

void Dat2FileTest::wholeImageComesBackIntoAFolder() {
    QTemporaryDir out;
    // As the window names the destination: the storage folder, then the image's whole path.
    const QString destination = out.filePath(u"storage"_qs + m_bin);
    const Run extracted = dat2file({m_bin, destination}, out.path());
    QVERIFY2(extracted.status == 0, qPrintable(extracted.errors));
    const QString folder = destination.chopped(4);
    QVERIFY(filesUnder(folder) == storedByName()); // original names, exact, the list left out
    QCOMPARE(lastLine(extracted.output),
             u"dat2file: wrote 6 files into \""_qs + shownPath(folder) +
                 u"\": 3006973 bytes, 6 checked against the file list, 0 damaged"_qs);
    QVERIFY(extracted.errors.contains(
        QRegularExpression(u"\ndat2file: progress [1-9]\\d?% file 6 of 6: some data.raw\n"_qs)));
    QCOMPARE(QDir(QFileInfo(folder).path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"Kestrel"_qs}); // nothing of the work left beside it

    // The same from the cue sheet, the table of contents, a lone copy of the sectors, and
    // the root folder named inside the image.
    QFile::copy(m_bin, out.filePath(u"Copy.BIN"_qs));
    const QList<QStringList> others = {
        {m_cue, out.filePath(u"cue/Kestrel.cue"_qs)},
        {m_folder.filePath(u"Kestrel.toc"_qs), out.filePath(u"toc/Kestrel.toc"_qs)},
        {out.filePath(u"Copy.BIN"_qs), out.filePath(u"lone/Copy.BIN"_qs)},
        {u"--image"_qs, m_cue, u"/"_qs, out.filePath(u"root"_qs)},
    };
    for (const QStringList& arguments : others) {
        const Run again = dat2file(arguments, out.path());
        QVERIFY2(again.status == 0, qPrintable(arguments.join(u' ') + again.errors));
        const QString into =
            arguments.last().endsWith(u"root"_qs) ? arguments.last() : arguments.last().chopped(4);
        QVERIFY2(filesUnder(into) == storedByName(), qPrintable(into));
    }

    // A second extraction keeps the first, with advice the window's user can follow.
    const QString mine = writeFile(folder, u"one.bin"_qs, "mine");
    const Run refused = dat2file({m_bin, destination}, out.path());
    QCOMPARE(refused.status, 1);
    QCOMPARE(refused.errors,
             u"dat2file: the folder \"Kestrel\" exists already in \""_qs +
                 shownPath(QFileInfo(folder).path()) +
                 u"\": choose another storage folder or remove the old folder\n"_qs);
    QCOMPARE(readFile(mine), QByteArray("mine"));
    QVERIFY(dat2file({u"--force"_qs, m_bin, destination}, out.path()).status == 0);
    QVERIFY(filesUnder(folder) == storedByName());
}

void Dat2FileTest::damagedFileOfAWholeImageLetsTheOthersThrough() {
    QTemporaryDir out;
    const auto [first, sectors] = placeOf(m_cue, u"SOME_DATA.RAW"_qs, out.path());
    QByteArray image = readFile(m_bin);
    const qsizetype byte = (first + 7) * 2352 + 24 + 5; // a data byte of the file's sector 7
    image[byte] = char(image[byte] ^ 0x40);
    const QString bin = writeFile(out.path(), u"Scratched.bin"_qs, image);
    const Run extracted = dat2file({bin, out.filePath(u"x/Scratched.bin"_qs)}, out.path());
    QCOMPARE(extracted.status, 3);
    const QString folder = out.filePath(u"x/Scratched"_qs);
    QMap<QString, QByteArray> expected = storedByName();
    expected.insert(u"some data.raw.damaged"_qs,
                    withZeros(expected.take(u"some data.raw"_qs), 7, 7));
    QMap<QString, QByteArray> found = filesUnder(folder);
    const QByteArray ranges = found.take(u"some data.raw.damaged.ranges"_qs);
    QVERIFY2(ranges.contains(QByteArray(QByteArray::number(first + 7) + " fails its EDC check")),
             ranges.constData());
    QVERIFY(found == expected);
    QVERIFY2(lastLine(extracted.output)
                 .contains(u"5 checked against the file list, 1 damaged; 5 back whole, 1 damaged: "
                           "\"some data.raw\" (2.3 kB lost)"_qs),
             qPrintable(extracted.output));
    QVERIFY2(extracted.errors.contains(u"\"Scratched/some data.raw.damaged\""_qs) ||
                 extracted.errors.contains(shownPath(u"x/Scratched/some data.raw.damaged"_qs)),
             qPrintable(extracted.errors));
}

// Folders, Joliet names and Form 1 files, as another mastering tool lays them out: the file
// system from genisoimage, its 2048-byte blocks put into raw Mode 2 Form 1 sectors.
void Dat2FileTest::foldersAndForm1FilesOfAnotherToolsImage() {
    QTemporaryDir out;
    const QString tree = out.filePath(u"tree"_qs);
    const QMap<QString, QByteArray> files = {
        {u"clips/Été à la plage.mpg"_qs, randomBytes(70001, 11)},
        {u"clips/deeper/日本.dat"_qs, randomBytes(4096, 12)},
        {u"read me.txt"_qs, QByteArray("hello\n")},
        {u"empty"_qs, QByteArray()},
    };
    for (auto it = files.begin(); it != files.end(); ++it)
        writeFile(tree, it.key(), it.value());
    // Dates of files and folders, each its own, for the records to carry.
    const QStringList dated = {u"clips/Été à la plage.mpg"_qs, u"clips/deeper/日本.dat"_qs,
                               u"read me.txt"_qs, u"clips/deeper"_qs, u"clips"_qs};
    for (qsizetype i = 0; i < dated.size(); ++i)
        QVERIFY(setModified(tree + u'/' + dated.at(i), 500000000 + i * 86400 * 400));
    const Run made = run(u"genisoimage"_qs,
                         {u"-quiet"_qs, u"-J"_qs, u"-input-charset"_qs, u"utf-8"_qs, u"-V"_qs,
                          u"OTHER"_qs, u"-o"_qs, out.filePath(u"other.iso"_qs), tree},
                         out.path());
    if (made.status != 0)
        QSKIP("genisoimage cannot be run here");
    const QByteArray iso = readFile(out.filePath(u"other.iso"_qs));
    QByteArray raw(iso.size() / 2048 * 2352, '\0');
    for (qsizetype block = 0; block < iso.size() / 2048; ++block)
        cdimage::writeForm1(reinterpret_cast<std::uint8_t*>(raw.data()) + block * 2352,
                            std::uint32_t(block), cdimage::Data,
                            reinterpret_cast<const std::uint8_t*>(iso.constData()) + block * 2048,
                            2048);
    const QString bin = writeFile(out.path(), u"other.bin"_qs, raw);
    const Run extracted = dat2file({bin, out.filePath(u"x/other.bin"_qs)}, out.path());
    QVERIFY2(extracted.status == 0, qPrintable(extracted.errors));
    const QMap<QString, QByteArray> found = filesUnder(out.filePath(u"x/other"_qs));
    QVERIFY2(found == files, qPrintable(found.keys().join(u", "_qs) + u"\n"_qs + extracted.output));
    for (qsizetype i = 0; i < dated.size(); ++i) // from their records, folders too
        QCOMPARE(modifiedOf(out.filePath(u"x/other/"_qs + dated.at(i))),
                 500000000 + i * 86400 * 400);
    QVERIFY(lastLine(extracted.output).contains(u"0 checked against the file list, 0 damaged"_qs));
    // One folder of it alone.
    QCOMPARE(
        dat2file({u"--image"_qs, bin, u"clips"_qs, out.filePath(u"clips"_qs)}, out.path()).status,
        0);
    QCOMPARE(filesUnder(out.filePath(u"clips"_qs)).keys(),
             (QStringList{u"deeper/日本.dat"_qs, u"Été à la plage.mpg"_qs}));
}

void Dat2FileTest::stoppedWholeExtractionLeavesNothing() {
    QTemporaryDir folder;
    QVERIFY(buildBigImage(folder.path()));
    QDir(folder.path()).mkdir(u"out"_qs);
    const Stop stopped = stopMidway(
        dat2fileProgram(), {folder.filePath(u"big.bin"_qs), folder.filePath(u"out/big.bin"_qs)},
        folder.path(), SIGTERM);
    QVERIFY2(stopped.sawProgress, qPrintable(stopped.errors));
    QVERIFY(endedByStop(stopped, SIGTERM));
    QCOMPARE(QDir(folder.filePath(u"out"_qs))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

namespace {

// The Video CD's sectors laid out as other tools lay them out, in `folder`; each layout by the
// description that reads it.
QStringList layOutVideoCd(const QString& folder) {
    QProcess unpack;
    unpack.setStandardOutputFile(folder + u"/vcd.bin"_qs);
    unpack.start(u"xz"_qs, {u"-dc"_qs, QStringLiteral(FOREIGN_DATA) + u"/vcd.bin.xz"_qs});
    if (!unpack.waitForFinished() || unpack.exitCode() != 0)
        return {};
    const QByteArray raw = readFile(folder + u"/vcd.bin"_qs);
    QByteArray stored; // from each subheader on
    for (qsizetype at = 0; at < raw.size(); at += 2352)
        stored += raw.mid(at + 16, 2336);
    writeFile(folder, u"vcd2336.bin"_qs, stored);
    writeFile(folder, u"vcd_t1.bin"_qs, raw.left(300 * 2352));
    writeFile(folder, u"vcd_t2.bin"_qs, raw.mid(300 * 2352));
    writeFile(folder, u"vcd_t2nogap.bin"_qs, raw.mid(450 * 2352));
    const QList<std::pair<QString, QByteArray>> descriptions = {
        {u"vcd.cue"_qs, "FILE \"vcd.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
                        "  TRACK 02 MODE2/2352\n    INDEX 00 00:04:00\n    INDEX 01 00:06:00\n"},
        {u"split.cue"_qs,
         "FILE \"vcd_t1.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
         "FILE \"vcd_t2.bin\" BINARY\n  TRACK 02 MODE2/2352\n    INDEX 00 00:00:00\n"
         "    INDEX 01 00:02:00\n"},
        {u"split-pregap.cue"_qs,
         "FILE \"vcd_t1.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
         "FILE \"vcd_t2nogap.bin\" BINARY\n  TRACK 02 MODE2/2352\n    PREGAP 00:02:00\n"
         "    INDEX 01 00:00:00\n"},
        {u"readcd.toc"_qs, "CD_ROM_XA\n\n// Track 1\nTRACK MODE2_RAW\nNO COPY\n"
                           "DATAFILE \"vcd.bin\" 00:04:00 // length in bytes: 705600\n\n"
                           "// Track 2\nTRACK MODE2_RAW\nNO COPY\n"
                           "DATAFILE \"vcd.bin\" #705600 00:12:72 // length in bytes: 2286144\n"
                           "START 00:02:00\n"},
        {u"stored.toc"_qs, "CD_ROM_XA\nTRACK MODE2_FORM_MIX\nDATAFILE \"vcd2336.bin\" 00:04:00\n"
                           "TRACK MODE2_FORM_MIX\nDATAFILE \"vcd2336.bin\" #700800 00:12:72\n"
                           "START 00:02:00\n"},
    };
    QStringList layouts;
    for (const auto& [name, text] : descriptions)
        layouts.append(writeFile(folder, name, text));
    layouts.append(folder + u"/vcd2336.bin"_qs); // the sectors alone, known by their content
    return layouts;
}

} // namespace

// Every file of a Video CD, Form 1 and Form 2, in both tracks, as Debian's libiso9660 reads
// them, from each layout: by name, whole, and listed.
void Dat2FileTest::videoCdInEveryLayoutComesBackWhole() {
    QTemporaryDir folder;
    const QStringList layouts = layOutVideoCd(folder.path());
    if (layouts.isEmpty())
        QSKIP("xz cannot unpack the test image here");
    const QStringList names = {u"MPEGAV/AVSEQ01.DAT"_qs, u"VCD/INFO.VCD"_qs, u"VCD/ENTRIES.VCD"_qs,
                               u"EXTRA/FORM1.DAT"_qs, u"EXTRA/FORM2.DAT"_qs};
    QMap<QString, QByteArray> expected;
    for (const QString& name : names) {
        const Run read = run(QStringLiteral(ISO9660_READER),
                             {folder.filePath(u"vcd.cue"_qs), u"/"_qs + name + u";1"_qs,
                              folder.filePath(u"reference"_qs)},
                             folder.path());
        QVERIFY2(read.status == 0, qPrintable(name + read.errors));
        expected.insert(name, readFile(folder.filePath(u"reference"_qs)));
    }
    QCOMPARE(expected.value(u"MPEGAV/AVSEQ01.DAT"_qs).size(), 672 * 2324);
    QCOMPARE(expected.value(u"EXTRA/FORM1.DAT"_qs).size(), 10000);
    for (const QString& layout : layouts) {
        for (const QString& name : names) {
            const Run one =
                dat2file({u"--image"_qs, layout, name, folder.filePath(u"one"_qs)}, folder.path());
            QVERIFY2(one.status == 0, qPrintable(layout + u": "_qs + one.errors));
            QVERIFY2(readFile(folder.filePath(u"one"_qs)) == expected.value(name),
                     qPrintable(layout + u": "_qs + name));
            QFile::remove(folder.filePath(u"one"_qs));
        }
        const QString whole = folder.filePath(u"whole"_qs);
        const Run all = dat2file({u"--image"_qs, layout, u"/"_qs, whole}, folder.path());
        QVERIFY2(all.status == 0, qPrintable(layout + u": "_qs + all.errors));
        QVERIFY2(filesUnder(whole) == expected, qPrintable(layout));
        QDir(whole).removeRecursively();
        const Run listed = dat2file({u"--list"_qs, layout}, folder.path());
        QVERIFY2(listed.status == 0, qPrintable(listed.errors));
        QVERIFY2(listed.output.contains(
                     QRegularExpression(u"\nMPEGAV/AVSEQ01.DAT;1 +Form 2 +672 sectors ~ +1561728 "
                                        "+MPEGAV/AVSEQ01.DAT\n"_qs)),
                 qPrintable(listed.output));
        QVERIFY(listed.output.contains(QRegularExpression(
            u"\nEXTRA/FORM1.DAT;1 +Form 1 +5 sectors +10000 +EXTRA/FORM1.DAT\n"_qs)));
    }
}

// Descriptions of our own image as other systems write them: a byte-order mark, a name in
// other case, a backslash between folders; a table of contents with its pregap in the file
// (START) and a length in bytes.
// A description that puts the second track 150 sectors past where its sectors' headers say
// they stand: the headers place it, and its file comes back whole. A sector inside the track
// whose header names another address is misplaced, and its file is never written as good.
void Dat2FileTest::trackPlacedElsewhereIsNeverReadAsAnother() {
    QTemporaryDir folder;
    if (layOutVideoCd(folder.path()).isEmpty())
        QSKIP("xz cannot unpack the test image here");
    const QString cue =
        writeFile(folder.path(), u"shifted.cue"_qs,
                  "FILE \"vcd_t1.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"
                  "FILE \"vcd_t2.bin\" BINARY\n  TRACK 02 MODE2/2352\n    PREGAP 00:02:00\n"
                  "    INDEX 01 00:00:00\n");
    const QString out = folder.filePath(u"out"_qs), reference = folder.filePath(u"reference"_qs);
    QCOMPARE(
        dat2file({u"--image"_qs, u"vcd.cue"_qs, u"MPEGAV/AVSEQ01.DAT"_qs, reference}, folder.path())
            .status,
        0);
    const Run read = dat2file({u"--image"_qs, cue, u"MPEGAV/AVSEQ01.DAT"_qs, out}, folder.path());
    QVERIFY2(read.status == 0, qPrintable(read.errors));
    QCOMPARE(readFile(out), readFile(reference));

    // Sector 500's header names sector 501.
    QByteArray track = readFile(folder.filePath(u"vcd_t2.bin"_qs));
    track[(500 - 300) * 2352 + 14] = char(track[(500 - 300) * 2352 + 14] + 1);
    writeFile(folder.path(), u"vcd_t2.bin"_qs, track);
    QFile::remove(out);
    const Run misplaced =
        dat2file({u"--image"_qs, cue, u"MPEGAV/AVSEQ01.DAT"_qs, out}, folder.path());
    QCOMPARE(misplaced.status, 3);
    QVERIFY2(
        misplaced.errors.contains(
            u"sector 500 is misplaced: its header names sector 501, it stands at sector 500"_qs),
        qPrintable(misplaced.errors));
    QVERIFY(!QFile::exists(out));
}

void Dat2FileTest::descriptionsAsOtherSystemsWriteThem() {
    QTemporaryDir folder;
    const QByteArray bin = readFile(m_bin);
    writeFile(folder.path(), u"sub/kestrel.bin"_qs, bin);
    writeFile(folder.path(), u"pregap.bin"_qs, QByteArray(150 * 2352, '\0') + bin);
    const QList<std::pair<QString, QByteArray>> descriptions = {
        {u"bom.cue"_qs, "\xEF\xBB\xBF"
                        "FILE \"sub/kestrel.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n"
                        "    INDEX 01 00:00:00\r\n"},
        {u"case.cue"_qs,
         "FILE \"SUB/KESTREL.BIN\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"},
        {u"backslash.cue"_qs,
         "FILE \"sub\\kestrel.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n"},
        {u"start.toc"_qs, "CD_ROM_XA\nTRACK MODE2_RAW\nDATAFILE \"pregap.bin\"\nSTART 00:02:00\n"},
        {u"bytes.toc"_qs, "CD_ROM_XA\nCD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n}\nTRACK MODE2_RAW\n"
                          "  DATAFILE \"sub/kestrel.bin\" #0 " +
                              QByteArray::number(bin.size()) + "\n"},
    };
    for (const auto& [name, text] : descriptions) {
        const QString description = writeFile(folder.path(), name, text);
        const Run listed = dat2file({u"--list"_qs, description}, folder.path());
        QVERIFY2(listed.status == 0, qPrintable(name + u": "_qs + listed.errors));
        QCOMPARE(listed.output, dat2file({u"--list"_qs, m_cue}, folder.path()).output);
        const Run one =
            dat2file({u"--image"_qs, description, u"some data.raw"_qs, folder.filePath(u"out"_qs)},
                     folder.path());
        QVERIFY2(one.status == 0, qPrintable(name + u": "_qs + one.errors));
        QVERIFY(readFile(folder.filePath(u"out"_qs)) == storedFiles().last().data);
        QFile::remove(folder.filePath(u"out"_qs));
    }
}

// On a terminal the progress line is rewritten in place; the closing line that follows it, on
// the other channel, begins a line of its own.
void Dat2FileTest::closingLineStandsOnALineOfItsOwnOnATerminal() {
    if (testingWindowsTools())
        QSKIP("a terminal of this system's own");
    const QString script = QStandardPaths::findExecutable(u"script"_qs);
    if (script.isEmpty())
        QSKIP("script(1) gives a terminal; it is not installed");
    QTemporaryDir out;
    const auto quoted = [](QString text) {
        return QStringLiteral("'%1'").arg(text.replace(u"'"_qs, u"'\\''"_qs));
    };
    for (const QStringList& arguments :
         {QStringList{u"--image"_qs, m_cue, storedFiles().first().identifier,
                      out.filePath(u"one"_qs)},
          QStringList{m_cue, out.filePath(u"all"_qs)}}) {
        QStringList line{quoted(dat2fileProgram())};
        for (const QString& argument : arguments)
            line.append(quoted(argument));
        QProcess terminal;
        terminal.start(script, {u"-qec"_qs, line.join(u' '), u"/dev/null"_qs});
        QVERIFY(terminal.waitForFinished(60000));
        const QString shown = QString::fromUtf8(terminal.readAllStandardOutput());
        const qsizetype closing = shown.indexOf(u"dat2file: wrote"_qs);
        QVERIFY2(closing > 0, qPrintable(shown));
        QVERIFY2(shown.contains(u'\r'), qPrintable(shown)); // the progress was shown in place
        QVERIFY2(shown.at(closing - 1) == u'\n', qPrintable(shown));
    }
}

QTEST_GUILESS_MAIN(Dat2FileTest)
#include "tst_dat2file.moc"
