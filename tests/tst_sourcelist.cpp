// SPDX-License-Identifier: GPL-3.0-or-later
// The folder browser and the source list, driven through the window as the user drives them.

#include "app/form1.h"
#include "browse/texts.h"
#include "fakeservices.h"
#include "platform/controls.h"
#include "platform/filesystem.h"
#include "testfiles.h"
#include "windowfixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

namespace {

using test::Window;

} // namespace

class SourceListTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sizeRuleThroughDoubleClicks_data();
    void sizeRuleThroughDoubleClicks();
    void filesOver4GiBAreAccepted();
    void entriesKeepOrderAllowDuplicatesAndRemoveOneAtATime();
    void refusalLeavesListAndSelectionAsTheyWere();
    void doubleClickWithoutSelectionDoesNothing();
    void vanishedFileIsReportedAndChangesNothing();
    void browserChainFollowsTheCheckBox();
    void newDriveMovesFolderFilesAndStoragePath();
    void driveWithoutMediumIsReportedAndControlsAgree();
    void folderThatCannotBeOpenedIsReported();
};

void SourceListTest::sizeRuleThroughDoubleClicks_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("kilobytes");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0") << qint64(0) << qint64(0) << false;
    QTest::newRow("512") << qint64(512) << qint64(0) << false;
    QTest::newRow("1536") << qint64(1536) << qint64(2) << false;
    QTest::newRow("409600") << qint64(409600) << qint64(400) << false;
    QTest::newRow("410112") << qint64(410112) << qint64(400) << false;
    QTest::newRow("410113") << qint64(410113) << qint64(401) << true;
    QTest::newRow("410624") << qint64(410624) << qint64(401) << true;
    QTest::newRow("411136") << qint64(411136) << qint64(402) << true;
}

void SourceListTest::sizeRuleThroughDoubleClicks() {
    QFETCH(qint64, bytes);
    QFETCH(qint64, kilobytes);
    QFETCH(bool, accepted);
    QTemporaryDir folder;
    const QString path = test::makeFile(folder.path(), u"Données d'été.bin"_qs, bytes);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(folder.path()));

    window.doubleClickFile(u"Données d'été.bin"_qs);
    QCOMPARE(window.form.fileSizeKB(), kilobytes);
    QCOMPARE(services.callsTo(test::Service::FileLength).value(0).text, path);
    if (accepted) {
        QCOMPARE(window.List1()->entries(), QStringList{path});
        QCOMPARE(services.messages(), QStringList());
        QCOMPARE(window.List1()->ListIndex(), -1);
    } else {
        QCOMPARE(window.List1()->ListCount(), 0);
        QCOMPARE(services.messages(), QStringList{u"Taille fichier < 400 Ko"_qs});
        QCOMPARE(services.calls.constLast().style, MessageStyle::OkOnly);
    }
}

void SourceListTest::filesOver4GiBAreAccepted() {
    QTemporaryDir folder;
    const QString path = test::makeFile(folder.path(), u"big image.iso"_qs, qint64(5) << 30);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(folder.path()));
    window.doubleClickFile(u"big image.iso"_qs);
    QCOMPARE(window.form.fileSizeKB(), qint64(5242880));
    QCOMPARE(window.List1()->entries(), QStringList{path});
}

void SourceListTest::entriesKeepOrderAllowDuplicatesAndRemoveOneAtATime() {
    QTemporaryDir folder;
    const QString a = test::makeFile(folder.path(), u"a.bin"_qs, 500000);
    const QString b = test::makeFile(folder.path(), u"b.bin"_qs, 500000);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(folder.path()));
    for (const QString& name : {u"b.bin"_qs, u"a.bin"_qs, u"b.bin"_qs})
        window.doubleClickFile(name);
    QCOMPARE(window.List1()->entries(), (QStringList{b, a, b}));

    test::doubleClick(*window.List1(), window.List1()->model()->index(1, 0)); // the middle one
    QCOMPARE(window.List1()->entries(), (QStringList{b, b}));
    test::doubleClick(*window.List1(), window.List1()->model()->index(0, 0));
    QCOMPARE(window.List1()->entries(), QStringList{b});
    QVERIFY(services.calls.size() == 3); // three lengths asked, nothing else
}

