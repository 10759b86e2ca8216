// SPDX-License-Identifier: GPL-3.0-or-later
// The real services: processes really started (a stand-in tool records its arguments and its
// current folder), real message boxes and dialogs, real file lengths and folders.

#include "app/form1.h"
#include "app/texts.h"
#include "fakeservices.h"
#include "platform/controls.h"
#include "platform/filenamecodec.h"
#include "platform/messagebox.h"
#include "platform/qtservices.h"
#include "testfiles.h"
#include "toolrun.h"
#include "tools/commandlines.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

using namespace velmora;
using test::Record;
using test::waitForRecords;

namespace {

// The stand-in tool, built beside the tests, copied where a test wants it.
QString installRecorder(const QString& folder, const QString& name) {
    QDir().mkpath(folder);
    const QString target = QDir(folder).filePath(name);
    QFile::copy(QCoreApplication::applicationDirPath() + u"/argv_recorder"_qs, target);
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return QDir::toNativeSeparators(target);
}

// Answers the next modal dialog with `answer` once it is shown.
template <class Dialog> void whenShown(std::function<void(Dialog*)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            poll->stop();
            answer(dialog);
        }
    });
    poll->start();
}

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void buildLaunchesTheToolWithTheShownArgumentsInTheStorageFolder();
    void extractionLaunchesOncePerEntryInTheUnchangedFolder();
    void bareNamesAreFoundBesideTheProgramOrOnThePathNeverHere();
    void launchFailuresGiveTheSystemsReason();
    void fileLengthsAndFoldersComeFromTheSystem();
    void messageBoxHasTitleIconAndOneButton();
    void longMessageShowsAtOnceAndFitsTheScreen();
    void keyboardReturnsToTheWindowThatShowedTheBox();
    void longTextViewGivesBackItsText_data();
    void longTextViewGivesBackItsText();
    void openDialogOffersExecutablesAndMayBeClosedWithoutAChoice();
    void defaultToolsBuildAndExtractFromTheWindow();
    void buildFromTheWindowShowsItsOutcomeInAConsole();
    void imageBuiltInTheWindowComesBackFromIt_data();
    void imageBuiltInTheWindowComesBackFromIt();
    void tenExtractionsAreConfirmedWithEnterAlone();
    void nameThatIsNotUtf8ReachesTheToolToTheByte();

private:
    QTemporaryDir m_records;
};

void LaunchTest::init() {
    QDir(m_records.path()).removeRecursively();
    QDir().mkpath(m_records.path());
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(m_records.path()));
}

void LaunchTest::buildLaunchesTheToolWithTheShownArgumentsInTheStorageFolder() {
    QTemporaryDir temporary;
    const QString tool = installRecorder(temporary.path() + u"/my tools"_qs, u"velmora tolk"_qs);
    const QString storage = test::makeFolder(temporary.path(), u"stockage d'été"_qs);
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    services.realLaunch = true;
    Form1 window(services);
    window.findChild<TextBox*>(u"Velmora"_qs)->setText(tool);
    window.findChild<TextBox*>(u"Text3"_qs)->setText(storage);
    window.findChild<TextBox*>(u"Volume"_qs)->setText(u"Mon CD"_qs);
    auto* list = window.findChild<ListBox*>(u"List1"_qs);
    list->AddItem(u"/data/a b.bin"_qs);
    list->AddItem(u"C:\\data\\é.bin"_qs);

    QTest::mouseClick(window.findChild<CommandButton*>(u"Command1"_qs), Qt::LeftButton);
    QTest::mouseClick(window.findChild<CommandButton*>(u"Command1"_qs), Qt::LeftButton);
    const QList<Record> records = waitForRecords(m_records.path(), 2);
    QCOMPARE(records.size(), 2);
    for (const Record& record : records) {
        QCOMPARE(QFileInfo(record.folder).canonicalFilePath(),
                 QFileInfo(storage).canonicalFilePath());
        QCOMPARE(record.arguments,
                 (QStringList{u"-v"_qs, u"Mon CD"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs,
                              u"/data/a b.bin"_qs, u"C:\\data\\é.bin"_qs}));
    }
    QCOMPARE(services.messages().constLast(), services.launches().constLast());
}

