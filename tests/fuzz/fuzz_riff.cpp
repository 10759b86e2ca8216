// SPDX-License-Identifier: GPL-3.0-or-later
// The RIFF CDXA header reader on any bytes: a header or a std::runtime_error, nothing else.

#include "cdimage/format/riff.h"

#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const cdimage::RiffHeader header = cdimage::parseRiffHeader(data, size);
        (void)header;
    } catch (const std::runtime_error&) {
    }
    return 0;
}
