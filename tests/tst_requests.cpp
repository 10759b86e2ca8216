// SPDX-License-Identifier: GPL-3.0-or-later
// The image build, the extraction and the tool pickers, with the services recorded: what is
// checked, what is shown, what is launched, in which order.

#include "app/form1.h"
#include "fakeservices.h"
#include "platform/commandlinesplit.h"
#include "platform/controls.h"
#include "testfiles.h"
#include "tools/texts.h"
#include "windowfixture.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

namespace {

// A command line as this system's default tool names make it ("dat2file.exe" on Windows).
QString onThisSystem(QString line) {
    line.replace(u"\"velmora_tolk\""_qs, u'"' + texts::kDefaultImageTool + u'"');
    line.replace(u"\"dat2file\""_qs, u'"' + texts::kDefaultExtractionTool + u'"');
    return line;
}

const QString kVolumeMissing = u"CD Volume Name not defined / Nom du CD pas définit"_qs;
const QString kImageMissing = u"CD Image Name not defined / Nom de l'image CD pas définit"_qs;
const QString kFilesMissing = u"Files not defined / Fichier Source non définit"_qs;
const QString kStorageMissing = u"Storage path not defined / Répertoire destination non définit"_qs;
const QString kExtractionStorageMissing =
    u"CD Image storage path not defined / Répertoire destination non définit"_qs;

// A window whose drives are the root and a CD mounted at /media/cd.
struct Window : test::Window {
    explicit Window(test::FakeServices& services)
        : test::Window(services, DriveTable({{u"/"_qs, {}}, {u"/media/cd"_qs, u"CD"_qs}})) {}
};

} // namespace

class RequestsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void buildReportsEveryMissingInputInOrder_data();
    void buildReportsEveryMissingInputInOrder();
    void extractionReportsEveryMissingInputInOrder_data();
    void extractionReportsEveryMissingInputInOrder();
    void buildShowsThenLaunchesInTheStorageFolder();
    void everyRequestClearsTheFlagFirst();
    void extractionShowsAndLaunchesEachEntryInOrder();
    void extractionPieceAtTheEdges();
    void theToolGetsTheArgumentsTheBoxShows();
    void tooShortEntryIsReportedAndSkipped();
    void doubleQuoteIsRefusedBeforeAnythingChanges_data();
    void doubleQuoteIsRefusedBeforeAnythingChanges();
    void storagePathThatCannotBeMadeCurrentStopsTheBuild();
    void programThatCannotStartStopsTheRequest();
    void pickersWriteTheChosenFileIntoTheirOwnBox();
    void pickerClosedWithoutAChoiceLeavesTheBox();
};

void RequestsTest::buildReportsEveryMissingInputInOrder_data() {
    QTest::addColumn<int>("missing"); // bits: volume, image, files, storage path
    for (int missing = 1; missing < 16; ++missing)
        QTest::addRow("missing %d", missing) << missing;
}

void RequestsTest::buildReportsEveryMissingInputInOrder() {
    QFETCH(int, missing);
    QTemporaryDir storage;
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    Window window(services);
    window.box("Volume")->setText(missing & 1 ? QString() : u"  "_qs); // blanks are present
    window.box("ImageCD")->setText(missing & 2 ? QString() : u"I"_qs);
    if (!(missing & 4))
        window.add({u"/a.bin"_qs});
    window.box("Text3")->setText(missing & 8 ? QString() : storage.path());
    const QString before = QDir::currentPath();

    window.build();
    QStringList expected;
    for (const auto& [bit, text] : {std::pair{1, kVolumeMissing}, std::pair{2, kImageMissing},
                                    std::pair{4, kFilesMissing}, std::pair{8, kStorageMissing}})
        if (missing & bit)
            expected.append(text);
    QCOMPARE(services.messages(), expected);
    QCOMPARE(services.callsTo(test::Service::MessageBox).size(),
             services.calls.size()); // nothing else
    for (const test::Call& call : services.calls)
        QCOMPARE(call.style, MessageStyle::OkOnly);
    QVERIFY(window.form.inputMissing());
    QCOMPARE(QDir::currentPath(), before);
}

void RequestsTest::extractionReportsEveryMissingInputInOrder_data() {
    QTest::addColumn<bool>("noFiles");
    QTest::addColumn<bool>("noStorage");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("both") << true << true << QStringList{kFilesMissing, kExtractionStorageMissing};
    QTest::newRow("files") << true << false << QStringList{kFilesMissing};
    QTest::newRow("storage") << false << true << QStringList{kExtractionStorageMissing};
}

