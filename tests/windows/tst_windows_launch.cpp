// SPDX-License-Identifier: GPL-3.0-or-later
// The window's launcher in its Windows form, really started: CreateProcessW given the program
// found beside the window or on PATH (never the storage folder's), the command line whole, and
// a build too long for one line handed over as a list of files. The drive rules of Windows.

#include "app/texts.h"
#include "platform/drives.h"
#include "platform/qtservices.h"
#include "testfiles.h"
#include "tools/texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

namespace {} // namespace

class WindowsLaunchTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void programIsFoundBesideTheWindowNeverInTheStorageFolder();
    void buildLongerThanALineHandsItsFilesOver();
    void drivesAreLettersAndSharesInAnyCase();

private:
    QTemporaryDir m_records;
};

void WindowsLaunchTest::initTestCase() {
    qputenv("VELMORA_ARGV_RECORD_DIR", QDir::toNativeSeparators(m_records.path()).toUtf8());
}

void WindowsLaunchTest::programIsFoundBesideTheWindowNeverInTheStorageFolder() {
    QTemporaryDir storage;
    // A program of the storage folder's own, under the name launched: never run.
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + u"/argv_recorder.exe"_qs,
                        storage.filePath(u"planted.exe"_qs)));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(storage.path()));
    QtServices services(velmora::texts::kApplicationTitle);
    const Outcome planted = services.launch(ToolCommand::fromLine(u"\"planted.exe\" x"_qs));
    QVERIFY(!planted);
    QVERIFY2(!planted.reason.isEmpty(), qPrintable(planted.reason));

    // The stand-in beside this program is found and given every argument as it stands.
    const Outcome started = services.launch(ToolCommand::fromLine(
        u"\"argv_recorder.exe\" \"a b\" \"café €\" \"日本語\" -m  \"C:\\x y\\z\""_qs));
    QVERIFY2(started, qPrintable(started.reason));
    QDir::setCurrent(before);
    const QList<test::Record> records = test::waitForRecords(m_records.path(), 1);
    QCOMPARE(records.size(), 1);
    QCOMPARE(QDir::fromNativeSeparators(records[0].folder), storage.path());
    QCOMPARE(records[0].arguments,
             (QStringList{u"a b"_qs, u"café €"_qs, u"日本語"_qs, u"-m"_qs, u"C:\\x y\\z"_qs}));
    QDir(m_records.path()).removeRecursively();
    QDir().mkpath(m_records.path());
}

// Windows starts no command line of 32,767 characters or more: the files of such a build go to
// the tool in a list (--files-from), the rest of the line as it stands.
void WindowsLaunchTest::buildLongerThanALineHandsItsFilesOver() {
    QStringList files;
    QString line = u"\"argv_recorder.exe\" -v \"V\" -o \"Kestrel\" -m "_qs;
    for (int i = 0; line.size() < 40000; ++i) {
        files.append(u"C:\\a rather long folder name\\of many files\\file %1 é.dat"_qs.arg(i));
        line += u" \""_qs + files.last() + u'"';
    }
    QtServices services(velmora::texts::kApplicationTitle);
    const Outcome started = services.launch(ToolCommand::fromLine(line));
    QVERIFY2(started, qPrintable(started.reason));
    const QList<test::Record> records = test::waitForRecords(m_records.path(), 1);
    QCOMPARE(records.size(), 1);
    const QStringList arguments = records[0].arguments;
    QCOMPARE(arguments.mid(0, 5),
             (QStringList{u"-v"_qs, u"V"_qs, u"-o"_qs, u"Kestrel"_qs, u"--files-from"_qs}));
    QCOMPARE(arguments.size(), 6);
    QFile list(arguments[5]);
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(list.readAll()).split(u"\r\n"_qs), files);
}

void WindowsLaunchTest::drivesAreLettersAndSharesInAnyCase() {
    const DriveTable drives = DriveTable::mounted();
    QStringList roots;
    for (const Volume& volume : drives.volumes())
        roots.append(volume.root);
    QVERIFY2(roots.contains(u"C:\\"_qs), qPrintable(roots.join(u' ')));
    QCOMPARE(roots.removeDuplicates(), 0); // each drive once
    QCOMPARE(drives.rootLength(u"c:\\Folder\\Name.ext"_qs), 3);
    QCOMPARE(drives.rootLength(u"C:/Folder/Name.ext"_qs), 3);
    QCOMPARE(drives.rootLength(u"\\\\server\\share\\Folder\\Name.ext"_qs), 15);
    QVERIFY(drives.volumeOf(u"c:\\windows"_qs).has_value());
    QCOMPARE(texts::kDefaultImageTool, u"velmora_tolk.exe"_qs);
}

QTEST_MAIN(WindowsLaunchTest)
#include "tst_windows_launch.moc"
