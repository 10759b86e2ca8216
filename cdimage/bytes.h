// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

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

} // namespace cdimage