void RequestsTest::extractionReportsEveryMissingInputInOrder() {
    QFETCH(bool, noFiles);
    QFETCH(bool, noStorage);
    QFETCH(QStringList, expected);
    test::FakeServices services;
    Window window(services);
    if (!noFiles)
        window.add({u"/media/cd/a.bin"_qs});
    window.box("Text3")->setText(noStorage ? QString() : u"/out/"_qs);
    window.extract();
    QCOMPARE(services.messages(), expected);
    QCOMPARE(services.callsTo(test::Service::MessageBox).size(), services.calls.size());
    QVERIFY(window.form.inputMissing());
}

void RequestsTest::buildShowsThenLaunchesInTheStorageFolder() {
    QTemporaryDir storage;
    const QString folder = test::makeFolder(storage.path(), u"Données d'été"_qs);
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    Window window(services);
    window.add({u"/data/a b.bin"_qs, u"/data/é.bin"_qs, u"/data/a b.bin"_qs});
    window.box("Text3")->setText(folder);

    window.build();
    const QString commandLine = onThisSystem(
        uR"("velmora_tolk" -v "Kestrel" -o "Kestrel" -m  "/data/a b.bin" "/data/é.bin" "/data/a b.bin")"_qs);
    QCOMPARE(services.sequence(), u"changeDrive changeDirectory messageBox launch"_qs);
    QCOMPARE(services.calls.at(0).text, folder);
    QCOMPARE(services.calls.at(1).text, folder);
    QCOMPARE(services.calls.at(2).text, commandLine);
    QCOMPARE(services.calls.at(2).style, MessageStyle::OkOnly);
    QCOMPARE(services.calls.at(3).text, commandLine);
    QCOMPARE(QDir::toNativeSeparators(QDir::currentPath()), folder);
    QVERIFY(!window.form.inputMissing());
    QCOMPARE(window.List1()->ListCount(), 3); // the list stays

    services.clear();
    window.box("Velmora")->setText(u"/opt/my tools/velmora_tolk"_qs);
    window.build();
    QCOMPARE(
        services.launches(),
        QStringList{
            uR"("/opt/my tools/velmora_tolk" -v "Kestrel" -o "Kestrel" -m  "/data/a b.bin" "/data/é.bin" "/data/a b.bin")"_qs});
}

void RequestsTest::everyRequestClearsTheFlagFirst() {
    QTemporaryDir storage;
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    Window window(services);
    window.extract();
    QVERIFY(window.form.inputMissing());
    window.add({u"/media/cd/x.bin"_qs});
    window.box("Text3")->setText(storage.path());
    window.build();
    QVERIFY(!window.form.inputMissing());
    QCOMPARE(services.launches().size(), 1);
    window.build();
    QCOMPARE(services.launches().size(), 2);
    window.extract();
    QVERIFY(!window.form.inputMissing());
    QCOMPARE(services.launches().size(), 3);
}

void RequestsTest::extractionShowsAndLaunchesEachEntryInOrder() {
    QTemporaryDir storage;
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(storage.path());
    test::FakeServices services;
    Window window(services);
    window.add(
        {u"/media/cd/Folder/Name.ext"_qs, u"/home/u/a b.bin"_qs, u"/media/cd/Folder/Name.ext"_qs});
    window.box("Text3")->setText(u"/out/"_qs);

    window.extract();
    const QStringList expected = {
        onThisSystem(uR"("dat2file" "/media/cd/Folder/Name.ext"  "/out/Folder/Name.ext")"_qs),
        onThisSystem(uR"("dat2file" "/home/u/a b.bin"  "/out/home/u/a b.bin")"_qs),
        onThisSystem(uR"("dat2file" "/media/cd/Folder/Name.ext"  "/out/Folder/Name.ext")"_qs),
    };
    QCOMPARE(services.sequence(), u"messageBox launch messageBox launch messageBox launch"_qs);
    QCOMPARE(services.messages(), expected);
    QCOMPARE(services.launches(), expected);
    QCOMPARE(QDir::currentPath(), storage.path()); // no change of folder

    services.clear();
    window.box("Text3")->setText(u"/out"_qs);
    window.box("Dat2File")->setText(u"/opt/my tools/dat2file"_qs);
    window.extract();
    QCOMPARE(services.launches().value(0),
             uR"("/opt/my tools/dat2file" "/media/cd/Folder/Name.ext"  "/out)"_qs +
                 QDir::separator() + uR"(Folder/Name.ext")"_qs);
    QCOMPARE(services.launches().size(), 3);
}