void LaunchTest::extractionLaunchesOncePerEntryInTheUnchangedFolder() {
    QTemporaryDir temporary;
    const QString tool = installRecorder(temporary.path(), u"dat2file"_qs);
    const QString here = test::makeFolder(temporary.path(), u"here"_qs);
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(here);
    test::FakeServices services;
    services.realLaunch = true;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.findChild<TextBox*>(u"Dat2File"_qs)->setText(tool);
    window.findChild<TextBox*>(u"Text3"_qs)->setText(u"/out dir/"_qs);
    auto* list = window.findChild<ListBox*>(u"List1"_qs);
    list->AddItem(u"/cd/Folder/Name.ext"_qs);
    list->AddItem(u"/cd/x y.bin"_qs);

    QTest::mouseClick(window.findChild<CommandButton*>(u"Extraire"_qs), Qt::LeftButton);
    QList<Record> records = waitForRecords(m_records.path(), 2);
    QCOMPARE(records.size(), 2);
    QList<QStringList> arguments;
    for (const Record& record : records) {
        QCOMPARE(record.folder, here);
        arguments.append(record.arguments);
    }
    QVERIFY(arguments.contains(
        QStringList{u"/cd/Folder/Name.ext"_qs, u"/out dir/cd/Folder/Name.ext"_qs}));
    QVERIFY(arguments.contains(QStringList{u"/cd/x y.bin"_qs, u"/out dir/cd/x y.bin"_qs}));

    QTest::mouseClick(window.findChild<CommandButton*>(u"Extraire"_qs), Qt::LeftButton);
    QCOMPARE(waitForRecords(m_records.path(), 4).size(), 4);
    QCOMPARE(QDir::currentPath(), here);
}

void LaunchTest::bareNamesAreFoundBesideTheProgramOrOnThePathNeverHere() {
    QTemporaryDir temporary;
    const QString onPath = temporary.path() + u"/bin"_qs;
    installRecorder(onPath, u"dat2file"_qs);
    const QString here = test::makeFolder(temporary.path(), u"storage"_qs);
    installRecorder(here, u"velmora_tolk.exe"_qs); // planted in the current folder
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(here);
    // A PATH of the test's own: a velmora_tolk installed on this machine must not be found.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(onPath));
    QtServices services(velmora::texts::kApplicationTitle);

    const Outcome found = services.launch(ToolCommand::fromLine(extractionCommandLine(
        u"dat2file.exe"_qs, u"/cd/a.bin"_qs, u"/out"_qs, u"cd/a.bin"_qs, u'/')));
    const Outcome planted =
        services.launch(ToolCommand::fromLine(u"\"velmora_tolk.exe\" -v \"V\""_qs));
    qputenv("PATH", path);

    QVERIFY(found);
    QVERIFY(!planted);
    QVERIFY(planted.reason.contains(u"No such file"_qs));
    const QList<Record> records = waitForRecords(m_records.path(), 1);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.constFirst().arguments, (QStringList{u"/cd/a.bin"_qs, u"/out/cd/a.bin"_qs}));
}

void LaunchTest::launchFailuresGiveTheSystemsReason() {
    QTemporaryDir temporary;
    const QString notExecutable = test::makeFile(temporary.path(), u"data.bin"_qs, 10);
    const QString tool = installRecorder(temporary.path(), u"tool"_qs);
    QtServices services(velmora::texts::kApplicationTitle);

    const Outcome refused =
        services.launch(ToolCommand::fromLine(u'"' + notExecutable + u"\" a"_qs));
    QVERIFY(!refused);
    QVERIFY2(refused.reason.contains(u"ermission"_qs), qPrintable(refused.reason));

    const QString huge(200000, u'x'); // longer than the system takes for one argument
    const Outcome tooLong =
        services.launch(ToolCommand::fromLine(u'"' + tool + u"\" \""_qs + huge + u'"'));
    QVERIFY(!tooLong);
    QVERIFY2(!tooLong.reason.isEmpty(), "a reason is given");
    QCOMPARE(waitForRecords(m_records.path(), 0).size(), 0);
}

