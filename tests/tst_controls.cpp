// SPDX-License-Identifier: GPL-3.0-or-later
// The standard controls: the properties and events the handlers rely on.

#include "platform/controls.h"
#include "platform/drives.h"
#include "testfiles.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace velmora;

namespace {

QStringList texts(const QListWidget& list) {
    QStringList all;
    for (int row = 0; row < list.count(); ++row)
        all.append(list.item(row)->text());
    return all;
}

QStringList fileNames(const FileListBox& files) {
    QStringList names;
    for (int row = 0; row < files.model()->rowCount(); ++row)
        names.append(files.model()->index(row, 0).data().toString());
    return names;
}

void doubleClickItem(QListWidget& list, const QString& text) {
    const QModelIndex item = test::itemShowing(list, text); // subfolders come last
    QVERIFY2(item.isValid(), qPrintable(text));
    test::doubleClick(list, item);
}

} // namespace

class ControlsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listBoxIndexesSelectionAndRemoval();
    void highlightedCaptionsReadOnLightAndDarkPalettes();
    void directoryListRaisesChangeBeforeTheSetterReturns();
    void directoryListShowsRootChainAndSubfolders();
    void directoryListMovesToADrivesCurrentFolder();
    void directoryListRefusesAFolderItCannotOpen();
    void directoryListSurvivesALoopOfFolderLinks();
    void fileListShowsPlainVisibleFilesSorted();
    void listsFollowTheDiskWithoutAnyHandler();
    void textBoxClickAndCheckBoxValue();
    void driveListRaisesChangeOnlyForTheUser();
};

void ControlsTest::listBoxIndexesSelectionAndRemoval() {
    ListBox list(nullptr);
    QCOMPARE(list.ListIndex(), -1);
    QCOMPARE(list.List(0), QString());
    for (const QString& text : {u"a"_qs, u"b"_qs, u"c"_qs, u"a"_qs})
        list.AddItem(text);
    QCOMPARE(list.ListCount(), 4);
    QCOMPARE(list.List(3), u"a"_qs);
    QCOMPARE(list.List(4), QString());
    QCOMPARE(list.List(-1), QString());
    QCOMPARE(list.ListIndex(), -1); // adding selects nothing

    list.selectRow(1);
    QCOMPARE(list.ListIndex(), 1);
    list.AddItem(u"d"_qs);
    QCOMPARE(list.ListIndex(), 1); // nor moves the selection
    list.RemoveItem(1);
    QCOMPARE(list.entries(), (QStringList{u"a"_qs, u"c"_qs, u"a"_qs, u"d"_qs}));
    QCOMPARE(list.ListIndex(), -1);

    QSignalSpy doubleClicks(&list, &ListBox::DblClick);
    list.show();
    test::doubleClick(list, list.model()->index(1, 0));
    QCOMPARE(doubleClicks.count(), 1);
    QCOMPARE(list.ListIndex(), 1);
}

void ControlsTest::directoryListRaisesChangeBeforeTheSetterReturns() {
    QTemporaryDir temporary;
    const QString a = test::makeFolder(temporary.path(), u"a"_qs);
    const QString b = test::makeFolder(temporary.path(), u"b"_qs);
    DriveTable drives(DriveTable::mounted());
    DirListBox dir(drives, nullptr);
    QVERIFY(dir.setPath(a));

    QStringList pathsSeen;
    connect(&dir, &DirListBox::Change, &dir, [&] { pathsSeen.append(dir.Path()); });
    QVERIFY(dir.setPath(b));
    QCOMPARE(pathsSeen, QStringList{b}); // already there when setPath returns
    QVERIFY(dir.setPath(b));
    QCOMPARE(pathsSeen.size(), 1); // the same folder again is no change
    QVERIFY(dir.setPath(b + u"/../a/"_qs));
    QCOMPARE(pathsSeen, (QStringList{b, a})); // paths are kept in their clean form
}

