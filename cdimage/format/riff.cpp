// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/format/riff.h"

#include "cdimage/base/error.h"

#include "cdimage/base/bytes.h"
#include "cdimage/base/sector.h"

#include <cstring>
#include <stdexcept>

namespace cdimage {

namespace {} // namespace

RiffHeader parseRiffHeader(const std::uint8_t* header, std::size_t size) {
    if (size < kRiffHeaderSize)
        throw Error("shorter than a RIFF header (" + std::to_string(size) + " bytes)");
    if (std::memcmp(header, "RIFF", 4) != 0)
        throw Error("not a RIFF file (bytes 0-3)");
    if (std::memcmp(header + 8, "CDXA", 4) != 0)
        throw Error("a RIFF file, but not of the form CDXA (bytes 8-11)");
    if (std::memcmp(header + 12, "fmt ", 4) != 0 || readLittleEndian32(header + 16) != 16)
        throw Error("no 16-byte \"fmt \" chunk at byte 12");
    if (std::memcmp(header + 36, "data", 4) != 0)
        throw Error("no \"data\" chunk at byte 36");
    RiffHeader parsed;
    parsed.attributes = std::uint16_t(header[24] << 8 | header[25]);
    parsed.dataSize = readLittleEndian32(header + 40);
    if (parsed.dataSize % kRawSectorSize != 0)
        throw Error("the data chunk (byte 40) holds " + std::to_string(parsed.dataSize) +
                    " bytes, not whole sectors of 2352: sector " +
                    std::to_string(parsed.dataSize / kRawSectorSize) + " is cut short");
    return parsed;
}

std::vector<std::uint8_t> riffHeader(std::uint32_t sectors, std::uint16_t attributes,
                                     std::uint8_t fileNumber) {
    std::vector<std::uint8_t> header(kRiffHeaderSize, 0);
    const std::uint32_t dataSize = sectors * std::uint32_t(kRawSectorSize);
    std::memcpy(&header[0], "RIFF", 4);
    writeLittleEndian32(&header[4], dataSize + 36);
    std::memcpy(&header[8], "CDXA", 4);
    std::memcpy(&header[12], "fmt ", 4);
    writeLittleEndian32(&header[16], 16);
    header[24] = std::uint8_t(attributes >> 8);
    header[25] = std::uint8_t(attributes);
    header[26] = 'X';
    header[27] = 'A';
    header[28] = fileNumber;
    std::memcpy(&header[36], "data", 4);
    writeLittleEndian32(&header[40], dataSize);
    return header;
}

} // namespace cdimage
