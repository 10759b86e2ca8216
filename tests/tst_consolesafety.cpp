// SPDX-License-Identifier: GPL-3.0-or-later
// The console against other users and against tools that scatter: its socket lies where only
// the user reaches it and nothing goes to, or comes from, another user's process; a slow window
// keeps its socket; every process a tool starts ends on Stop, on close and with a killed
// console. Where the tests run as root, the other user is a real one (nobody); elsewhere those
// tests are skipped.

#include "console/consolewindow.h"
#include "console/processkeeper.h"
#include "console/sharedconsole.h"
#include "console/toolgroup.h"
#include "console/tooljob.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <optional>

#include <grp.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora::console;
using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kOtherUser = 65534; // nobody
const QString kSocketPeer = QStringLiteral(SOCKET_PEER);

bool processGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray facts = stat.readAll();
    const qsizetype afterName = facts.lastIndexOf(')');
    return afterName < 0 || facts.mid(afterName + 2, 1) == "Z";
}

QList<qint64> pidsIn(const QString& path, int count) {
    QElapsedTimer waited;
    waited.start();
    QList<qint64> pids;
    while (waited.elapsed() < 20000) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            pids.clear();
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.toLongLong() > 0)
                    pids.append(line.toLongLong());
            if (pids.size() >= count)
                return pids;
        }
        QTest::qWait(20);
    }
    return pids;
}

// A command for a shell that runs `command` in a process that first writes its own number, as
// the system at large numbers it (not as a namespace the console keeps the tool's processes in),
// to `pids`.
QString selfRecorded(const QString& pids, const QString& command) {
    return QStringLiteral("/bin/sh -c 'read p _ </proc/self/stat; echo $p >>\"%1\"; exec %2'")
        .arg(pids, command);
}

// A tool that starts one process in the background and one in a session of its own, writes
// their numbers to `pids`, then waits for them (or ends at once, when `waits` is false).
QStringList scatteringTool(const QString& pids, bool waits = true) {
    const QString sleeper = selfRecorded(pids, QStringLiteral("sleep 300"));
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("%1 & setsid %1 & %2")
                .arg(sleeper, waits ? QStringLiteral("wait") : QStringLiteral("exit 0"))};
}

// The live processes of this user whose command line holds `marker` (and begins with `program`).
QList<qint64> processesWith(const QByteArray& marker, const QByteArray& program = {}) {
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!number || pid == QCoreApplication::applicationPid() ||
            !commandLine.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = commandLine.readAll();
        if (text.contains(marker) && text.startsWith(program) && !processGone(pid))
            found.append(pid);
    }
    return found;
}

// A tool that hides processes every way a process can, each carrying `marker` in its command
// line, then waits (or ends at once, when `waits` is false): a session of its own with an
// empty environment; a double fork with an empty environment; its mark overwritten; made
// non-dumpable, so that its environment cannot be read; a process that forks a successor and
// ends, every 10 ms.
QStringList hidingTool(const QByteArray& marker, bool waits) {
    const QString m = QString::fromLatin1(marker);
    // prctl(PR_SET_DUMPABLE, 0), by the system call's number on this machine
    const QString prctl =
        QStringLiteral("syscall($Config{archname} =~ /aarch64/ ? 167 : 157, 4, 0)");
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("setsid env -i perl -e 'sleep 300' %1-session & "
                           "(env -i perl -e 'exit 0 if fork(); sleep 300' %1-double &) ; "
                           "VELMORA_CONSOLE_TOOL=nothing perl -e 'sleep 300' %1-mark & "
                           "env -i perl -MConfig -e '%2; sleep 300' %1-hidden & "
                           "env -i perl -e 'while (1) { select(undef, undef, undef, 0.01); "
                           "exit 0 if fork() }' %1-successor & "
                           "sleep 0.5; %3")
                .arg(m, prctl, waits ? QStringLiteral("sleep 300") : QStringLiteral("exit 0"))};
}

