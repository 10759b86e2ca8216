// SPDX-License-Identifier: GPL-3.0-or-later
// Both tools against hostile and damaged input and against a hostile world: images made to
// crash readers, lists and records that lie, damaged sectors, names no CD can hold, user files
// beside the outputs, two runs at once, a full disk, a file changed while it is read. Every case
// ends with a clear message and its exit status, no crash, no hang, no debris, nothing of the
// user's touched.

#include "toolrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace velmora::test;

namespace {

constexpr qint64 kRaw = 2352;

Run dat2file(const QStringList& arguments, const QString& folder, int milliseconds = 300000) {
    return run(dat2fileProgram(), arguments, folder, milliseconds);
}
// Images without repair data: damage costs what it touches.
Run tolk(const QStringList& arguments, const QString& folder) {
    return run(tolkProgram(), QStringList{u"--repair"_qs, u"off"_qs} + arguments, folder);
}

// Nothing the sanitizers or the system would say of a run that went wrong inside.
bool endedCleanly(const Run& run) {
    return run.status >= 0 && run.status != 134 && !run.errors.contains(u"Sanitizer"_qs) &&
           !run.errors.contains(u"runtime error"_qs);
}

QStringList everythingIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

quint32 littleEndian32(const QByteArray& bytes, qint64 at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}
void putBoth32(QByteArray& bytes, qint64 at, quint32 value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = char(value >> (8 * i));
        bytes[at + 7 - i] = char(value >> (8 * i));
    }
}
// Where the data of a sector starts in a raw image.
qint64 dataOf(qint64 lba) {
    return lba * kRaw + 24;
}
// The byte offset in the image of the root folder's record named `name`, read from the primary
// volume descriptor (ECMA-119 8.4, 9.1).
qint64 recordOf(const QByteArray& bin, const QByteArray& name) {
    const qint64 root = dataOf(littleEndian32(bin, dataOf(16) + 156 + 2));
    for (qint64 at = root; at < root + 2048 && bin[at] != 0; at += quint8(bin[at]))
        if (bin.mid(at + 33, quint8(bin[at + 32])) == name)
            return at;
    return -1;
}

// An image of the given files (name, bytes) in `folder`, named IMG.
void buildImage(const QString& folder, const QList<std::pair<QString, QByteArray>>& files) {
    QStringList arguments = {u"-v"_qs, u"Faults"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs};
    for (const auto& [name, data] : files)
        arguments << writeFile(folder, name, data);
    const Run built = tolk(arguments, folder);
    if (built.status != 0)
        qFatal("cannot build: %s", qPrintable(built.errors));
}

qint64 largestChildKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostileImagesEndCleanly_data();
    void hostileImagesEndCleanly();
    void recordsThatLieAreRefused_data();
    void recordsThatLieAreRefused();
    void damagedListCostsOnlyItsDamagedLines();
    void listOfAnotherDiscIsNotApplied();
    void subheaderAndPaddingFaults();
    void missingOrShortBinIsNamed();
    void namesNoCdCanHoldAreRefused();
    void hugeFileIsRefusedAtOnce();
    void usersFilesAreNeverTouched();
    void folderIsNeverReplaced();
    void twoBuildsOfOneNameAtOnce();
    void twoExtractionsIntoOneDestination();
    void fileChangedDuringBuildIsDetected();
    void fullDiskLeavesNothingOfTheExtraction();
    void staleTemporaryFilesAreRemoved();
    void temporariesOfALiveRunAreKeptWhereverItRuns();
    void readOnlyFolderIsNamedWithItsReason();
    void tenThousandFilesAllComeBack_data();
    void tenThousandFilesAllComeBack();
    void whatIsNoFileIsNamedAtOnce_data();
    void whatIsNoFileIsNamedAtOnce();
    void forceReplacesOnlyAFile();
    void longestNamesFitWithTheirTemporaryNames();
    void imageOf2336ByteSectorsIsRead();
    void readErrorOfAnImageCostsOnlyItsSectors();
};