void LaunchTest::fileLengthsAndFoldersComeFromTheSystem() {
    QTemporaryDir temporary;
    const QString big = test::makeFile(temporary.path(), u"big é.bin"_qs, (qint64(5) << 30) + 3);
    QtServices services(velmora::texts::kApplicationTitle);
    const FileLength length = services.fileLength(big);
    QVERIFY(length.outcome);
    QCOMPARE(length.bytes, (qint64(5) << 30) + 3);
    const FileLength missing = services.fileLength(temporary.path() + u"/none"_qs);
    QVERIFY(!missing.outcome);
    QVERIFY(missing.outcome.reason.contains(u"No such file"_qs));

    const test::CurrentFolderGuard guard;
    const QString folder = test::makeFolder(temporary.path(), u"dossier é"_qs);
    QVERIFY(services.changeDrive(folder));
    QVERIFY(services.changeDirectory(folder));
    QCOMPARE(QDir::currentPath(), folder);
    const Outcome failed = services.changeDirectory(big);
    QVERIFY(!failed);
    QVERIFY(failed.reason.contains(u"Not a directory"_qs));
    QCOMPARE(QDir::currentPath(), folder);
}

void LaunchTest::messageBoxHasTitleIconAndOneButton() {
    QtServices services(velmora::texts::kApplicationTitle);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    const auto inspect = [&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = int(box->buttons().size());
        QTest::keyClick(box, Qt::Key_Escape); // Escape closes it as OK does
    };
    whenShown<QMessageBox>(inspect);
    services.messageBox(u"Attention !!!\r\r\nFin <b>!</b>"_qs, MessageStyle::Exclamation);
    QCOMPARE(title, u"Velmora GUI"_qs);
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, 1);
    QCOMPARE(text, u"Attention !!!\n\nFin <b>!</b>"_qs);

    whenShown<QMessageBox>(inspect);
    services.messageBox(u"Taille fichier < 400 Ko"_qs, MessageStyle::OkOnly);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons, 1);
}

void LaunchTest::longMessageShowsAtOnceAndFitsTheScreen() {
    QStringList entries;
    for (int i = 0; i < 30000; ++i)
        entries.append(u"/media/cd/"_qs + QString(84, u'a') + QString::number(100000 + i));
    const QString commandLine =
        imageBuildCommandLine(u"velmora_tolk.exe"_qs, u"K"_qs, u"K"_qs, quotedFileList(entries));
    QtServices services(velmora::texts::kApplicationTitle);
    qint64 shownAfter = -1;
    QString shownText;
    QSize shownSize;
    QElapsedTimer clock;
    whenShown<QDialog>([&](QDialog* dialog) {
        shownAfter = clock.elapsed();
        auto* view = dialog->findChild<LongTextView*>();
        shownText = view->text();
        view->selectAll();
        view->copy();
        shownSize = dialog->frameGeometry().size();
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    clock.start();
    services.messageBox(commandLine, MessageStyle::OkOnly);
    qInfo("a command line of %lld characters shown after %lld ms", qint64(commandLine.size()),
          shownAfter);
    QVERIFY(shownAfter >= 0);
    QCOMPARE(shownText, commandLine);
    QCOMPARE(QGuiApplication::clipboard()->text(), commandLine); // copied without the cuts
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    QVERIFY(shownSize.width() <= screen.width() && shownSize.height() <= screen.height());
}

void LaunchTest::longTextViewGivesBackItsText_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("short") << u"a b"_qs;
    QTest::newRow("exactly one display line") << QString(100, u'x');
    QTest::newRow("no blank to cut at") << QString(250, u'x');
    QTest::newRow("blanks") << QString(40, u' ') + QString(150, u'y') + u" z"_qs;
    QTest::newRow("line breaks kept") << u"a\n\n"_qs + QString(120, u'w') + u" \nend\n"_qs;
}

void LaunchTest::longTextViewGivesBackItsText() {
    QFETCH(QString, text);
    LongTextView view(text, nullptr);
    QCOMPARE(view.text(), text);
    QCOMPARE(view.document()->blockCount() >= text.size() / 100, true);
}

// A window that came up and took the keyboard while the box waited (a console) does not keep
// it: the window that showed the box gets it back when the box closes.
void LaunchTest::keyboardReturnsToTheWindowThatShowedTheBox() {
    QWidget main;
    main.show();
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    QWidget console;
    QtServices services(velmora::texts::kApplicationTitle);
    whenShown<QMessageBox>([&](QMessageBox* box) {
        console.show();
        console.activateWindow();
        QTimer::singleShot(300, box, [box] { box->accept(); });
    });
    services.messageBox(u"\"dat2file\" \"/cd/a.bin\"  \"/out/cd/a.bin\""_qs, MessageStyle::OkOnly);
    QTRY_COMPARE(QApplication::activeWindow(), &main);

    // While another program's window has the keyboard, the next box still belongs to this
    // program's window, and the keyboard comes back to it.
    console.close();
    QApplication::setActiveWindow(nullptr);
    QWidget* owner = nullptr;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        owner = box->parentWidget();
        box->accept();
    });
    services.messageBox(u"second"_qs, MessageStyle::OkOnly);
    QCOMPARE(owner, &main);
    QTRY_COMPARE(QApplication::activeWindow(), &main);
}

