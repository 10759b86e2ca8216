#include "cdimage/mappedfile.h"

#include <utility>

#if __has_include(<sys/mman.h>)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define CDIMAGE_CAN_MAP 1
#endif

namespace cdimage {

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