void SourceListTest::refusalLeavesListAndSelectionAsTheyWere() {
    QTemporaryDir folder;
    const QString big = test::makeFile(folder.path(), u"big.bin"_qs, 500000);
    test::makeFile(folder.path(), u"small.bin"_qs, 100);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(folder.path()));
    window.doubleClickFile(u"big.bin"_qs);
    window.doubleClickFile(u"big.bin"_qs);
    test::click(*window.List1(), window.List1()->model()->index(1, 0));
    QCOMPARE(window.List1()->ListIndex(), 1);

    window.doubleClickFile(u"small.bin"_qs);
    QCOMPARE(services.messages(), QStringList{u"Taille fichier < 400 Ko"_qs});
    QCOMPARE(window.List1()->entries(), (QStringList{big, big}));
    QCOMPARE(window.List1()->ListIndex(), 1);
    QCOMPARE(window.form.fileSizeKB(), 0);
}

void SourceListTest::doubleClickWithoutSelectionDoesNothing() {
    QTemporaryDir folder;
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(folder.path())); // no files: nothing to select
    QTest::mouseDClick(window.File1()->viewport(), Qt::LeftButton);
    QTest::mouseDClick(window.List1()->viewport(), Qt::LeftButton);
    QVERIFY(services.calls.isEmpty());
    QCOMPARE(window.List1()->ListCount(), 0);
}

void SourceListTest::vanishedFileIsReportedAndChangesNothing() {
    QTemporaryDir folder;
    const QString kept = test::makeFile(folder.path(), u"kept.bin"_qs, 500000);
    const QString gone = test::makeFile(folder.path(), u"gone.bin"_qs, 500000);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(folder.path()));
    window.doubleClickFile(u"kept.bin"_qs);
    // The file goes before the list hears of it.
    const QSignalBlocker unheard(window.File1()->findChild<QFileSystemWatcher*>());
    QVERIFY(QFile::remove(gone));

    window.doubleClickFile(u"gone.bin"_qs);
    QCOMPARE(services.messages().size(), 1);
    const QString message = services.messages().constFirst();
    QVERIFY(message.startsWith(texts::kCannotReadSize));
    QVERIFY(message.contains(gone));
    QVERIFY(message.contains(u"No such file"_qs));
    QCOMPARE(services.calls.constLast().style, MessageStyle::Critical);
    QCOMPARE(window.List1()->entries(), QStringList{kept});
    QCOMPARE(window.form.fileSizeKB(), 488); // still the last size read
    QVERIFY(window.form.isVisible());
}

void SourceListTest::browserChainFollowsTheCheckBox() {
    QTemporaryDir root;
    const QString first = test::makeFolder(root.path(), u"first"_qs);
    const QString second = test::makeFolder(root.path(), u"second folder"_qs);
    test::makeFile(second, u"in second.bin"_qs, 1);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(first));

    // Unticked: the storage path keeps what was typed.
    window.Text3()->setText(u"typed by hand"_qs);
    window.doubleClickFolder(QDir(root.path()).dirName()); // up one folder
    QCOMPARE(window.Dir1()->Path(), QDir::toNativeSeparators(root.path()));
    QCOMPARE(window.Text3()->text(), u"typed by hand"_qs);

    // Ticking alone changes nothing; the next folder does.
    QTest::mouseClick(window.Check1(), Qt::LeftButton);
    QCOMPARE(window.Check1()->Value(), 1);
    QCOMPARE(window.Text3()->text(), u"typed by hand"_qs);

    QString filesWhenStorageChanged;
    connect(window.Text3(), &QLineEdit::textChanged, window.Text3(),
            [&] { filesWhenStorageChanged = window.File1()->Path(); });
    window.doubleClickFolder(u"second folder"_qs);
    QCOMPARE(window.Dir1()->Path(), second);
    QCOMPARE(window.Text3()->text(), second);  // character for character
    QCOMPARE(filesWhenStorageChanged, second); // the file list was refilled first
    QVERIFY(test::itemShowing(*window.File1(), u"in second.bin"_qs).isValid());

    // Unticked again: the last path copied stays, typing is kept.
    QTest::mouseClick(window.Check1(), Qt::LeftButton);
    window.Text3()->setText(u"again by hand"_qs);
    window.doubleClickFolder(QDir(root.path()).dirName());
    QCOMPARE(window.Text3()->text(), u"again by hand"_qs);
    QVERIFY(services.calls.isEmpty());
}

