// SPDX-License-Identifier: GPL-3.0-or-later
// The program's boxes under a real window manager (openbox on a virtual display), beside other X
// clients standing for another application and for a console window: a waiting box never takes
// the keyboard back from the window the user went to, a window that raises itself while the box
// waits never covers it, and Enter still confirms box after box. And, where a real platform
// lets accessibility be switched on, the source list tells a screen reader of its entries by
// their rows.

#include "platform/accessibility.h"
#include "platform/controls.h"
#include "platform/qtservices.h"

#include <QAccessible>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QString helper(const QString& name) {
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// The managed windows from the bottom up, as the window manager stacks them.
QList<WId> stacking() {
    const QString line =
        run(u"xprop"_qs, {u"-root"_qs, u"-notype"_qs, u"_NET_CLIENT_LIST_STACKING"_qs});
    QList<WId> windows;
    static const QRegularExpression id(u"0x[0-9a-fA-F]+"_qs);
    for (auto match = id.globalMatch(line); match.hasNext();)
        windows.append(WId(match.next().captured().toULongLong(nullptr, 16)));
    return windows;
}

// Another X client: its window's id once it is shown.
struct OtherWindow {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    WId window = 0;

    explicit OtherWindow(const QStringList& arguments = {}) {
        process->start(helper(u"other_app"_qs), arguments);
        if (process->waitForReadyRead(10000))
            window = WId(process->readLine().trimmed().toULongLong());
        // Mapped and managed by the window manager before the test goes on.
        QElapsedTimer waited;
        waited.start();
        while (window != 0 && !stacking().contains(window) && waited.elapsed() < 10000)
            QTest::qWait(50);
        QTest::qWait(100);
    }
    ~OtherWindow() {
        process->kill();
        process->waitForFinished();
    }
};

// A click as the user makes it, through the X server: the window manager gives that window the
// keyboard.
void clickInto(WId window) {
    run(u"xdotool"_qs, {u"mousemove"_qs, u"--window"_qs, QString::number(window), u"30"_qs,
                        u"30"_qs, u"click"_qs, u"1"_qs});
}

WId focusedWindow() {
    return WId(run(u"xdotool"_qs, {u"getwindowfocus"_qs}).toULongLong());
}

// Shows a box through the program's services; `whileWaiting` runs while it waits, given the
// box, and closes it (or lets the user do so).
void withBox(velmora::QtServices& services, const std::function<void(QWidget*)>& whileWaiting) {
    QTimer::singleShot(0, [&] {
        QWidget* box = nullptr;
        // Closed whatever the checks say, or the box would wait forever.
        const auto close = qScopeGuard([&box] {
            if (QWidget* modal = box ? box : QApplication::activeModalWidget())
                modal->close();
        });
        QTRY_VERIFY_WITH_TIMEOUT((box = QApplication::activeModalWidget()) && box->isVisible(),
                                 5000);
        whileWaiting(box);
    });
    services.messageBox(u"Files not defined / Fichier Source non définit"_qs,
                        velmora::MessageStyle::Exclamation);
}

} // namespace

class StackingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void waitingBoxNeverTakesTheKeyboardBack();
    void windowRaisingItselfNeverCoversAWaitingBox();
    void enterConfirmsBoxAfterBox();
    void theSourceListTellsAScreenReaderOfEachEntryByItsRow();

private:
    std::unique_ptr<QWidget> m_window;
};

void StackingTest::initTestCase() {
    m_window = std::make_unique<QWidget>();
    m_window->setWindowTitle(u"The program"_qs);
    m_window->setGeometry(300, 200, 500, 360);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

// The user clicks into another application while a box waits, ten times: the keyboard stays
// there each time, sampled every 20 ms for 600 ms.
void StackingTest::waitingBoxNeverTakesTheKeyboardBack() {
    velmora::QtServices services(u"Velmora"_qs, QString());
    OtherWindow other;
    QVERIFY(other.window != 0);
    int takenBack = 0;
    for (int trial = 0; trial < 10; ++trial) {
        clickInto(m_window->winId());
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isActiveWindow(), 5000);
        withBox(services, [&](QWidget* box) {
            QTRY_VERIFY_WITH_TIMEOUT(box->isActiveWindow(), 5000);
            clickInto(other.window);
            QTRY_VERIFY2_WITH_TIMEOUT(focusedWindow() == other.window,
                                      qPrintable(QString::number(focusedWindow())), 5000);
            // The keyboard as the X server has it.
            bool back = false;
            QElapsedTimer waited;
            waited.start();
            while (!back && waited.elapsed() < 600) {
                QTest::qWait(20);
                back = focusedWindow() != other.window;
            }
            takenBack += back ? 1 : 0;
        });
    }
    QCOMPARE(takenBack, 0);
}

