// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/write/outputfile.h"

#include "cdimage/base/paths.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cdimage {

namespace fs = std::filesystem;

namespace {

long processId() {
#ifdef _WIN32
    return long(_getpid());
#else
    return long(::getpid());
#endif
}

// The longest name a folder takes, in bytes, on the systems the tools run on.
constexpr std::size_t kLongestName = 255;
// What a temporary name adds to the target's: ".", "." TOOL "-", PID, "-", N, ".tmp".
constexpr std::size_t kTemporaryNameAdds = 1 + 1 + 1 + 10 + 1 + 10 + 4;

// ".TARGET.TOOL-"; a long target's name is shortened in it (at a character's boundary) so that
// the temporary name still fits where the target's does.
std::string prefixFor(const fs::path& target, std::string_view tool) {
    std::string name = utf8(target.filename());
    const std::size_t room = kLongestName - kTemporaryNameAdds - tool.size();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        name.resize(cut);
    }
    return "." + name + "." + std::string(tool) + "-";
}

// Whether the process that made a temporary file may still be running.
bool mayBeRunning(long pid) {
#ifdef _WIN32
    if (pid == processId())
        return true;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return ::GetLastError() != ERROR_INVALID_PARAMETER; // no such process
    DWORD status = 0;
    const bool running = !::GetExitCodeProcess(process, &status) || status == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
#else
    return pid == processId() || ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

#ifndef _WIN32
std::string reason(int error) {
    return std::generic_category().message(error);
}

std::error_code lastSystemError() {
    return std::error_code(errno, std::generic_category());
}
#endif

// Renames without replacing anything at `to`; the system's reason when it cannot, which is
// std::errc::file_exists when something stands there.
std::error_code renameNoReplace(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(),
                      0)) // no MOVEFILE_REPLACE_EXISTING
        return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return std::error_code(int(error), std::system_category());
#else
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return lastSystemError();
#endif
    // A file system without that rename: a second link is made only where nothing stands.
    if (::link(from.c_str(), to.c_str()) != 0)
        return lastSystemError();
    ::unlink(from.c_str());
    return {};
#endif
}

// The same for a folder, which cannot be linked.
std::error_code renameFolderNoReplace(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    return renameNoReplace(from, to);
#else
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return lastSystemError();
#endif
    std::error_code error;
    if (fs::exists(fs::symlink_status(to, error)))
        return std::make_error_code(std::errc::file_exists);
    fs::rename(from, to, error);
    return error;
#endif
}

// The run's lock on a temporary file or folder of its own: a descriptor of it, locked, or -1
// where the system has no such locks. The lock lasts while the descriptor is open, and never
// past the run.
int lockOwnTemporary(const fs::path& path) {
#ifdef _WIN32
    (void)path;
    return -1;
#else
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
#endif
}

void unlockOwnTemporary(int& descriptor) {
#ifndef _WIN32
    if (descriptor >= 0)
        ::close(descriptor);
#endif
    descriptor = -1;
}

// Whether a live run holds its lock on a temporary, wherever that run is.
bool lockedByALiveRun(const fs::path& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0)
        return errno != ENOENT; // cannot tell: taken as held
    const bool held = ::flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(descriptor); // a lock this took goes with it
    return held;
#endif
}

fs::path temporaryName(const fs::path& target, std::string_view tool) {
    static std::atomic<unsigned> counter{0};
    return target.parent_path() / pathOfUtf8(prefixFor(target, tool) + std::to_string(processId()) +
                                             "-" + std::to_string(counter++) + ".tmp");
}

} // namespace

#ifdef _WIN32

// The handle CreateFileW gives: CREATE_NEW is what makes it exclusive (msvcrt's fopen knows no
// "x"), and the system's reason for a failure stays whole (msvcrt's errno reads "Invalid
// argument" for a full disk).
bool OutputFile::File::create(const fs::path& path) {
    HANDLE handle = ::CreateFileW(systemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return failed();
    m_handle = handle;
    return true;
}

bool OutputFile::File::failed() {
    const DWORD error = ::GetLastError();
    m_existed = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    m_why = std::system_category().message(int(error));
    return false;
}

bool OutputFile::File::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = DWORD(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(m_handle, bytes, piece, &written, nullptr) || written == 0)
            return failed();
        bytes += written;
        size -= written;
    }
    return true;
}

bool OutputFile::File::seek(std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    return ::SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN) || failed();
}

bool OutputFile::File::seekToEnd() {
    return ::SetFilePointerEx(m_handle, LARGE_INTEGER{}, nullptr, FILE_END) || failed();
}