// The images a fuzzing campaign made to crash, hang or exhaust libcdio-based readers.
void FaultsTest::hostileImagesEndCleanly_data() {
    QTest::addColumn<QString>("cue");
    const QDir data(QStringLiteral(HOSTILE_DATA));
    for (const QString& name : data.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QTest::newRow(qPrintable(name)) << data.filePath(name + u"/IN.CUE"_qs);
    QTest::newRow("dir.cue") << data.filePath(u"cue-exit-in-libcdio/dir.cue"_qs);
}

void FaultsTest::hostileImagesEndCleanly() {
    QFETCH(QString, cue);
    QTemporaryDir out;
    // The image's files as they are, in a folder of their own (dir.cue names a folder "adir").
    for (const QString& name : QDir(QFileInfo(cue).path()).entryList(QDir::Files))
        QFile::copy(QFileInfo(cue).path() + u'/' + name, out.filePath(name));
    QDir(out.path()).mkdir(u"adir"_qs);
    const QString copy = out.filePath(QFileInfo(cue).fileName());
    const QStringList before = everythingIn(out.path());
    QElapsedTimer clock;
    clock.start();
    for (const QStringList& arguments :
         {QStringList{u"--list"_qs, copy},
          QStringList{u"--image"_qs, copy, u"HELLO.TXT"_qs, out.filePath(u"out"_qs)},
          QStringList{u"--image"_qs, copy, u"/A/B/C"_qs, out.filePath(u"out"_qs)},
          QStringList{copy, out.filePath(u"whole.cue"_qs)}, // every file of the image
          QStringList{u"--image"_qs, copy, u"/"_qs, out.filePath(u"root"_qs)}}) {
        const Run run = dat2file(arguments, out.path());
        QVERIFY2(endedCleanly(run), qPrintable(run.errors));
        QVERIFY2(run.status == 1 || run.status == 3, qPrintable(run.errors));
        QVERIFY2(run.errors.contains(u"dat2file: "_qs), qPrintable(run.errors));
    }
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QStringList after = everythingIn(out.path());
    after.removeAll(u"out.damaged"_qs);
    after.removeAll(u"out.damaged.ranges"_qs);
    // A whole extraction that ends with damaged copies leaves its folder, and only it.
    after.removeAll(u"whole"_qs);
    after.removeAll(u"root"_qs);
    QCOMPARE(after, before);
    QVERIFY2(largestChildKilobytes() < 400 * 1024,
             qPrintable(QString::number(largestChildKilobytes())));
}

void FaultsTest::recordsThatLieAreRefused_data() {
    QTest::addColumn<int>("what");
    QTest::addColumn<QString>("said");
    QTest::newRow("root record of 1 byte") << 0 << u"claims 1 bytes"_qs;
    QTest::newRow("file list of 4 GB") << 1 << u"past the end of the volume"_qs;
    QTest::newRow("extent past the end") << 2 << u"past the end of the volume"_qs;
    QTest::newRow("name longer than its record") << 3 << u"does not fit in it"_qs;
    QTest::newRow("the two byte orders differ") << 4 << u"twice, differently"_qs;
}

void FaultsTest::recordsThatLieAreRefused() {
    QFETCH(int, what);
    QFETCH(QString, said);
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"hello.txt"_qs, QByteArray("hello")}});
    QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));
    const qint64 first = recordOf(bin, QByteArray(1, '\0'));
    const qint64 list = recordOf(bin, "VELMORA.LST;1");
    const qint64 hello = recordOf(bin, "HELLO.TXT;1");
    QVERIFY(first >= 0 && list >= 0 && hello >= 0);
    switch (what) {
    case 0:
        bin[first] = 1;
        break;
    case 1:
        putBoth32(bin, list + 10, 0xFFFFF800u);
        break;
    case 2:
        putBoth32(bin, hello + 2, 0x7FFFFFF0u);
        break;
    case 3:
        bin[hello + 32] = char(200);
        break;
    case 4:
        bin[hello + 2] = char(bin[hello + 2] ^ 1);
        break;
    }
    writeFile(folder.path(), u"IMG.bin"_qs, bin);
    const Run listed = dat2file({u"--list"_qs, u"IMG.cue"_qs}, folder.path());
    const Run extracted =
        dat2file({u"--image"_qs, u"IMG.cue"_qs, u"HELLO.TXT"_qs, u"x"_qs}, folder.path());
    QVERIFY2(endedCleanly(listed), qPrintable(listed.errors));
    QVERIFY2(endedCleanly(extracted), qPrintable(extracted.errors));
    QVERIFY2(extracted.status == 1 || extracted.status == 3, qPrintable(extracted.errors));
    const QString said2 = listed.errors + extracted.errors;
    QVERIFY2(said2.contains(said), qPrintable(said2));
    QVERIFY(!QFile::exists(folder.filePath(u"x"_qs)));
    QVERIFY(largestChildKilobytes() < 400 * 1024);
}

void FaultsTest::damagedListCostsOnlyItsDamagedLines() {
    QTemporaryDir folder;
    const QByteArray a = randomBytes(100000, 1), b = randomBytes(5000, 2);
    buildImage(folder.path(), {{u"a.dat"_qs, a}, {u"b.dat"_qs, b}});
    QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));
    const qint64 line = bin.indexOf(" 100000 ");
    QVERIFY(line > 0);
    bin[line + 1] = 'x'; // a length digit of a.dat's line
    writeFile(folder.path(), u"IMG.bin"_qs, bin);

    const Run damaged =
        dat2file({u"--image"_qs, u"IMG.cue"_qs, u"A.DAT"_qs, u"a.out"_qs}, folder.path());
    QCOMPARE(damaged.status, 3);
    QVERIFY2(damaged.errors.contains(u"the file list is damaged (line 5)"_qs),
             qPrintable(damaged.errors));
    QVERIFY(!QFile::exists(folder.filePath(u"a.out"_qs)));
    QVERIFY(readFile(folder.filePath(u"a.out.damaged"_qs)).startsWith(a));

    const Run intact =
        dat2file({u"--image"_qs, u"IMG.cue"_qs, u"b.dat"_qs, u"b.out"_qs}, folder.path());
    QVERIFY2(intact.status == 0, qPrintable(intact.errors));
    QVERIFY(intact.errors.contains(u"its line for B.DAT is intact"_qs));
    QVERIFY(readFile(folder.filePath(u"b.out"_qs)) == b);

    const Run listed = dat2file({u"--list"_qs, u"IMG.cue"_qs}, folder.path());
    QCOMPARE(listed.status, 3);
    // B.DAT by its line; A.DAT, whose line is lost, marked as one the list does not vouch for.
    QVERIFY2(listed.output.startsWith(u"B.DAT "_qs) &&
                 listed.output.contains(u"\n# not in the file list: A.DAT;1, Form 2, "_qs) &&
                 listed.output.count(u"A.DAT"_qs) == 1,
             qPrintable(listed.output));
}

void FaultsTest::listOfAnotherDiscIsNotApplied() {
    // A RIFF file of one disc, with the list of another disc, holding a file of the same name,
    // two folders up.
    QTemporaryDir folder;
    const QByteArray mine = randomBytes(9000, 3);
    buildImage(folder.path(), {{u"same.dat"_qs, mine}});
    const QString cue = folder.filePath(u"IMG.cue"_qs);
    const QByteArray riff =
        riffOf(folder.filePath(u"IMG.bin"_qs), placeOf(cue, u"SAME.DAT"_qs, folder.path()));
    QTemporaryDir other;
    buildImage(other.path(),
               {{u"padding.dat"_qs, randomBytes(7000, 5)}, {u"same.dat"_qs, randomBytes(9100, 4)}});
    layOutCd(other.filePath(u"IMG.cue"_qs), other.filePath(u"cd"_qs), {});
    const QString source = writeFile(other.filePath(u"cd"_qs), u"x/y/SAME.DAT"_qs, riff);
    const Run run = dat2file({source, folder.filePath(u"out"_qs)}, folder.path());
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QVERIFY2(run.errors.contains(u"no file list names"_qs), qPrintable(run.errors));
    QVERIFY(readFile(folder.filePath(u"out"_qs)).startsWith(mine));
}