// Whether this system makes a PID namespace for a user's process: the kernel's grouping of a
// tool's processes, without which what hides from its mark is found only as the console adopts
// it.
bool kernelGroupsTools() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::unshare(CLONE_NEWPID) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWPID) == 0 ? 0
                                                                                             : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Reaps what the window's tools left and this process adopted, as the console does.
void reapLikeTheConsole(QTimer& reaper, const ConsoleWindow& window) {
    QObject::connect(&reaper, &QTimer::timeout, &window, [&window] {
        QSet<pid_t> own;
        for (const ToolJob* job : window.jobs())
            own.insert(pid_t(job->processId()));
        reapAdopted(own);
    });
    reaper.start(200);
}

// Why this test cannot act as another user, or nothing when it can: it runs as root, and the
// helper lies where that user may run it.
std::optional<QString> whyNoOtherUser();

// A process of this test's helper, run as another user.
void asOtherUser(QProcess& process) {
    process.setChildProcessModifier([] {
        ::setgroups(0, nullptr);
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
            ::_exit(126);
    });
}

std::optional<QString> whyNoOtherUser() {
    if (::getuid() != 0)
        return QStringLiteral("needs root, to act as another user");
    QProcess probe;
    asOtherUser(probe);
    probe.start(kSocketPeer, {});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit ||
        probe.exitCode() != 2)
        return QStringLiteral("the helper %1 is out of reach of another user").arg(kSocketPeer);
    return std::nullopt;
}

// A folder any user may enter and write in, for the other user's socket.
QString openFolder(const QTemporaryDir& temporary) {
    const QString folder = temporary.filePath(QStringLiteral("open"));
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(temporary.path()).constData(), 0755);
    ::chmod(QFile::encodeName(folder).constData(), 01777);
    return folder;
}

// Sets an environment variable for the life of a test, or unsets it.
class Variable {
public:
    Variable(const char* name, const QByteArray& value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~Variable() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    Variable(const Variable&) = delete;
    Variable& operator=(const Variable&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// A session with no runtime folder, on display :7, whose temporary folder is `tmp` and cache
// folder `cache`: the console's socket is looked for in those two alone.
struct SessionWithout {
    SessionWithout(const QString& tmp, const QString& cache)
        : tmpdir("TMPDIR", QFile::encodeName(tmp))
        , cacheHome("XDG_CACHE_HOME", QFile::encodeName(cache)) {}
    const Variable runtime{"XDG_RUNTIME_DIR", {}};
    const Variable tmpdir;
    const Variable cacheHome;
    const Variable name{"VELMORA_CONSOLE_NAME", {}};
    const Variable display{"DISPLAY", ":7"};
    const Variable wayland{"WAYLAND_DISPLAY", {}};
};

// The real console started on `command`, its socket in `folder`: a window of its own.
void startConsole(QProcess& console, const QTemporaryDir& folder, const QStringList& command) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELMORA_CONSOLE_NAME"),
                       folder.filePath(QStringLiteral("console")));
    console.setProcessEnvironment(environment);
    console.start(QStringLiteral(VELMORA_CONSOLE), command);
}

const HandedTool kTool{QStringLiteral("/"), {QStringLiteral("/bin/true")}, {QStringLiteral("A=1")}};

} // namespace

class ConsoleSafetyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void onlyAPrivateFolderHoldsTheSocket();
    void aFolderPlantedByAnotherUserIsPassedBy();
    void theWindowOpenedWhileTheTemporaryFolderWasTakenIsStillFound();
    void nothingIsSentToAnotherUsersSocket();
    void nothingIsTakenFromAnotherUser();
    void aSlowWindowKeepsItsSocketAndADeadOneIsReplaced();
    void aWindowThatWakesLateNeverRunsWhatItsConsoleRanAlone();
    void stopEndsEveryProcessTheToolStarted();
    void closingEndsEveryProcessTheToolStarted();
    void aToolIsDoneOnlyWhenWhatItStartedHasEnded();
    void aKilledConsoleLeavesNoProcessOfItsTools();
    void whatAToolHidFromItsMarkEndsWithTheConsole();
    void nothingAToolStartedOutlivesStopCloseOrAKilledConsole_data();
    void nothingAToolStartedOutlivesStopCloseOrAKilledConsole();
    void waitingForWhatAToolLeftCostsNoProcessorAmongThousandsOfProcesses();
};