void LaunchTest::openDialogOffersExecutablesAndMayBeClosedWithoutAChoice() {
    QTemporaryDir temporary;
    const QString tool = installRecorder(temporary.path(), u"tool"_qs);
    test::makeFile(temporary.path(), u"setup.exe"_qs, 1);
    test::makeFile(temporary.path(), u"readme.txt"_qs, 1);
    QtServices services(velmora::texts::kApplicationTitle);

    QStringList filters, listed;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        filters.clear();
        for (QComboBox* box : dialog->findChildren<QComboBox*>(u"fileTypeCombo"_qs))
            for (int i = 0; i < box->count(); ++i)
                filters.append(box->itemText(i));
        QTRY_VERIFY(dialog->proxyModel()->rowCount(dialog->proxyModel()->index(0, 0)) >= 0);
        dialog->reject();
    });
    const std::optional<QString> none = services.openFile(
        u"Executable(*.exe)|*.exe"_qs, QDir(temporary.path()).filePath(u"readme.txt"_qs));
    QVERIFY(!none);
    QCOMPARE(filters, QStringList{u"Executable(*.exe)"_qs});

    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        auto* proxy = dialog->proxyModel();
        auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
        const QModelIndex folder = proxy->mapFromSource(files->index(temporary.path()));
        QTRY_COMPARE(proxy->rowCount(folder), 2);
        for (int row = 0; row < proxy->rowCount(folder); ++row)
            listed.append(proxy->index(row, 0, folder).data().toString());
        dialog->selectFile(tool);
        static_cast<QDialog*>(dialog)->accept(); // as the Open button does
    });
    const std::optional<QString> chosen = services.openFile(u"Executable(*.exe)|*.exe"_qs, tool);
    listed.sort();
    QCOMPARE(listed, (QStringList{u"setup.exe"_qs, u"tool"_qs}));
    QCOMPARE(chosen.value_or(QString()), tool);
}

void LaunchTest::defaultToolsBuildAndExtractFromTheWindow() {
    QTemporaryDir temporary;
    const QString sources = test::makeFolder(temporary.path(), u"concerts d'été"_qs);
    const QByteArray recording = test::randomBytes(600000, 9);
    test::writeFile(sources, u"live take.mpg"_qs, recording);
    const QString storage = test::makeFolder(temporary.path(), u"images"_qs);
    const QString extracted = test::makeFolder(temporary.path(), u"extracted"_qs);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(QStringLiteral(VELMORA_TOOLS_DIR)) + ':' + path);
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    services.realLaunch = true;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    auto* files = window.findChild<FileListBox*>(u"File1"_qs);
    auto* list = window.findChild<ListBox*>(u"List1"_qs);
    auto* storagePath = window.findChild<TextBox*>(u"Text3"_qs);

    // Build: the default tool writes Kestrel.bin and Kestrel.cue into the storage folder.
    QVERIFY(window.findChild<DirListBox*>(u"Dir1"_qs)->setPath(sources));
    test::doubleClick(*files, test::itemShowing(*files, u"live take.mpg"_qs));
    QCOMPARE(list->ListCount(), 1);
    storagePath->setText(storage);
    QTest::mouseClick(window.findChild<CommandButton*>(u"Command1"_qs), Qt::LeftButton);
    const QString cue = QDir(storage).filePath(u"Kestrel.cue"_qs);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(cue), 20000);

    // Extract: the CD as Windows shows it, its file's entry, the default extraction tool.
    const QString cd = QDir(temporary.path()).filePath(u"cd"_qs);
    test::layOutCd(cue, cd, {u"LIVE_TAKE.MPG"_qs});
    list->RemoveItem(0);
    QVERIFY(window.findChild<DirListBox*>(u"Dir1"_qs)->setPath(cd + u"/FILES"_qs));
    test::doubleClick(*files, test::itemShowing(*files, u"LIVE_TAKE.MPG"_qs));
    storagePath->setText(extracted); // as the folder list gives it: no final separator
    QTest::mouseClick(window.findChild<CommandButton*>(u"Extraire"_qs), Qt::LeftButton);
    qputenv("PATH", path);
    const QString entry = list->List(0);
    const QString target = extracted + u"/"_qs + entry.mid(1); // the window's rule
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(target), 20000);
    QVERIFY(test::readFile(target) == recording);
    QCOMPARE(services.messages().size(), 2); // the two command lines, no failure
}

