// SPDX-License-Identifier: GPL-3.0-or-later
// The window for every user: everything but the tool pickers done from the keyboard, every
// control read by a screen reader with its role and caption, a large desktop font, deep folders.

#include "app/form1.h"
#include "app/texts.h"
#include "fakeservices.h"
#include "platform/controls.h"
#include "platform/messagebox.h"
#include "testfiles.h"

#include <QAccessible>
#include <QApplication>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

namespace {

template <class Control> Control* control(const Form1& window, const char* name) {
    return window.findChild<Control*>(QLatin1StringView(name));
}

QAccessibleInterface* accessible(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}

} // namespace

class AccessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keyboardAddsRemovesAndPresses();
    void tabLeavesAFilledSourceList();
    void screenReaderSeesRolesNamesAndExtents();
    void captionsFitWithALargeDesktopFont();
    void deepFolderStaysInView();
    void newEntryComesIntoViewUnselected();
    void driveListFollowsTheFolderAcrossVolumes();
    void bordersShowInLightAndDarkSchemes_data();
    void bordersShowInLightAndDarkSchemes();
};

void AccessTest::keyboardAddsRemovesAndPresses() {
    QTemporaryDir folder;
    const QString file = test::makeFile(folder.path(), u"clip.mpg"_qs, 500000);
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(control<DirListBox>(window, "Dir1")->setPath(folder.path()));
    auto* files = control<FileListBox>(window, "File1");
    auto* list = control<ListBox>(window, "List1");

    files->setFocus();
    QTest::keyClick(files, Qt::Key_Home); // onto the first file
    QTest::keyClick(files, Qt::Key_Return);
    QTest::keyClick(files, Qt::Key_Enter);
    QCOMPARE(list->entries(), (QStringList{file, file}));

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(list->entries(), QStringList{file});

    // Enter on a focused button presses it; in a text box it presses nothing.
    auto* build = control<CommandButton>(window, "Command1");
    QSignalSpy pressed(build, &CommandButton::Click);
    const test::CurrentFolderGuard guard;
    control<TextBox>(window, "Text3")->setText(folder.path());
    auto* volume = control<TextBox>(window, "Volume");
    volume->setFocus();
    QTest::keyClick(volume, Qt::Key_Return);
    QCOMPARE(pressed.count(), 0);
    build->setFocus();
    QTest::keyClick(build, Qt::Key_Return);
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(services.callsTo(test::Service::Launch).size(), 1);
}

void AccessTest::tabLeavesAFilledSourceList() {
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* list = control<ListBox>(window, "List1");
    for (const QString& entry : {u"/a.bin"_qs, u"/b.bin"_qs, u"/c.bin"_qs})
        list->AddItem(entry);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(window, "Check1"));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), control<QWidget>(window, "Volume"));
}

void AccessTest::screenReaderSeesRolesNamesAndExtents() {
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(accessible(&window)->role(), QAccessible::Window);
    QCOMPARE(accessible(&window)->text(QAccessible::Name), texts::kFormCaption);

    QAccessibleInterface* drive = accessible(control<QWidget>(window, "Drive1"));
    QCOMPARE(drive->role(), QAccessible::ComboBox);
    QCOMPARE(drive->text(QAccessible::Name), texts::kDrive1Name);
    QCOMPARE(drive->text(QAccessible::Value), u"/"_qs);
    // Its value as readers find it: the chosen item of its list, selected.
    QAccessibleInterface* choices = drive->child(0);
    QVERIFY(choices && choices->role() == QAccessible::List);
    QAccessibleInterface* chosen = choices->child(0);
    QVERIFY(chosen && chosen->text(QAccessible::Name) == u"/"_qs);
    QVERIFY(chosen->state().selected);

    auto* list = control<ListBox>(window, "List1");
    list->AddItem(u"/a.bin"_qs);
    list->AddItem(u"/b c.bin"_qs);
    QAccessibleInterface* entries = accessible(list);
    QCOMPARE(entries->role(), QAccessible::List);
    QCOMPARE(entries->childCount(), 2);
    QAccessibleInterface* second = entries->child(1);
    QCOMPARE(second->role(), QAccessible::ListItem);
    QCOMPARE(second->text(QAccessible::Name), u"/b c.bin"_qs);
    QCOMPARE(entries->indexOfChild(second), 1);
    QCOMPARE(second->parent(), entries);
    QVERIFY(entries->rect().contains(second->rect()));
    QCOMPARE(entries->childAt(second->rect().center().x(), second->rect().center().y()), second);
    list->RemoveItem(0);
    QCOMPARE(entries->childCount(), 1);
    QCOMPARE(entries->child(0)->text(QAccessible::Name), u"/b c.bin"_qs);

    auto* check = control<QWidget>(window, "Check1");
    QCOMPARE(accessible(check)->rect(), QRect(check->mapToGlobal(QPoint()), check->size()));
    QCOMPARE(check->geometry(), QRect(16, 88, 161, 49));

    for (const char* box : {"Velmora", "Dat2File"})
        QCOMPARE(accessible(control<QWidget>(window, box))->text(QAccessible::Description),
                 texts::kToolBoxHint);

    LongTextView commandLine(QString(5000, u'x'), nullptr);
    QVERIFY(!accessible(&commandLine)->text(QAccessible::Name).isEmpty());
    QCOMPARE(commandLine.textInteractionFlags() & Qt::TextSelectableByKeyboard,
             Qt::TextSelectableByKeyboard);
}