// The window's tools run as the console runs them: each in a group of its own where the system
// makes one, this process adopting what they leave.
void ConsoleSafetyTest::initTestCase() {
    becomeSubreaper();
    useToolGroups(QStringLiteral(VELMORA_CONSOLE));
}

void ConsoleSafetyTest::onlyAPrivateFolderHoldsTheSocket() {
    QTemporaryDir temporary;
    const QString folder = temporary.filePath(QStringLiteral("private"));
    QVERIFY(QDir().mkpath(folder));
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    QCOMPARE(whyNotPrivate(folder), std::nullopt);

    ::chmod(QFile::encodeName(folder).constData(), 0750);
    QVERIFY(whyNotPrivate(folder));
    ::chmod(QFile::encodeName(folder).constData(), 0700);

    const QString link = temporary.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(folder, link));
    QVERIFY(whyNotPrivate(link)); // a link is refused, not followed
    QVERIFY(whyNotPrivate(temporary.filePath(QStringLiteral("missing"))));

    // A runtime folder others may enter is not used; the temporary one is made private.
    const QString open = temporary.filePath(QStringLiteral("runtime"));
    QDir().mkpath(open);
    ::chmod(QFile::encodeName(open).constData(), 0777);
    const QString tmp = temporary.filePath(QStringLiteral("tmp"));
    QDir().mkpath(tmp);
    const Variable runtime("XDG_RUNTIME_DIR", QFile::encodeName(open));
    const Variable tmpdir("TMPDIR", QFile::encodeName(tmp));
    const Variable name("VELMORA_CONSOLE_NAME", {});
    const Variable display("DISPLAY", ":7");
    const Variable wayland("WAYLAND_DISPLAY", {});
    const QString ours = QStringLiteral("%1/velmora_console-%2").arg(tmp).arg(::getuid());
    QCOMPARE(sharedConsoleName(),
             QStringLiteral("%1/velmora_console-%2-_7").arg(ours).arg(::getuid()));
    QCOMPARE(whyNotPrivate(ours), std::nullopt);

    // A name whose folder others may enter is refused.
    const Variable named("VELMORA_CONSOLE_NAME", QFile::encodeName(open + QStringLiteral("/c")));
    QCOMPARE(sharedConsoleName(), QString());
}

