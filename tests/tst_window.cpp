// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the user meets it: the warning at start-up, the controls with their texts,
// places, fonts and colours, the tab order and the keys that press nothing.

#include "app/form1.h"
#include "app/texts.h"
#include "fakeservices.h"
#include "platform/controls.h"
#include "testfiles.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QtTest>

using namespace velmora;

namespace {

struct Expected {
    const char* kind;
    QRect geometry;
    QString text;
    QString toolTip;
    enum Font { Default, Upright, Italic } font;
    bool highlighted;
    bool centred;
};

} // namespace

Q_DECLARE_METATYPE(Expected)

class WindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadWarnsBeforeTheWindowShowsAndFillsTheStoragePath();
    void storagePathAtTheRootKeepsItsSeparator();
    void controlsAreAsDescribed_data();
    void controlsAreAsDescribed();
    void windowHasItsCaptionSizeAndStartingState();
    void highlightColourIsReadWhenDrawn();
    void tabVisitsTheControlsInOrderAndWraps();
    void enterAndEscapePressNoButton();
    void resizingMovesNothing();
    void screenReaderNamesEveryInput();
};

void WindowTest::loadWarnsBeforeTheWindowShowsAndFillsTheStoragePath() {
    test::FakeServices services;
    Form1 window(services);
    bool visibleDuringWarning = true;
    QString storageDuringWarning = u"unset"_qs;
    auto* text3 = window.findChild<TextBox*>(u"Text3"_qs);
    services.onMessageBox = [&](const QString&, MessageStyle) {
        visibleDuringWarning = window.isVisible();
        storageDuringWarning = text3->text();
    };

    window.Form_Load();
    window.show();

    const QString warning =
        u"Attention !!!\r\r\nN'utilizez pas ce programme pour stocker vos données. Velmora n'a pas "
        u"de correction d'erreur ! Toute erreur sur le CD rend inutilisable les fichiers stockés "
        u"!\r\r\nDo not use this program to store your data. Velmora has no error correction, so "
        u"an error on the CD make the files stored unusable !"_qs;
    QCOMPARE(services.sequence(), u"messageBox"_qs);
    QCOMPARE(services.calls.at(0).text, warning);
    QCOMPARE(services.calls.at(0).style, MessageStyle::Exclamation);
    QVERIFY(!visibleDuringWarning);
    QCOMPARE(storageDuringWarning, QString());
    QCOMPARE(text3->text(), QDir::toNativeSeparators(QDir::currentPath()));
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(QApplication::focusWidget(), window.findChild<QWidget*>(u"Drive1"_qs));
}

void WindowTest::storagePathAtTheRootKeepsItsSeparator() {
    const test::CurrentFolderGuard guard;
    QDir::setCurrent(QDir::rootPath());
    test::FakeServices services;
    Form1 window(services);
    window.Form_Load();
    QCOMPARE(window.findChild<TextBox*>(u"Text3"_qs)->text(),
             QDir::toNativeSeparators(QDir::rootPath()));
}

