// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An ECM file (the "error code modeler": raw sectors stored without their sync pattern, EDC and
// ECC, which are computed again when read) read as the file of raw sectors it stands for. Its
// runs are indexed once, without decoding; reading decodes only what is asked. Anything in the
// file is untrusted: a run that claims more than the file holds, or a disc larger than a CD,
// is refused.
//
// A sector's EDC and ECC come back computed from its stored bytes, so a byte changed inside an
// ECM file passes the sector's own checks: only the repair data's table or a file's SHA-256
// can tell.

#include "cdimage/base/error.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <streambuf>
#include <string_view>
#include <vector>

namespace cdimage {

// Whether bytes begin as an ECM file does: "ECM" and a zero byte.
bool startsAsEcm(std::string_view head);

class EcmStream : public std::streambuf {
public:
    // Indexes its runs to the end, or only until they stand for `enough` bytes (to look at the
    // file's head); throws Error.
    explicit EcmStream(const std::filesystem::path& path,
                       std::optional<std::uint64_t> enough = std::nullopt);
    // The bytes it stands for.
    std::uint64_t size() const { return m_size; }

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode mode) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override;

private:
    struct Run {
        std::uint64_t decoded; // where its bytes begin in what the file stands for
        std::uint64_t encoded; // and in the file
        std::uint32_t count;   // bytes (type 0) or sectors
        std::uint8_t type;     // 0 bytes as they are, 1 Mode 1, 2 Mode 2 Form 1, 3 Form 2
    };
    // Decodes from `position` on into the buffer; false at the end or where the file fails.
    bool fill(std::uint64_t position);

    std::filesystem::path m_path;
    std::ifstream m_file;
    std::vector<Run> m_runs;
    std::uint64_t m_size = 0;
    std::vector<char> m_buffer;
    std::uint64_t m_bufferStart = 0; // where the buffer's first byte lies
};

} // namespace cdimage