void ControlsTest::directoryListShowsRootChainAndSubfolders() {
    QTemporaryDir temporary;
    const QString volume = test::makeFolder(temporary.path(), u"volume"_qs);
    const QString folder = test::makeFolder(volume, u"Données d'été"_qs);
    test::makeFolder(folder, u"b"_qs);
    test::makeFolder(folder, u"A"_qs);
    test::makeFolder(folder, u".hidden"_qs);
    test::makeFile(folder, u"file.bin"_qs, 10);
    DriveTable drives({{volume, u"Test"_qs}});
    DirListBox dir(drives, nullptr);
    QVERIFY(dir.setPath(folder));
    QCOMPARE(texts(dir), (QStringList{volume, u"Données d'été"_qs, u"A"_qs, u"b"_qs}));
    QCOMPARE(dir.currentItem()->text(), u"Données d'été"_qs);

    dir.show();
    QSignalSpy changes(&dir, &DirListBox::Change);
    doubleClickItem(dir, u"b"_qs);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(dir.Path(), QDir::toNativeSeparators(folder + u"/b"_qs));
    doubleClickItem(dir, volume);
    QCOMPARE(dir.Path(), volume);

    QTest::mouseClick(dir.viewport(), Qt::LeftButton, {}, dir.visualItemRect(dir.item(1)).center());
    QCOMPARE(dir.Path(), volume); // a single click only selects
    QTest::keyClick(&dir, Qt::Key_Return);
    QCOMPARE(dir.Path(), folder);
}

void ControlsTest::directoryListMovesToADrivesCurrentFolder() {
    SKIP_WHERE_DRIVES_ARE_LETTERS();
    QTemporaryDir temporary;
    const QString first = test::makeFolder(temporary.path(), u"first"_qs);
    const QString second = test::makeFolder(temporary.path(), u"second"_qs);
    const QString deep = test::makeFolder(first, u"deep"_qs);
    DriveTable drives({{first, u"One"_qs}, {second, {}}});
    DirListBox dir(drives, nullptr);

    QVERIFY(dir.setPath(deep));
    QVERIFY(dir.setPath(second)); // the drive's text: no label
    QCOMPARE(dir.Path(), second);
    QVERIFY(dir.setPath(first + u" [One]"_qs)); // back to where the first drive was left
    QCOMPARE(dir.Path(), deep);
}

void ControlsTest::directoryListRefusesAFolderItCannotOpen() {
    QTemporaryDir temporary;
    const QString gone = test::makeFolder(temporary.path(), u"gone"_qs);
    DriveTable drives(DriveTable::mounted());
    DirListBox dir(drives, nullptr);
    QVERIFY(dir.setPath(temporary.path()));
    dir.show();
    // The folder goes before the list hears of it.
    const QSignalBlocker unheard(dir.findChild<QFileSystemWatcher*>());
    QVERIFY(QDir(gone).removeRecursively());

    QSignalSpy changes(&dir, &DirListBox::Change);
    QSignalSpy failures(&dir, &DirListBox::openFailed);
    const Outcome outcome = dir.setPath(gone);
    QVERIFY(!outcome);
    QVERIFY(!outcome.reason.isEmpty());
    QCOMPARE(dir.Path(), QDir::toNativeSeparators(temporary.path()));
    QCOMPARE(changes.count(), 0);

    doubleClickItem(dir, u"gone"_qs); // still listed: the list was filled before
    QCOMPARE(failures.count(), 1);
    QCOMPARE(failures.at(0).at(0).toString(), gone);
    QCOMPARE(dir.Path(), QDir::toNativeSeparators(temporary.path()));
}

