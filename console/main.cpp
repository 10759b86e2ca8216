// velmora_console: runs one tool in the current folder and shows, in a window of its own, what
// the tool writes, how far it is and how it ended, as the system gives a console program a
// console window on Windows. The window's launcher starts it with the tool and its arguments.

#include "console/consolewindow.h"
#include "console/texts.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora_console"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora GUI"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/velmora-gui-32.png")));
    QStringList command = QApplication::arguments().mid(1);
    if (command.isEmpty() || command.first() == QStringLiteral("--help")) {
        std::fputs(qPrintable(velmora::console::texts::kUsage),
                   command.isEmpty() ? stderr : stdout);
        return command.isEmpty() ? 2 : 0;
    }

    velmora::console::ConsoleWindow window(command);
    const QString reportFile = qEnvironmentVariable("VELMORA_CONSOLE_REPORT");
    if (!reportFile.isEmpty()) {
        QObject::connect(&window, &velmora::console::ConsoleWindow::toolFinished, &window,
                         [&window, reportFile] {
                             QFile report(reportFile + QStringLiteral(".partial"));
                             if (report.open(QIODevice::WriteOnly))
                                 report.write(window.report().toUtf8());
                             report.close();
                             QFile::rename(report.fileName(), reportFile);
                             QApplication::quit();
                         });
    }
    window.show();
    window.start();
    return QApplication::exec();
}
