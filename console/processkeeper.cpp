// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/processkeeper.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace velmora::console {

namespace {

constexpr qint64 kLargestEnvironment = 4 * 1024 * 1024;

// The process's state letter and parent, from /proc/PID/stat; nothing when it is gone.
struct ProcessStat {
    char state = 0;
    pid_t parent = 0;
};

std::optional<ProcessStat> statAt(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(4096);
    // The name between parentheses may hold anything: what follows its last ')' is read.
    const qsizetype end = text.lastIndexOf(')');
    if (end < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(end + 2).split(' ');
    if (fields.size() < 2 || fields.at(0).isEmpty())
        return std::nullopt;
    return ProcessStat{fields.at(0).at(0), pid_t(fields.at(1).toInt())};
}

std::optional<ProcessStat> statOf(pid_t process) {
    return statAt(QStringLiteral("/proc/%1/stat").arg(process));
}

bool carriesMark(pid_t process, const QByteArray& wanted, bool prefix) {
    QFile file(QStringLiteral("/proc/%1/environ").arg(process));
    if (!file.open(QIODevice::ReadOnly))
        return false; // another user's, or gone
    const QByteArray environment = file.read(kLargestEnvironment);
    for (const QByteArray& variable : environment.split('\0')) {
        if (prefix ? variable.startsWith(wanted) : variable == wanted)
            return true;
    }
    return false;
}

QList<pid_t> processesOfThisUser() {
    QList<pid_t> processes;
    const uid_t user = ::getuid();
    const pid_t self = ::getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t process = pid_t(entry.toInt(&number));
        if (!number || process == self)
            continue;
        struct stat status {};
        if (::stat(QFile::encodeName(QStringLiteral("/proc/") + entry).constData(), &status) == 0 &&
            status.st_uid == user)
            processes.append(process);
    }
    return processes;
}

// The children of `process`, from /proc/PID/task/TID/children of each of its threads; nothing
// where the kernel keeps no such list.
std::optional<QList<pid_t>> childrenOf(pid_t process) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(process);
    QList<pid_t> children;
    bool listed = false;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks + u'/' + task + QStringLiteral("/children"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        listed = true;
        for (const QByteArray& child : file.readAll().split(' '))
            if (const int pid = child.trimmed().toInt(); pid > 0)
                children.append(pid_t(pid));
    }
    if (!listed)
        return std::nullopt;
    return children;
}

// The signals that tell the guard its console ended.
sigset_t endingSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&ending, signal);
    return ending;
}

} // namespace

QByteArray consoleToken() {
    static const QByteArray token = QByteArray::number(qint64(::getpid())) + '-' +
                                    QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    return token;
}

namespace {

// This process's descendants where it adopts what they leave and the kernel lists children;
// else nothing.
std::optional<QList<pid_t>> ownDescendants() {
    int subreaper = 0;
#ifdef Q_OS_LINUX
    ::prctl(PR_GET_CHILD_SUBREAPER, &subreaper);
#endif
    if (!subreaper)
        return std::nullopt;
    QList<pid_t> found;
    QList<pid_t> next = {::getpid()};
    while (!next.isEmpty() && found.size() < 100'000) {
        const std::optional<QList<pid_t>> children = childrenOf(next.takeLast());
        if (!children)
            return std::nullopt;
        found += *children;
        next += *children;
    }
    return found;
}

} // namespace

QList<pid_t> descendants() {
    // What its descendants leave behind is this process's only where it adopts them.
    // (Not value_or: its fallback, every process of the user, would be listed each time.)
    if (std::optional<QList<pid_t>> own = ownDescendants())
        return *own;
    return processesOfThisUser();
}

void endDescendants(const QSet<pid_t>& spare, int graceMilliseconds) {
    const auto living = [&] {
        QList<pid_t> left;
        for (const pid_t process : ownDescendants().value_or(QList<pid_t>{}))
            if (!spare.contains(process) && !processEnded(process))
                left.append(process);
        return left;
    };
    signalEach(living(), SIGTERM);
    for (int waited = 0; waited < graceMilliseconds; waited += 50) {
        reapAdopted(spare);
        if (living().isEmpty())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    signalEach(living(), SIGKILL);
    reapAdopted(spare);
}

QList<pid_t> processesMarked(const QByteArray& mark, Among among) {
    const bool prefix = mark.endsWith('.');
    const QByteArray wanted = QByteArray(kToolMarkName) + '=' + mark;
    QList<pid_t> marked;
    for (const pid_t process :
         among == Among::Descendants ? descendants() : processesOfThisUser()) {
        const std::optional<ProcessStat> stat = statOf(process);
        if (stat && stat->state != 'Z' && carriesMark(process, wanted, prefix))
            marked.append(process);
    }
    return marked;
}

pid_t parentAtLarge() {
    const std::optional<ProcessStat> stat = statAt(QStringLiteral("/proc/self/stat"));
    return stat ? stat->parent : 0;
}

bool processEnded(pid_t process) {
    const std::optional<ProcessStat> stat = statOf(process);
    return !stat || stat->state == 'Z' || stat->state == 'X';
}

void signalEach(const QList<pid_t>& processes, int signal) {
    for (const pid_t process : processes)
        ::kill(process, signal);
}

void becomeSubreaper() {
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
}

void reapAdopted(const QSet<pid_t>& own) {
    const pid_t self = ::getpid();
    const std::optional<QList<pid_t>> children = childrenOf(self);
    for (const pid_t process : children ? *children : processesOfThisUser()) {
        if (own.contains(process))
            continue;
        const std::optional<ProcessStat> stat = statOf(process);
        if (stat && stat->parent == self && stat->state == 'Z')
            ::waitpid(process, nullptr, WNOHANG);
    }
}

void prepareGuard(pid_t console) {
    const sigset_t ending = endingSignals();
    ::sigprocmask(SIG_BLOCK, &ending, nullptr);
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    if (::getppid() != console)
        ::_exit(0);
}

int guardTools(pid_t console, const QByteArray& token) {
    // The console's end is seen by its signal, or else by the parent changing.
    const sigset_t ending = endingSignals();
    const timespec poll{0, 250'000'000};
    while (::getppid() == console) {
        if (sigtimedwait(&ending, nullptr, &poll) > 0)
            break;
    }
    // The console is gone, and with it the tree: every process of the user is looked at.
    const QByteArray marks = token + '.';
    signalEach(processesMarked(marks, Among::AllOfThisUser), SIGTERM);
    for (int waited = 0; waited < 30; ++waited) {
        if (processesMarked(marks, Among::AllOfThisUser).isEmpty())
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    signalEach(processesMarked(marks, Among::AllOfThisUser), SIGKILL);
    return 0;
}

} // namespace velmora::console
