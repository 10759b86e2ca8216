// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/toolgroup.h"

#include "console/processkeeper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#endif

namespace velmora::console {

namespace {

QString& keeperProgram() {
    static QString program;
    return program;
}

#ifdef Q_OS_LINUX

// The signals the tool's process and the keeper wait for rather than end by: a parent's end,
// a child's, and Stop's.
sigset_t groupSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGUSR1, SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

bool writeWhole(const char* path, const char* text) {
    const int file = ::open(path, O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    const auto size = ssize_t(std::strlen(text));
    const bool written = ::write(file, text, std::size_t(size)) == size;
    return ::close(file) == 0 && written;
}

enum class Made { Yes, NotHere, Broken };

// A user namespace of this process's own where this user and group are themselves and nothing
// else, with a PID namespace for its children.
Made enterUserNamespace(uid_t user, gid_t group) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0)
        return Made::NotHere;
    char line[64];
    std::snprintf(line, sizeof line, "%u %u 1\n", unsigned(user), unsigned(user));
    if (!writeWhole("/proc/self/uid_map", line) || !writeWhole("/proc/self/setgroups", "deny"))
        return Made::Broken;
    std::snprintf(line, sizeof line, "%u %u 1\n", unsigned(group), unsigned(group));
    return writeWhole("/proc/self/gid_map", line) ? Made::Yes : Made::Broken;
}

// A PID namespace for this process's children: as the user may make one, else in a user
// namespace of its own, tried first in a child (a user namespace cannot be left, and one whose
// user the system will not map would leave the tool nobody's).
Made makeNamespace() {
    if (::unshare(CLONE_NEWPID) == 0)
        return Made::Yes;
    const uid_t user = ::geteuid();
    const gid_t group = ::getegid();
    const pid_t trial = ::fork();
    if (trial == 0)
        ::_exit(enterUserNamespace(user, group) == Made::Yes ? 0 : 1);
    int status = 0;
    if (trial < 0 || ::waitpid(trial, &status, 0) != trial || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return Made::NotHere;
    return enterUserNamespace(user, group);
}

[[noreturn]] void fail(const char* tool, const char* what) {
    std::fprintf(stderr, "velmora_console: %s cannot be started: %s\n", tool, what);
    ::_exit(127);
}

[[noreturn]] void runTool(char** tool, const sigset_t& blocked) {
    ::sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    ::execvp(tool[0], tool);
    fail(tool[0], std::strerror(errno));
}

// The keeper, first process of the namespace: starts the tool, tells `report` how it ended,
// then waits for the last process of the namespace (or for the console's end, which ends them
// all with it). Stop's signals go on to every process of the namespace.
[[noreturn]] void keep(pid_t console, char** tool, int report) {
    const sigset_t watched = groupSignals();
    ::prctl(PR_SET_PDEATHSIG, SIGUSR1);
    const pid_t proxy = parentAtLarge(); // the tool's process as the console sees it
    const pid_t started = ::fork();
    if (started == 0)
        runTool(tool, watched);
    if (started < 0)
        fail(tool[0], std::strerror(errno));
    ::signal(SIGPIPE, SIG_IGN); // the tool's process may be gone when its end is told
    const int nothing = ::open("/dev/null", O_RDWR);
    for (int stream = 0; stream < 3; ++stream)
        ::dup2(nothing, stream);
    bool toolEnded = false;
    int interval = 100; // milliseconds between looks, once the tool has ended
    for (;;) {
        int status = 0;
        for (pid_t ended; (ended = ::waitpid(-1, &status, WNOHANG)) > 0;) {
            if (ended == started) {
                (void)!::write(report, &status, sizeof status);
                ::close(report);
                toolEnded = true;
            }
        }
        const pid_t parent = parentAtLarge();
        if (parent != proxy && parent != console)
            ::_exit(0); // the console is gone, or the tool's process was killed: all ends here
        if (toolEnded && ::kill(-1, 0) != 0 && errno == ESRCH)
            ::_exit(0); // nothing left but this process
        const int milliseconds = toolEnded ? interval : 1000;
        const timespec wait{milliseconds / 1000, long(milliseconds % 1000) * 1'000'000};
        const int signal = ::sigtimedwait(&watched, nullptr, &wait);
        if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP)
            ::kill(-1, signal); // Stop, for every process of the namespace
        if (toolEnded && signal < 0)
            interval = std::min(1000, interval * 3 / 2);
    }
}

// Ends this process as the tool ended: by its status, or by its signal.
[[noreturn]] void endAs(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        ::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

#endif

} // namespace

void useToolGroups(const QString& keeper) {
    keeperProgram() = keeper;
}

QStringList commandInGroup(const QStringList& command, const QString& folder) {
#ifdef Q_OS_LINUX
    if (keeperProgram().isEmpty() || command.isEmpty())
        return command;
    const QString& program = command.first();
    const bool there = program.contains(u'/')
                           ? QFileInfo(QDir(folder).absoluteFilePath(program)).isExecutable()
                           : !QStandardPaths::findExecutable(program).isEmpty();
    if (there)
        return QStringList{keeperProgram(), QStringLiteral("--group"),
                           QString::number(QCoreApplication::applicationPid()),
                           QStringLiteral("--")} +
               command;
#else
    (void)folder;
#endif
    return command;
}

void runInGroup(pid_t console, char** tool) {
#ifdef Q_OS_LINUX
    const sigset_t watched = groupSignals();
    ::sigprocmask(SIG_BLOCK, &watched, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != console)
        ::_exit(127); // the console is gone already
    const Made made = makeNamespace();
    if (made == Made::NotHere)
        runTool(tool, watched); // no grouping here: the tool in this process's stead
    int report[2];
    if (made == Made::Broken || ::pipe2(report, O_CLOEXEC) != 0)
        fail(tool[0], "its group of processes could not be made");
    const pid_t keeper = ::fork();
    if (keeper < 0)
        fail(tool[0], std::strerror(errno));
    if (keeper == 0) {
        ::close(report[0]);
        keep(console, tool, report[1]);
    }
    ::close(report[1]);
    // Stop reaches the tool and the keeper as members of this process group; this process only
    // waits to end as the tool does (or as the keeper, killed with it).
    int status = 0;
    ssize_t got;
    while ((got = ::read(report[0], &status, sizeof status)) < 0 && errno == EINTR) {
    }
    if (got != ssize_t(sizeof status))
        status = SIGKILL; // the keeper was killed, and the tool with it
    endAs(status);
#else
    (void)console;
    ::execvp(tool[0], tool);
    ::_exit(127);
#endif
}

} // namespace velmora::console
