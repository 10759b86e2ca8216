// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/sharedconsole.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::console {

namespace {

constexpr quint32 kMagic = 0x56434f32; // "VCO2": the hand-over confirmed by both ends
constexpr qint64 kLargestMessage = 16 * 1024 * 1024;
constexpr char kOffered = 'k'; // window: it would take the tool
constexpr char kGo = 'g';      // console: it is the window's now
constexpr char kRunning = 'r'; // window: it runs it

// The next byte from `socket`, waiting for it at most `milliseconds`; nothing when none came,
// and whether the other end is gone.
std::optional<char> nextByte(QLocalSocket& socket, int milliseconds, bool& gone) {
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(milliseconds)) {
            gone = socket.state() != QLocalSocket::ConnectedState;
            return std::nullopt;
        }
    }
    char byte = 0;
    return socket.getChar(&byte) ? std::optional<char>(byte) : std::nullopt;
}

// `folder`, made private to the user when it does not exist yet; whether it is private.
bool privateFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return !whyNotPrivate(folder);
}

} // namespace

QByteArray handOverMessage(const HandedTool& tool) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << kMagic << tool.folder << tool.command << tool.environment;
    return message;
}

std::optional<QString> whyNotPrivate(const QString& folder) {
    // Through a handle of the folder itself, so that what is checked is what is used: a link
    // is refused, not followed.
    const int handle = ::open(QFile::encodeName(folder).constData(),
                              O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat status {};
    const int statted = ::fstat(handle, &status);
    ::close(handle);
    if (statted != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (status.st_uid != ::getuid())
        return QStringLiteral("owned by another user");
    if ((status.st_mode & 077) != 0)
        return QStringLiteral("other users may enter it");
    return std::nullopt;
}

bool peerIsThisUser(qintptr descriptor) {
#ifdef SO_PEERCRED
    struct ucred peer {};
    socklen_t length = sizeof peer;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return false;
    return peer.uid == ::getuid();
#else
    uid_t user = 0;
    gid_t group = 0;
    return ::getpeereid(int(descriptor), &user, &group) == 0 && user == ::getuid();
#endif
}

QStringList sharedConsoleNames() {
    const QString user = QString::number(::getuid());
    QString name = qEnvironmentVariable("VELMORA_CONSOLE_NAME");
    if (name.contains(u'/'))
        return whyNotPrivate(QFileInfo(name).absolutePath()) ? QStringList() : QStringList{name};
    if (name.isEmpty()) {
        QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
        if (display.isEmpty())
            display = qEnvironmentVariable("DISPLAY");
        display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
        name = QStringLiteral("velmora_console-%1-%2")
                   .arg(user, display.isEmpty() ? QStringLiteral("none") : display);
    }
    // The first private folder serves (made when missing); those after it are only looked at,
    // for a window that opened there while an earlier one was out of reach.
    QStringList names;
    const auto consider = [&](const QString& folder, bool make) {
        if (folder.isEmpty())
            return;
        if (!names.isEmpty())
            names.append(QDir(folder).filePath(name));
        else if (make ? privateFolder(folder) : !whyNotPrivate(folder))
            names.append(QDir(folder).filePath(name));
    };
    consider(qEnvironmentVariable("XDG_RUNTIME_DIR"), false);
    // A name in the shared temporary folder may have been taken by another user first: the
    // user's own cache folder then serves.
    consider(QDir(QDir::tempPath()).filePath(QStringLiteral("velmora_console-") + user), true);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty() && (!names.isEmpty() || QDir().mkpath(cache)))
        consider(QDir(cache).filePath(QStringLiteral("velmora_console")), true);
    return names;
}

QString sharedConsoleName() {
    return sharedConsoleNames().value(0);
}

Reach handOver(const QString& name, const HandedTool& tool, Patience patience) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(patience.connect)) {
        const auto error = socket.error();
        return error == QLocalSocket::ServerNotFoundError ||
                       error == QLocalSocket::ConnectionRefusedError
                   ? Reach::NoWindow
                   : Reach::NoAnswer;
    }
    if (!peerIsThisUser(socket.socketDescriptor()))
        return Reach::NoAnswer; // nothing is sent to another user
    socket.write(handOverMessage(tool));
    if (!socket.waitForBytesWritten(patience.answer))
        return Reach::NoAnswer;
    bool gone = false;
    if (nextByte(socket, patience.answer, gone) != kOffered)
        return Reach::NoAnswer; // given up: the window, should it wake, has no go
    socket.putChar(kGo);
    if (!socket.waitForBytesWritten(patience.answer))
        return Reach::NoAnswer; // the go never left: the window cannot run it
    // From here the tool is the window's, unless it is gone without saying it runs it.
    const std::optional<char> running = nextByte(socket, patience.answer, gone);
    if (running == kRunning || (!running && !gone))
        return Reach::Taken;
    return Reach::NoAnswer;
}