void AccessTest::captionsFitWithALargeDesktopFont() {
#ifdef Q_OS_WIN
    QSKIP("widths are not Windows' here (wine's offscreen platform draws with DejaVu Sans, wider "
          "than Segoe UI)");
#endif
    const QFont desktop = QApplication::font();
    QFont large = desktop;
    large.setPointSize(14);
    QApplication::setFont(large);
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const char* name : {"Command1", "Extraire"}) {
        const auto* button = control<QPushButton>(window, name);
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width(),
                 name);
    }
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 10000),
                                                               Qt::TextWordWrap, label->text());
        QVERIFY2(needed.height() <= label->height() && needed.width() <= label->width(),
                 qPrintable(label->objectName()));
    }
    const auto* check = control<QCheckBox>(window, "Check1");
    QVERIFY(
        check->fontMetrics()
            .boundingRect(QRect(0, 0, check->width() - 20, 10000), Qt::TextWordWrap, check->text())
            .height() <= check->height());
    QApplication::setFont(desktop);
}

void AccessTest::deepFolderStaysInView() {
    QTemporaryDir root;
    QString deepest = root.path();
    for (int level = 1; level <= 40; ++level)
        deepest = test::makeFolder(deepest, QStringLiteral("level %1").arg(level));
    test::makeFolder(deepest, u"below"_qs);
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* dirs = control<DirListBox>(window, "Dir1");
    const Outcome opened = dirs->setPath(deepest);
    QVERIFY2(opened, qPrintable(opened.reason + u' ' + deepest));
    QCOMPARE(dirs->currentItem()->text(), u"level 40"_qs);
#ifdef Q_OS_WIN
    QSKIP("the folder opens past MAX_PATH; widths are not Windows' here (wine's offscreen "
          "platform draws with DejaVu Sans, wider than Segoe UI)");
#endif
    // The delegate indents by depth up to a cap: the current folder and its subfolder keep
    // room for their names.
    for (const QString& name : {u"level 40"_qs, u"below"_qs}) {
        const QModelIndex item = test::itemShowing(*dirs, name);
        const QRect shown = dirs->visualRect(item);
        QVERIFY2(dirs->viewport()->rect().intersects(shown), qPrintable(name));
        QVERIFY(dirs->fontMetrics().horizontalAdvance(name) + 16 * 8 < dirs->viewport()->width());
    }
}

void AccessTest::newEntryComesIntoViewUnselected() {
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* list = control<ListBox>(window, "List1");
    for (int i = 0; i < 30; ++i)
        list->AddItem(QStringLiteral("/file%1.bin").arg(i));
    const auto lastShown = [list] {
        const QRect last = list->visualRect(list->model()->index(list->ListCount() - 1, 0));
        return list->viewport()->rect().top() <= last.top() &&
               list->viewport()->rect().bottom() >= last.bottom();
    };
    QTRY_VERIFY(lastShown());
    QCOMPARE(list->ListIndex(), -1);
}

void AccessTest::driveListFollowsTheFolderAcrossVolumes() {
    SKIP_WHERE_DRIVES_ARE_LETTERS();
    QTemporaryDir mount;
    const QString inside = test::makeFolder(mount.path(), u"inside"_qs);
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}, {mount.path(), u"CD"_qs}}));
    auto* drives = control<DriveListBox>(window, "Drive1");
    QSignalSpy changes(drives, &DriveListBox::Change);
    QVERIFY(control<DirListBox>(window, "Dir1")->setPath(inside));
    QCOMPARE(drives->Drive(), DriveTable::driveText({mount.path(), u"CD"_qs}));
    QAccessibleInterface* chosen = accessible(drives)->child(0)->child(1);
    QVERIFY(chosen->state().selected); // a screen reader reads the new value
    QVERIFY(control<DirListBox>(window, "Dir1")->setPath(u"/"_qs));
    QCOMPARE(drives->Drive(), DriveTable::driveText({u"/"_qs, {}}));
    QCOMPARE(changes.count(), 0);
}

void AccessTest::bordersShowInLightAndDarkSchemes_data() {
    QTest::addColumn<QColor>("field");
    QTest::addColumn<QColor>("text");
    QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("dark") << QColor(0x1e, 0x1e, 0x1e) << QColor(0xee, 0xee, 0xee);
}

void AccessTest::bordersShowInLightAndDarkSchemes() {
    QFETCH(QColor, field);
    QFETCH(QColor, text);
    QPalette scheme;
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        scheme.setColor(role, field);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        scheme.setColor(role, text);
    test::FakeServices services;
    Form1 window(services, DriveTable({{u"/"_qs, {}}}));
    window.setPalette(scheme);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto contrast = [](QColor a, QColor b) {
        return std::abs(a.lightness() - b.lightness());
    };
    const QImage box = control<QWidget>(window, "Volume")->grab().toImage();
    QVERIFY2(contrast(box.pixelColor(0, box.height() / 2), field) >= 80,
             qPrintable(box.pixelColor(0, box.height() / 2).name()));
    auto* check = control<QCheckBox>(window, "Check1");
    QStyleOptionButton option;
    option.initFrom(check);
    QRect indicator = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
    indicator.moveTop((check->height() - indicator.height()) / 2);
    const QImage drawn = check->grab().toImage();
    QVERIFY2(contrast(drawn.pixelColor(indicator.left(), indicator.center().y()), field) >= 80,
             qPrintable(drawn.pixelColor(indicator.left(), indicator.center().y()).name()));
}

QTEST_MAIN(AccessTest)
#include "tst_access.moc"