void LaunchTest::buildFromTheWindowShowsItsOutcomeInAConsole() {
    QTemporaryDir temporary;
    const QString sources = test::makeFolder(temporary.path(), u"sources"_qs);
    test::writeFile(sources, u"clip.mpg"_qs, test::randomBytes(500000, 4));
    const QString report = QDir(temporary.path()).filePath(u"console report"_qs);
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(report));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(QStringLiteral(VELMORA_TOOLS_DIR)) + ':' + path);
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    services.realLaunch = true;
    services.useConsole(QStringLiteral(VELMORA_TOOLS_DIR) + u"/velmora_console"_qs);
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    auto* files = window.findChild<FileListBox*>(u"File1"_qs);
    QVERIFY(window.findChild<DirListBox*>(u"Dir1"_qs)->setPath(sources));
    test::doubleClick(*files, test::itemShowing(*files, u"clip.mpg"_qs));
    window.findChild<TextBox*>(u"Text3"_qs)->setText(sources); // the images land beside it

    const auto build = [&]() -> QString {
        QFile::remove(report);
        QTest::mouseClick(window.findChild<CommandButton*>(u"Command1"_qs), Qt::LeftButton);
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(report) && waited.elapsed() < 20000)
            QTest::qWait(20);
        return QString::fromUtf8(test::readFile(report));
    };
    const QString built = build();
    QVERIFY2(built.contains(u"status: Done: velmora_tolk ended successfully"_qs),
             qPrintable(built));
    QVERIFY(built.startsWith(u"title: velmora_tolk — Kestrel\n"_qs));
    QVERIFY(built.contains(u"progress: 100 highest 100\n"_qs));
    QVERIFY(built.contains(
        u"velmora_tolk: wrote Kestrel.bin, Kestrel.cue and Kestrel.toc: 1 file, 500000 "
        "bytes, 310 sectors, 0 min 06 s of an 80-minute disc (0.1%); repair data of 32 parity "
        "bands"_qs));
    // The image shows in the file list, with no handler run.
    QTRY_VERIFY(test::itemShowing(*files, u"Kestrel.bin"_qs).isValid());
    QVERIFY(test::itemShowing(*files, u"Kestrel.cue"_qs).isValid());

    const QString refused = build();
    qunsetenv("VELMORA_CONSOLE_REPORT");
    qputenv("PATH", path);
    QVERIFY2(refused.contains(u"status: Failed: velmora_tolk ended with exit status 1."_qs),
             qPrintable(refused));
    QVERIFY2(refused.contains(u"last error: velmora_tolk: \"Kestrel.bin\" exists already in \""_qs +
                              sources +
                              u"\": choose another image name or remove the old image"_qs),
             qPrintable(refused));
}

void LaunchTest::imageBuiltInTheWindowComesBackFromIt_data() {
    QTest::addColumn<int>("set");
    QTest::newRow("five files, scratched") << 0;
    // Ten videos of 1 to 6 MB with ordinary names: a file list longer than one sector.
    QTest::newRow("ten holiday videos") << 1;
    // Three hundred from six folders, long names: a list of some 30 sectors.
    QTest::newRow("three hundred files in folders") << 2;
}