void ControlsTest::directoryListSurvivesALoopOfFolderLinks() {
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes a shortcut file on Windows, not a folder link");
#endif
    QTemporaryDir temporary;
    const QString folder = test::makeFolder(temporary.path(), u"folder"_qs);
    QVERIFY(QFile::link(folder, QDir(folder).filePath(u"again"_qs)));
    QVERIFY(QFile::link(QDir(temporary.path()).filePath(u"loop2"_qs),
                        QDir(temporary.path()).filePath(u"loop1"_qs)));
    QVERIFY(QFile::link(QDir(temporary.path()).filePath(u"loop1"_qs),
                        QDir(temporary.path()).filePath(u"loop2"_qs)));
    DriveTable drives(DriveTable::mounted());
    DirListBox dir(drives, nullptr);
    QVERIFY(dir.setPath(temporary.path()));
    QVERIFY(!texts(dir).contains(u"loop1"_qs)); // a link that leads nowhere is no folder
    dir.show();
    doubleClickItem(dir, u"folder"_qs);
    for (int i = 0; i < 3; ++i)
        doubleClickItem(dir, u"again"_qs);
    QCOMPARE(dir.Path(), QDir::toNativeSeparators(folder + u"/again/again/again"_qs));
}

void ControlsTest::fileListShowsPlainVisibleFilesSorted() {
    QTemporaryDir temporary;
    const QString folder = temporary.path();
    for (const QString& name : {u"b.bin"_qs, u"A.bin"_qs, u"c d é.bin"_qs, u".hidden"_qs})
        test::makeFile(folder, name, 1);
    test::makeFolder(folder, u"sub"_qs);
#ifdef Q_OS_WIN
    // Hidden is an attribute there, and a link of QFile's a shortcut file, which is listed.
    QVERIFY(::SetFileAttributesW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(folder + u"/.hidden"_qs).utf16()),
        FILE_ATTRIBUTE_HIDDEN));
    test::makeFile(folder, u"link.bin"_qs, 1);
#else
    QVERIFY(QFile::link(QDir(folder).filePath(u"b.bin"_qs), QDir(folder).filePath(u"link.bin"_qs)));
    QVERIFY(QFile::link(QDir(folder).filePath(u"nowhere"_qs), QDir(folder).filePath(u"broken"_qs)));
#endif

    FileListBox files(nullptr);
    QVERIFY(files.setPath(folder));
    QCOMPARE(files.Path(), folder);
    QCOMPARE(fileNames(files),
             (QStringList{u"A.bin"_qs, u"b.bin"_qs, u"c d é.bin"_qs, u"link.bin"_qs}));
    QCOMPARE(files.FileName(), QString());
    files.setCurrentIndex(files.model()->index(2, 0));
    QCOMPARE(files.FileName(), u"c d é.bin"_qs);

    QVERIFY(!files.setPath(folder + u"/none"_qs)); // taken with no files, and said so
    QCOMPARE(files.Path(), folder + u"/none"_qs);
    QCOMPARE(fileNames(files), QStringList());
    QCOMPARE(files.FileName(), QString());
}

void ControlsTest::listsFollowTheDiskWithoutAnyHandler() {
    QTemporaryDir temporary;
    const QString folder = temporary.path();
    test::makeFile(folder, u"b.bin"_qs, 1);
    DriveTable drives({{u"/"_qs, {}}});
    DirListBox dirs(drives, nullptr);
    FileListBox files(nullptr);
    QVERIFY(dirs.setPath(folder));
    QVERIFY(files.setPath(folder));
    files.setCurrentIndex(files.model()->index(0, 0));
    QSignalSpy changes(&dirs, &DirListBox::Change);

    // What a tool writes into the folder shows up, and the selection stays on its file.
    test::makeFile(folder, u"a.bin"_qs, 1);
    test::makeFile(folder, u"Kestrel.cue"_qs, 1);
    QTRY_COMPARE(fileNames(files), (QStringList{u"a.bin"_qs, u"b.bin"_qs, u"Kestrel.cue"_qs}));
    QCOMPARE(files.FileName(), u"b.bin"_qs);
    QFile::remove(QDir(folder).filePath(u"a.bin"_qs));
    QTRY_COMPARE(fileNames(files), (QStringList{u"b.bin"_qs, u"Kestrel.cue"_qs}));

    test::makeFolder(folder, u"new"_qs);
    QTRY_VERIFY(texts(dirs).contains(u"new"_qs));
    QCOMPARE(dirs.Path(), QDir::toNativeSeparators(folder));
    QCOMPARE(changes.count(), 0);
}

