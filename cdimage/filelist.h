#pragma once

// The list of stored files that the image-building tool writes into the root of every image:
// for each file its name on the CD, its exact length and its SHA-256. The CD itself records a
// Form 2 file's length only to the sector, so without the list nobody could give back the
// file's exact bytes or tell a damaged copy.
//
// Text, one line per file, fields separated by one blank:
//   <sha-256, 64 lower-case hex digits> <length in bytes> <name on the CD> <original name>
// Lines starting with '#' are comments.

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
};

std::string formatFileList(const std::vector<ListedFile>& files);
// Nothing when the text is not such a list.
std::optional<std::vector<ListedFile>> parseFileList(std::string_view text);

} // namespace cdimage