void WindowTest::controlsAreAsDescribed_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<Expected>("expected");
    const auto px = [](int left, int top, int width, int height) {
        return QRect(left / 15, top / 15, width / 15, height / 15);
    };
    using namespace texts;
    const auto row = [&](const char* name, Expected expected) {
        QTest::newRow(name) << QString::fromLatin1(name) << expected;
    };
    row("Drive1",
        {"DriveListBox", px(4080, 2520, 3255, 315), {}, {}, Expected::Default, false, false});
    row("Dir1",
        {"DirListBox", px(4080, 2880, 3255, 1440), {}, {}, Expected::Default, false, false});
    row("File1", {"FileListBox",
                  px(120, 2520, 3855, 1845),
                  {},
                  u"Double clicks to insert the file / double clicks pour insérer le fichier"_qs,
                  Expected::Default,
                  false,
                  false});
    row("Command1", {"CommandButton", px(5280, 240, 2055, 375), u"CD Image build"_qs,
                     u"This wil use Brannock"_qs, Expected::Default, false, false});
    row("Volume",
        {"TextBox", px(1680, 240, 3015, 375), u"Kestrel"_qs,
         u"Enter the name for the CD / entrer le nom du CD"_qs, Expected::Default, false, false});
    row("Label3", {"Label",
                   px(120, 120, 1455, 255),
                   u"CD Volume Name :"_qs,
                   {},
                   Expected::Upright,
                   true,
                   true});
    row("List1", {"ListBox",
                  px(120, 4920, 7335, 1620),
                  {},
                  u"Double clcik to remove files / double clicks pour enlever le fichier"_qs,
                  Expected::Default,
                  false,
                  false});
    row("Check1",
        {"CheckBox", px(240, 1320, 2415, 735), u"Path to store CD image / files extracted"_qs,
         u"Check the box and choose the directory  (Double click in the directory box "
         u"to select)"_qs,
         Expected::Upright, true, false});
    row("Text3", {"TextBox",
                  px(120, 2040, 7215, 375),
                  {},
                  u"Enter Path where the Image CD will be stored / files to be extrated (or Check "
                  u"the box above and double click in the directory box to select)"_qs,
                  Expected::Default,
                  false,
                  false});
    row("Label1", {"Label",
                   px(120, 4440, 7335, 255),
                   u"List of files inserted in the CD image / extracted from CD"_qs,
                   {},
                   Expected::Upright,
                   true,
                   false});
    row("Extraire", {"CommandButton", px(5280, 720, 2055, 375), u"Extract files from CD"_qs,
                     u"This will use Dat2file"_qs, Expected::Default, false, false});
    row("Label2", {"Label",
                   px(120, 4680, 5895, 255),
                   u"Liste de fichiers à insérer dans l'image CD / extraire du CD"_qs,
                   {},
                   Expected::Italic,
                   false,
                   false});
    row("Label4",
        {"Label", px(120, 360, 1215, 255), u"Nom du CD :"_qs, {}, Expected::Italic, false, true});
    row("Label5", {"Label",
                   px(2640, 1440, 2535, 615),
                   u"Chemin de l'image CD à stocker / fichiers à extraire"_qs,
                   {},
                   Expected::Italic,
                   false,
                   false});
    row("Velmora", {"TextBox", px(1920, 6600, 5535, 375), {}, {}, Expected::Default, false, false});
    row("Dat2File",
        {"TextBox", px(1920, 7080, 5535, 375), {}, {}, Expected::Default, false, false});
    row("location1", {"Label",
                      px(120, 6720, 1815, 375),
                      u"Velmora_Tolk"_qs,
                      {},
                      Expected::Default,
                      false,
                      false});
    row("location2",
        {"Label", px(120, 7080, 975, 375), u"Dat2File"_qs, {}, Expected::Default, false, false});
    row("ImageCD",
        {"TextBox", px(1680, 840, 3015, 375), u"Kestrel"_qs,
         u"Enter the name for the CD / entrer le nom du CD"_qs, Expected::Default, false, false});
    row("Label6", {"Label",
                   px(120, 960, 1215, 255),
                   u"Nom image CD :"_qs,
                   {},
                   Expected::Italic,
                   false,
                   true});
    row("Label7", {"Label",
                   px(120, 720, 1455, 255),
                   u"CD Image Name :"_qs,
                   {},
                   Expected::Upright,
                   true,
                   true});
}

void WindowTest::controlsAreAsDescribed() {
    QFETCH(QString, name);
    QFETCH(Expected, expected);
    test::FakeServices services;
    Form1 window(services);

    auto* control = window.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &window);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()),
             u"velmora::"_qs + QString::fromLatin1(expected.kind));
    QCOMPARE(control->geometry(), expected.geometry);
    QCOMPARE(control->toolTip(), expected.toolTip);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        QCOMPARE(label->text(), expected.text);
        QCOMPARE(bool(label->alignment() & Qt::AlignHCenter), expected.centred);
        QVERIFY(label->wordWrap());
        QCOMPARE(label->foregroundRole(),
                 expected.highlighted ? QPalette::Highlight : QPalette::WindowText);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QCOMPARE(button->text(), expected.text);
    } else if (auto* box = qobject_cast<QLineEdit*>(control)) {
        QCOMPARE(box->text(), expected.text);
        QCOMPARE(box->maxLength(), 32767); // Qt's own limit: none of the window's
    }

    const QFont font = control->font();
    if (expected.font == Expected::Default) {
        QCOMPARE(font, window.font());
    } else {
        QCOMPARE(font.families().value(0), u"Comic Sans MS"_qs);
        QCOMPARE(font.families().value(1), u"Comic Neue"_qs);
        QCOMPARE(font.pointSizeF(), 8.25);
        QCOMPARE(font.weight(), QFont::Bold);
        QCOMPARE(font.italic(), expected.font == Expected::Italic);
        QVERIFY(!font.underline() && !font.strikeOut());
    }
}

