// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The RIFF "CDXA" form in which Windows presents a Form 2 file of a CD: a 44-byte header, then
// the file's raw 2352-byte sectors.

#include <cstdint>
#include <string>
#include <vector>

namespace cdimage {

inline constexpr std::size_t kRiffHeaderSize = 44;

struct RiffHeader {
    std::uint64_t dataSize = 0; // bytes of sectors announced by the "data" chunk
    std::uint16_t attributes = 0;
};

// Reads the header; throws Error naming the field that is wrong.
RiffHeader parseRiffHeader(const std::uint8_t* header, std::size_t size);

// A header for `sectors` raw sectors with the given XA attributes.
std::vector<std::uint8_t> riffHeader(std::uint32_t sectors, std::uint16_t attributes,
                                     std::uint8_t fileNumber = 0);

} // namespace cdimage