void ConsoleSafetyTest::aFolderPlantedByAnotherUserIsPassedBy() {
    if (::getuid() != 0)
        QSKIP("needs root, to plant a folder as another user");
    QTemporaryDir temporary;
    const QString tmp = openFolder(temporary);
    // Another user was first to the name, with a folder of theirs, and a lock inside it.
    const QString planted = QStringLiteral("%1/velmora_console-%2").arg(tmp).arg(::getuid());
    QVERIFY(QDir().mkpath(planted));
    QFile lock(planted + QStringLiteral("/velmora_console-0-:7.lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();
    QVERIFY(::chown(QFile::encodeName(planted).constData(), kOtherUser, kOtherUser) == 0);
    ::chmod(QFile::encodeName(planted).constData(), 0777);
    const QString cache = temporary.filePath(QStringLiteral("cache"));
    const SessionWithout session(tmp, cache);

    const QString socket = sharedConsoleName();
    QCOMPARE(socket, cache + QStringLiteral("/velmora_console/velmora_console-0-_7"));
    // Nothing planted makes the console wait or run alone: it opens the window at once.
    ConsoleServer server([](HandedTool) {});
    QElapsedTimer took;
    took.start();
    QCOMPARE(joinSharedConsole({socket}, kTool, server), Role::Serving);
    QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
}

// The temporary folder's name was taken (a folder others may enter: another user's, or left
// open), so the window opened in the user's cache folder. Once the name is free again, the
// next console makes the temporary folder its first place, yet hands its tool to the window
// in the cache folder: never a second window.
void ConsoleSafetyTest::theWindowOpenedWhileTheTemporaryFolderWasTakenIsStillFound() {
    QTemporaryDir temporary;
    const QString tmp = openFolder(temporary);
    const QString taken = QStringLiteral("%1/velmora_console-%2").arg(tmp).arg(::getuid());
    QVERIFY(QDir().mkpath(taken));
    ::chmod(QFile::encodeName(taken).constData(), 0777);
    const QString cache = temporary.filePath(QStringLiteral("cache"));
    const SessionWithout session(tmp, cache);
    const QString window =
        cache + QStringLiteral("/velmora_console/velmora_console-%1-_7").arg(::getuid());
    QCOMPARE(sharedConsoleNames(), QStringList{window});
    QProcess serving; // the window, in the cache folder
    serving.start(kSocketPeer, {QStringLiteral("stall"), QStringLiteral("0"), window});
    QVERIFY(serving.waitForReadyRead(5000));

    QVERIFY(QDir(taken).removeRecursively()); // the name is free again
    const QStringList names = sharedConsoleNames();
    QCOMPARE(names, (QStringList{taken + QStringLiteral("/velmora_console-%1-_7").arg(::getuid()),
                                 window}));
    ConsoleServer second([](HandedTool) {});
    QCOMPARE(joinSharedConsole(names, kTool, second), Role::HandedOver);
    QVERIFY(serving.waitForFinished(5000));
    QCOMPARE(serving.exitCode(), 0);
}

void ConsoleSafetyTest::nothingIsSentToAnotherUsersSocket() {
    if (const std::optional<QString> why = whyNoOtherUser())
        QSKIP(qPrintable(*why));
    QTemporaryDir temporary;
    const QString folder = openFolder(temporary);
    const QString socket = folder + QStringLiteral("/console");
    const QString record = folder + QStringLiteral("/received");
    QProcess listener;
    asOtherUser(listener);
    listener.start(kSocketPeer, {QStringLiteral("listen"), socket, record});
    QVERIFY(listener.waitForReadyRead(5000));

    QCOMPARE(handOver(socket, kTool), Reach::NoAnswer);
    QVERIFY(listener.waitForFinished(20000));
    QFile received(record);
    QVERIFY(received.open(QIODevice::ReadOnly));
    QCOMPARE(received.readAll().trimmed(), QByteArray("0")); // not one byte
}

void ConsoleSafetyTest::nothingIsTakenFromAnotherUser() {
    if (const std::optional<QString> why = whyNoOtherUser())
        QSKIP(qPrintable(*why));
    QTemporaryDir temporary;
    const QString folder = openFolder(temporary);
    const QString socket = folder + QStringLiteral("/console");
    QStringList taken;
    ConsoleServer server([&](HandedTool tool) { taken += tool.command; });
    QVERIFY(server.listen(socket));
    ::chmod(QFile::encodeName(socket).constData(), 0777);

    const QString created = folder + QStringLiteral("/created");
    QProcess sender;
    asOtherUser(sender);
    sender.start(kSocketPeer, {QStringLiteral("send"), socket, created});
    QTRY_COMPARE_WITH_TIMEOUT(sender.state(), QProcess::NotRunning, 15000);
    QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
    QVERIFY(sender.exitCode() != 0);
    QTest::qWait(200);
    QCOMPARE(taken, QStringList());

    // The same message from this user is taken: the refusal is the peer's, not the message's.
    QProcess own;
    own.start(kSocketPeer, {QStringLiteral("send"), socket, created});
    QTRY_COMPARE_WITH_TIMEOUT(own.state(), QProcess::NotRunning, 15000);
    QCOMPARE(own.exitCode(), 0);
    QCOMPARE(taken, (QStringList{QStringLiteral("/usr/bin/touch"), created}));
}

void ConsoleSafetyTest::aSlowWindowKeepsItsSocketAndADeadOneIsReplaced() {
    QTemporaryDir temporary;
    const QString socket = temporary.filePath(QStringLiteral("console"));
    // A window that answers after 3.5 s is waited for: no second window.
    QProcess slow;
    slow.start(kSocketPeer, {QStringLiteral("stall"), QStringLiteral("3500"), socket});
    QVERIFY(slow.waitForReadyRead(5000));
    ConsoleServer server([](HandedTool) {});
    QCOMPARE(joinSharedConsole({socket}, kTool, server), Role::HandedOver);
    QVERIFY(slow.waitForFinished(5000));
    QCOMPARE(slow.exitCode(), 0);

    // The socket of a window that is gone is replaced by this console's.
    QVERIFY(QFile::exists(socket));
    QStringList taken;
    ConsoleServer replacing([&](HandedTool tool) { taken += tool.command; });
    QCOMPARE(joinSharedConsole({socket}, kTool, replacing), Role::Serving);
    QProcess next;
    next.start(kSocketPeer,
               {QStringLiteral("send"), socket, temporary.filePath(QStringLiteral("x"))});
    QTRY_COMPARE_WITH_TIMEOUT(next.state(), QProcess::NotRunning, 15000);
    QCOMPARE(next.exitCode(), 0);
    QCOMPARE(taken.size(), 2);
}

// A window that stalls past the console's patience (here: this very thread, busy in the
// hand-over): the console runs its tool alone; the window, once awake, finds the message, offers
// to take it, hears no go, and runs nothing. A window that answers in time runs it once.
void ConsoleSafetyTest::aWindowThatWakesLateNeverRunsWhatItsConsoleRanAlone() {
    QTemporaryDir temporary;
    const QString name = temporary.filePath(QStringLiteral("console"));
    int taken = 0;
    ConsoleServer window([&](HandedTool) { ++taken; });
    QVERIFY(window.listen(name));
    QCOMPARE(handOver(name, kTool, Patience{1000, 500}), Reach::NoAnswer);
    QTest::qWait(1000); // awake: the message, then the console gone without a go
    QCOMPARE(taken, 0);

    QProcess console;
    console.start(kSocketPeer,
                  {QStringLiteral("send"), name, temporary.filePath(QStringLiteral("x"))});
    QTRY_COMPARE_WITH_TIMEOUT(console.state(), QProcess::NotRunning, 15000);
    QCOMPARE(console.exitCode(), 0);
    QCOMPARE(taken, 1);
}

void ConsoleSafetyTest::stopEndsEveryProcessTheToolStarted() {
    QTemporaryDir folder;
    const QString pids = folder.filePath(QStringLiteral("pids"));
    ConsoleWindow window(scatteringTool(pids));
    QTimer reaper;
    reapLikeTheConsole(reaper, window);
    window.setConfirmation([](const QString&) { return true; });
    window.show();
    window.start();
    const QList<qint64> started = pidsIn(pids, 2);
    QCOMPARE(started.size(), 2);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("stop")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.running(), 10000);
    // Stopped means stopped: nothing of the tool runs once the row says so.
    for (const qint64 pid : started)
        QVERIFY2(processGone(pid), qPrintable(QString::number(pid)));
    QCOMPARE(window.jobs().first()->state(), ToolJob::State::Stopped);
}

void ConsoleSafetyTest::closingEndsEveryProcessTheToolStarted() {
    QTemporaryDir folder;
    const QString pids = folder.filePath(QStringLiteral("pids"));
    auto window = std::make_unique<ConsoleWindow>(scatteringTool(pids));
    QTimer reaper;
    reapLikeTheConsole(reaper, *window);
    window->setConfirmation([](const QString&) { return true; });
    window->show();
    window->start();
    const QList<qint64> started = pidsIn(pids, 2);
    QCOMPARE(started.size(), 2);
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 10000);
    window.reset(); // the console quitting
    for (const qint64 pid : started)
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 5000);
}

