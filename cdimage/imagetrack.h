#pragma once

// Where the data track of a CD image lies: which file holds its sectors, from which byte on, and
// how each sector is stored there. Read from a cue sheet, from a cdrdao table of contents, or
// seen in a file of raw sectors itself. Anything in those files is untrusted: every number is
// bounded and every fault is reported as an ImageError that says what is wrong where.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace cdimage {

struct ImageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Cue sheets and tables of contents are a few lines; anything longer is not one.
inline constexpr std::size_t kMaxDescriptionSize = 64 * 1024;

struct ImageTrack {
    std::filesystem::path dataFile;
    std::uint64_t offset = 0;             // of the track's first sector in the file
    std::size_t stride = 2352;            // bytes a sector takes in the file
    std::size_t subheaderOffset = 16;     // where the subheader starts in a stored sector
    std::optional<std::uint64_t> sectors; // when the description gives the track's length
};

// The first track of a cue sheet, which must be a Mode 2 data track (MODE2/2352 or
// MODE2/2336). A file it names is taken relative to `folder`, the cue sheet's own.
ImageTrack trackOfCueSheet(std::string_view text, const std::filesystem::path& folder);

// The first track of a cdrdao table of contents (MODE2_RAW or MODE2_FORM_MIX).
ImageTrack trackOfToc(std::string_view text, const std::filesystem::path& folder);

// Whether bytes begin with the sync pattern of a raw sector.
bool startsWithSync(const std::uint8_t* bytes, std::size_t size);

} // namespace cdimage
