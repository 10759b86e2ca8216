#pragma once

// A whole file mapped read-only into memory, so that its bytes are used where the system keeps
// them instead of being copied into a buffer first.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace cdimage {

class MappedFile {
public:
    // The file mapped, or nothing when it cannot be mapped (then read it the ordinary way).
    static std::optional<MappedFile> open(const std::filesystem::path& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    // A read error inside a mapped file (a bad block, or the file cut short meanwhile) cannot be
    // reported where it happens: the system stops the program. Before it stops, `message` is
    // written on standard error and `leftover`, if not empty, is removed. Later calls replace both.
    static void whenUnreadable(const std::string& message, const std::filesystem::path& leftover);

    const std::uint8_t* data() const { return m_data; }
    std::uint64_t size() const { return m_size; }

private:
    MappedFile(const std::uint8_t* data, std::uint64_t size)
        : m_data(data)
        , m_size(size) {}

    const std::uint8_t* m_data;
    std::uint64_t m_size;
};

} // namespace cdimage
