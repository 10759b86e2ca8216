// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How names given by the user become ISO 9660 names: d-characters only (A-Z, 0-9, _), every
// other character (a UTF-8 sequence counts as one) replaced by '_'; and Joliet names: the name
// itself in UCS-2, up to 64 characters, with the few characters Joliet forbids replaced.

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

inline constexpr std::size_t kJolietNameLength = 64; // UCS-2 characters

// The Joliet name for a file or volume name given in UTF-8: characters outside UCS-2, control
// characters and * / : ; ? \ become '_', as does each byte that is not UTF-8; names longer
// than `length` are shortened before their extension.
std::u16string jolietName(std::string_view name, std::size_t length = kJolietNameLength);

// A file identifier made different from others that took its name: the number `number`
// before its extension, the name shortened to keep the whole within the level's length
// ("__.MPG" gives "__1.MPG"), as mastering tools number names that clash.
std::string numberedIdentifier(std::string_view identifier, unsigned number);

// The same for a Joliet name: " (N)" before its extension, within `length` characters.
std::u16string numberedJolietName(std::u16string_view name, unsigned number,
                                  std::size_t length = kJolietNameLength);

// A text with its ASCII letters in upper case, every other byte as it is.
std::string asciiUpperCase(std::string text);

// Whether a name is well-formed UTF-8.
bool isUtf8(std::string_view name);

// A text as it may stand on a terminal: control characters (C0, DEL, C1) and bytes that are
// not UTF-8 written as \xNN, so that a name from a disc can never move the cursor, change
// colours or retitle a window.
std::string printable(std::string_view text);

// A UCS-2 text as Joliet records it: big-endian, two bytes a character.
std::string bigEndianUcs2(std::u16string_view text);

} // namespace cdimage
