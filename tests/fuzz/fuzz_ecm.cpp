// SPDX-License-Identifier: GPL-3.0-or-later
// ECM files, any bytes: opened as the image they stand for and its file system walked, or an
// Error. The input is written to a scratch file first, as the reader reads files.

#include "cdimage/read/discreader.h"
#include "cdimage/read/ecm.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {
std::filesystem::path g_image;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_image = std::filesystem::temp_directory_path() /
              ("fuzz_ecm-" + std::to_string(::getpid()) + ".ecm");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * 1024 * 1024)
        return 0;
    {
        std::ofstream out(g_image, std::ios::binary | std::ios::trunc);
        out.write("ECM", 4); // the signature with its zero byte, then the runs
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    try {
        // Every byte it stands for read once, in pieces of odd sizes.
        cdimage::EcmStream stream(g_image);
        std::istream in(&stream);
        char piece[3001];
        std::uint64_t read = 0;
        while (in.read(piece, sizeof piece) || in.gcount() > 0) {
            read += std::uint64_t(in.gcount());
            if (in.eof())
                break;
        }
        if (read != stream.size())
            __builtin_trap();
        cdimage::OpenedSource opened = cdimage::openImage(g_image);
        cdimage::FileSystem files(*opened.sectors);
        (void)files.walk(files.primaryRoot(), false);
    } catch (const cdimage::Error&) {
    }
    return 0;
}