void FaultsTest::subheaderAndPaddingFaults() {
    QTemporaryDir folder;
    const QByteArray a = randomBytes(100000, 6);
    buildImage(folder.path(), {{u"a.dat"_qs, a}});
    const QString cue = folder.filePath(u"IMG.cue"_qs);
    const auto [first, count] = placeOf(cue, u"A.DAT"_qs, folder.path());
    const QByteArray intact = readFile(folder.filePath(u"IMG.bin"_qs));

    // One bit of the subheader of the file's sector 5: that sector is damaged, no other.
    QByteArray bin = intact;
    bin[(first + 5) * kRaw + 18] = char(bin[(first + 5) * kRaw + 18] ^ 0x01);
    writeFile(folder.path(), u"IMG.bin"_qs, bin);
    const Run flipped = dat2file({u"--image"_qs, cue, u"A.DAT"_qs, u"a.out"_qs}, folder.path());
    QCOMPARE(flipped.status, 3);
    QVERIFY2(
        flipped.errors.contains(u"bytes 11620 to 13943: sector %1 is broken"_qs.arg(first + 5)),
        qPrintable(flipped.errors));
    QByteArray expected = a;
    expected.replace(5 * 2324, 2324, QByteArray(2324, '\0'));
    QVERIFY(readFile(folder.filePath(u"a.out.damaged"_qs)) == expected);

    // One byte of the padding after the file's last byte: the file itself is exact.
    bin = intact;
    const qint64 last = first + count - 1;
    bin[dataOf(last) + 100000 % 2324 + 10] = 1;
    writeFile(folder.path(), u"IMG.bin"_qs, bin);
    const Run padding = dat2file({u"--image"_qs, cue, u"A.DAT"_qs, u"p.out"_qs}, folder.path());
    QVERIFY2(padding.status == 0, qPrintable(padding.errors));
    QVERIFY2(padding.errors.contains(u"the difference lies in the padding"_qs),
             qPrintable(padding.errors));
    QVERIFY(readFile(folder.filePath(u"p.out"_qs)) == a);
}

void FaultsTest::missingOrShortBinIsNamed() {
    QTemporaryDir folder;
    const QByteArray a = randomBytes(100000, 7);
    buildImage(folder.path(), {{u"a.dat"_qs, a}});
    const QString cue = folder.filePath(u"IMG.cue"_qs);
    const auto [first, count] = placeOf(cue, u"A.DAT"_qs, folder.path());
    QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));

    QFile::rename(folder.filePath(u"IMG.bin"_qs), folder.filePath(u"gone.bin"_qs));
    const Run missing = dat2file({u"--image"_qs, cue, u"A.DAT"_qs, u"a.out"_qs}, folder.path());
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.errors.contains(u"IMG.bin\", which holds the image's sectors, cannot be read: "
                                     u"No such file or directory"_qs),
             qPrintable(missing.errors));

    // Cut within the file's sector 20: the sectors before come back, the rest are zeros.
    bin.truncate((first + 20) * kRaw + 1000);
    writeFile(folder.path(), u"IMG.bin"_qs, bin);
    const Run shortBin = dat2file({u"--image"_qs, cue, u"A.DAT"_qs, u"a.out"_qs}, folder.path());
    QCOMPARE(shortBin.status, 3);
    QVERIFY2(
        shortBin.errors.contains(
            u"IMG.bin\" ends at sector %1 (%2 bytes, the last sector cut short)"_qs.arg(first + 20)
                .arg(bin.size())),
        qPrintable(shortBin.errors));
    QVERIFY2(shortBin.errors.contains(
                 u"sectors %1-%2 cannot be read"_qs.arg(first + 20).arg(first + count - 1)),
             qPrintable(shortBin.errors));
    // The file list lay after the file: lost too, so the copy is whole sectors.
    QVERIFY(shortBin.errors.contains(u"the file list cannot be read"_qs));
    const QByteArray expected = a.left(20 * 2324) + QByteArray(count * 2324 - 20 * 2324, '\0');
    QVERIFY(readFile(folder.filePath(u"a.out.damaged"_qs)) == expected);
}

void FaultsTest::namesNoCdCanHoldAreRefused() {
    QTemporaryDir folder;
    const QString keep = writeFile(folder.path(), u"keep.dat"_qs, randomBytes(5000, 8));
    if (!testingWindowsTools()) { // no Windows name holds a line break
        const QString newline = writeFile(folder.path(), u"new\nline.txt"_qs, "x");
        const Run refused =
            tolk({u"-v"_qs, u"NL"_qs, u"-o"_qs, u"nl"_qs, u"-m"_qs, keep, newline}, folder.path());
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.errors.contains(u"line break"_qs), qPrintable(refused.errors));
    }
    for (const QString& name : {u"quote\"d"_qs, u"tab\there"_qs}) {
        const Run image = tolk({u"-v"_qs, u"V"_qs, u"-o"_qs, name, u"-m"_qs, keep}, folder.path());
        QCOMPARE(image.status, 1);
        QVERIFY2(image.errors.contains(u"double quote or a control character"_qs),
                 qPrintable(image.errors));
    }
    QCOMPARE(everythingIn(folder.path()).size(), testingWindowsTools() ? 1 : 2); // nothing made

    // A leading '-', blanks, quotes and bytes that are not UTF-8 are kept exactly in the list.
    if (testingWindowsTools())
        return; // every Windows name is UTF-16: none fails to be UTF-8
    const QString odd = folder.filePath(u"-odd 'name'.dat"_qs);
    QFile::copy(keep, odd);
    // A name that is no UTF-8 cannot pass through a QString: xargs hands its bytes on as they are.
    const QByteArray latin1 = "caf\xe9.dat";
    std::ofstream(QFile::encodeName(folder.path()).toStdString() + "/" + latin1.toStdString())
        << "latin";
    writeFile(folder.path(), u"names"_qs, QFile::encodeName(odd) + '\0' + latin1 + '\0');
    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.start(u"xargs"_qs, {u"-0"_qs, u"-a"_qs, u"names"_qs, tolkProgram(), u"-v"_qs, u"V"_qs,
                                u"-o"_qs, u"odd"_qs, u"-m"_qs});
    QVERIFY(process.waitForFinished(60000));
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(process.exitCode() == 0, qPrintable(errors));
    QVERIFY2(errors.contains(u"is not UTF-8"_qs), qPrintable(errors));
    const Run listed = dat2file({u"--list"_qs, u"odd.cue"_qs}, folder.path());
    QVERIFY(listed.output.contains(u"-odd 'name'.dat"_qs));
    const Run back =
        dat2file({u"--image"_qs, u"odd.cue"_qs, u"-odd 'name'.dat"_qs, u"o1"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    QVERIFY(readFile(folder.filePath(u"o1"_qs)) == readFile(keep));
    QVERIFY(readFile(folder.filePath(u"odd.bin"_qs)).contains("caf\xe9.dat")); // in the list
}

void FaultsTest::hugeFileIsRefusedAtOnce() {
    // 2324 × 2^32 − 1 bytes (sparse): its sector count does not fit 32 bits.
    QTemporaryDir folder;
    const QString huge = tryMakeFile(folder.path(), u"wrap.dat"_qs, Q_INT64_C(9981503995903));
    if (huge.isEmpty())
        QSKIP("this file system cannot hold a sparse file of 9 TB");
    QElapsedTimer clock;
    clock.start();
    const Run refused =
        tolk({u"-v"_qs, u"W"_qs, u"-o"_qs, u"wrap"_qs, u"-m"_qs, huge}, folder.path());
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.errors.contains(u"a disc addresses at most"_qs), qPrintable(refused.errors));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(everythingIn(folder.path()), QStringList{u"wrap.dat"_qs});
}