// A window that raises itself every 30 ms (as a console does when a tool starts), while a box
// waits with the user in the program, then with the user in another application: the box is
// never below it in any sample.
void StackingTest::windowRaisingItselfNeverCoversAWaitingBox() {
    velmora::QtServices services(u"Velmora"_qs, QString());
    OtherWindow elsewhere;
    for (const bool userElsewhere : {false, true}) {
        clickInto(m_window->winId());
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isActiveWindow(), 5000);
        int covered = 0, samples = 0;
        withBox(services, [&](QWidget* box) {
            if (userElsewhere)
                clickInto(elsewhere.window);
            const OtherWindow console({u"--raise-every"_qs, u"30"_qs});
            QVERIFY(console.window != 0);
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 800) {
                const QList<WId> order = stacking();
                const qsizetype boxAt = order.indexOf(box->winId());
                const qsizetype consoleAt = order.indexOf(console.window);
                if (boxAt >= 0 && consoleAt >= 0) {
                    ++samples;
                    covered += boxAt < consoleAt ? 1 : 0;
                }
                QTest::qWait(20);
            }
        });
        QVERIFY2(samples > 10, qPrintable(QString::number(samples)));
        QVERIFY2(covered == 0, qPrintable(QString::number(covered) + u" of "_qs +
                                          QString::number(samples) + u" samples"_qs));
    }
}

// Three boxes in a row, each confirmed with Enter as the user types it: each one has the
// keyboard as it comes.
void StackingTest::enterConfirmsBoxAfterBox() {
    velmora::QtServices services(u"Velmora"_qs, QString());
    clickInto(m_window->winId());
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isActiveWindow(), 5000);
    int confirmed = 0;
    QTimer typing;
    QObject::connect(&typing, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget(); box && box->isActiveWindow())
            run(u"xdotool"_qs, {u"key"_qs, u"Return"_qs});
    });
    typing.start(200);
    QElapsedTimer took;
    took.start();
    for (int i = 0; i < 3; ++i) {
        services.messageBox(u"Box "_qs + QString::number(i + 1), velmora::MessageStyle::OkOnly);
        ++confirmed;
    }
    typing.stop();
    QCOMPARE(confirmed, 3);
    QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed())));
}

QTEST_MAIN(StackingTest)
// As with a screen reader: every event's child is asked for, as the reader's bridge does. Browsed
// and emptied from both ends, the list names the entry that is current, never one further down
// or one that does not exist (Qt says "Cannot create accessible child interface" then).
void StackingTest::theSourceListTellsAScreenReaderOfEachEntryByItsRow() {
    QAccessible::setActive(true);
    if (!QAccessible::isActive())
        QSKIP("this platform has no accessibility to switch on");
    velmora::installAccessibility(QWidget::staticMetaObject);
    QWidget window;
    window.setGeometry(300, 200, 400, 300);
    auto* list = new velmora::ListBox(&window);
    list->setGeometry(10, 10, 380, 280);
    for (int i = 0; i < 30; ++i)
        list->AddItem(u"/home/user/clip %1.mpg"_qs.arg(i, 2, 10, QChar(u'0')));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    static QStringList wrong;
    static velmora::ListBox* watched = nullptr;
    wrong.clear();
    watched = list;
    QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
        if (event->object() != watched || event->child() < 0)
            return;
        QAccessibleInterface* child =
            QAccessible::queryAccessibleInterface(watched)->child(event->child());
        if (!child)
            wrong << u"no child %1 of %2"_qs.arg(event->child()).arg(watched->ListCount());
        else if (event->type() == QAccessible::Focus &&
                 child->text(QAccessible::Name) != watched->List(watched->currentIndex().row()))
            wrong << u"focus on %1, current %2"_qs.arg(child->text(QAccessible::Name))
                         .arg(watched->List(watched->currentIndex().row()));
    });
    list->setFocus();
    for (const int key : {Qt::Key_Home, Qt::Key_Down, Qt::Key_Down, Qt::Key_End, Qt::Key_Up})
        QTest::keyClick(list, Qt::Key(key));
    while (list->ListCount() > 15) {
        QTest::keyClick(list, Qt::Key_End);
        list->RemoveItem(list->currentIndex().row());
    }
    while (list->ListCount() > 0) {
        QTest::keyClick(list, Qt::Key_Home);
        list->RemoveItem(list->currentIndex().row());
    }
    QAccessible::installUpdateHandler(nullptr);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 10).join(u'\n')));
}

#include "tst_stacking.moc"
