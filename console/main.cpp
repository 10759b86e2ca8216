// SPDX-License-Identifier: GPL-3.0-or-later
// velmora_console: runs a tool in the current folder and shows what it writes, how far it is and
// how it ended, as the system gives a console program a console window on Windows. The first
// console of a desktop session opens the window; later ones hand their tool to it and end, so
// that every tool the program launches is a row of that one window.

#include "console/consolewindow.h"
#include "console/processkeeper.h"
#include "console/sharedconsole.h"
#include "console/texts.h"
#include "console/toolgroup.h"
#include "console/tooljob.h"
#include "platform/filenamecodec.h"
#include "platform/qttranslations.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QProcess>
#include <QSet>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

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
    // How long the event loop kept the user waiting at most, measured by a heartbeat.
    auto* heart = new QTimer(&window);
    const auto beat = std::make_shared<QElapsedTimer>();
    auto longest = std::make_shared<qint64>(0);
    heart->setInterval(5);
    QObject::connect(heart, &QTimer::timeout, heart,
                     [beat, longest] { *longest = std::max(*longest, beat->restart()); });
    beat->start();
    heart->start();
    QObject::connect(&window, &ConsoleWindow::allFinished, &window,
                     [&window, reportFile, rows, longest] {
                         if (window.jobs().size() < rows)
                             return;
                         QFile report(reportFile + QStringLiteral(".partial"));
                         if (report.open(QIODevice::WriteOnly))
                             report.write((window.report() +
                                           QStringLiteral("longest wait: %1 ms\n").arg(*longest))
                                              .toUtf8());
                         report.close();
                         QFile::rename(report.fileName(), reportFile);
                         QApplication::quit();
                     });
}

#ifndef Q_OS_WIN
int g_signalPipe[2] = {-1, -1};

extern "C" void askToQuit(int) {
    const char signalled = 1;
    (void)!::write(g_signalPipe[1], &signalled, 1);
}

// SIGTERM, SIGHUP (the session ending) and SIGINT end the console as closing it does, its tools
// with it: the event loop quits, and each tool is stopped on the way out.
void quitOnStopSignals(QApplication& application) {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        char drained[16];
        while (::read(g_signalPipe[0], drained, sizeof drained) > 0) {
        }
        // Not quit(): that would ask the window, which would ask the user.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = askToQuit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}
#endif

// What the tools leave running is this console's: it adopts their orphans, reaps those that
// end, and a guard of its own ends them should the console itself be killed outright.
void keepToolsProcesses(ConsoleWindow& window) {
    becomeSubreaper();
    auto* guard = new QProcess(&window);
    const pid_t console = ::getpid();
    guard->setChildProcessModifier([console] { prepareGuard(console); });
    guard->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    guard->start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--guard"), QString::number(console), QString::fromLatin1(consoleToken())});
    auto* reaper = new QTimer(&window);
    QObject::connect(reaper, &QTimer::timeout, &window, [&window, guard] {
        QSet<pid_t> own{pid_t(guard->processId())};
        for (const ToolJob* job : window.jobs())
            own.insert(pid_t(job->processId()));
        reapAdopted(own);
    });
    reaper->start(1000);
    // Whatever the tools left, however it hid from their marks, was adopted: it ends with the
    // console (the guard, which sees the console end, excepted).
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, [&window, guard] {
        QSet<pid_t> spare{pid_t(guard->processId())}; // and the tools, each its QProcess's
        for (const ToolJob* job : window.jobs())
            spare.insert(pid_t(job->processId()));
        endDescendants(spare);
    });
}

} // namespace

int main(int argc, char** argv) {
    // Usage needs no display.
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(qPrintable(texts::kUsage), argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--guard") == 0)
        return guardTools(pid_t(std::atoll(argv[2])), argv[3]);
    if (argc >= 5 && std::strcmp(argv[1], "--group") == 0 && std::strcmp(argv[3], "--") == 0)
        runInGroup(pid_t(std::atoll(argv[2])), argv + 4);
    // The tool's arguments as given, each byte kept (a file name need not be UTF-8), taken
    // before Qt looks at the arguments for options of its own.
    QStringList command;
    for (int i = 1; i < argc; ++i)
        command.append(velmora::decodeFileName(argv[i]));
    const std::string folder = std::filesystem::current_path().native();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora_console"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora GUI"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/velmora-gui-32.png")));
    velmora::loadQtTranslations(application); // "Yes" and "No" in the user's language
    useToolGroups(QCoreApplication::applicationFilePath());

    const HandedTool tool{
        velmora::decodeFileName(QByteArrayView(folder.data(), qsizetype(folder.size()))), command,
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
    if (joinSharedConsole(sharedConsoleNames(), tool, server) == Role::HandedOver)
        return 0;

    window.addTool(tool.command, tool.folder, QProcessEnvironment::systemEnvironment());
    reportWhenDone(window);
#ifndef Q_OS_WIN
    quitOnStopSignals(application);
    keepToolsProcesses(window);
#endif
    window.show();
    window.start();
    return QApplication::exec();
}