void FaultsTest::usersFilesAreNeverTouched() {
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"d.dat"_qs, QByteArray("data\n")}});
    QStringList mine = {u"IMG2.bin.partial"_qs, u"out.partial"_qs, u"out2.damaged"_qs};
    // Named like a temporary file of a run still going (PID 1 runs on Linux; no Windows PID is
    // sure to from here).
    if (!testingWindowsTools())
        mine.append(u".IMG2.bin.velmora_tolk-1-0.tmp"_qs);
    for (const QString& name : mine)
        writeFile(folder.path(), name, "my notes");
    const QString data = folder.filePath(u"d.dat"_qs);
    QCOMPARE(tolk({u"-v"_qs, u"P"_qs, u"-o"_qs, u"IMG2"_qs, u"-m"_qs, data}, folder.path()).status,
             0);
    QCOMPARE(dat2file({u"--image"_qs, u"IMG.cue"_qs, u"D.DAT"_qs, u"out"_qs}, folder.path()).status,
             0);
    // A damaged copy whose .damaged name is taken is refused without --force.
    QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));
    const qint64 first = placeOf(folder.filePath(u"IMG.cue"_qs), u"D.DAT"_qs, folder.path()).first;
    bin[dataOf(first) + 2] = char(0xFF);
    writeFile(folder.path(), u"IMG.bin"_qs, bin);
    const Run refused =
        dat2file({u"--image"_qs, u"IMG.cue"_qs, u"D.DAT"_qs, u"out2"_qs}, folder.path());
    QCOMPARE(refused.status, 1);
    QVERIFY2(refused.errors.contains(u"out2.damaged\" exists already"_qs),
             qPrintable(refused.errors));
    for (const QString& name : mine)
        QCOMPARE(readFile(folder.filePath(name)), QByteArray("my notes"));
    QVERIFY(!QFile::exists(folder.filePath(u"out2"_qs)));
}

void FaultsTest::folderIsNeverReplaced() {
    QTemporaryDir folder;
    const QString data = writeFile(folder.path(), u"d.dat"_qs, "data");
    QDir(folder.path()).mkpath(u"x.bin/inside"_qs);
    const Run build =
        tolk({u"--force"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs, u"x"_qs, u"-m"_qs, data}, folder.path());
    QCOMPARE(build.status, 1);
    QVERIFY2(build.errors.contains(u"\"x.bin\" in \""_qs + shownPath(folder.path()) +
                                   u"\" is a folder; a folder is never replaced"_qs),
             qPrintable(build.errors));
    QVERIFY(!build.errors.contains(u"Success"_qs));
    QVERIFY(QFileInfo(folder.filePath(u"x.bin/inside"_qs)).isDir());

    buildImage(folder.path(), {{u"e.dat"_qs, QByteArray("data")}});
    QDir(folder.path()).mkpath(u"dest/inside"_qs);
    const Run extract = dat2file(
        {u"--force"_qs, u"--image"_qs, u"IMG.cue"_qs, u"E.DAT"_qs, u"dest"_qs}, folder.path());
    QCOMPARE(extract.status, 1);
    QVERIFY2(extract.errors.contains(u"a folder is never replaced"_qs), qPrintable(extract.errors));
    QVERIFY(QFileInfo(folder.filePath(u"dest/inside"_qs)).isDir());

    // A folder that cannot be written in: the system's reason.
    const Run nowhere =
        tolk({u"-v"_qs, u"V"_qs, u"-o"_qs, u"no/such/x"_qs, u"-m"_qs, data}, folder.path());
    QCOMPARE(nowhere.status, 1);
    QVERIFY2(nowhere.errors.contains(u"cannot create a file in \""_qs +
                                     shownPath(folder.path() + u"/no/such"_qs) +
                                     u"\" for \"x.bin\": "_qs + noSuchFolderText()),
             qPrintable(nowhere.errors));
}

