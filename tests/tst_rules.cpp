// SPDX-License-Identifier: GPL-3.0-or-later
// The rules as pure functions: full path, size in kilobytes, command lines, destination piece,
// drive roots, splitting a command line and finding a program.

#include "browse/sourcerules.h"
#include "platform/commandlinesplit.h"
#include "platform/filenamecodec.h"
#include "platform/messagebox.h"
#include "platform/pathrules.h"
#include "platform/programlookup.h"
#include "testfiles.h"
#include "tools/commandlines.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

class RulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fullPathHasOneSeparator_data();
    void fullPathHasOneSeparator();
    void sizeRoundsHalfToEvenAndBoundIsAbove400_data();
    void sizeRoundsHalfToEvenAndBoundIsAbove400();
    void imageBuildCommandLine_data();
    void imageBuildCommandLine();
    void extractionCommandLine_data();
    void extractionCommandLine();
    void driveRootIsLongestMountOnFolderBoundary_data();
    void driveRootIsLongestMountOnFolderBoundary();
    void splittingGivesBackTheJoinedArguments_data();
    void splittingGivesBackTheJoinedArguments();
    void programLookupNeverUsesTheCurrentFolder();
    void displayKeepsOneLineBreakPerCarriageReturn_data();
    void displayKeepsOneLineBreakPerCarriageReturn();
    void fileNamesKeepTheirBytes();
};

void RulesTest::fullPathHasOneSeparator_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows root") << u"C:\\"_qs << u"A.DAT"_qs << QChar(u'\\') << u"C:\\A.DAT"_qs;
    QTest::newRow("windows folder")
        << u"C:\\DATA"_qs << u"A.DAT"_qs << QChar(u'\\') << u"C:\\DATA\\A.DAT"_qs;
    QTest::newRow("posix root") << u"/"_qs << u"a.dat"_qs << QChar(u'/') << u"/a.dat"_qs;
    QTest::newRow("posix folder") << u"/data"_qs << u"a.dat"_qs << QChar(u'/') << u"/data/a.dat"_qs;
    QTest::newRow("blanks and accents kept")
        << u"/Données d'été"_qs << u" a b.BIN"_qs << QChar(u'/') << u"/Données d'été/ a b.BIN"_qs;
}

void RulesTest::fullPathHasOneSeparator() {
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QFETCH(QChar, separator);
    QFETCH(QString, expected);
    QCOMPARE(fullPath(folder, file, separator), expected);
}

void RulesTest::sizeRoundsHalfToEvenAndBoundIsAbove400_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("kilobytes");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << qint64(0) << qint64(0) << false;
    QTest::newRow("half of one goes to even 0") << qint64(512) << qint64(0) << false;
    QTest::newRow("one and a half goes to even 2") << qint64(1536) << qint64(2) << false;
    QTest::newRow("400 KB") << qint64(409600) << qint64(400) << false;
    QTest::newRow("400.5 KB goes to even 400") << qint64(410112) << qint64(400) << false;
    QTest::newRow("one byte more") << qint64(410113) << qint64(401) << true;
    QTest::newRow("401 KB") << qint64(410624) << qint64(401) << true;
    QTest::newRow("401.5 KB goes to even 402") << qint64(411136) << qint64(402) << true;
    QTest::newRow("2 GiB") << (qint64(1) << 31) << qint64(2097152) << true;
    QTest::newRow("5 GiB") << qint64(5) * 1024 * 1024 * 1024 << qint64(5242880) << true;
    QTest::newRow("negative") << qint64(-1) << qint64(0) << false;
    QTest::newRow("negative half to even") << qint64(-1536) << qint64(-2) << false;
}

void RulesTest::sizeRoundsHalfToEvenAndBoundIsAbove400() {
    QFETCH(qint64, bytes);
    QFETCH(qint64, kilobytes);
    QFETCH(bool, accepted);
    QCOMPARE(sizeInKilobytes(bytes), kilobytes);
    QCOMPARE(sizeAccepted(sizeInKilobytes(bytes)), accepted);
}

void RulesTest::imageBuildCommandLine_data() {
    QTest::addColumn<QString>("toolBox");
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("expected");
    QTest::newRow("example")
        << QString() << u"Kestrel"_qs << u"Kestrel"_qs
        << QStringList{u"C:\\data\\a.bin"_qs, u"C:\\data\\b.bin"_qs}
        << uR"("velmora_tolk.exe" -v "Kestrel" -o "Kestrel" -m  "C:\data\a.bin" "C:\data\b.bin")"_qs;
    QTest::newRow("one entry, blanks kept everywhere")
        << u"/opt/my tools/velmora_tolk"_qs << u"  "_qs << u"Été 1"_qs
        << QStringList{u"/home/u/Données d'été/a b.bin"_qs}
        << uR"("/opt/my tools/velmora_tolk" -v "  " -o "Été 1" -m  "/home/u/Données d'été/a b.bin")"_qs;
    QTest::newRow("duplicates stand twice")
        << u"t"_qs << u"V"_qs << u"I"_qs << QStringList{u"/a.bin"_qs, u"/a.bin"_qs}
        << uR"("t" -v "V" -o "I" -m  "/a.bin" "/a.bin")"_qs;
}

