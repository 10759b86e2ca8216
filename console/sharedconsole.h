// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One console window for a desktop session: the first velmora_console opens the window and
// listens on a local socket named for the user and the display; every later one hands its tool
// over to that window and ends at once, so that a launch stays instant and all tools show as
// rows of one window. Where no shared window can be reached, a console runs its tool alone.
//
// The socket and its lock lie in a folder only the user reaches (the runtime folder, or one of
// the user's own made for it), and both ends check that the other is the same user: a command
// line, its folder and its environment go to no one else, and nothing another user plants makes
// a console wait, run alone or open a second window.

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace velmora::console {

// What a console hands over: the tool, the folder it runs in and the environment it was
// launched with.
struct HandedTool {
    QString folder;
    QStringList command;
    QStringList environment; // NAME=VALUE
};

// The message that hands `tool` over.
QByteArray handOverMessage(const HandedTool& tool);

// Why `folder` may not hold the socket, or nothing when it may: it must be a folder (not a
// link to one) owned by the user, which no one else may enter, read or write.
std::optional<QString> whyNotPrivate(const QString& folder);

// Whether the process at the other end of the connected local socket `descriptor` runs as this
// user.
bool peerIsThisUser(qintptr descriptor);

// The socket of the shared window, "velmora_console-UID-DISPLAY", in the first private folder
// of: the user's runtime folder, "velmora_console-UID" in the temporary folder (made when
// missing), "velmora_console" in the user's cache folder (made when missing). VELMORA_CONSOLE_NAME,
// where set, names it instead (a path, whose folder must be private, or a name). Empty when no
// private folder can be had.
QString sharedConsoleName();
// That name first, then the same name at the places after it, where a window may have opened
// while the first place was out of reach (another user held the temporary one).
QStringList sharedConsoleNames();

// How long a console waits for the shared window: to connect, and for its answer once
// connected (a window that is alive but busy is waited for, never replaced).
struct Patience {
    int connect = 3000;
    int answer = 30000;
};

enum class Reach {
    Taken,    // the window took the tool
    NoWindow, // nothing listens at the socket's place
    NoAnswer, // something listens but did not take the tool: not replaced, not trusted
};

// Hands `tool` to the window listening on `name`, confirmed by both ends: the window offers to
// take it, the console says go, the window says it runs it. A console that gave up waiting
// never says go, so a window that wakes up late drops the tool it was offered; a console whose
// window vanished after go, before saying it runs it, runs the tool itself. Either way it runs
// once.
Reach handOver(const QString& name, const HandedTool& tool, Patience patience = {});

// The listening end, in the console that shows the window.
class ConsoleServer : public QObject {
    Q_OBJECT
public:
    explicit ConsoleServer(std::function<void(HandedTool)> take, QObject* parent = nullptr);

    // Listens on `name`; false when that cannot be done (another console listens there).
    bool listen(const QString& name);

private:
    void receive(QLocalSocket* socket);

    std::function<void(HandedTool)> m_take;
    QLocalServer* m_server;
    QHash<QLocalSocket*, HandedTool> m_offered; // waiting for the console's go
};

enum class Role {
    HandedOver, // the tool went to the shared window: this console is done
    Serving,    // this console shows the shared window
    Alone,      // no shared window: this console shows its own tool alone
};

// Hands `tool` over to the shared window, or, where none listens, becomes it. Two consoles
// started at once agree on one window through a lock file beside the socket. A socket is
// replaced only when nothing listens at it any more.
Role joinSharedConsole(const QStringList& names, const HandedTool& tool, ConsoleServer& server,
                       Patience patience = {});

} // namespace velmora::console