void SourceListTest::newDriveMovesFolderFilesAndStoragePath() {
    SKIP_WHERE_DRIVES_ARE_LETTERS();
    QTemporaryDir root;
    const QString driveA = test::makeFolder(root.path(), u"a"_qs);
    const QString driveB = test::makeFolder(root.path(), u"b"_qs);
    const QString deep = test::makeFolder(driveB, u"deep"_qs);
    test::makeFile(deep, u"deep.bin"_qs, 1);
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(driveA);
    test::FakeServices services;
    Window window(services, DriveTable({{driveA, u"A"_qs}, {driveB, u"B"_qs}}));
    QCOMPARE(window.Drive1()->Drive(), driveA + u" [A]"_qs);
    QTest::mouseClick(window.Check1(), Qt::LeftButton);

    window.Drive1()->setFocus();
    QTest::keyClick(window.Drive1(), Qt::Key_Down);
    QCOMPARE(window.Dir1()->Path(), driveB);
    QCOMPARE(window.File1()->Path(), driveB);
    QCOMPARE(window.Text3()->text(), driveB);

    window.doubleClickFolder(u"deep"_qs);
    QTest::keyClick(window.Drive1(), Qt::Key_Up);
    QCOMPARE(window.Text3()->text(), driveA);
    QTest::keyClick(window.Drive1(), Qt::Key_Down); // back where drive B was left
    QCOMPARE(window.Dir1()->Path(), deep);
    QCOMPARE(window.Text3()->text(), deep);
    QVERIFY(test::itemShowing(*window.File1(), u"deep.bin"_qs).isValid());
    QVERIFY(services.calls.isEmpty());
}

void SourceListTest::driveWithoutMediumIsReportedAndControlsAgree() {
    SKIP_WHERE_DRIVES_ARE_LETTERS();
    QTemporaryDir root;
    const QString driveA = test::makeFolder(root.path(), u"a"_qs);
    const QString empty = QDir::toNativeSeparators(root.path() + u"/no medium"_qs);
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(driveA);
    test::FakeServices services;
    Window window(services, DriveTable({{driveA, {}}, {empty, u"CD"_qs}}));
    QTest::mouseClick(window.Check1(), Qt::LeftButton);
    window.Text3()->setText(u"kept"_qs);

    window.Drive1()->setFocus();
    QTest::keyClick(window.Drive1(), Qt::Key_Down);
    QCOMPARE(services.messages().size(), 1);
    QVERIFY(services.messages().constFirst().startsWith(texts::kCannotOpenDrive));
    QVERIFY(services.messages().constFirst().contains(empty + u" [CD]"_qs));
    QCOMPARE(services.calls.constFirst().style, MessageStyle::Critical);
    QCOMPARE(window.Drive1()->Drive(), driveA);
    QCOMPARE(window.Dir1()->Path(), driveA);
    QCOMPARE(window.File1()->Path(), driveA);
    QCOMPARE(window.Text3()->text(), u"kept"_qs);
}

void SourceListTest::folderThatCannotBeOpenedIsReported() {
    QTemporaryDir root;
    const QString locked = test::makeFolder(root.path(), u"locked"_qs);
    const QString gone = test::makeFolder(root.path(), u"gone"_qs);
    test::FakeServices services;
    Window window(services);
    QVERIFY(window.Dir1()->setPath(root.path()));
    QTest::mouseClick(window.Check1(), Qt::LeftButton);
    window.Text3()->setText(u"kept"_qs);

    // The folder goes before the lists hear of it.
    const QSignalBlocker unheardFolders(window.Dir1()->findChild<QFileSystemWatcher*>());
    const QSignalBlocker unheardFiles(window.File1()->findChild<QFileSystemWatcher*>());
    QVERIFY(QDir(gone).removeRecursively());
    window.doubleClickFolder(u"gone"_qs);
    QCOMPARE(services.messages().size(), 1);
    QVERIFY(services.messages().constFirst().startsWith(texts::kCannotOpenFolder));
    QVERIFY(services.messages().constFirst().contains(gone));
    QCOMPARE(window.Dir1()->Path(), QDir::toNativeSeparators(root.path()));
    QCOMPARE(window.File1()->Path(), QDir::toNativeSeparators(root.path()));
    QCOMPARE(window.Text3()->text(), u"kept"_qs);

    QVERIFY(QFile::setPermissions(locked, QFile::WriteOwner));
    const bool stillOpen = openFolder(locked).ok;
    if (!stillOpen)
        window.doubleClickFolder(u"locked"_qs);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (stillOpen)
        QSKIP("permissions do not bind this user (the super-user)");
    QCOMPARE(services.messages().size(), 2);
    QVERIFY(services.messages().constLast().contains(locked));
    QCOMPARE(window.Dir1()->Path(), QDir::toNativeSeparators(root.path()));
}

QTEST_MAIN(SourceListTest)
#include "tst_sourcelist.moc"