// The whole round trip as a user makes it, with the mouse only: files into an image, the image
// into the source list, "Extract files from CD", and the files back exact, from an image
// scratched in between or untouched.
void LaunchTest::imageBuiltInTheWindowComesBackFromIt() {
    QFETCH(int, set);
    const bool holiday = set > 0;
    QTemporaryDir temporary;
    const QString sources = test::makeFolder(temporary.path(), u"my sources"_qs);
    const QString storage = test::makeFolder(temporary.path(), u"out"_qs);
    QStringList names = holiday ? QStringList{u"01 Arrivée à Saint-Malo.avi"_qs,
                                              u"02 La plage du Sillon.mpg"_qs,
                                              u"03 Crêpes chez Hélène.avi"_qs,
                                              u"04 Le phare (nuit).mpg"_qs,
                                              u"05 Marché de Cancale, huîtres.avi"_qs,
                                              u"06 Île de Bréhat (vélo).mpg"_qs,
                                              u"07 Pointe du Grouin.avi"_qs,
                                              u"08 L'anniversaire de Zoé.mpg"_qs,
                                              u"09 Dinan, les remparts.avi"_qs,
                                              u"10 Retour sous la pluie.mpg"_qs}
                                : QStringList{u"Été à la plage.mpg"_qs, u"a b.dat"_qs,
                                              u"日本.dat"_qs, u"x.raw"_qs, u"y.dat"_qs};
    if (set == 2) {
        names.clear();
        for (int i = 0; i < 300; ++i)
            names << u"%1 Souvenir du jour %2 — Île-de-Bréhat, la plage (vélo).mpg"_qs
                         .arg(i, 3, 10, QChar(u'0'))
                         .arg(i % 6 + 1);
    }
    // Where each file lies: the sources folder, or for the three hundred one of six in it.
    const auto folderOf = [&](qsizetype i) {
        return set == 2 ? sources + u"/jour %1"_qs.arg(i % 6 + 1) : sources;
    };
    QMap<QString, QByteArray> stored;
    qint64 bytes = 0;
    for (qsizetype i = 0; i < names.size(); ++i) {
        QByteArray data = test::randomBytes(set == 0   ? 420000 + 3 * i
                                            : set == 1 ? 60000
                                                       : 8000,
                                            quint32(20 + i));
        if (set == 1) // 1 to 6 MB, mostly silence
            data.resize(1'000'000 + i * 555'555, '\0');
        if (set == 2) // over the window's 400 KB, mostly silence
            data.resize(420'000 + i, '\0');
        bytes += data.size();
        stored.insert(names.at(i), data);
        test::writeFile(folderOf(i), names.at(i), data);
    }
    const QString report = QDir(temporary.path()).filePath(u"console report"_qs);
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(report));
    const QByteArray path = qgetenv("PATH"); // the tools by their default names
    qputenv("PATH", QFile::encodeName(QStringLiteral(VELMORA_TOOLS_DIR)) + ':' + path);
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    services.realLaunch = true;
    services.useConsole(QStringLiteral(VELMORA_TOOLS_DIR) + u"/velmora_console"_qs);
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    auto* files = window.findChild<FileListBox*>(u"File1"_qs);
    auto* list = window.findChild<ListBox*>(u"List1"_qs);
    auto* folders = window.findChild<DirListBox*>(u"Dir1"_qs);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (folders->Path() != folderOf(i))
            QVERIFY(folders->setPath(folderOf(i)));
        test::doubleClick(*files, test::itemShowing(*files, names.at(i)));
    }
    QCOMPARE(list->ListCount(), names.size());
    window.findChild<TextBox*>(u"Text3"_qs)->setText(storage);
    const auto press = [&](const char* button) -> QString {
        QFile::remove(report);
        QTest::mouseClick(window.findChild<CommandButton*>(QLatin1String(button)), Qt::LeftButton);
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(report) && waited.elapsed() < 120000)
            QTest::qWait(20);
        return QString::fromUtf8(test::readFile(report));
    };
    const QString built = press("Command1");
    QVERIFY2(built.contains(u"status: Done: velmora_tolk ended successfully"_qs),
             qPrintable(built));
    // The disc scratched: 40 sectors in a row zeroed in its middle, 20 others garbled. Its
    // repair data gives every file back all the same.
    QFile image(storage + u"/Kestrel.bin"_qs);
    QVERIFY(image.open(QIODevice::ReadWrite));
    if (!holiday) {
        image.seek(300 * 2352);
        image.write(QByteArray(40 * 2352, '\0'));
        for (int i = 0; i < 20; ++i) {
            image.seek((400 + i * 23) * 2352 + 24);
            image.write(test::randomBytes(1000, quint32(i)));
        }
    }
    image.close();

    // The sources out of the list, the image in.
    while (list->ListCount() > 0)
        test::doubleClick(*list, list->model()->index(0, 0));
    QVERIFY(folders->setPath(storage));
    QTRY_VERIFY(test::itemShowing(*files, u"Kestrel.bin"_qs).isValid());
    test::doubleClick(*files, test::itemShowing(*files, u"Kestrel.bin"_qs));
    QCOMPARE(list->entries(), QStringList{storage + u"/Kestrel.bin"_qs});
    services.clear();
    const QString extracted = press("Extraire");
    qunsetenv("VELMORA_CONSOLE_REPORT");
    qputenv("PATH", path);
    QCOMPARE(services.messages().size(), 1); // one box, the command line: one OK
    const QString into = storage + storage + u"/Kestrel"_qs;
    QVERIFY2(extracted.contains(
                 u"dat2file: wrote %1 files into \""_qs.arg(names.size()) + into +
                 u"\": %1 bytes, %2 checked against the file list, 0 damaged"_qs.arg(bytes).arg(
                     names.size())),
             qPrintable(extracted));
    const int lost = holiday ? 0 : 60;
    QVERIFY2(
        extracted.contains(
            u"dat2file: repair data: %1 sectors unreadable, %1 rebuilt, 0 not rebuildable"_qs.arg(
                lost)),
        qPrintable(extracted));
    // A read that rebuilt sectors ends Repaired, with how many and how close the disc came to
    // losing data, never as a plain Done.
    if (holiday)
        QVERIFY2(extracted.contains(u"status: Done: dat2file ended successfully"_qs),
                 qPrintable(extracted));
    else
        QVERIFY2(
            extracted.contains(u"status: Repaired: dat2file rebuilt 60 sectors the disc no "
                               "longer gives, from its repair data (the worst code word lost "_qs),
            qPrintable(extracted));
    QMap<QString, QByteArray> found;
    for (const QString& name : QDir(into).entryList(QDir::Files | QDir::Hidden))
        found.insert(name, test::readFile(QDir(into).filePath(name)));
    QVERIFY(found == stored);
}