void RulesTest::imageBuildCommandLine() {
    QFETCH(QString, toolBox);
    QFETCH(QString, volume);
    QFETCH(QString, image);
    QFETCH(QStringList, entries);
    QFETCH(QString, expected);
    const QString program = programOrDefault(toolBox, u"velmora_tolk.exe"_qs);
    QCOMPARE(velmora::imageBuildCommandLine(program, volume, image, quotedFileList(entries)),
             expected);
}

void RulesTest::extractionCommandLine_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<qsizetype>("rootLength");
    QTest::addColumn<QString>("storage");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("expected"); // empty: the entry has no destination piece
    const QChar backslash = u'\\';
    QTest::newRow("example")
        << u"E:\\Folder\\Name.ext"_qs << qsizetype(3) << u"D:\\Out\\"_qs << backslash
        << uR"("dat2file.exe" "E:\Folder\Name.ext"  "D:\Out\Folder\Name.ext")"_qs;
    QTest::newRow("separator put in after the storage path")
        << u"E:\\Folder\\Name.ext"_qs << qsizetype(3) << u"D:\\Out"_qs << backslash
        << uR"("dat2file.exe" "E:\Folder\Name.ext"  "D:\Out\Folder\Name.ext")"_qs;
    QTest::newRow("version suffix dropped")
        << u"E:\\CLIP1.DAT;1"_qs << qsizetype(3) << u"D:\\"_qs << backslash
        << uR"("dat2file.exe" "E:\CLIP1.DAT;1"  "D:\CLIP1.DAT")"_qs;
    QTest::newRow("a semicolon without digits stays")
        << u"E:\\a;b;"_qs << qsizetype(3) << u"D:\\"_qs << backslash
        << uR"("dat2file.exe" "E:\a;b;"  "D:\a;b;")"_qs;
    QTest::newRow("one character") << u"C:\\A"_qs << qsizetype(3) << u"D:\\"_qs << backslash
                                   << uR"("dat2file.exe" "C:\A"  "D:\A")"_qs;
    QTest::newRow("the root alone: none")
        << u"C:\\"_qs << qsizetype(3) << u"D:\\"_qs << backslash << QString();
    QTest::newRow("a version alone: none")
        << u"C:\\;1"_qs << qsizetype(3) << u"D:\\"_qs << backslash << QString();
    QTest::newRow("posix root volume")
        << u"/home/u/a b.bin"_qs << qsizetype(1) << u"/out/"_qs << QChar(u'/')
        << uR"("dat2file.exe" "/home/u/a b.bin"  "/out/home/u/a b.bin")"_qs;
    QTest::newRow("posix mounted cd, storage path from the folder list")
        << u"/media/cd/Folder/holiday.avi"_qs << qsizetype(10) << u"/home/u/out"_qs << QChar(u'/')
        << uR"("dat2file.exe" "/media/cd/Folder/holiday.avi"  "/home/u/out/Folder/holiday.avi")"_qs;
    QTest::newRow("no drive root")
        << u"abcdef"_qs << qsizetype(0) << u"/out"_qs << QChar(u'/') << QString();
}

void RulesTest::extractionCommandLine() {
    QFETCH(QString, entry);
    QFETCH(qsizetype, rootLength);
    QFETCH(QString, storage);
    QFETCH(QChar, separator);
    QFETCH(QString, expected);
    const std::optional<QString> piece = destinationPiece(entry, rootLength);
    QCOMPARE(piece.has_value(), !expected.isEmpty());
    if (piece)
        QCOMPARE(
            velmora::extractionCommandLine(u"dat2file.exe"_qs, entry, storage, *piece, separator),
            expected);
}

void RulesTest::driveRootIsLongestMountOnFolderBoundary_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<qsizetype>("length");
    QTest::newRow("root volume") << u"/home/a.bin"_qs << qsizetype(1);
    QTest::newRow("mounted volume") << u"/media/cd/a.bin"_qs << qsizetype(10);
    QTest::newRow("mount with trailing separator") << u"/mnt/usb/a.bin"_qs << qsizetype(9);
    QTest::newRow("/media/cd is no prefix of /media/cdrom")
        << u"/media/cdrom/a.bin"_qs << qsizetype(7);
    QTest::newRow("not absolute") << u"media/cd/a.bin"_qs << qsizetype(0);
}

void RulesTest::driveRootIsLongestMountOnFolderBoundary() {
    QFETCH(QString, path);
    QFETCH(qsizetype, length);
    const QStringList roots = {u"/"_qs, u"/media/cd"_qs, u"/media"_qs, u"/mnt/usb/"_qs};
    QCOMPARE(driveRootLength(path, roots, u'/'), length);
}

