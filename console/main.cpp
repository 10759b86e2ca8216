// velmora_console: runs a tool in the current folder and shows what it writes, how far it is and
// how it ended, as the system gives a console program a console window on Windows. The first
// console of a desktop session opens the window; later ones hand their tool to it and end, so
// that every tool the program launches is a row of that one window.

#include "console/consolewindow.h"
#include "console/sharedconsole.h"
#include "console/texts.h"
#include "platform/qttranslations.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>

#include <cstdio>
#include <cstring>

using namespace velmora::console;

namespace {

// The test hook: once every tool has ended, and at least VELMORA_CONSOLE_REPORT_ROWS tools came
// (1 unless set), what the window shows is written to VELMORA_CONSOLE_REPORT and the console
// quits.
void reportWhenDone(ConsoleWindow& window) {
    const QString reportFile = qEnvironmentVariable("VELMORA_CONSOLE_REPORT");
    if (reportFile.isEmpty())
        return;
    const int rows = std::max(1, qEnvironmentVariableIntValue("VELMORA_CONSOLE_REPORT_ROWS"));
    QObject::connect(&window, &ConsoleWindow::allFinished, &window, [&window, reportFile, rows] {
        if (window.jobs().size() < rows)
            return;
        QFile report(reportFile + QStringLiteral(".partial"));
        if (report.open(QIODevice::WriteOnly))
            report.write(window.report().toUtf8());
        report.close();
        QFile::rename(report.fileName(), reportFile);
        QApplication::quit();
    });
}

} // namespace

int main(int argc, char** argv) {
    // Usage needs no display.
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(qPrintable(texts::kUsage), argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora_console"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora GUI"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/velmora-gui-32.png")));
    velmora::loadQtTranslations(application); // "Yes" and "No" in the user's language

    const HandedTool tool{QDir::currentPath(), QApplication::arguments().mid(1),
                          QProcessEnvironment::systemEnvironment().toStringList()};
    ConsoleWindow window;
    ConsoleServer server([&window](HandedTool handed) {
        QProcessEnvironment environment;
        for (const QString& variable : std::as_const(handed.environment))
            if (const qsizetype equals = variable.indexOf(u'='); equals > 0)
                environment.insert(variable.left(equals), variable.mid(equals + 1));
        window.addTool(std::move(handed.command), std::move(handed.folder), environment);
        window.start();
        window.raise(); // in sight, the keyboard left where the user is
    });
    if (joinSharedConsole(sharedConsoleName(), tool, server) == Role::HandedOver)
        return 0;

    window.addTool(tool.command, tool.folder, QProcessEnvironment::systemEnvironment());
    reportWhenDone(window);
    window.show();
    window.start();
    return QApplication::exec();
}
