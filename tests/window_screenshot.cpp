// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the main window offscreen, as it looks with a few files in the source list, and saves
// it as a PNG: `window_screenshot docs/window.png`; with VELMORA_SCREENSHOT_DARK set, under a
// dark palette whose highlight is a dark blue (QT_SCALE_FACTOR scales it as usual). With
// `--console`, the console window instead, after a tool that failed.

#include "app/form1.h"
#include "console/consolewindow.h"
#include "fakeservices.h"
#include "platform/controls.h"
#include "testfiles.h"

#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (qEnvironmentVariableIsSet("VELMORA_SCREENSHOT_DARK")) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
        dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
        dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
        dark.setColor(QPalette::Highlight, QColor(0x1c, 0x3a, 0x70));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        QApplication::setPalette(dark);
    }
    const bool console = argc == 3 && QByteArray(argv[1]) == "--console";
    if (argc != 2 && !console) {
        std::fprintf(stderr, "usage: window_screenshot [--console] OUTPUT.png\n");
        return 2;
    }
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[argc - 1]));
    if (console) {
        velmora::console::ConsoleWindow window(
            {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
             QStringLiteral("echo 'reading the image'; echo 'cannot read IN.BIN' >&2; exit 1")});
        window.resize(760, 480);
        window.show();
        window.start();
        while (window.running())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::processEvents();
        return window.grab().save(output) ? 0 : 1;
    }
    QTemporaryDir temporary;
    const QString home = velmora::test::makeFolder(temporary.path(), QStringLiteral("Archives"));
    for (const QString& folder : {QStringLiteral("2025"), QStringLiteral("2026")})
        velmora::test::makeFolder(home, folder);
    const QStringList names = {QStringLiteral("concert.mpg"), QStringLiteral("holiday.avi"),
                               QStringLiteral("interview.wav"), QStringLiteral("notes.txt")};
    for (const QString& name : names)
        velmora::test::makeFile(home, name, 50000000);
    QDir::setCurrent(home);

    velmora::test::FakeServices services;
    velmora::Form1 window(services);
    window.Form_Load();
    auto* list = window.findChild<velmora::ListBox*>(QStringLiteral("List1"));
    for (const QString& name : names.first(3))
        list->AddItem(QDir::toNativeSeparators(QDir(home).filePath(name)));
    window.findChild<velmora::CheckBox*>(QStringLiteral("Check1"))->setChecked(true);
    window.show();
    QCoreApplication::processEvents();
    return window.grab().save(output) ? 0 : 1;
}