ConsoleServer::ConsoleServer(std::function<void(HandedTool)> take, QObject* parent)
    : QObject(parent)
    , m_take(std::move(take))
    , m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
                m_offered.remove(socket); // a console that left without a go
                socket->deleteLater();
            });
            if (!peerIsThisUser(socket->socketDescriptor())) {
                socket->abort(); // another user's: nothing it sends is run
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { receive(socket); });
            receive(socket);
        }
    });
}

bool ConsoleServer::listen(const QString& name) {
    return m_server->listen(name);
}

// Takes a whole message when it has come; a message too large or of another kind ends the
// connection.
void ConsoleServer::receive(QLocalSocket* socket) {
    if (const auto offered = m_offered.find(socket); offered != m_offered.end()) {
        char go = 0;
        if (!socket->getChar(&go))
            return;
        HandedTool tool = std::move(*offered);
        m_offered.erase(offered);
        if (go != kGo) {
            socket->abort();
            return;
        }
        socket->putChar(kRunning);
        socket->flush();
        if (!tool.command.isEmpty())
            m_take(std::move(tool));
        return;
    }
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_4);
    in.startTransaction();
    quint32 magic = 0;
    HandedTool tool;
    in >> magic;
    if (in.status() == QDataStream::Ok && magic != kMagic) {
        socket->abort();
        return;
    }
    in >> tool.folder >> tool.command >> tool.environment;
    if (!in.commitTransaction()) {
        if (socket->bytesAvailable() > kLargestMessage)
            socket->abort();
        return;
    }
    // A console that gave up waiting runs its tool itself: the tool must not run twice. It is
    // offered, and run only on the console's go.
    if (socket->state() != QLocalSocket::ConnectedState)
        return;
    m_offered.insert(socket, std::move(tool));
    socket->putChar(kOffered);
    socket->flush();
    if (socket->bytesAvailable() > 0)
        receive(socket);
}

Role joinSharedConsole(const QStringList& names, const HandedTool& tool, ConsoleServer& server,
                       Patience patience) {
    if (names.isEmpty())
        return Role::Alone;
    // A window that opened at a later place (its folder at the first was another user's then)
    // is the session's window still: never a second one.
    for (const QString& elsewhere : names.mid(1))
        if (QFileInfo::exists(elsewhere) && handOver(elsewhere, tool, patience) == Reach::Taken)
            return Role::HandedOver;
    const QString& name = names.first();
    for (int attempt = 0; attempt < 3; ++attempt) {
        Reach reach = handOver(name, tool, patience);
        if (reach == Reach::Taken)
            return Role::HandedOver;
        if (reach == Reach::NoAnswer)
            return Role::Alone; // a live window, however slow, keeps its socket
        QLockFile lock(name + QStringLiteral(".lock"));
        if (!lock.tryLock(patience.connect))
            continue;
        // Another console may have opened the window meanwhile.
        reach = handOver(name, tool, patience);
        if (reach == Reach::Taken)
            return Role::HandedOver;
        if (reach == Reach::NoAnswer)
            return Role::Alone;
        // Nothing listens there: what is left at the socket's place is a console's that is
        // gone.
        QLocalServer::removeServer(name);
        if (server.listen(name))
            return Role::Serving;
    }
    return Role::Alone;
}

} // namespace velmora::console