void FaultsTest::twoBuildsOfOneNameAtOnce() {
    QTemporaryDir folder;
    const QByteArray data = randomBytes(40'000'000, 9);
    const QString file = writeFile(folder.path(), u"in.dat"_qs, data);
    QProcess first, second;
    for (QProcess* build : {&first, &second}) {
        build->setWorkingDirectory(folder.path());
        startTool(*build, tolkProgram(), {u"-v"_qs, u"C"_qs, u"-o"_qs, u"same"_qs, u"-m"_qs, file});
    }
    QVERIFY(first.waitForFinished(120000) && second.waitForFinished(120000));
    QCOMPARE(first.exitCode() + second.exitCode(), 1); // one wins, the other refuses
    QProcess& loser = first.exitCode() == 1 ? first : second;
    const QString said = QString::fromUtf8(loser.readAllStandardError());
    QVERIFY2(said.contains(u"appeared meanwhile"_qs) || said.contains(u"exists already"_qs),
             qPrintable(said));
    QCOMPARE(everythingIn(folder.path()),
             (QStringList{u"in.dat"_qs, u"same.bin"_qs, u"same.cue"_qs, u"same.toc"_qs}));
    const Run back =
        dat2file({u"--image"_qs, u"same.cue"_qs, u"IN.DAT"_qs, u"back"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    QVERIFY(readFile(folder.filePath(u"back"_qs)) == data);
}

void FaultsTest::twoExtractionsIntoOneDestination() {
    QTemporaryDir folder;
    const QByteArray big = randomBytes(30'000'000, 10), small = randomBytes(50'000, 11);
    buildImage(folder.path(), {{u"big.dat"_qs, big}, {u"small.dat"_qs, small}});
    QProcess bigRun, smallRun;
    const QList<std::pair<QProcess*, QString>> runs = {{&bigRun, u"BIG.DAT"_qs},
                                                       {&smallRun, u"SMALL.DAT"_qs}};
    for (const auto& [process, name] : runs) {
        process->setWorkingDirectory(folder.path());
        startTool(*process, dat2fileProgram(), {u"--image"_qs, u"IMG.cue"_qs, name, u"dest"_qs});
    }
    QVERIFY(bigRun.waitForFinished(120000) && smallRun.waitForFinished(120000));
    QCOMPARE(bigRun.exitCode() + smallRun.exitCode(), 1);
    // What the winner reports is what stands at the destination.
    const QByteArray standing = readFile(folder.filePath(u"dest"_qs));
    QVERIFY(standing == (bigRun.exitCode() == 0 ? big : small));
    QVERIFY(everythingIn(folder.path()).filter(u".tmp"_qs).isEmpty());
}

void FaultsTest::fileChangedDuringBuildIsDetected() {
    QTemporaryDir folder;
    const QString file = tryMakeFile(folder.path(), u"big.dat"_qs, 300'000'000);
    QVERIFY(!file.isEmpty());
    QProcess build;
    build.setWorkingDirectory(folder.path());
    startTool(build, tolkProgram(), {u"-v"_qs, u"V"_qs, u"-o"_qs, u"changed"_qs, u"-m"_qs, file});
    QString errors;
    while (build.state() != QProcess::NotRunning &&
           !errors.contains(QRegularExpression(u"progress [0-9]+% file"_qs))) {
        build.waitForReadyRead(50);
        errors += QString::fromUtf8(build.readAllStandardError());
    }
    {
        QFile rewrite(file); // same size, one byte different, written in place
        QVERIFY(rewrite.open(QIODevice::ReadWrite));
        rewrite.seek(1000);
        rewrite.write("x");
    }
    QVERIFY(build.waitForFinished(120000));
    errors += QString::fromUtf8(build.readAllStandardError());
    if (build.exitCode() == 0)
        QSKIP("the build ended before the file was changed");
    QCOMPARE(build.exitCode(), 1);
    QVERIFY2(errors.contains(u"was changed while it was read"_qs), qPrintable(errors));
    QCOMPARE(everythingIn(folder.path()), QStringList{u"big.dat"_qs});
}

void FaultsTest::fullDiskLeavesNothingOfTheExtraction() {
    const SmallDisk disk(256 * 1024);
    if (disk.path.isEmpty())
        QSKIP(qPrintable(disk.why));
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"a.dat"_qs, randomBytes(3'000'000, 12)}});
    const Run full = dat2file(
        {u"--image"_qs, folder.filePath(u"IMG.cue"_qs), u"A.DAT"_qs, disk.path + u"/out"_qs},
        folder.path());
    QCOMPARE(full.status, 1);
    QVERIFY2(full.errors.contains(diskFullText()), qPrintable(full.errors));
    QCOMPARE(everythingIn(disk.path), QStringList());
}

void FaultsTest::staleTemporaryFilesAreRemoved() {
    // Left by runs that were killed (no process 999999 runs: pids stay below 2^22).
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"a.dat"_qs, QByteArray("a")}});
    const QStringList stale = {u".K.bin.velmora_tolk-999999-0.tmp"_qs,
                               u".out.dat2file-999999-3.tmp"_qs};
    const QStringList notOurs = {u".K.bin.velmora_tolk-999999-x.tmp"_qs,
                                 u".K.bin.other-9-0.tmp"_qs};
    for (const QString& name : stale + notOurs)
        writeFile(folder.path(), name, "left");
    QCOMPARE(tolk({u"-v"_qs, u"V"_qs, u"-o"_qs, u"K"_qs, u"-m"_qs, folder.filePath(u"a.dat"_qs)},
                  folder.path())
                 .status,
             0);
    QCOMPARE(dat2file({u"--image"_qs, u"IMG.cue"_qs, u"A.DAT"_qs, u"out"_qs}, folder.path()).status,
             0);
    for (const QString& name : stale)
        QVERIFY2(!QFile::exists(folder.filePath(name)), qPrintable(name));
    for (const QString& name : notOurs)
        QVERIFY2(QFile::exists(folder.filePath(name)), qPrintable(name));
}