void WindowTest::windowHasItsCaptionSizeAndStartingState() {
    test::FakeServices services;
    Form1 window(services);
    window.Form_Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), u"Velmora GUI v0.2a - TOLK"_qs);
    QCOMPARE(window.size(), QSize(504, 498));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(window.windowIcon().availableSizes().contains(QSize(16, 16)));
    QCOMPARE(window.findChild<ListBox*>(u"List1"_qs)->ListCount(), 0);
    QCOMPARE(window.findChild<CheckBox*>(u"Check1"_qs)->Value(), 0);
    QVERIFY(!window.inputMissing());
    QCOMPARE(window.fileSizeKB(), 0);
    for (auto* button : window.findChildren<CommandButton*>())
        QVERIFY(!button->isDefault() && !button->autoDefault());
}

void WindowTest::highlightColourIsReadWhenDrawn() {
    test::FakeServices services;
    Form1 window(services);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto hasColour = [](QWidget* widget, QColor colour) {
        const QImage image = widget->grab().toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == colour)
                    return true;
        return false;
    };
    QPalette palette = window.palette();
    palette.setColor(QPalette::Highlight, QColor(250, 0, 250));
    window.setPalette(palette);
    for (const QString& name : {u"Label1"_qs, u"Label3"_qs, u"Label7"_qs, u"Check1"_qs})
        QVERIFY2(hasColour(window.findChild<QWidget*>(name), QColor(250, 0, 250)),
                 qPrintable(name));
    QVERIFY(!hasColour(window.findChild<QWidget*>(u"Label2"_qs), QColor(250, 0, 250)));
}

void WindowTest::tabVisitsTheControlsInOrderAndWraps() {
    test::FakeServices services;
    Form1 window(services);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    QStringList visited = {QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited,
             (QStringList{u"Drive1"_qs, u"Dir1"_qs, u"File1"_qs, u"Command1"_qs, u"Volume"_qs,
                          u"List1"_qs, u"Check1"_qs, u"Text3"_qs, u"Extraire"_qs, u"Velmora"_qs,
                          u"Dat2File"_qs, u"ImageCD"_qs, u"Drive1"_qs}));
}

void WindowTest::enterAndEscapePressNoButton() {
    test::FakeServices services;
    Form1 window(services);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy build(window.findChild<CommandButton*>(u"Command1"_qs), &CommandButton::Click);
    QSignalSpy extract(window.findChild<CommandButton*>(u"Extraire"_qs), &CommandButton::Click);
    for (const QString& name : {u"Volume"_qs, u"ImageCD"_qs, u"Text3"_qs}) {
        auto* box = window.findChild<TextBox*>(name);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter);
        QTest::keyClick(box, Qt::Key_Escape);
    }
    QCOMPARE(build.count(), 0);
    QCOMPARE(extract.count(), 0);
    QVERIFY(services.calls.isEmpty());
}

void WindowTest::resizingMovesNothing() {
    test::FakeServices services;
    Form1 window(services);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QHash<QString, QRect> before;
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        before.insert(child->objectName(), child->geometry());
    for (const QSize size : {QSize(900, 800), QSize(200, 150)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QCOMPARE(child->geometry(), before.value(child->objectName()));
    }
}

void WindowTest::screenReaderNamesEveryInput() {
    test::FakeServices services;
    Form1 window(services);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QHash<QString, QString> expected = {
        {u"Volume"_qs, u"CD Volume Name :"_qs},
        {u"ImageCD"_qs, u"CD Image Name :"_qs},
        {u"Text3"_qs, u"Path to store CD image / files extracted"_qs},
        {u"List1"_qs, u"List of files inserted in the CD image / extracted from CD"_qs},
        {u"Velmora"_qs, u"Velmora_Tolk"_qs},
        {u"Dat2File"_qs, u"Dat2File"_qs},
        {u"Command1"_qs, u"CD Image build"_qs},
        {u"Check1"_qs, u"Path to store CD image / files extracted"_qs},
    };
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(window.findChild<QWidget*>(it.key()));
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), it.value());
    }
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->focusPolicy() == Qt::NoFocus)
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
        QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(child->objectName()));
        if (!qobject_cast<TextBox*>(child) || !child->toolTip().isEmpty() ||
            child->accessibleDescription() != texts::kToolBoxHint) // the tool boxes say more
            QCOMPARE(accessible->text(QAccessible::Description), child->toolTip());
    }
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