void ConsoleSafetyTest::aToolIsDoneOnlyWhenWhatItStartedHasEnded() {
    QTemporaryDir folder;
    const QString pids = folder.filePath(QStringLiteral("pids"));
    ConsoleWindow window(
        {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
         selfRecorded(pids, QStringLiteral("sleep 1")) + QStringLiteral(" & exit 0")});
    QTimer reaper;
    reapLikeTheConsole(reaper, window);
    window.show();
    window.start();
    const QList<qint64> started = pidsIn(pids, 1);
    QCOMPARE(started.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!window.running(), 10000);
    QVERIFY(processGone(started.first()));
    QCOMPARE(window.jobs().first()->state(), ToolJob::State::Succeeded);
}

void ConsoleSafetyTest::aKilledConsoleLeavesNoProcessOfItsTools() {
    for (const int signal : {SIGKILL, SIGTERM}) {
        QTemporaryDir folder;
        const QString pids = folder.filePath(QStringLiteral("pids"));
        QProcess console;
        startConsole(console, folder, scatteringTool(pids));
        const QList<qint64> started = pidsIn(pids, 2);
        QCOMPARE(started.size(), 2);
        ::kill(pid_t(console.processId()), signal);
        QVERIFY(console.waitForFinished(10000));
        for (const qint64 pid : started)
            QTRY_VERIFY2_WITH_TIMEOUT(processGone(pid), qPrintable(QString::number(signal)), 10000);
    }
}

