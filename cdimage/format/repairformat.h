// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where an image's repair data lies and what its header says (docs/repair-format.md). The
// protected sectors, LBA 0 up to the end of the file system and the file list (D of them), are
// cut into k = 255 - m bands of L = ceil(D / k) consecutive sectors; the parity makes m more
// bands of L sectors, the file VELMORA.RPD. Code word j is position j of every band. The header
// and the CRC-32C of every symbol, protected and parity, make VELMORA.RPH.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cdimage {

inline constexpr std::size_t kSymbolSize = 2324; // a sector's symbol: its user data
inline constexpr int kDefaultParity = 32;
inline constexpr int kLeastParity = 8, kMostParity = 127;

// The standard CRC-32C (Castagnoli, as iSCSI uses it) of `size` bytes.
std::uint32_t crc32c(const std::uint8_t* bytes, std::size_t size);
// The CRC-32C of bytes that follow those whose CRC-32C is `crc`, taken together.
std::uint32_t crc32cAfter(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size);

struct RepairLayout {
    int parity = kDefaultParity;      // m
    std::uint32_t protectedSectors{}; // D
    std::uint32_t bandLength{};       // L

    static RepairLayout of(std::uint32_t protectedSectors, int parity);

    int dataBands() const { return 255 - parity; } // k
    std::uint32_t paritySectors() const { return std::uint32_t(parity) * bandLength; }
    // The header's sector and the check table's: 4 bytes for each symbol, 512 to a sector.
    std::uint32_t headerSectors() const {
        return 1 + (protectedSectors + paritySectors() + 511) / 512;
    }
    // The word and the member of a protected sector.
    std::uint32_t wordOf(std::uint32_t lba) const { return lba % bandLength; }
    int memberOf(std::uint32_t lba) const { return int(lba / bandLength); }
    // The longest run of consecutive lost sectors that every word survives.
    std::uint32_t longestBurst() const { return std::uint32_t(parity - 1) * bandLength + 1; }
};

// The parity bands for an image of `protectedSectors` on a disc of `discSectors`: `wanted`
// where the image with its repair data fits, else the most that fits down to kLeastParity,
// else none (0). An image too large without repair data keeps `wanted`: it fits no disc anyway.
int parityThatFits(std::uint32_t protectedSectors, int wanted, std::uint32_t discSectors);
// The most protected sectors whose repair data of `parity` bands, with both header copies,
// fits a disc of `discSectors`: the figures of a full disc that the documents quote.
std::uint32_t mostProtectedSectors(int parity, std::uint32_t discSectors);

struct RepairHeader {
    static constexpr std::array<char, 8> kMagic = {'V', 'L', 'M', 'R', 'E', 'P', 'R', '\x1A'};
    static constexpr std::uint32_t kVersion = 1;
    static constexpr std::uint32_t kCodeCauchy255 = 1; // RS(255, k), Cauchy, GF(2^8) 0x11D

    RepairLayout layout;
    std::uint32_t parityLba = 0;                  // the first sector of VELMORA.RPD
    std::array<std::uint32_t, 2> headerLbas = {}; // the two copies of VELMORA.RPH
    std::array<std::uint8_t, 32> paritySha256 = {}, tableSha256 = {};
    std::int64_t created = 0; // seconds after 1970, UTC
    std::string builder;      // "velmora_tolk 1.2.0", at most 31 bytes
};

// The header's 2048 bytes, its CRC-32C at its end of the fields.
std::vector<std::uint8_t> encodeRepairHeader(const RepairHeader& header);
// The header in `bytes` (2048 of them), or nothing when they are none: another magic, a CRC
// that differs, numbers no image can have.
std::optional<RepairHeader> parseRepairHeader(const std::uint8_t* bytes, std::size_t size);

} // namespace cdimage