// A run in another PID namespace names its temporaries with a number that means nothing here;
// its lock on them says that it lives. Once it ends (the lock gone), they are stale.
void FaultsTest::temporariesOfALiveRunAreKeptWhereverItRuns() {
    if (testingWindowsTools())
        QSKIP("Windows has one process table: a run's number is known wherever it runs");
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"a.dat"_qs, QByteArray("a")}});
    const QString file = writeFile(folder.path(), u".K.bin.velmora_tolk-999999-0.tmp"_qs, "live");
    const QString under = folder.filePath(u".out.dat2file-999999-1.tmp"_qs);
    QVERIFY(QDir().mkpath(under));
    std::vector<int> locks;
    for (const QString& path : {file, under}) {
        locks.push_back(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        QVERIFY(locks.back() >= 0 && ::flock(locks.back(), LOCK_EX | LOCK_NB) == 0);
    }
    const QStringList build = {u"-v"_qs, u"V"_qs,  u"-o"_qs,
                               u"K"_qs,  u"-m"_qs, folder.filePath(u"a.dat"_qs)};
    QCOMPARE(tolk(build, folder.path()).status, 0);
    QCOMPARE(dat2file({u"IMG.cue"_qs, u"whole"_qs}, folder.path()).status, 0);
    QVERIFY(QFile::exists(file) && QFileInfo(under).isDir());
    for (const int lock : locks)
        ::close(lock);
    QCOMPARE(tolk({u"--force"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs, u"K"_qs, u"-m"_qs,
                   folder.filePath(u"a.dat"_qs)},
                  folder.path())
                 .status,
             0);
    QCOMPARE(dat2file({u"IMG.cue"_qs, u"again"_qs}, folder.path()).status, 0);
    QVERIFY(!QFile::exists(file));
    QVERIFY(!QFileInfo::exists(under));
}

void FaultsTest::readOnlyFolderIsNamedWithItsReason() {
    const SmallDisk disk(256 * 1024, true);
    if (disk.path.isEmpty())
        QSKIP(qPrintable(disk.why));
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"a.dat"_qs, QByteArray("a")}});
    const Run build = tolk(
        {u"-v"_qs, u"V"_qs, u"-o"_qs, u"K"_qs, u"-m"_qs, folder.filePath(u"a.dat"_qs)}, disk.path);
    const Run extract = dat2file(
        {u"--image"_qs, folder.filePath(u"IMG.cue"_qs), u"A.DAT"_qs, disk.path + u"/out"_qs},
        folder.path());
    for (const Run& run : {build, extract}) {
        QCOMPARE(run.status, 1);
        QVERIFY2(run.errors.contains(readOnlyText()), qPrintable(run.errors));
        // The folder by its whole path, though the build ran in it.
        QVERIFY2(run.errors.contains(u"in \""_qs + shownPath(disk.path) + u'"'),
                 qPrintable(run.errors));
    }
    QCOMPARE(everythingIn(disk.path), QStringList());
}

void FaultsTest::tenThousandFilesAllComeBack_data() {
    QTest::addColumn<bool>("repair");
    QTest::newRow("without repair data") << false;
    QTest::newRow("with the default repair data") << true; // a list of some 500 sectors
}

void FaultsTest::tenThousandFilesAllComeBack() {
    // Every file's length and sum as the list gives them, and a sample of the files extracted.
    QFETCH(bool, repair);
    QTemporaryDir folder;
    const QString sources = folder.filePath(u"in"_qs);
    QStringList arguments = {u"-v"_qs, u"MANY"_qs, u"-o"_qs, u"many"_qs, u"-m"_qs};
    QHash<QString, QByteArray> sums;
    QByteArray list;
    for (int i = 0; i < 10000; ++i) {
        const QString name = u"f%1.dat"_qs.arg(i, 5, 10, QChar(u'0'));
        const QByteArray data = randomBytes(i % 3000, quint32(i));
        const QString file = writeFile(sources, name, data);
        arguments.append(file);
        list += file.toUtf8() + "\r\n";
        sums.insert(name.toUpper(),
                    QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex() + ' ' +
                        QByteArray::number(data.size()));
    }
    // A Windows command line holds 32,767 characters: the names go in a list there.
    if (testingWindowsTools())
        arguments = {u"-v"_qs,           u"MANY"_qs,
                     u"-o"_qs,           u"many"_qs,
                     u"--files-from"_qs, writeFile(folder.path(), u"names.txt"_qs, list)};
    const Run built =
        repair ? run(tolkProgram(), arguments, folder.path()) : tolk(arguments, folder.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors.right(500)));
    const Run listed = dat2file({u"--list"_qs, u"many.cue"_qs}, folder.path());
    QCOMPARE(listed.status, 0);
    int seen = 0;
    for (const QString& line : listed.output.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u"# repair data"_qs))
            continue;
        const QStringList fields = line.simplified().split(u' ');
        QCOMPARE(fields.size(), 4);
        QCOMPARE((fields[2] + u' ' + fields[1]).toLatin1(), sums.value(fields[0]));
        ++seen;
    }
    QCOMPARE(seen, 10000);
    for (int i = 0; i < 10000; i += 997) {
        const QString name = u"f%1.dat"_qs.arg(i, 5, 10, QChar(u'0'));
        const Run back = dat2file({u"--image"_qs, u"many.cue"_qs, name, u"back"_qs, u"--force"_qs},
                                  folder.path());
        QVERIFY2(back.status == 0, qPrintable(back.errors));
        QVERIFY(readFile(folder.filePath(u"back"_qs)) == readFile(sources + u'/' + name));
    }
    if (repair) { // every sector as its check table entry says
        const Run check = dat2file({u"--check"_qs, u"many.cue"_qs}, folder.path());
        QVERIFY2(check.status == 0 && check.output.contains(u"no code word lost a sector"_qs),
                 qPrintable(check.output.right(500) + check.errors.right(500)));
    }
}