bool OutputFile::File::sync() {
    return !m_handle || ::FlushFileBuffers(m_handle) || failed();
}

bool OutputFile::File::close() {
    if (!m_handle)
        return true;
    const bool closed = ::CloseHandle(m_handle);
    m_handle = nullptr;
    return closed || failed();
}

#else

bool OutputFile::File::create(const fs::path& path) {
    errno = 0;
    m_file = std::fopen(path.c_str(), "wbx"); // exclusive: never an existing file
    if (!m_file)
        return failed();
    std::setvbuf(m_file, nullptr, _IONBF, 0); // written in large chunks: no copy into a buffer
    return true;
}

bool OutputFile::File::failed() {
    m_existed = errno == EEXIST;
    m_why = reason(errno);
    return false;
}

bool OutputFile::File::write(const void* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, m_file) != size)
        return failed();
    m_position += size;
    writeBehind();
    return true;
}

// A large file is handed to the storage as it is written, not all at the close that waits for
// it: the disk then works while the tool goes on computing. Only a start: nothing waits here.
void OutputFile::File::writeBehind() {
#ifdef SYNC_FILE_RANGE_WRITE
    constexpr std::uint64_t kBatch = 16 << 20;
    if (m_position < m_handedOver + kBatch)
        return;
    ::sync_file_range(::fileno(m_file), off_t(m_handedOver), off_t(m_position - m_handedOver),
                      SYNC_FILE_RANGE_WRITE); // a system that cannot still syncs at the close
    m_handedOver = m_position;
#endif
}

bool OutputFile::File::seek(std::uint64_t offset) {
    if (std::fflush(m_file) != 0 || ::fseeko(m_file, off_t(offset), SEEK_SET) != 0)
        return failed();
    m_position = offset;
    return true;
}

bool OutputFile::File::seekToEnd() {
    if (::fseeko(m_file, 0, SEEK_END) != 0)
        return failed();
    m_position = std::uint64_t(::ftello(m_file));
    return true;
}

bool OutputFile::File::sync() {
    return !m_file || (std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0) || failed();
}

bool OutputFile::File::close() {
    if (!m_file)
        return true;
    std::FILE* file = std::exchange(m_file, nullptr);
    const bool flushed = std::fflush(file) == 0 || failed();
    return (std::fclose(file) == 0 || failed()) && flushed;
}

#endif

OutputFile::OutputFile(fs::path target, std::string_view tool)
    : m_target(std::move(target)) {
    for (int attempt = 0; attempt < 100 && !m_file.isOpen(); ++attempt) {
        m_temporary = temporaryName(m_target, tool);
        if (m_file.create(m_temporary) || !m_file.existed())
            break;
    }
    if (!m_file.isOpen())
        throw Error("cannot create a file in " + quoted(folderOf(m_target)) + " for " +
                    quoted(m_target.filename()) + ": " + m_file.why());
    m_lock = lockOwnTemporary(m_temporary);
}

OutputFile::~OutputFile() {
    m_file.close();
    if (!m_placed) {
        std::error_code ignored;
        fs::remove(m_temporary, ignored);
    }
    unlockOwnTemporary(m_lock);
}

void OutputFile::fail(const std::string& what) const {
    throw Error("cannot " + what + " " + quoted(m_target) + ": " + m_file.why());
}

void OutputFile::write(const void* data, std::size_t size) {
    if (!m_file.write(data, size))
        fail("write");
}

void OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (!m_file.seek(offset) || !m_file.write(data, size) || !m_file.seekToEnd())
        fail("write");
}

void OutputFile::close(bool durably) {
    if ((durably && !m_file.sync()) || !m_file.close())
        fail("finish writing");
}

void OutputFile::setModified(std::int64_t seconds) {
    setModificationTime(m_temporary, seconds);
}

void OutputFile::place(const fs::path& name, bool replace) {
    if (const auto why = whyNotPlaceable(name, replace))
        throw Error(*why);
    if (replace) {
        std::error_code error;
        fs::rename(m_temporary, name, error);
        if (error)
            throw Error("cannot put " + quoted(name) + " in place: " + error.message());
    } else if (const std::error_code error = renameNoReplace(m_temporary, name)) {
        if (error == std::errc::file_exists)
            throw Error(quoted(name) + " appeared meanwhile (another run?); it was left as it is");
        throw Error("cannot put " + quoted(name) + " in place: " + error.message());
    }
    m_placed = true;
    unlockOwnTemporary(m_lock);
}

namespace {

std::string kindOf(const fs::file_status& status) {
    switch (status.type()) {
    case fs::file_type::not_found:
        return "a symbolic link that leads nowhere";
    case fs::file_type::block:
        return "a block device";
    case fs::file_type::character:
        return "a character device";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    default:
        return "not a file";
    }
}

} // namespace

