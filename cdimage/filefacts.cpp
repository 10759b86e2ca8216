// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/filefacts.h"

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#endif

namespace cdimage {

bool lookAt(const std::filesystem::path& path, FileFacts& facts, std::error_code& error) {
#ifdef _WIN32
    // No inode here: a file's canonical path stands for it.
    facts.regular = std::filesystem::is_regular_file(path, error);
    if (error)
        return false;
    facts.size = facts.regular ? std::filesystem::file_size(path, error) : 0;
    if (!error)
        facts.identity = std::filesystem::canonical(path, error).string();
    if (!error)
        facts.modified = std::filesystem::last_write_time(path, error).time_since_epoch().count();
    return !error;
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = std::error_code(errno, std::generic_category());
        return false;
    }
    facts.regular = S_ISREG(status.st_mode);
    facts.size = static_cast<std::uint64_t>(status.st_size);
    facts.identity = std::to_string(status.st_dev) + ':' + std::to_string(status.st_ino);
    facts.modified =
        std::int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + std::int64_t(status.st_mtim.tv_nsec);
    error.clear();
    return true;
#endif
}

} // namespace cdimage
