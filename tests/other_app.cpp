// SPDX-License-Identifier: GPL-3.0-or-later
// Another application beside the program, for the tests under a window manager: a window with a
// text field that prints its X window id. With --raise-every MS it stands for a console window
// instead: shown without taking the keyboard, it raises itself again and again.

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    QLineEdit window;
    window.setWindowTitle(QStringLiteral("Another application"));
    window.resize(360, 200);
    const qsizetype raise = arguments.indexOf(QStringLiteral("--raise-every"));
    QTimer raising;
    if (raise > 0 && raise + 1 < arguments.size()) {
        window.setAttribute(Qt::WA_ShowWithoutActivating);
        window.move(40, 40);
        QObject::connect(&raising, &QTimer::timeout, &window, [&window] { window.raise(); });
        raising.start(arguments.at(raise + 1).toInt());
    } else {
        window.move(880, 560);
    }
    window.show();
    std::printf("%llu\n", static_cast<unsigned long long>(window.winId()));
    std::fflush(stdout);
    return QApplication::exec();
}