// A tool that leaves a process in a session of its own with a clean environment (no mark to
// find it by) and ends: the console, asked to quit, ends that process too, having adopted it.
void ConsoleSafetyTest::whatAToolHidFromItsMarkEndsWithTheConsole() {
    QTemporaryDir folder;
    const QString pids = folder.filePath(QStringLiteral("pids"));
    QProcess console;
    startConsole(console, folder,
                 {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                  QStringLiteral("setsid env -i %1 >/dev/null 2>&1 & exit 0")
                      .arg(selfRecorded(pids, QStringLiteral("sleep 30")))});
    const QList<qint64> hidden = pidsIn(pids, 1);
    QCOMPARE(hidden.size(), 1);
    QTest::qWait(500);
    QVERIFY(!processGone(hidden.first()));
    ::kill(pid_t(console.processId()), SIGTERM);
    QVERIFY(console.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(processGone(hidden.first()), 5000);
}

void ConsoleSafetyTest::nothingAToolStartedOutlivesStopCloseOrAKilledConsole_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("toolWaits");
    QTest::newRow("Stop while the tool runs") << u"stop"_qs << true;
    QTest::newRow("Stop while its row waits for what it left") << u"stop"_qs << false;
    QTest::newRow("the console closed") << u"close"_qs << true;
    QTest::newRow("the console killed") << u"kill"_qs << true;
    QTest::newRow("the console killed after the tool ended") << u"kill"_qs << false;
}

