// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/sharedconsole.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace velmora::console {

namespace {

constexpr quint32 kMagic = 0x56434f31; // "VCO1"
constexpr qint64 kLargestMessage = 16 * 1024 * 1024;
constexpr char kTaken = 'k';

QString userId() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERNAME");
#else
    return QString::number(::getuid());
#endif
}

// Whether a socket at `name` may be trusted with our command lines: it is the user's own.
bool ownSocket(const QString& name) {
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    return true; // named pipes are the session's
#else
    const QFileInfo socket(name);
    return !socket.exists() || socket.ownerId() == ::getuid();
#endif
}

} // namespace

QString sharedConsoleName() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    QString name = qEnvironmentVariable("VELMORA_CONSOLE_NAME");
    if (name.isEmpty()) {
        QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
        if (display.isEmpty())
            display = qEnvironmentVariable("DISPLAY");
        display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
        name = QStringLiteral("velmora_console-%1-%2")
                   .arg(userId(), display.isEmpty() ? QStringLiteral("none") : display);
    }
#ifdef Q_OS_WIN
    return name; // a named pipe
#else
    return name.contains(u'/') ? name : QDir(folder).filePath(name);
#endif
}

bool handOver(const QString& name, const HandedTool& tool, int milliseconds) {
    if (!ownSocket(name))
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(milliseconds))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << kMagic << tool.folder << tool.command << tool.environment;
    socket.write(message);
    if (!socket.waitForBytesWritten(milliseconds))
        return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(milliseconds))
            return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == kTaken;
}

ConsoleServer::ConsoleServer(std::function<void(HandedTool)> take, QObject* parent)
    : QObject(parent)
    , m_take(std::move(take))
    , m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { receive(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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
    socket->putChar(kTaken);
    socket->flush();
    if (!tool.command.isEmpty())
        m_take(std::move(tool));
}

Role joinSharedConsole(const QString& name, const HandedTool& tool, ConsoleServer& server) {
    if (!ownSocket(name))
        return Role::Alone;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (handOver(name, tool))
            return Role::HandedOver;
        QLockFile lock(name + QStringLiteral(".lock"));
        if (!lock.tryLock(3000))
            continue;
        // Another console may have opened the window meanwhile; else what is left at the
        // socket's place is a console's that is gone.
        if (handOver(name, tool, 500))
            return Role::HandedOver;
        QLocalServer::removeServer(name);
        if (server.listen(name))
            return Role::Serving;
    }
    return Role::Alone;
}

} // namespace velmora::console
