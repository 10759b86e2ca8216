// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a tool under test (LD_PRELOAD): reads of the file whose path ends in
// VELMORA_FAULT_FILE fail over its bytes [VELMORA_FAULT_FROM, VELMORA_FAULT_TO) as a disk's bad
// blocks do: a read that begins in them fails with EIO, one that reaches them stops before them.

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

off_t number(const char* name) {
    const char* text = std::getenv(name);
    return text ? off_t(std::strtoll(text, nullptr, 10)) : 0;
}

struct Fault {
    const char* file = std::getenv("VELMORA_FAULT_FILE");
    off_t from = number("VELMORA_FAULT_FROM");
    off_t to = number("VELMORA_FAULT_TO");
};

const Fault& fault() {
    static const Fault kFault;
    return kFault;
}

bool isFaulty(int fd) {
    if (!fault().file)
        return false;
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0)
        return false;
    const std::string_view name(path, std::size_t(length)), wanted(fault().file);
    return name.size() >= wanted.size() && name.substr(name.size() - wanted.size()) == wanted;
}

// How much of a read of `size` bytes at `at` may be done: -1 where it begins in the fault.
ssize_t allowed(off_t at, std::size_t size) {
    if (at >= fault().from && at < fault().to)
        return -1;
    if (at < fault().from && at + off_t(size) > fault().from)
        return ssize_t(fault().from - at);
    return ssize_t(size);
}

template <typename Function> Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, std::size_t size) {
    static const auto next = real<ssize_t (*)(int, void*, std::size_t)>("read");
    if (isFaulty(fd))
        if (const off_t at = lseek(fd, 0, SEEK_CUR); at >= 0) {
            const ssize_t may = allowed(at, size);
            if (may < 0) {
                errno = EIO;
                return -1;
            }
            size = std::size_t(may);
        }
    return next(fd, buffer, size);
}

extern "C" ssize_t pread64(int fd, void* buffer, std::size_t size, off_t at) {
    static const auto next = real<ssize_t (*)(int, void*, std::size_t, off_t)>("pread64");
    if (isFaulty(fd)) {
        const ssize_t may = allowed(at, size);
        if (may < 0) {
            errno = EIO;
            return -1;
        }
        size = std::size_t(may);
    }
    return next(fd, buffer, size, at);
}
