// SPDX-License-Identifier: GPL-3.0-or-later
// The other end of a console's socket, for the tests, run as this user or as another one:
//   socket_peer listen PATH RECORD  listens at PATH (anyone may connect), takes one connection
//                                   and writes how many bytes it received to RECORD
//   socket_peer stall MS PATH       listens at PATH, lets a connection wait MS milliseconds,
//                                   then reads the tool handed over, offers to take it, and
//                                   says it runs it on the console's go
//   socket_peer send PATH FILE      hands over a tool that would create FILE, without asking
//                                   who listens; exit status 0 when the tool was taken

#include "console/sharedconsole.h"

#include <QCoreApplication>
#include <QLocalSocket>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int listenAt(const char* path) {
    const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    ::unlink(path);
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listening, 8) != 0) {
        std::perror("socket_peer: listen");
        std::exit(2);
    }
    ::chmod(path, 0777);
    return listening;
}

// Everything the peer sends until it closes, or until it has been silent for `quiet` ms.
long long readAll(int connection, int quiet) {
    long long total = 0;
    char buffer[65536];
    for (;;) {
        pollfd wait{connection, POLLIN, 0};
        if (::poll(&wait, 1, quiet) <= 0)
            return total;
        const ssize_t got = ::read(connection, buffer, sizeof buffer);
        if (got <= 0)
            return total;
        total += got;
    }
}

int acceptWithin(int listening, int milliseconds) {
    pollfd wait{listening, POLLIN, 0};
    if (::poll(&wait, 1, milliseconds) <= 0)
        return -1;
    return ::accept(listening, nullptr, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "listen" && argc == 4) {
        const int listening = listenAt(argv[2]);
        std::printf("listening\n");
        std::fflush(stdout);
        const int connection = acceptWithin(listening, 15000);
        const long long received = connection < 0 ? -1 : readAll(connection, 2000);
        if (connection >= 0)
            (void)!::send(connection, "k", 1, MSG_NOSIGNAL);
        FILE* record = std::fopen(argv[3], "w");
        std::fprintf(record, "%lld\n", received);
        std::fclose(record);
        return 0;
    }
    if (mode == "stall" && argc == 4) {
        const int listening = listenAt(argv[3]);
        std::printf("listening\n");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        const int connection = acceptWithin(listening, 15000);
        if (connection < 0 || readAll(connection, 300) <= 0)
            return 1;
        // Offered; on the console's go, running.
        (void)!::send(connection, "k", 1, MSG_NOSIGNAL);
        char go = 0;
        pollfd ready{connection, POLLIN, 0};
        if (::poll(&ready, 1, 5000) != 1 || ::recv(connection, &go, 1, 0) != 1 || go != 'g')
            return 1;
        (void)!::send(connection, "r", 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return 0;
    }
    if (mode == "send" && argc == 4) {
        QCoreApplication application(argc, argv);
        QLocalSocket socket;
        socket.connectToServer(QString::fromLocal8Bit(argv[2]));
        if (!socket.waitForConnected(3000))
            return 2;
        const velmora::console::HandedTool tool{
            QStringLiteral("/"),
            {QStringLiteral("/usr/bin/touch"), QString::fromLocal8Bit(argv[3])},
            {}};
        socket.write(velmora::console::handOverMessage(tool));
        socket.waitForBytesWritten(3000);
        // Offered, go, running: the hand-over confirmed by both ends.
        char answer = 0;
        if (!socket.waitForReadyRead(3000) || !socket.getChar(&answer) || answer != 'k')
            return 1;
        socket.putChar('g');
        socket.waitForBytesWritten(3000);
        return socket.waitForReadyRead(3000) && socket.getChar(&answer) && answer == 'r' ? 0 : 1;
    }
    std::fputs("usage: socket_peer listen PATH RECORD | stall MS PATH | send PATH FILE\n", stderr);
    return 2;
}
