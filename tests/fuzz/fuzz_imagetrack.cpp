// Cue sheets and cdrdao tables of contents, any text: a track or an ImageError. The first byte
// chooses which reader.

#include "cdimage/imagetrack.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        const cdimage::ImageTrack track = data[0] % 2 == 0
                                              ? cdimage::trackOfCueSheet(text, "folder")
                                              : cdimage::trackOfToc(text, "folder");
        if (track.stride != 2352 && track.stride != 2336)
            __builtin_trap();
    } catch (const cdimage::ImageError&) {
    }
    return 0;
}
