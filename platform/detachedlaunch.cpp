// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/detachedlaunch.h"

#include <cerrno>
#include <cstring>
#include <vector>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace velmora {

std::optional<QString> launchDetached(const QByteArray& program, const QList<QByteArray>& arguments,
                                      const QByteArray& folder) {
#ifdef Q_OS_WIN
    (void)program;
    (void)arguments;
    (void)folder;
    return QString::fromLocal8Bit(std::strerror(ENOSYS));
#else
    // Everything the child needs is made before it is forked.
    std::vector<QByteArray> kept{program};
    kept.insert(kept.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (QByteArray& argument : kept)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The grandchild tells why it could not start through a pipe that its start closes.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return QString::fromLocal8Bit(std::strerror(error));
    }
    if (child == 0) {
        ::close(report[0]);
        if (::fork() != 0)
            ::_exit(0); // the grandchild is nobody's child of ours
        ::setsid();
        int error = 0;
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0)
            error = errno;
        else {
            ::execv(argv[0], argv.data());
            error = errno;
        }
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got == sizeof error && error != 0)
        return QString::fromLocal8Bit(std::strerror(error));
    return std::nullopt;
#endif
}

} // namespace velmora