void ControlsTest::textBoxClickAndCheckBoxValue() {
    TextBox box(nullptr);
    box.resize(200, 25);
    box.show();
    QSignalSpy clicks(&box, &TextBox::Click);
    QTest::mouseClick(&box, Qt::LeftButton);
    QTest::mouseClick(&box, Qt::RightButton);
    QCOMPARE(clicks.count(), 1);

    CheckBox check(nullptr);
    check.setText(u"Path to store CD image / files extracted"_qs);
    check.resize(161, 49);
    check.show();
    QCOMPARE(check.Value(), 0);
    QTest::mouseClick(&check, Qt::LeftButton, {}, QPoint(150, 40)); // on the wrapped caption
    QCOMPARE(check.Value(), 1);
    QTest::keyClick(&check, Qt::Key_Space);
    QCOMPARE(check.Value(), 0);
}

void ControlsTest::driveListRaisesChangeOnlyForTheUser() {
    SKIP_WHERE_DRIVES_ARE_LETTERS();
    QTemporaryDir temporary;
    const QString first = test::makeFolder(temporary.path(), u"first"_qs);
    const QString second = test::makeFolder(temporary.path(), u"second"_qs);
    DriveTable drives({{second, u"Two"_qs}, {first, {}}});
    DriveListBox list(drives, nullptr);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.itemText(0), first); // in mount-point order
    QCOMPARE(list.itemText(1), second + u" [Two]"_qs);

    QSignalSpy changes(&list, &DriveListBox::Change);
    list.showDriveOf(second + u"/x"_qs);
    QCOMPARE(list.Drive(), second + u" [Two]"_qs);
    QCOMPARE(changes.count(), 0);
    list.show();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Up);
    QCOMPARE(list.Drive(), first);
    QCOMPARE(changes.count(), 1);
}

// WCAG's contrast of two colours, worked out here from its definition.
double contrastOf(const QColor& one, const QColor& other) {
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one), b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// A highlighted caption in a dark palette whose highlight is a dark blue: drawn in a lighter
// blue of the same hue that reads on the window's grey; in a light palette, in the highlight
// itself, again when the palette changes while it is shown; back in the ordinary text colour
// once no longer highlighted.
void ControlsTest::highlightedCaptionsReadOnLightAndDarkPalettes() {
    const QPalette before = QApplication::palette();
    const QColor darkBlue(0x1c, 0x3a, 0x70);
    QPalette dark = before;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Highlight, darkBlue);
    QApplication::setPalette(dark);
    QWidget window;
    Label label(&window);
    label.setText(u"Volume name"_qs);
    label.setHighlighted(true);
    QCOMPARE(label.foregroundRole(), QPalette::Highlight);
    const QColor shown = label.palette().color(QPalette::Highlight);
    QVERIFY2(contrastOf(shown, dark.color(QPalette::Window)) >= 4.5, qPrintable(shown.name()));
    QVERIFY(std::abs(shown.hslHue() - darkBlue.hslHue()) <= 3);
    QVERIFY(shown.lightness() > darkBlue.lightness());

    // Changed while the program runs (a test has no event loop running, where the application
    // tells its widgets itself).
    QPalette light = before;
    light.setColor(QPalette::Window, QColor(0xef, 0xef, 0xef));
    light.setColor(QPalette::WindowText, Qt::black);
    light.setColor(QPalette::Highlight, QColor(0x0b, 0x4f, 0xb0));
    QApplication::setPalette(light);
    QEvent changed(QEvent::ApplicationPaletteChange);
    for (QWidget* widget : {&window, static_cast<QWidget*>(&label)})
        QApplication::sendEvent(widget, &changed);
    QCOMPARE(label.palette().color(QPalette::Highlight).rgb(), QColor(0x0b, 0x4f, 0xb0).rgb());
    label.setHighlighted(false);
    QCOMPARE(label.foregroundRole(), QPalette::WindowText);
    QCOMPARE(label.palette().color(QPalette::WindowText).rgb(), QColor(Qt::black).rgb());
    QApplication::setPalette(before);
}

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
