// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One console window for a desktop session: the first velmora_console opens the window and
// listens on a local socket named for the user and the display; every later one hands its tool
// over to that window and ends at once, so that a launch stays instant and all tools show as
// rows of one window. Where no shared window can be reached, a console runs its tool alone.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

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

// The socket of the shared window, in the user's runtime folder (or the temporary folder):
// "velmora_console-UID-DISPLAY". VELMORA_CONSOLE_NAME, where set, names it instead (tests give
// each run a window of its own).
QString sharedConsoleName();

// Hands `tool` to the window listening on `name`; true once that window has taken it.
bool handOver(const QString& name, const HandedTool& tool, int milliseconds = 3000);

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
};

enum class Role {
    HandedOver, // the tool went to the shared window: this console is done
    Serving,    // this console shows the shared window
    Alone,      // no shared window: this console shows its own tool alone
};

// Hands `tool` over to the shared window, or, where none listens, becomes it. Two consoles
// started at once agree on one window through a lock file beside the socket.
Role joinSharedConsole(const QString& name, const HandedTool& tool, ConsoleServer& server);

} // namespace velmora::console
