// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/format/filefacts.h"

#include "cdimage/base/paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#endif

namespace cdimage {

bool lookAt(const std::filesystem::path& path, FileFacts& facts, std::error_code& error) {
#ifdef _WIN32
    // A file's identity is its volume's serial number and its index there.
    HANDLE handle = ::CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known =
        handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &information);
    if (!known) {
        error = std::error_code(int(::GetLastError()), std::system_category());
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        return false;
    }
    facts.regular = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                    ::GetFileType(handle) == FILE_TYPE_DISK;
    ::CloseHandle(handle);
    facts.size = std::uint64_t(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    facts.identity = std::to_string(information.dwVolumeSerialNumber) + ':' +
                     std::to_string(information.nFileIndexHigh) + ':' +
                     std::to_string(information.nFileIndexLow);
    // 100-nanosecond steps since 1601.
    const std::int64_t steps =
        std::int64_t(std::uint64_t(information.ftLastWriteTime.dwHighDateTime) << 32 |
                     information.ftLastWriteTime.dwLowDateTime);
    constexpr std::int64_t kStepsPerSecond = 10'000'000;
    const std::int64_t sinceUnix = steps - 116444736000000000LL;
    facts.modifiedSeconds = sinceUnix / kStepsPerSecond - (sinceUnix % kStepsPerSecond < 0 ? 1 : 0);
    facts.modifiedNanoseconds =
        std::int32_t((sinceUnix - facts.modifiedSeconds * kStepsPerSecond) * 100);
    error.clear();
    return true;
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        error = std::error_code(errno, std::generic_category());
        return false;
    }
    facts.regular = S_ISREG(status.st_mode);
    facts.size = static_cast<std::uint64_t>(status.st_size);
    facts.identity = std::to_string(status.st_dev) + ':' + std::to_string(status.st_ino);
    facts.modifiedSeconds = std::int64_t(status.st_mtim.tv_sec);
    facts.modifiedNanoseconds = std::int32_t(status.st_mtim.tv_nsec);
    error.clear();
    return true;
#endif
}

} // namespace cdimage
