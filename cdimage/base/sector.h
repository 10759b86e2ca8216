// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Raw CD-ROM XA Mode 2 sectors: 2352 bytes each, addressed by logical block (LBA 0 is the
// start of the track, at minute 0, second 2 of the disc).

#include <cstddef>
#include <cstdint>
#include <string>

namespace cdimage {

inline constexpr std::size_t kRawSectorSize = 2352;
// The twelve bytes that open every raw sector.
inline constexpr std::uint8_t kSyncPattern[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
inline constexpr std::size_t kForm1DataSize = 2048;
inline constexpr std::size_t kForm2DataSize = 2324;
inline constexpr std::size_t kSubheaderSize = 8;       // two copies of 4 bytes
inline constexpr std::size_t kStoredSectorSize = 2336; // from the subheader on
inline constexpr std::size_t kDataOffset = 24;         // sync 12, header 4, subheader 8
inline constexpr std::uint32_t kPregapFrames = 150;
// The last address a disc can carry: 99:59:74.
inline constexpr std::uint32_t kLastAddressableFrame = (99 * 60 + 59) * 75 + 74;
inline constexpr std::uint32_t kMaxSectors = kLastAddressableFrame + 1 - kPregapFrames;
inline constexpr std::uint32_t kEightyMinuteSectors = 80 * 60 * 75 - kPregapFrames;

// Submode bits of the subheader.
enum Submode : std::uint8_t {
    EndOfRecord = 0x01,
    Video = 0x02,
    Audio = 0x04,
    Data = 0x08,
    Trigger = 0x10,
    Form2 = 0x20,
    RealTime = 0x40,
    EndOfFile = 0x80,
};

struct Msf {
    std::uint8_t minute, second, frame;
};
// The disc address of a logical block: LBA + 150 frames, as minutes, seconds, frames.
Msf msfOf(std::uint32_t lba);
std::uint8_t toBcd(std::uint8_t value);
std::uint8_t fromBcd(std::uint8_t bcd);
// The logical block of an address read from a sector header (BCD).
std::uint32_t lbaOfHeader(const std::uint8_t* header);

// Writes a complete Form 1 sector: 2048 data bytes (fewer are padded with zeros), EDC, ECC.
void writeForm1(std::uint8_t* sector, std::uint32_t lba, std::uint8_t submode,
                const std::uint8_t* data, std::size_t size);
// Writes a complete Form 2 sector: 2324 data bytes (fewer are padded with zeros), EDC.
void writeForm2(std::uint8_t* sector, std::uint32_t lba, std::uint8_t submode,
                const std::uint8_t* data, std::size_t size, std::uint8_t fileNumber = 0);

// Checks a raw sector meant to be Mode 2 Form 2: sync, mode, the two subheader copies, the
// form bit. Returns what is wrong, or nothing.
std::string checkForm2(const std::uint8_t* sector);
// Checks a sector given from its subheader on: the two subheader copies, and the form bit
// against the form the sector is meant to be in. Returns what is wrong, or nothing.
std::string checkSubheader(const std::uint8_t* subheader, bool form2);
// Whether the stored EDC of a Form 2 sector matches its contents (0 means "not computed").
bool form2EdcMatches(const std::uint8_t* sector);
// The same for a Form 2 sector given from its subheader on (subheader, data, EDC: 2336 bytes),
// as a drive reads it.
bool edcMatchesFromSubheader(const std::uint8_t* subheader);
// The same for a Form 1 sector given from its subheader on (subheader, 2048 data bytes, EDC).
bool form1EdcMatchesFromSubheader(const std::uint8_t* subheader);
// Whether a sector given from its subheader on vouches for itself: its subheader's two copies
// agree and its EDC is there and matches, for the form its subheader names. A sector of zeros
// (its EDC is zero too) and a Form 2 sector without EDC vouch for nothing.
bool vouchesForItself(const std::uint8_t* subheader);

} // namespace cdimage