// Each entry's command line in a box of its own: Enter alone confirms every one, and every
// tool is a row of one console window.
void LaunchTest::tenExtractionsAreConfirmedWithEnterAlone() {
    QTemporaryDir temporary;
    const QString sources = test::makeFolder(temporary.path(), u"sources"_qs);
    const QString records = test::makeFolder(temporary.path(), u"records"_qs);
    const QString recorder = installRecorder(temporary.path(), u"recorder"_qs);
    const QString report = QDir(temporary.path()).filePath(u"report"_qs);
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(records));
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(report));
    qputenv("VELMORA_CONSOLE_REPORT_ROWS", "10");
    qputenv("VELMORA_CONSOLE_NAME", QFile::encodeName(temporary.filePath(u"console"_qs)));
    const test::CurrentFolderGuard guard;
    QtServices services(velmora::texts::kApplicationTitle,
                        QStringLiteral(VELMORA_TOOLS_DIR) + u"/velmora_console"_qs);
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    auto* files = window.findChild<FileListBox*>(u"File1"_qs);
    QVERIFY(window.findChild<DirListBox*>(u"Dir1"_qs)->setPath(sources));
    for (int i = 0; i < 10; ++i)
        test::makeFile(sources, u"clip%1.dat"_qs.arg(i), 500000);
    QTRY_VERIFY(test::itemShowing(*files, u"clip9.dat"_qs).isValid());
    for (int i = 0; i < 10; ++i)
        test::doubleClick(*files, test::itemShowing(*files, u"clip%1.dat"_qs.arg(i)));
    window.findChild<TextBox*>(u"Text3"_qs)->setText(temporary.filePath(u"out"_qs));
    window.findChild<TextBox*>(u"Dat2File"_qs)->setText(recorder);

    int confirmed = 0;
    QTimer enter;
    enter.setInterval(20);
    QObject::connect(&enter, &QTimer::timeout, &enter, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QTest::keyClick(box, Qt::Key_Enter);
            ++confirmed;
        }
    });
    enter.start();
    QTest::mouseClick(window.findChild<CommandButton*>(u"Extraire"_qs), Qt::LeftButton);
    enter.stop();
    QCOMPARE(confirmed, 10);
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(report) && waited.elapsed() < 20000)
        QTest::qWait(20);
    const QString shown = QString::fromUtf8(test::readFile(report));
    qunsetenv("VELMORA_CONSOLE_REPORT");
    qunsetenv("VELMORA_CONSOLE_REPORT_ROWS");
    qunsetenv("VELMORA_CONSOLE_NAME");
    QVERIFY2(shown.contains(u"\nrows: 10\n"_qs), qPrintable(shown));
    QCOMPARE(waitForRecords(records, 10).size(), 10);
}

