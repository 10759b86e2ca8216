// SPDX-License-Identifier: GPL-3.0-or-later
// Cue sheets, cdrdao tables of contents and CloneCD descriptions, any text: the data tracks at
// their places, or an Error. The first byte chooses which reader (its value modulo 3 after
// the second bit), and whether the files a cue sheet or table names have sizes (each a size made
// from its name) or none known.

#include "cdimage/format/imagetrack.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    cdimage::FileSize sizeOf;
    if (data[0] & 2)
        sizeOf = [](const std::filesystem::path& file) -> std::optional<std::uint64_t> {
            return std::hash<std::string>{}(file.string()) % (std::uint64_t(1) << 40);
        };
    try {
        const unsigned reader = (data[0] >> 2) % 3;
        const std::vector<cdimage::ImageTrack> tracks =
            reader == 2        ? cdimage::dataTracksOfCloneCd(text, "folder/x.ccd")
            : data[0] % 2 == 0 ? cdimage::dataTracksOfCueSheet(text, "folder", sizeOf)
                               : cdimage::dataTracksOfToc(text, "folder", sizeOf);
        if (tracks.empty())
            __builtin_trap();
        for (const cdimage::ImageTrack& track : tracks)
            if ((track.stride != 2352 && track.stride != 2336) ||
                (track.sectors && *track.sectors == 0))
                __builtin_trap();
    } catch (const cdimage::Error&) {
    }
    return 0;
}
