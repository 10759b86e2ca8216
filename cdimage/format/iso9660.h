// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The pieces of an ISO 9660 file system with the CD-ROM XA extensions: directory records with
// their XA system-use field, path tables and the primary volume descriptor.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cdimage {

// The file system's logical block: the data of one Form 1 sector.
inline constexpr std::size_t kLogicalBlockSize = 2048;
inline constexpr std::uint32_t kVolumeDescriptorLba = 16;
inline constexpr std::size_t kXaSystemUseSize = 14;

// Where each field lies in a directory record (ECMA-119 9.1), counted from its first byte.
namespace record {
inline constexpr std::size_t kLength = 0;          // of the record, in bytes
inline constexpr std::size_t kAttributeLength = 1; // of an extended attribute record
inline constexpr std::size_t kExtent = 2;          // first block, both byte orders
inline constexpr std::size_t kSize = 10;           // in bytes, both byte orders
inline constexpr std::size_t kDate = 18;           // 7 bytes (9.1.5)
inline constexpr std::size_t kFlags = 25;          // bit 1: a folder
inline constexpr std::size_t kVolumeSequence = 28; // both byte orders
inline constexpr std::size_t kNameLength = 32;
inline constexpr std::size_t kName = 33;     // then a padding byte if the length is even
inline constexpr std::size_t kSmallest = 34; // a record with a name of one byte
inline constexpr std::uint8_t kFolderFlag = 0x02;
inline constexpr std::uint8_t kMoreExtentsFlag = 0x80; // the file goes on in the next record
// In the CD-ROM XA system use field that follows the name.
inline constexpr std::size_t kXaAttributes = 4; // big-endian
inline constexpr std::size_t kXaSignature = 6;  // "XA"
inline constexpr std::size_t kXaFileNumber = 8;
} // namespace record

// Where each field lies in a volume descriptor (ECMA-119 8.4, 8.5).
namespace descriptor {
inline constexpr std::size_t kType = 0;     // 1 primary, 2 supplementary, 255 the set's end
inline constexpr std::size_t kStandard = 1; // "CD001"
inline constexpr std::size_t kVersion = 6;
inline constexpr std::size_t kSystem = 8;
inline constexpr std::size_t kVolumeIdentifier = 40; // 32 bytes
inline constexpr std::size_t kVolumeSectors = 80;    // both byte orders
inline constexpr std::size_t kEscapes = 88;          // Joliet: "%/@", "%/C" or "%/E"
inline constexpr std::size_t kSetSize = 120;
inline constexpr std::size_t kSequenceNumber = 124;
inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kPathTableSize = 132;
inline constexpr std::size_t kLittleEndianPathTable = 140;
inline constexpr std::size_t kBigEndianPathTable = 148;
inline constexpr std::size_t kRootRecord = 156; // 34 bytes
inline constexpr std::uint8_t kPrimary = 1;
inline constexpr std::uint8_t kSupplementary = 2;
inline constexpr std::uint8_t kSetTerminator = 255;
} // namespace descriptor

// XA attributes of a directory record (big-endian in the record).
enum XaAttributes : std::uint16_t {
    XaDirectory = 0x8D55,
    XaForm1File = 0x0D55,
    XaForm2File = 0x1555,
};

// A date and time in UTC.
struct Timestamp {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    static Timestamp now();
    // The moment `seconds` after 1970-01-01 00:00:00 UTC, held within what a directory record
    // can say (1900 to 2155); `clamped` tells whether it had to be.
    static Timestamp fromUnixSeconds(std::int64_t seconds, bool& clamped);
    // The moment in seconds after 1970-01-01 00:00:00 UTC.
    std::int64_t unixSeconds() const;
};

// The moment a directory record's 7-byte date says (ECMA-119 9.1.5: years since 1900, month,
// day, hour, minute, second, offset from UTC in 15-minute steps), in seconds after 1970 UTC;
// nothing when the bytes are no date. An offset outside ECMA-119's range counts as 0.
std::optional<std::int64_t> unixSecondsOfRecordDate(const std::uint8_t* date);

struct DirectoryRecord {
    std::string identifier; // "\0" for the folder itself, "\1" for its parent, else NAME.EXT;1
    std::uint32_t lba = 0;
    std::uint32_t length = 0; // bytes; for a Form 2 file, its sectors times 2048
    bool directory = false;
    std::uint16_t attributes = XaForm1File;
    std::uint8_t fileNumber = 0;
};

// The bytes of one directory record, padded to an even length, XA field included.
std::vector<std::uint8_t> encodeRecord(const DirectoryRecord& entry, const Timestamp& recorded);

// Lays records into 2048-byte sectors (a record never crosses a sector boundary).
std::vector<std::uint8_t> layOutDirectory(const std::vector<std::vector<std::uint8_t>>& records);

// A path table holding the root directory alone; little- or big-endian.
std::vector<std::uint8_t> rootPathTable(std::uint32_t rootLba, bool bigEndian);

struct VolumeDescriptor {
    std::string volumeIdentifier;
    std::uint32_t volumeSectors = 0;
    std::uint32_t pathTableSize = 0;
    std::uint32_t littleEndianPathTableLba = 0;
    std::uint32_t bigEndianPathTableLba = 0;
    DirectoryRecord root;
    Timestamp created;
};

std::vector<std::uint8_t> primaryVolumeDescriptor(const VolumeDescriptor& volume);
// The Joliet supplementary volume descriptor (UCS-2 level 3): the primary one's numbers, with
// `volumeName` as the volume identifier, every text in UCS-2 and the root of the Joliet tree.
std::vector<std::uint8_t> jolietVolumeDescriptor(const VolumeDescriptor& volume,
                                                 std::u16string_view volumeName);
std::vector<std::uint8_t> volumeDescriptorSetTerminator();

// Whether a file identifier ("NAME.EXT;1", the version optional) comes before another in a
// directory: names compared as if padded with blanks to the same length, then extensions
// likewise, then versions, the higher first (ECMA-119, 9.3).
bool precedesInDirectory(std::string_view a, std::string_view b);

} // namespace cdimage
