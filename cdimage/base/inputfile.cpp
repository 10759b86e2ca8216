// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/inputfile.h"

#include "cdimage/base/paths.h"

#include <cerrno>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cdimage {

namespace fs = std::filesystem;

namespace {

std::string notAFile(const fs::path& path, const char* what) {
    return quoted(path) + " is " + what + ", not a file or a drive";
}

} // namespace

std::optional<std::string> whyNotReadable(const fs::path& path) {
#ifdef _WIN32
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status))
        return quoted(path) + ": no such file";
    if (fs::is_directory(status))
        return notAFile(path, "a folder");
    if (!fs::is_regular_file(status))
        return notAFile(path, "a device");
    return {};
#else
    // Opened without waiting (a FIFO would wait for a writer), then looked at.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        if (error == ENOENT)
            return quoted(path) + ": no such file";
        if (error == ELOOP)
            return quoted(path) + " is a symbolic link that leads round in a loop";
        return "cannot open " + quoted(path) + ": " + std::generic_category().message(error);
    }
    struct stat facts {};
    const bool known = ::fstat(descriptor, &facts) == 0;
    ::close(descriptor);
    if (!known || S_ISREG(facts.st_mode) || S_ISBLK(facts.st_mode))
        return {};
    if (S_ISDIR(facts.st_mode))
        return notAFile(path, "a folder");
    if (S_ISFIFO(facts.st_mode))
        return notAFile(path, "a FIFO");
    if (S_ISSOCK(facts.st_mode))
        return notAFile(path, "a socket");
    if (S_ISCHR(facts.st_mode))
        return notAFile(path, "a character device");
    return notAFile(path, "neither");
#endif
}

} // namespace cdimage