// The launcher gets a program and its arguments, the box the joined line: each argument is
// exactly what the shown line holds between its quotes, whatever an input holds.
void RequestsTest::theToolGetsTheArgumentsTheBoxShows() {
    QTemporaryDir storage;
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    Window window(services);
    window.add({u"/media/cd/a  b\\c.bin"_qs, u"/home/u/d'été  .mpg"_qs, u"/media/cd/X.DAT;1"_qs});
    window.box("Text3")->setText(storage.path());
    window.box("Volume")->setText(u" Mon  CD "_qs);
    window.box("ImageCD")->setText(u"-o"_qs);
    window.box("Velmora")->setText(u"/opt/my tools/velmora_tolk"_qs);
    window.build();
    window.extract();
    const QStringList shown = services.messages();
    const QList<QStringList> launched = services.launchedCommands();
    QCOMPARE(launched.size(), 4);
    QCOMPARE(services.launches(), shown);
    for (qsizetype i = 0; i < launched.size(); ++i)
        QCOMPARE(launched.at(i), splitCommandLine(shown.at(i)));
    QCOMPARE(launched.at(0),
             (QStringList{u"/opt/my tools/velmora_tolk"_qs, u"-v"_qs, u" Mon  CD "_qs, u"-o"_qs,
                          u"-o"_qs, u"-m"_qs, u"/media/cd/a  b\\c.bin"_qs,
                          u"/home/u/d'été  .mpg"_qs, u"/media/cd/X.DAT;1"_qs}));
    QCOMPARE(
        launched.at(3).mid(1),
        (QStringList{u"/media/cd/X.DAT;1"_qs, storage.path() + QDir::separator() + u"X.DAT"_qs}));
}

void RequestsTest::extractionPieceAtTheEdges() {
    test::FakeServices services;
    Window window(services);
    window.add({u"/media/cd/AB"_qs, u"/media/cd/A;1"_qs});
    window.box("Text3")->setText(u"/out/"_qs);
    window.extract();
    QCOMPARE(services.launches(),
             (QStringList{onThisSystem(uR"("dat2file" "/media/cd/AB"  "/out/AB")"_qs),
                          onThisSystem(uR"("dat2file" "/media/cd/A;1"  "/out/A")"_qs)}));
}

void RequestsTest::tooShortEntryIsReportedAndSkipped() {
    test::FakeServices services;
    Window window(services);
    window.add({u"/media/cd/ab.bin"_qs, u"/"_qs, u"/media/cd/cd.bin"_qs});
    window.box("Text3")->setText(u"/out/"_qs);
    window.extract();
    QCOMPARE(services.sequence(), u"messageBox launch messageBox messageBox launch"_qs);
    QCOMPARE(services.messages().at(1), texts::kEntryTooShort + u"\r\n/"_qs);
    QCOMPARE(services.launches(),
             (QStringList{onThisSystem(uR"("dat2file" "/media/cd/ab.bin"  "/out/ab.bin")"_qs),
                          onThisSystem(uR"("dat2file" "/media/cd/cd.bin"  "/out/cd.bin")"_qs)}));
}

void RequestsTest::doubleQuoteIsRefusedBeforeAnythingChanges_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("build");
    QTest::addColumn<QString>("named");
    QTest::newRow("volume") << u"Volume"_qs << true << texts::kInVolume;
    QTest::newRow("image") << u"ImageCD"_qs << true << texts::kInImage;
    QTest::newRow("storage, build") << u"Text3"_qs << true << texts::kInStoragePath;
    QTest::newRow("image tool") << u"Velmora"_qs << true << texts::kInImageTool;
    QTest::newRow("entry, build") << u"List1"_qs << true << texts::kInEntry.arg(2);
    QTest::newRow("storage, extraction") << u"Text3"_qs << false << texts::kInStoragePath;
    QTest::newRow("extraction tool") << u"Dat2File"_qs << false << texts::kInExtractionTool;
    QTest::newRow("entry, extraction") << u"List1"_qs << false << texts::kInEntry.arg(2);
}

void RequestsTest::doubleQuoteIsRefusedBeforeAnythingChanges() {
    QFETCH(QString, input);
    QFETCH(bool, build);
    QFETCH(QString, named);
    QTemporaryDir storage;
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    Window window(services);
    window.box("Text3")->setText(storage.path() + u"/"_qs);
    window.add({u"/media/cd/a.bin"_qs});
    const QString quoted = u"x\" -o \"evil"_qs;
    if (input == u"List1"_qs)
        window.add({quoted});
    else
        window.form.findChild<TextBox*>(input)->setText(quoted);
    const QString before = QDir::currentPath();

    build ? window.build() : window.extract();
    QCOMPARE(services.sequence(), u"messageBox"_qs);
    QVERIFY(services.messages().constFirst().startsWith(texts::kDoubleQuoteIn));
    QVERIFY(services.messages().constFirst().contains(u"\r\n"_qs + named + u"\r\n"_qs));
    QCOMPARE(QDir::currentPath(), before);
}

