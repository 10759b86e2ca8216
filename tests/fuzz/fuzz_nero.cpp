// SPDX-License-Identifier: GPL-3.0-or-later
// Nero images, any bytes: their data tracks found and read as a disc, or an Error. The input is
// written to a scratch file first, as the reader reads files.

#include "cdimage/read/discreader.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {
std::filesystem::path g_image;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_image = std::filesystem::temp_directory_path() /
              ("fuzz_nero-" + std::to_string(::getpid()) + ".nrg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * 1024 * 1024)
        return 0;
    {
        std::ofstream out(g_image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    try {
        for (const cdimage::ImageTrack& track : cdimage::tracksOfNeroImage(g_image))
            if ((track.stride != 2352 && track.stride != 2336) ||
                (track.sectors && *track.sectors == 0))
                __builtin_trap();
        cdimage::OpenedSource opened = cdimage::openImage(g_image);
        cdimage::FileSystem files(*opened.sectors);
        (void)files.walk(files.primaryRoot(), false);
    } catch (const cdimage::Error&) {
    }
    return 0;
}
