#pragma once

// How names given by the user become ISO 9660 names: d-characters only (A-Z, 0-9, _), every
// other character (a UTF-8 sequence counts as one) replaced by '_'.

#include <string>
#include <string_view>

namespace cdimage {

inline constexpr std::size_t kVolumeIdentifierLength = 32;
inline constexpr std::size_t kFileIdentifierLength = 31; // level 2: name, '.', extension

// The volume identifier for a volume name: upper case, mapped, at most 32 characters.
std::string volumeIdentifier(std::string_view volumeName);

// The file identifier, without its version ";1", for a file name (no folder): the name and
// the extension (after the last dot) mapped separately and joined by '.', at most 31
// characters; the extension is kept whole where it can be, the name is shortened first.
std::string fileIdentifier(std::string_view fileName);

} // namespace cdimage