void RequestsTest::storagePathThatCannotBeMadeCurrentStopsTheBuild() {
    QTemporaryDir storage;
    const QString missing = storage.path() + u"/not there"_qs;
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    Window window(services);
    window.add({u"/a.bin"_qs});
    window.box("Text3")->setText(missing);
    const QString before = QDir::currentPath();

    window.build();
    QCOMPARE(services.sequence(), u"changeDrive changeDirectory messageBox"_qs);
    const test::Call report = services.calls.constLast();
    QCOMPARE(report.style, MessageStyle::Critical);
    QVERIFY(report.text.startsWith(texts::kCannotChangeFolder));
    QVERIFY(report.text.contains(missing));
    QVERIFY(report.text.contains(u"No such file or directory"_qs));
    QCOMPARE(QDir::currentPath(), before);

    services.clear();
    services.driveFailure = u"The device is not ready."_qs;
    window.box("Text3")->setText(storage.path());
    window.build();
    QCOMPARE(services.sequence(), u"changeDrive messageBox"_qs);
    QVERIFY(services.calls.constLast().text.endsWith(u"The device is not ready."_qs));
}

void RequestsTest::programThatCannotStartStopsTheRequest() {
    QTemporaryDir storage;
    const test::CurrentFolderGuard guard;
    test::FakeServices services;
    services.launchFailure = u"Permission denied"_qs;
    Window window(services);
    window.add({u"/media/cd/a.bin"_qs, u"/media/cd/b.bin"_qs});
    window.box("Text3")->setText(storage.path());

    window.build();
    QCOMPARE(services.sequence(), u"changeDrive changeDirectory messageBox launch messageBox"_qs);
    QCOMPARE(services.calls.constLast().style, MessageStyle::Critical);
    QCOMPARE(services.calls.constLast().text, texts::kCannotStart + u"\r\n"_qs +
                                                  texts::kDefaultImageTool +
                                                  u"\r\nPermission denied"_qs);
    QCOMPARE(QDir::currentPath(), storage.path()); // the change of folder stays

    services.clear();
    window.extract();
    QCOMPARE(services.sequence(), u"messageBox launch messageBox"_qs); // the second never shown
    QVERIFY(services.calls.constLast().text.contains(u"dat2file"_qs));
    QVERIFY(window.form.isVisible());
}

void RequestsTest::pickersWriteTheChosenFileIntoTheirOwnBox() {
    test::FakeServices services;
    Window window(services);
    TextBox* velmora = window.box("Velmora");
    TextBox* dat2file = window.box("Dat2File");
    velmora->setText(u"typed"_qs);
    services.dialogAnswers = {u"/opt/my tools/velmora_tolk"_qs, u"/usr/bin/dat2file"_qs,
                              u"/opt/other"_qs};

    QTest::mouseClick(velmora, Qt::LeftButton);
    QCOMPARE(velmora->text(), u"/opt/my tools/velmora_tolk"_qs); // whole and unquoted
    QCOMPARE(dat2file->text(), QString());
    QTest::mouseClick(dat2file, Qt::LeftButton);
    QCOMPARE(dat2file->text(), u"/usr/bin/dat2file"_qs);
    QCOMPARE(velmora->text(), u"/opt/my tools/velmora_tolk"_qs);
    QTest::mouseClick(velmora, Qt::LeftButton); // a box holding a path opens the dialog again
    QCOMPARE(velmora->text(), u"/opt/other"_qs);

    const QList<test::Call> showings = services.callsTo(test::Service::OpenFile);
    QCOMPARE(showings.size(), 3);
    for (const test::Call& showing : showings)
        QCOMPARE(showing.text, u"Executable(*.exe)|*.exe"_qs);
    QCOMPARE(showings.at(0).extra, QString());
    QCOMPARE(showings.at(1).extra, u"/opt/my tools/velmora_tolk"_qs); // opens at the last choice
    QCOMPARE(showings.at(2).extra, u"/usr/bin/dat2file"_qs);

    for (const char* name : {"Volume", "ImageCD", "Text3"})
        QTest::mouseClick(window.box(name), Qt::LeftButton);
    QCOMPARE(services.callsTo(test::Service::OpenFile).size(), 3); // only the tool boxes pick
}

void RequestsTest::pickerClosedWithoutAChoiceLeavesTheBox() {
    test::FakeServices services;
    Window window(services);
    services.dialogAnswers = {std::nullopt, u"/opt/velmora_tolk"_qs, std::nullopt};
    window.box("Dat2File")->setText(u"typed"_qs);
    QTest::mouseClick(window.box("Dat2File"), Qt::LeftButton);
    QCOMPARE(window.box("Dat2File")->text(), u"typed"_qs);
    QTest::mouseClick(window.box("Velmora"), Qt::LeftButton);
    QTest::mouseClick(window.box("Dat2File"), Qt::LeftButton); // the other box's choice stays out
    QCOMPARE(window.box("Dat2File")->text(), u"typed"_qs);
    QCOMPARE(window.box("Velmora")->text(), u"/opt/velmora_tolk"_qs);
}

QTEST_MAIN(RequestsTest)
#include "tst_requests.moc"