std::optional<std::string> whyNotPlaceable(const fs::path& path, bool replace,
                                           std::string_view advice) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    const std::string where = quoted(path.filename()) + " in " + quoted(folderOf(path));
    if (fs::is_directory(status) ||
        (fs::is_symlink(status) && fs::is_directory(fs::status(path, error))))
        return where + " is a folder; a folder is never replaced";
    if (!replace && fs::exists(status))
        return quoted(path.filename()) + " exists already in " + quoted(folderOf(path)) +
               (advice.empty() ? "" : ": " + std::string(advice));
    // Only a file is replaced: never a device, a FIFO or a socket that stands in its place.
    if (fs::exists(status)) {
        const fs::file_status target = fs::status(path, error);
        if (!fs::is_regular_file(target))
            return where + " is " + kindOf(target) + "; only a file is ever replaced";
    }
    return {};
}

void removeStaleTemporaries(const fs::path& target, std::string_view tool) {
    // Once a run for each folder: a run that writes many files there sweeps it once, not once
    // a file.
    static std::mutex mutex;
    static std::set<std::string> swept;
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    {
        std::error_code error;
        const std::lock_guard lock(mutex);
        if (!swept.insert(utf8(fs::absolute(folder, error)) + '\0' + std::string(tool)).second)
            return;
    }
    // ".TARGET.TOOL-PID-N.tmp", of any target: a run killed while writing another one leaves
    // its temporaries too.
    const std::string marker = "." + std::string(tool) + "-";
    std::error_code error;
    for (fs::directory_iterator it(systemPath(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = utf8(it->path().filename());
        const std::size_t at = name.rfind(marker);
        if (!name.starts_with('.') || !name.ends_with(".tmp") || at == std::string::npos || at == 0)
            continue;
        // PID-N: digits, a dash, digits; anything else is not ours.
        const std::size_t from = at + marker.size();
        if (from + 4 > name.size())
            continue;
        const std::string_view rest = std::string_view(name).substr(from, name.size() - from - 4);
        long pid = 0;
        unsigned long number = 0;
        const auto first = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (first.ec != std::errc() || first.ptr == rest.data() + rest.size() ||
            *first.ptr != '-' || pid <= 0)
            continue;
        const auto second = std::from_chars(first.ptr + 1, rest.data() + rest.size(), number);
        if (second.ec != std::errc() || second.ptr != rest.data() + rest.size() ||
            mayBeRunning(pid) || lockedByALiveRun(it->path()))
            continue;
        std::error_code ignored;
        if (it->is_regular_file(ignored))
            fs::remove(it->path(), ignored);
        else if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::remove_all(it->path(), ignored); // a folder a whole extraction was filling
    }
}

void setModificationTime(const fs::path& path, std::int64_t seconds) {
#ifdef _WIN32
    HANDLE handle = ::CreateFileW(systemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    // 100-nanosecond steps since 1601.
    const std::uint64_t steps = std::uint64_t(seconds + 11644473600LL) * 10'000'000;
    FILETIME written{DWORD(steps), DWORD(steps >> 32)};
    ::SetFileTime(handle, nullptr, nullptr, &written);
    ::CloseHandle(handle);
#else
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the last access stays as it is
    times[1].tv_sec = time_t(seconds);
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
#endif
}

fs::path makeTemporaryFolder(const fs::path& target, std::string_view tool) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path folder = temporaryName(target, tool);
        std::error_code error;
        if (fs::create_directory(systemPath(folder), error)) {
            // Locked for the rest of the run: placed, the folder takes its lock along, and a
            // folder a run leaves behind is no longer its business.
            (void)lockOwnTemporary(folder);
            return folder;
        }
        if (error)
            throw Error("cannot make a folder in " + quoted(folderOf(target)) + " for " +
                        quoted(target.filename()) + ": " + error.message());
    }
    throw Error("cannot make a folder in " + quoted(folderOf(target)) + " for " +
                quoted(target.filename()) + ": every temporary name is taken");
}

void placeFolder(const fs::path& from, const fs::path& to) {
    const std::error_code error = renameFolderNoReplace(from, to);
    if (!error)
        return;
    if (error == std::errc::file_exists || error == std::errc::directory_not_empty)
        throw Error(quoted(to.filename()) + " appeared in " + quoted(folderOf(to)) +
                    " meanwhile (another run?); it was left as it is");
    throw Error("cannot put " + quoted(to) + " in place: " + error.message());
}

} // namespace cdimage
