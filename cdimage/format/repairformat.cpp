// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/format/repairformat.h"

#include "cdimage/base/bytes.h"
#include "cdimage/base/error.h"
#include "cdimage/base/sector.h"

#include <isa-l/crc.h>

#include <algorithm>
#include <cstring>

namespace cdimage {

namespace {

// Where each field of the header lies.
namespace field {
constexpr std::size_t kMagic = 0, kVersion = 8, kSymbolSize = 12, kMembers = 16, kData = 18,
                      kParity = 20, kBandLength = 24, kProtected = 28, kParityLba = 32,
                      kFirstHeader = 36, kSecondHeader = 40, kTableEntries = 44, kCode = 48,
                      kLongestBurst = 52, kParitySha = 56, kTableSha = 88, kCreated = 120,
                      kBuilder = 128, kCrc = 160, kEnd = 164;
constexpr std::size_t kBuilderSize = 32;
} // namespace field

void put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = std::uint8_t(value);
    at[1] = std::uint8_t(value >> 8);
}

std::uint32_t read16(const std::uint8_t* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8;
}

} // namespace

std::uint32_t crc32c(const std::uint8_t* bytes, std::size_t size) {
    return crc32cAfter(0, bytes, size);
}

std::uint32_t crc32cAfter(std::uint32_t before, const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t crc = ~before;
    while (size > 0) {
        const int piece = int(std::min<std::size_t>(size, std::size_t(1) << 30));
        crc = crc32_iscsi(const_cast<std::uint8_t*>(bytes), piece, crc);
        bytes += piece;
        size -= std::size_t(piece);
    }
    return ~crc;
}

RepairLayout RepairLayout::of(std::uint32_t protectedSectors, int parity) {
    if (parity < 1 || parity > 254)
        throw Error("repair data of " + std::to_string(parity) + " parity bands cannot be");
    RepairLayout layout;
    layout.parity = parity;
    layout.protectedSectors = protectedSectors;
    const std::uint32_t bands = std::uint32_t(255 - parity);
    layout.bandLength = std::max<std::uint32_t>(1, (protectedSectors + bands - 1) / bands);
    return layout;
}

namespace {

// Whether `protectedSectors` with repair data of `parity` bands and both header copies fit.
bool fits(std::uint32_t protectedSectors, int parity, std::uint32_t discSectors) {
    const RepairLayout layout = RepairLayout::of(protectedSectors, parity);
    return std::uint64_t(protectedSectors) + layout.paritySectors() +
               2 * std::uint64_t(layout.headerSectors()) <=
           discSectors;
}

} // namespace

int parityThatFits(std::uint32_t protectedSectors, int wanted, std::uint32_t discSectors) {
    if (protectedSectors > discSectors)
        return wanted; // too large for the disc anyway: the closing line says so
    for (int parity = wanted; parity >= kLeastParity; --parity)
        if (fits(protectedSectors, parity, discSectors))
            return parity;
    return 0;
}

std::uint32_t mostProtectedSectors(int parity, std::uint32_t discSectors) {
    std::uint32_t low = 0, high = discSectors;
    while (low < high) { // more protected sectors never take fewer sectors in all
        const std::uint32_t middle = low + (high - low + 1) / 2;
        if (fits(middle, parity, discSectors))
            low = middle;
        else
            high = middle - 1;
    }
    return low;
}

std::vector<std::uint8_t> encodeRepairHeader(const RepairHeader& header) {
    std::vector<std::uint8_t> bytes(2048, 0);
    std::uint8_t* at = bytes.data();
    const RepairLayout& layout = header.layout;
    std::memcpy(at + field::kMagic, RepairHeader::kMagic.data(), RepairHeader::kMagic.size());
    writeLittleEndian32(at + field::kVersion, RepairHeader::kVersion);
    writeLittleEndian32(at + field::kSymbolSize, std::uint32_t(kSymbolSize));
    put16(at + field::kMembers, 255);
    put16(at + field::kData, std::uint32_t(layout.dataBands()));
    put16(at + field::kParity, std::uint32_t(layout.parity));
    writeLittleEndian32(at + field::kBandLength, layout.bandLength);
    writeLittleEndian32(at + field::kProtected, layout.protectedSectors);
    writeLittleEndian32(at + field::kParityLba, header.parityLba);
    writeLittleEndian32(at + field::kFirstHeader, header.headerLbas[0]);
    writeLittleEndian32(at + field::kSecondHeader, header.headerLbas[1]);
    writeLittleEndian32(at + field::kTableEntries,
                        layout.protectedSectors + layout.paritySectors());
    writeLittleEndian32(at + field::kCode, RepairHeader::kCodeCauchy255);
    writeLittleEndian32(at + field::kLongestBurst, layout.longestBurst());
    std::memcpy(at + field::kParitySha, header.paritySha256.data(), 32);
    std::memcpy(at + field::kTableSha, header.tableSha256.data(), 32);
    const auto created = std::uint64_t(header.created);
    writeLittleEndian32(at + field::kCreated, std::uint32_t(created));
    writeLittleEndian32(at + field::kCreated + 4, std::uint32_t(created >> 32));
    std::memcpy(at + field::kBuilder, header.builder.data(),
                std::min(header.builder.size(), field::kBuilderSize - 1));
    writeLittleEndian32(at + field::kCrc, crc32c(at, field::kCrc));
    return bytes;
}

std::optional<RepairHeader> parseRepairHeader(const std::uint8_t* at, std::size_t size) {
    if (size < field::kEnd ||
        std::memcmp(at, RepairHeader::kMagic.data(), RepairHeader::kMagic.size()) != 0 ||
        readLittleEndian32(at + field::kCrc) != crc32c(at, field::kCrc) ||
        readLittleEndian32(at + field::kVersion) != RepairHeader::kVersion ||
        readLittleEndian32(at + field::kSymbolSize) != kSymbolSize ||
        read16(at + field::kMembers) != 255 ||
        readLittleEndian32(at + field::kCode) != RepairHeader::kCodeCauchy255)
        return std::nullopt;
    const int parity = int(read16(at + field::kParity));
    const std::uint32_t protectedSectors = readLittleEndian32(at + field::kProtected);
    // m beyond what a builder writes (kMostParity) is refused: its check tables and words
    // grow past any disc's.
    if (parity < 1 || parity > kMostParity || int(read16(at + field::kData)) != 255 - parity ||
        protectedSectors == 0 || protectedSectors > kMaxSectors)
        return std::nullopt;
    RepairHeader header;
    header.layout = RepairLayout::of(protectedSectors, parity);
    // The band length follows from the rest: one that does not is no header of ours.
    if (header.layout.bandLength != readLittleEndian32(at + field::kBandLength) ||
        readLittleEndian32(at + field::kTableEntries) !=
            header.layout.protectedSectors + header.layout.paritySectors())
        return std::nullopt;
    header.parityLba = readLittleEndian32(at + field::kParityLba);
    header.headerLbas = {readLittleEndian32(at + field::kFirstHeader),
                         readLittleEndian32(at + field::kSecondHeader)};
    std::memcpy(header.paritySha256.data(), at + field::kParitySha, 32);
    std::memcpy(header.tableSha256.data(), at + field::kTableSha, 32);
    header.created =
        std::int64_t(std::uint64_t(readLittleEndian32(at + field::kCreated)) |
                     std::uint64_t(readLittleEndian32(at + field::kCreated + 4)) << 32);
    const char* builder = reinterpret_cast<const char*>(at + field::kBuilder);
    header.builder.assign(builder, strnlen(builder, field::kBuilderSize - 1));
    return header;
}

} // namespace cdimage
