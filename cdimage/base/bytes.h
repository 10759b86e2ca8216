// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace cdimage {

// 32-bit numbers stored least significant byte first, whatever the processor's own order.
inline std::uint32_t readLittleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

inline void writeLittleEndian32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = std::uint8_t(value >> (8 * i));
}

// The same, most significant byte first.
inline std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

inline void writeBigEndian32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = std::uint8_t(value >> (8 * (3 - i)));
}

// Numbers recorded both ways, as ISO 9660 records them: little-endian, then big-endian.
inline void writeBothEndian16(std::uint8_t* out, std::uint16_t value) {
    out[0] = std::uint8_t(value);
    out[1] = std::uint8_t(value >> 8);
    out[2] = std::uint8_t(value >> 8);
    out[3] = std::uint8_t(value);
}

inline void writeBothEndian32(std::uint8_t* out, std::uint32_t value) {
    writeLittleEndian32(out, value);
    writeBigEndian32(out + 4, value);
}

// Bytes as lower-case hex digits, two a byte.
inline std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace cdimage