// What a path names when it is no file to read: each said for what it is, within a second, and
// never waited on (a FIFO would wait for a writer forever).
void FaultsTest::whatIsNoFileIsNamedAtOnce_data() {
    QTest::addColumn<QStringList>("arguments"); // "@" stands for the scratch folder
    QTest::addColumn<QString>("said");
    QTest::newRow("FIFO as source") << QStringList{u"@/fifo"_qs, u"@/out"_qs}
                                    << u"\"@/fifo\" is a FIFO, not a file or a drive"_qs;
    QTest::newRow("FIFO as image") << QStringList{u"--image"_qs, u"@/fifo"_qs, u"A"_qs, u"@/out"_qs}
                                   << u"\"@/fifo\" is a FIFO, not a file or a drive"_qs;
    QTest::newRow("FIFO listed") << QStringList{u"--list"_qs, u"@/fifo"_qs}
                                 << u"\"@/fifo\" is a FIFO, not a file or a drive"_qs;
    QTest::newRow("FIFO named by a cue sheet") << QStringList{u"--list"_qs, u"@/fifo.cue"_qs}
                                               << u"\"@/fifo\" is a FIFO, not a file or a drive"_qs;
    QTest::newRow("folder as source") << QStringList{u"@/folder"_qs, u"@/out"_qs}
                                      << u"\"@/folder\" is a folder, not a file or a drive"_qs;
    QTest::newRow("link loop as image")
        << QStringList{u"--image"_qs, u"@/loop"_qs, u"A"_qs, u"@/out"_qs}
        << u"\"@/loop\" is a symbolic link that leads round in a loop"_qs;
    QTest::newRow("empty image") << QStringList{u"--image"_qs, u"@/empty.bin"_qs, u"A"_qs,
                                                u"@/out"_qs}
                                 << u"\"@/empty.bin\" is empty (0 bytes): not an image"_qs;
    QTest::newRow("endless device as image")
        << QStringList{u"--list"_qs, u"/dev/zero"_qs}
        << u"\"/dev/zero\" is a character device, not a file or a drive"_qs;
    // An image of 2048-byte blocks is read as one: a descriptor and nothing more.
    QTest::newRow("2048-byte image")
        << QStringList{u"--list"_qs, u"@/plain.iso"_qs}
        << u"the root folder's record in the volume descriptor at sector 16 is damaged"_qs;
    QTest::newRow("2048-byte image as source")
        << QStringList{u"@/plain.iso"_qs, u"@/out"_qs}
        << u"the root folder's record in the volume descriptor at sector 16 is damaged"_qs;
    QTest::newRow("CD-i disc") << QStringList{u"@/cdi.iso"_qs, u"@/out"_qs}
                               << u"this is a CD-i disc: its file system is the Green Book's"_qs;
}

void FaultsTest::whatIsNoFileIsNamedAtOnce() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    if (testingWindowsTools() && QString::fromLatin1(QTest::currentDataTag())
                                     .contains(QRegularExpression(u"FIFO|loop|device"_qs)))
        QSKIP("Windows shows no FIFO, link loop or device in a folder");
    QTemporaryDir folder;
    const QString at = folder.path();
    QVERIFY(::mkfifo(QFile::encodeName(at + u"/fifo"_qs).constData(), 0600) == 0);
    writeFile(at, u"fifo.cue"_qs,
              "FILE \"fifo\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n");
    QDir(at).mkdir(u"folder"_qs);
    QFile::link(at + u"/loop"_qs, at + u"/loop"_qs);
    writeFile(at, u"empty.bin"_qs, {});
    QByteArray plain(20 * 2048, '\0');
    plain.replace(16 * 2048, 6,
                  QByteArray("\x01"
                             "CD001",
                             6));
    writeFile(at, u"plain.iso"_qs, plain);
    plain.replace(16 * 2048, 6,
                  QByteArray("\x01"
                             "CD-I ",
                             6));
    writeFile(at, u"cdi.iso"_qs, plain);
    arguments.replaceInStrings(u"@"_qs, at);
    QElapsedTimer clock;
    clock.start();
    const Run run = dat2file(arguments, at);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(run.errors));
    QCOMPARE(run.status, 1);
    QVERIFY2(run.errors.startsWith(u"dat2file: "_qs + QString(said).replace(u"@"_qs, at)),
             qPrintable(run.errors));
    QVERIFY(!QFile::exists(at + u"/out"_qs));
}

// --force replaces a file, never what only looks like one from its name.
void FaultsTest::forceReplacesOnlyAFile() {
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"a.dat"_qs, QByteArray("a")}});
    const QString cue = folder.filePath(u"IMG.cue"_qs);
    QVERIFY(QFile::link(u"/dev/null"_qs, folder.filePath(u"mynull"_qs)));
    QVERIFY(::mkfifo(QFile::encodeName(folder.filePath(u"fifo"_qs)).constData(), 0600) == 0);
    const QList<std::pair<QString, QString>> cases = {
        {u"mynull"_qs, u"is a character device; only a file is ever replaced"_qs},
        {u"fifo"_qs, u"is a FIFO; only a file is ever replaced"_qs},
    };
    for (const auto& [name, said] : cases) {
        if (testingWindowsTools())
            break; // Windows shows no device or FIFO in a folder
        const Run run =
            dat2file({u"--force"_qs, u"--image"_qs, cue, u"A.DAT"_qs, folder.filePath(name)},
                     folder.path(), 10000);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.errors.contains(said), qPrintable(run.errors));
    }
    QVERIFY(QFileInfo(folder.filePath(u"mynull"_qs)).isSymLink());
    QVERIFY(!QFileInfo(folder.filePath(u"fifo"_qs)).isFile());
    // A file, or a link to one, is replaced.
    writeFile(folder.path(), u"old"_qs, "old");
    QVERIFY(QFile::link(folder.filePath(u"old"_qs), folder.filePath(u"link"_qs)));
    for (const QString& name : {u"old"_qs, u"link"_qs})
        QCOMPARE(dat2file({u"--force"_qs, u"--image"_qs, cue, u"A.DAT"_qs, folder.filePath(name)},
                          folder.path())
                     .status,
                 0);
    QCOMPARE(readFile(folder.filePath(u"old"_qs)), QByteArray("a"));
}

