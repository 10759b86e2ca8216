// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The list of stored files that the image-building tool writes into the root of every image:
// for each file its name on the CD, its exact length, where it starts and its SHA-256. The CD
// itself records a Form 2 file's length only to the sector, so without the list nobody could
// give back the file's exact bytes or tell a damaged copy.
//
// Text, one line per file, fields separated by one blank:
//   <sha-256, 64 lower-case hex digits> <length in bytes> <first sector>
//   <modification time, seconds after 1970 UTC> <name on the CD> <original name>
// Lines starting with '#' are comments; one of them names the volume: "# volume NAME", and
// those that begin "# repair " say where the image's repair data lies.
// Lists written before the first sector, or the time, was recorded (their heading says so) are
// read too.
// An original name never holds a line break or another control character.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cdimage {

inline constexpr std::string_view kFileListIdentifier = "VELMORA.LST";
inline constexpr std::size_t kSha256HexLength = 64;

struct ListedFile {
    std::string identifier; // name on the CD, without ";1"
    std::uint64_t length = 0;
    std::string sha256; // hex
    std::string originalName;
    std::optional<std::uint32_t> lba;     // where the file starts; lists of old lack it
    std::optional<std::int64_t> modified; // seconds after 1970, UTC; lists of old lack it
};

// The record of an image's repair data in its list: the code, and where its two files lie
// (docs/repair-format.md).
struct ListedRepair {
    int code = 1;
    int parity = 0;                            // m
    std::uint32_t bandLength = 0;              // L
    std::uint32_t protectedSectors{};          // D
    std::uint32_t parityLba = 0;               // VELMORA.RPD
    std::array<std::uint32_t, 2> headerLbas{}; // the two copies of VELMORA.RPH
};

inline constexpr std::string_view kParityIdentifier = "VELMORA.RPD";
inline constexpr std::string_view kRepairHeaderIdentifier = "VELMORA.RPH";

struct FileList {
    std::string volumeIdentifier;          // empty when the list does not say
    std::optional<ListedRepair> repair;    // where the image has repair data
    std::vector<ListedFile> files;         // the lines that read whole
    std::vector<std::size_t> damagedLines; // numbered from 1, the heading included
};

std::string formatFileList(const std::string& volumeIdentifier,
                           const std::vector<ListedFile>& files,
                           const std::optional<ListedRepair>& repair = std::nullopt);

// The list in `text`; a line that does not read whole is counted as damaged and the others are
// still used. Nothing when the text is no such list at all (no heading and no line that reads).
std::optional<FileList> parseFileList(std::string_view text);

// Whether a name may stand in the list (no control character: a line break would end a line).
bool fitsInFileList(std::string_view name);

} // namespace cdimage
