// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the data tracks of a CD image lie: which file holds each one's sectors, from which byte
// on, how each sector is stored there, and where the track lies on the disc. Read from a cue sheet,
// from a cdrdao table of contents, or seen in a file of raw sectors itself. Anything in those files
// is untrusted: every number is bounded and every fault is reported as an Error that says what
// is wrong where.

#include "cdimage/base/error.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace cdimage {

// Cue sheets and tables of contents are a few lines; anything longer is not one.
inline constexpr std::size_t kMaxDescriptionSize = 64 * 1024;

struct ImageTrack {
    std::filesystem::path dataFile;
    std::uint64_t offset = 0;             // of the track's first sector in the file
    std::size_t stride = 2352;            // bytes a sector takes in the file
    std::size_t subheaderOffset = 16;     // where the subheader starts in a stored sector
    std::optional<std::uint64_t> sectors; // when the description gives the track's length
    std::uint32_t firstLba = 0;           // where its first sector lies on the disc
    bool laterSession = false; // in a session after the first (an Enhanced CD's data track)
    bool ecm = false;          // the file is an ECM file, decoded as it is read
};

// The size of a file an image description names, in bytes; nothing when it cannot be known.
using FileSize = std::function<std::optional<std::uint64_t>(const std::filesystem::path&)>;

// The Mode 2 data tracks of an image described by a cue sheet (MODE2/2352 or MODE2/2336), each
// at its place on the disc: one FILE per track or several tracks in one FILE, INDEX 00 and 01,
// PREGAP and POSTGAP, audio tracks counted between them. LBA 0 is the first track's index 1.
// A file named is taken relative to `folder`; `sizeOf` tells the sizes of the files, which
// place the tracks of the files after them.
std::vector<ImageTrack> dataTracksOfCueSheet(std::string_view text,
                                             const std::filesystem::path& folder,
                                             const FileSize& sizeOf);

// The same from a cdrdao table of contents (MODE2_RAW, MODE2_FORM_MIX or MODE2): every
// DATAFILE and FILE of every track with its offset and its length (mm:ss:ff, or bytes for data),
// ZERO and SILENCE, PREGAP, and START for where each track's index 1 lies.
std::vector<ImageTrack> dataTracksOfToc(std::string_view text, const std::filesystem::path& folder,
                                        const FileSize& sizeOf);

// The Mode 2 data tracks of a CloneCD image, from its description `text` (the .ccd at
// `description`: the disc's table of contents, every session's tracks and lead-out): each at
// its place on the disc, its sectors in the .img beside it, where the tracks of every session
// lie back to back.
std::vector<ImageTrack> dataTracksOfCloneCd(std::string_view text,
                                            const std::filesystem::path& description);

// The first data track of a cue sheet or of a table of contents, the sizes of files unknown.
ImageTrack trackOfCueSheet(std::string_view text, const std::filesystem::path& folder);
ImageTrack trackOfToc(std::string_view text, const std::filesystem::path& folder);

// Whether bytes begin with the sync pattern of a raw sector.
bool startsWithSync(const std::uint8_t* bytes, std::size_t size);

} // namespace cdimage
