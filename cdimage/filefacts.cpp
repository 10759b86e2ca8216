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
    error.clear();
    return true;
#endif
}

} // namespace cdimage