void RulesTest::splittingGivesBackTheJoinedArguments_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("image build")
        << velmora::imageBuildCommandLine(u"/opt/a b/tool"_qs, u" V "_qs, u"I"_qs,
                                          quotedFileList({u"/x y/a.bin"_qs, u"C:\\b.bin"_qs}))
        << QStringList{u"/opt/a b/tool"_qs, u"-v"_qs,       u" V "_qs, u"-o"_qs, u"I"_qs, u"-m"_qs,
                       u"/x y/a.bin"_qs,    u"C:\\b.bin"_qs};
    QTest::newRow("extraction") << velmora::extractionCommandLine(u"t"_qs, u"/media/cd/AB"_qs,
                                                                  u"/out dir/"_qs, u"AB"_qs, u'/')
                                << QStringList{u"t"_qs, u"/media/cd/AB"_qs, u"/out dir/AB"_qs};
    QTest::newRow("empty quoted argument")
        << uR"("t" "" x)"_qs << QStringList{u"t"_qs, QString(), u"x"_qs};
    QTest::newRow("backslash is plain") << uR"(a\ "b\")"_qs << QStringList{u"a\\"_qs, u"b\\"_qs};
}

void RulesTest::splittingGivesBackTheJoinedArguments() {
    QFETCH(QString, commandLine);
    QFETCH(QStringList, arguments);
    QCOMPARE(splitCommandLine(commandLine), arguments);
}

void RulesTest::programLookupNeverUsesTheCurrentFolder() {
    QTemporaryDir own, onPath, current;
#ifdef Q_OS_WIN
    const QString ending = u".exe"_qs; // what makes a file a program there
#else
    const QString ending;
#endif
    const auto executable = [&](const QString& folder, const QString& name) {
        const QString path = test::makeFile(folder, name + ending, 1);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return QDir(folder).filePath(name + ending);
    };
    const QString ownTool = executable(own.path(), u"velmora_tolk"_qs);
    const QString pathTool = executable(onPath.path(), u"dat2file"_qs);
    executable(onPath.path(), u"velmora_tolk"_qs);
    executable(current.path(), u"planted"_qs);
    test::makeFile(onPath.path(), u"notexec"_qs, 1);
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(current.path());
    const QStringList searchPath = {u"relative"_qs, onPath.path()};

    QCOMPARE(findProgram(u"velmora_tolk"_qs, own.path(), searchPath), ownTool);
    QCOMPARE(findProgram(u"velmora_tolk.exe"_qs, own.path(), searchPath), ownTool);
    QCOMPARE(findProgram(u"dat2file.exe"_qs, own.path(), searchPath), pathTool);
    QCOMPARE(findProgram(u"planted"_qs, own.path(), searchPath), QString());
    QCOMPARE(findProgram(u"notexec"_qs, own.path(), searchPath), QString());
    QCOMPARE(findProgram(u".exe"_qs, own.path(), searchPath), QString());
    QCOMPARE(findProgram(u"./planted"_qs, own.path(), searchPath),
             QDir(current.path()).filePath(u"planted"_qs));
}

void RulesTest::displayKeepsOneLineBreakPerCarriageReturn_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR CR LF is an empty line") << u"a\r\r\nb"_qs << u"a\n\nb"_qs;
    QTest::newRow("CR LF is a line break") << u"a\r\nb"_qs << u"a\nb"_qs;
    QTest::newRow("LF alone") << u"a\nb"_qs << u"a\nb"_qs;
    QTest::newRow("lone CR kept") << u"a\rb\r"_qs << u"a\rb\r"_qs;
}

void RulesTest::displayKeepsOneLineBreakPerCarriageReturn() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(displayedMessage(text), shown);
}

QTEST_GUILESS_MAIN(RulesTest)
// Any name a folder may hold comes back to its bytes; UTF-8 reads as itself.
void RulesTest::fileNamesKeepTheirBytes() {
    const QString bad = decodeFileName("bad\xff\xfe.dat");
    QCOMPARE(bad, u"bad"_qs + QChar(0xDCFF) + QChar(0xDCFE) + u".dat"_qs);
    QVERIFY(holdsForeignBytes(bad));
    QCOMPARE(encodeFileName(bad), QByteArray("bad\xff\xfe.dat"));
    const QByteArray utf8 = QStringLiteral("Données d'été 日本 \U0001F600.dat").toUtf8();
    QCOMPARE(decodeFileName(utf8), QString::fromUtf8(utf8));
    QVERIFY(!holdsForeignBytes(decodeFileName(utf8)));
    // Not UTF-8 though close to it: an overlong '/', a surrogate, past U+10FFFF, cut short.
    for (const QByteArray& odd : {QByteArray("\xc0\xaf"), QByteArray("\xed\xa0\x80"),
                                  QByteArray("\xf4\x90\x80\x80"), QByteArray("\xe6\x97")}) {
        QVERIFY(holdsForeignBytes(decodeFileName(odd)));
        QCOMPARE(encodeFileName(decodeFileName(odd)), odd);
    }
    QRandomGenerator random(3);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(random.bounded(0, 40), Qt::Uninitialized);
        for (char& byte : bytes)
            byte = char(random.bounded(1, 256));
        QCOMPARE(encodeFileName(decodeFileName(bytes)), bytes);
    }
}

#include "tst_rules.moc"