// Names up to the system's limit: the temporary names are shortened, never the user's.
void FaultsTest::longestNamesFitWithTheirTemporaryNames() {
    QTemporaryDir folder;
    buildImage(folder.path(), {{u"a.dat"_qs, QByteArray("data")}});
    for (const int length : {232, 250, 255}) {
        const QString name = QString(length - 4, u'é').left(length / 2 - 2) + u".dat"_qs;
        QCOMPARE(QFile::encodeName(name).size(), length % 2 == 0 ? length : length - 1);
        const Run run = dat2file(
            {u"--image"_qs, folder.filePath(u"IMG.cue"_qs), u"A.DAT"_qs, folder.filePath(name)},
            folder.path());
        QVERIFY2(run.status == 0, qPrintable(run.errors));
        QCOMPARE(readFile(folder.filePath(name)), QByteArray("data"));
    }
    const QString image = QString(246, u'k');
    const Run built =
        tolk({u"-v"_qs, u"V"_qs, u"-o"_qs, image, u"-m"_qs, folder.filePath(u"a.dat"_qs)},
             folder.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    QVERIFY(QFile::exists(folder.filePath(image + u".bin"_qs)));
}

// Sectors stored from their subheader on (2336 bytes, as some writers keep Mode 2), known by
// their content alone.
void FaultsTest::imageOf2336ByteSectorsIsRead() {
    QTemporaryDir folder;
    const QByteArray data = randomBytes(100000, 9);
    buildImage(folder.path(), {{u"clip.mpg"_qs, data}});
    const QByteArray raw = readFile(folder.filePath(u"IMG.bin"_qs));
    QByteArray stored;
    for (qsizetype at = 0; at < raw.size(); at += 2352)
        stored += raw.mid(at + 16, 2336);
    writeFile(folder.path(), u"short.bin"_qs, stored);
    const Run one = dat2file({u"--image"_qs, folder.filePath(u"short.bin"_qs), u"clip.mpg"_qs,
                              folder.filePath(u"one.mpg"_qs)},
                             folder.path());
    QVERIFY2(one.status == 0, qPrintable(one.errors));
    QCOMPARE(readFile(folder.filePath(u"one.mpg"_qs)), data);
    const Run all = dat2file({folder.filePath(u"short.bin"_qs), folder.filePath(u"x/short.bin"_qs)},
                             folder.path());
    QVERIFY2(all.status == 0, qPrintable(all.errors));
    QCOMPARE(readFile(folder.filePath(u"x/short/clip.mpg"_qs)), data);
}

// A disk whose blocks under ten sectors of an image cannot be read: those ten sectors are lost
// and no more. Without repair data the one file they lie in is a damaged copy naming exactly
// them; with it, every file comes back.
void FaultsTest::readErrorOfAnImageCostsOnlyItsSectors() {
#ifndef READFAULT_SHIM
    QSKIP("no preloadable library here");
#else
    if (testingWindowsTools())
        QSKIP("the Windows tools read through wine, which a preloaded library does not see");
    constexpr qint64 kRaw = 2352, kData = 2324;
    QTemporaryDir folder;
    QMap<QString, QByteArray> files;
    QStringList inputs;
    for (int i = 0; i < 8; ++i) {
        const QString name = u"clip%1.mpg"_qs.arg(i);
        files.insert(name, randomBytes(500'000 + i * 1000, quint32(40 + i)));
        inputs << writeFile(folder.filePath(u"in"_qs), name, files[name]);
    }
    for (const bool repair : {false, true}) {
        const QString image = repair ? u"WITH"_qs : u"WITHOUT"_qs;
        QStringList arguments;
        if (!repair)
            arguments << u"--repair"_qs << u"off"_qs;
        const Run built =
            run(tolkProgram(),
                arguments + QStringList{u"-v"_qs, u"V"_qs, u"-o"_qs, image, u"-m"_qs} + inputs,
                folder.path());
        QCOMPARE(built.status, 0);
        // Ten sectors well inside the fourth file: the files lie one after the other from
        // about sector 25, 216 sectors each.
        const qint64 first = 40 + 3 * ((500'000 + kData - 1) / kData) + 100;
        qputenv("VELMORA_FAULT_FILE", (u"/"_qs + image + u".bin"_qs).toUtf8());
        qputenv("VELMORA_FAULT_FROM", QByteArray::number(first * kRaw));
        qputenv("VELMORA_FAULT_TO", QByteArray::number((first + 10) * kRaw));
        qputenv("LD_PRELOAD", READFAULT_SHIM);
        // A tool built with the address sanitizer wants its runtime first; ours comes first.
        const QByteArray sanitizer = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS",
                sanitizer + (sanitizer.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
        const Run back = run(dat2fileProgram(), {image + u".cue"_qs, image}, folder.path());
        const Run checked =
            run(dat2fileProgram(), {u"--check"_qs, image + u".cue"_qs}, folder.path());
        qunsetenv("LD_PRELOAD");
        qputenv("ASAN_OPTIONS", sanitizer);
        const QMap<QString, QByteArray> out = filesUnder(folder.filePath(image));
        QStringList damaged;
        for (auto it = out.cbegin(); it != out.cend(); ++it) {
            if (it.key().endsWith(u".damaged.ranges"_qs))
                continue;
            if (it.key().endsWith(u".damaged"_qs)) {
                damaged << it.key();
                continue;
            }
            QVERIFY2(it.value() == files.value(it.key()), qPrintable(it.key()));
        }
        if (repair) {
            QCOMPARE(back.status, 0);
            QVERIFY2(
                back.output.contains(u"10 sectors unreadable, 10 rebuilt, 0 not rebuildable"_qs),
                qPrintable(back.output));
            QCOMPARE(damaged, QStringList());
            QCOMPARE(out.size(), 8);
            QCOMPARE(checked.status, 4);
            continue;
        }
        QCOMPARE(back.status, 3);
        QCOMPARE(damaged.size(), 1);
        QCOMPARE(checked.status, 3);
        // The ranges name exactly the ten sectors, each with the system's reason.
        const QString name = damaged.first().chopped(8);
        const QStringList lines = QString::fromUtf8(out.value(name + u".damaged.ranges"_qs))
                                      .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QStringList fields = lines[1].split(u' ');
        QCOMPARE(fields[1].toLongLong() - fields[0].toLongLong() + 1, 10 * kData);
        QCOMPARE(fields[2], u"%1-%2"_qs.arg(first).arg(first + 9));
        QVERIFY2(lines[1].contains(u"Input/output error"_qs), qPrintable(lines[1]));
        QByteArray copy = out.value(damaged.first()), original = files.value(name);
        const qint64 at = fields[0].toLongLong();
        QCOMPARE(copy.remove(at, 10 * kData), original.remove(at, 10 * kData));
    }
#endif
}

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