// Every way a process can hide from the tool's mark and from the tool's process group: with the
// kernel's grouping, Stop, close and a killed console end them all the same.
void ConsoleSafetyTest::nothingAToolStartedOutlivesStopCloseOrAKilledConsole() {
    QFETCH(QString, end);
    QFETCH(bool, toolWaits);
    if (!kernelGroupsTools())
        QSKIP("this system makes no PID namespace for a user: see README for what escapes");
    const QByteArray marker =
        "velmora-hidden-" + QByteArray::number(QRandomGenerator::global()->generate());
    const QStringList tool = hidingTool(marker, toolWaits);
    // The five hiding processes, each of its own kind (the successor seen at least once).
    const auto allStarted = [&] {
        QSet<QByteArray> kinds;
        QElapsedTimer waited;
        waited.start();
        while (kinds.size() < 5 && waited.elapsed() < 10000) {
            for (const qint64 pid : processesWith(marker + '-', "perl")) {
                QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
                if (commandLine.open(QIODevice::ReadOnly))
                    kinds.insert(commandLine.readAll().split('-').last());
            }
            QTest::qWait(20);
        }
        return kinds.size() == 5;
    };
    if (end == u"kill"_qs) {
        QTemporaryDir folder;
        QProcess console;
        startConsole(console, folder, tool);
        QVERIFY(allStarted());
        ::kill(pid_t(console.processId()), SIGKILL);
        QVERIFY(console.waitForFinished(10000));
    } else {
        auto window = std::make_unique<ConsoleWindow>(tool);
        QTimer reaper;
        reapLikeTheConsole(reaper, *window);
        window->setConfirmation([](const QString&) { return true; });
        window->show();
        window->start();
        QVERIFY(allStarted());
        if (!toolWaits) // the tool gone, its row waits for what it left
            QTRY_VERIFY_WITH_TIMEOUT(window->jobs().first()->processId() == 0, 10000);
        QVERIFY(window->running());
        if (end == u"stop"_qs) {
            QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("stop")),
                              Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!window->running(), 10000);
            // A tool that had ended keeps its own result; what it left is stopped all the same.
            QCOMPARE(window->jobs().first()->state(),
                     toolWaits ? ToolJob::State::Stopped : ToolJob::State::Succeeded);
            // Stopped means stopped: nothing of the tool runs once the row says so.
            QCOMPARE(processesWith(marker), QList<qint64>());
            return;
        }
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 10000);
        window.reset(); // the console quitting
    }
    QTRY_COMPARE_WITH_TIMEOUT(processesWith(marker), QList<qint64>(), 10000);
}

// The console's processor time over two seconds, from /proc/PID/stat, in clock ticks.
qint64 processorTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

// Two thousand processes of the user, and a tool that ended leaving a child behind: while its
// row waits for that child, the console looks only at its own descendants, less and less
// often, and uses next to no processor time.
void ConsoleSafetyTest::waitingForWhatAToolLeftCostsNoProcessorAmongThousandsOfProcesses() {
    QProcess crowd;
    crowd.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("i=0; while [ $i -lt 2000 ]; do sleep 29.25 & i=$((i+1)); done; "
                                "echo ready")});
    QVERIFY(crowd.waitForFinished(60000));
    QTemporaryDir folder;
    QProcess console;
    startConsole(console, folder,
                 {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                  QStringLiteral("sleep 9.25 & echo started")});
    QVERIFY(console.waitForStarted());
    // Started and drawn (slowly, in a sanitizer's build), the tool ended: its row waits for
    // the sleep it left. Then measured.
    QTest::qWait(1000);
    for (int settled = 0, waited = 0; settled < 2 && waited < 10; ++waited) {
        const qint64 at = processorTicks(console.processId());
        QTest::qWait(500);
        settled = processorTicks(console.processId()) - at <= 1 ? settled + 1 : 0;
    }
    const qint64 before = processorTicks(console.processId());
    QTest::qWait(2000);
    const qint64 after = processorTicks(console.processId());
    QProcess::execute(QStringLiteral("pkill"),
                      {QStringLiteral("-f"), QStringLiteral("sleep 29.25")});
    ::kill(pid_t(console.processId()), SIGTERM);
    console.waitForFinished(10000);
    QVERIFY(before >= 0 && after >= 0);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    QVERIFY2(after - before <= 2 * ticksPerSecond / 20, // 5% of a core
             qPrintable(QStringLiteral("%1 ticks in 2 s").arg(after - before)));
}

QTEST_MAIN(ConsoleSafetyTest)
#include "tst_consolesafety.moc"