// A file whose name is not UTF-8: listed (with replacement marks), added, and handed to the
// tool, directly and through the console, with the exact bytes of its name.
void LaunchTest::nameThatIsNotUtf8ReachesTheToolToTheByte() {
    QTemporaryDir temporary;
    const QByteArray folder = QFile::encodeName(temporary.path());
    const QByteArray name = "bad\xff\xfe.dat";
    {
        std::ofstream file(QByteArray(folder + "/" + name).toStdString(), std::ios::binary);
        file.seekp(500000);
        file.put('\0');
    }
    const QString records = test::makeFolder(temporary.path(), u"records"_qs);
    const QString recorder = installRecorder(temporary.path(), u"recorder"_qs);
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(records));
    qputenv("VELMORA_CONSOLE_NAME", QFile::encodeName(temporary.filePath(u"console"_qs)));
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(temporary.filePath(u"report"_qs)));
    const test::CurrentFolderGuard guard;
    for (const QString& console :
         QStringList{QString(), QStringLiteral(VELMORA_TOOLS_DIR) + u"/velmora_console"_qs}) {
        test::FakeServices services;
        services.realLaunch = true;
        services.useConsole(console);
        Form1 window(services, DriveTable({{u"/"_qs, {}}}));
        auto* files = window.findChild<FileListBox*>(u"File1"_qs);
        QVERIFY(window.findChild<DirListBox*>(u"Dir1"_qs)->setPath(temporary.path()));
        const QModelIndex shown = test::itemShowing(*files, decodeFileName(name));
        QVERIFY2(shown.isValid(), "the file is listed");
        test::doubleClick(*files, shown);
        QCOMPARE(window.findChild<ListBox*>(u"List1"_qs)->ListCount(), 1);
        window.findChild<TextBox*>(u"Text3"_qs)->setText(temporary.filePath(u"out"_qs));
        window.findChild<TextBox*>(u"Dat2File"_qs)->setText(recorder);
        QTest::mouseClick(window.findChild<CommandButton*>(u"Extraire"_qs), Qt::LeftButton);
        QCOMPARE(services.launches().size(), 1);
        const QList<Record> found = waitForRecords(records, 1);
        QCOMPARE(found.size(), 1);
        QDir(records).removeRecursively();
        QDir().mkpath(records);
        QFile::remove(temporary.filePath(u"report"_qs));
        // Read back as bytes: each argument exactly.
        QCOMPARE(encodeFileName(found.first().arguments.value(0)), folder + "/" + name);
        QCOMPARE(encodeFileName(found.first().arguments.value(1)),
                 QFile::encodeName(temporary.filePath(u"out"_qs)) + folder + "/" + name);
    }
    qunsetenv("VELMORA_CONSOLE_NAME");
    qunsetenv("VELMORA_CONSOLE_REPORT");
}

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
