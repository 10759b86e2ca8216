#include "cdimage/mappedfile.h"

#include <utility>

#if __has_include(<sys/mman.h>)
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define CDIMAGE_CAN_MAP 1
#endif

namespace cdimage {

#ifdef CDIMAGE_CAN_MAP
namespace {

// What the bus-error handler needs, kept where a signal handler may read it.
char g_unreadableMessage[1024];
char g_leftover[4096];

void stopOnBusError(int) {
    (void)!::write(STDERR_FILENO, g_unreadableMessage, std::strlen(g_unreadableMessage));
    if (g_leftover[0] != '\0')
        ::unlink(g_leftover);
    ::_exit(1);
}

template <std::size_t N> void copyInto(char (&buffer)[N], const std::string& text) {
    const std::size_t size =
        text.size() < N ? text.size() : 0; // too long: nothing rather than a part
    std::memcpy(buffer, text.data(), size);
    buffer[size] = '\0';
}

} // namespace
#endif

void MappedFile::whenUnreadable(const std::string& message, const std::filesystem::path& leftover) {
#ifdef CDIMAGE_CAN_MAP
    struct sigaction action {};
    action.sa_handler = stopOnBusError;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, nullptr);
    copyInto(g_unreadableMessage, message);
    copyInto(g_leftover, leftover.string());
#else
    (void)message, (void)leftover;
#endif
}

std::optional<MappedFile> MappedFile::open(const std::filesystem::path& path) {
#ifdef CDIMAGE_CAN_MAP
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return std::nullopt;
    struct stat status {};
    void* data = MAP_FAILED;
    if (::fstat(file, &status) == 0 && status.st_size > 0 &&
        std::uint64_t(status.st_size) <= SIZE_MAX)
        data = ::mmap(nullptr, std::size_t(status.st_size), PROT_READ, MAP_SHARED, file, 0);
    ::close(file); // the mapping keeps the file
    if (data == MAP_FAILED)
        return std::nullopt;
    ::madvise(data, std::size_t(status.st_size), MADV_SEQUENTIAL);
    return MappedFile(static_cast<const std::uint8_t*>(data), std::uint64_t(status.st_size));
#else
    (void)path; // elsewhere the file is read the ordinary way
    return std::nullopt;
#endif
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_data(other.m_data)
    , m_size(other.m_size) {
    other.m_data = nullptr;
    other.m_size = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    return *this;
}

MappedFile::~MappedFile() {
#ifdef CDIMAGE_CAN_MAP
    if (m_data)
        ::munmap(const_cast<std::uint8_t*>(m_data), std::size_t(m_size));
#endif
}

} // namespace cdimage
