// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/read/ecm.h"

#include "cdimage/base/ecc.h"
#include "cdimage/base/edc.h"
#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>

namespace cdimage {

namespace fs = std::filesystem;

namespace {

// Bytes a run's unit takes in the file and in what it stands for, by type.
constexpr std::array<std::size_t, 4> kEncodedUnit = {1, 3 + 2048, 4 + 2048, 4 + 2324};
constexpr std::array<std::size_t, 4> kDecodedUnit = {1, kRawSectorSize, kStoredSectorSize,
                                                     kStoredSectorSize};
// Nothing stands for more than the largest disc in its largest sectors.
constexpr std::uint64_t kMaxDecoded = std::uint64_t(kMaxSectors) * 2448;
constexpr std::size_t kMaxRuns = std::size_t(kMaxSectors) * 3;
constexpr std::size_t kBufferSectors = 64;

void putLittleEndian(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}

// Rebuilds one raw sector from what the file stores of it into `raw` (2352 bytes).
void rebuildSector(std::uint8_t type, const std::uint8_t* stored, std::uint8_t* raw) {
    std::memset(raw, 0, kRawSectorSize);
    std::memcpy(raw, kSyncPattern, sizeof kSyncPattern);
    if (type == 1) { // Mode 1: address, 2048 bytes, EDC, 8 zeros, ECC over the header too
        std::memcpy(raw + 12, stored, 3);
        raw[15] = 1;
        std::memcpy(raw + 16, stored + 3, 2048);
        putLittleEndian(raw + 2064, edc(raw, 2064));
        computeEcc(raw, EccHeader::Counted);
        return;
    }
    raw[15] = 2; // Mode 2: the subheader twice, then Form 1 or Form 2
    std::memcpy(raw + 16, stored, 4);
    if (type == 2) {
        std::memcpy(raw + 20, stored, 2052);
        putLittleEndian(raw + 2072, edc(raw + 16, 2056));
        computeEcc(raw);
    } else {
        std::memcpy(raw + 20, stored, 2328);
        putLittleEndian(raw + 2348, edc(raw + 16, 2332));
    }
}

} // namespace

bool startsAsEcm(std::string_view head) {
    return head.size() >= 4 && head.substr(0, 4) == std::string_view("ECM\0", 4);
}

EcmStream::EcmStream(const fs::path& path, std::optional<std::uint64_t> enough)
    : m_path(path)
    , m_file(systemPath(path), std::ios::binary) {
    std::error_code error;
    const std::uint64_t fileSize = fs::file_size(systemPath(path), error);
    if (!m_file || error)
        throw Error("cannot open " + quoted(path) + ": " +
                    (error ? error.message() : std::generic_category().message(errno)));
    const auto fault = [&](const std::string& what) {
        return Error(quoted(path) + " is not an ECM file that can be read: " + what);
    };
    char magic[4] = {};
    m_file.read(magic, 4);
    if (!startsAsEcm(std::string_view(magic, std::size_t(m_file.gcount()))))
        throw fault("it does not begin with \"ECM\"");
    std::uint64_t encoded = 4;
    while (!enough || m_size < *enough) {
        // The run's type in the low two bits, its count less one in the rest, seven bits a
        // byte after the first five, as long as the top bit says more follows.
        int byte = m_file.get();
        if (byte == EOF)
            throw fault("it ends before its end mark (byte " + std::to_string(encoded) + ")");
        ++encoded;
        const std::uint8_t type = std::uint8_t(byte & 3);
        std::uint64_t count = std::uint64_t(byte >> 2 & 0x1F);
        for (int shift = 5; byte & 0x80; shift += 7) {
            byte = m_file.get();
            if (byte == EOF || shift > 31)
                throw fault("a run's length is broken (byte " + std::to_string(encoded) + ")");
            ++encoded;
            count |= std::uint64_t(byte & 0x7F) << shift;
        }
        if (count == 0xFFFFFFFFu)
            break; // the end mark; the EDC of everything follows
        ++count;
        const std::uint64_t stored = count * kEncodedUnit[type];
        const std::uint64_t decoded = count * kDecodedUnit[type];
        if (count > 0xFFFFFFFFu || stored > fileSize - encoded)
            throw fault("a run claims " + std::to_string(stored) + " bytes past byte " +
                        std::to_string(encoded) + " of " + std::to_string(fileSize));
        if (decoded > kMaxDecoded - m_size || m_runs.size() >= kMaxRuns)
            throw fault("it stands for more than a CD holds");
        m_runs.push_back({m_size, encoded, std::uint32_t(count), type});
        m_size += decoded;
        encoded += stored;
        // Past the run's bytes: read through where they are few (runs of one sector follow one
        // another by the hundred thousand), sought past where they are many.
        if (stored < (std::uint64_t(1) << 20))
            m_file.ignore(std::streamsize(stored));
        else
            m_file.seekg(std::streamoff(encoded));
    }
    setg(nullptr, nullptr, nullptr);
}

bool EcmStream::fill(std::uint64_t position) {
    if (position >= m_size)
        return false;
    const auto after =
        std::upper_bound(m_runs.begin(), m_runs.end(), position,
                         [](std::uint64_t wanted, const Run& run) { return wanted < run.decoded; });
    const Run& run = *std::prev(after);
    const std::size_t unit = kDecodedUnit[run.type];
    // Whole units from the one that holds `position`, a few sectors' worth at most.
    const std::uint64_t first = (position - run.decoded) / unit;
    const std::uint64_t units = std::min<std::uint64_t>(
        run.count - first, run.type == 0 ? kBufferSectors * kRawSectorSize : kBufferSectors);
    const std::size_t storedUnit = kEncodedUnit[run.type];
    std::vector<std::uint8_t> stored(std::size_t(units) * storedUnit);
    m_file.clear();
    m_file.seekg(std::streamoff(run.encoded + first * storedUnit));
    m_file.read(reinterpret_cast<char*>(stored.data()), std::streamsize(stored.size()));
    const std::size_t whole = std::size_t(m_file.gcount()) / storedUnit;
    if (whole == 0)
        return false;
    m_buffer.resize(whole * unit);
    if (run.type == 0) {
        std::memcpy(m_buffer.data(), stored.data(), whole);
    } else {
        std::uint8_t raw[kRawSectorSize];
        for (std::size_t i = 0; i < whole; ++i) {
            rebuildSector(run.type, stored.data() + i * storedUnit, raw);
            // Mode 2 sectors stand for the 2336 bytes from the subheader on; the file's other
            // runs hold their sync pattern and header where there are any.
            const std::size_t from = run.type == 1 ? 0 : 16;
            std::memcpy(m_buffer.data() + i * unit, raw + from, unit);
        }
    }
    m_bufferStart = run.decoded + first * unit;
    char* begin = m_buffer.data();
    setg(begin, begin + (position - m_bufferStart), begin + m_buffer.size());
    return true;
}

EcmStream::int_type EcmStream::underflow() {
    if (gptr() && gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (!fill(m_bufferStart + std::uint64_t(gptr() - eback())))
        return traits_type::eof();
    return traits_type::to_int_type(*gptr());
}

EcmStream::pos_type EcmStream::seekoff(off_type offset, std::ios_base::seekdir direction,
                                       std::ios_base::openmode mode) {
    const std::uint64_t current = m_bufferStart + std::uint64_t(gptr() - eback());
    const std::int64_t base = direction == std::ios_base::beg   ? 0
                              : direction == std::ios_base::cur ? std::int64_t(current)
                                                                : std::int64_t(m_size);
    return seekpos(pos_type(off_type(base + offset)), mode);
}

EcmStream::pos_type EcmStream::seekpos(pos_type position, std::ios_base::openmode mode) {
    if (!(mode & std::ios_base::in) || off_type(position) < 0 ||
        std::uint64_t(off_type(position)) > m_size)
        return pos_type(off_type(-1));
    const std::uint64_t wanted = std::uint64_t(off_type(position));
    if (gptr() && wanted >= m_bufferStart && wanted - m_bufferStart < m_buffer.size()) {
        setg(eback(), eback() + (wanted - m_bufferStart), egptr());
    } else {
        // Decoded at the next read.
        m_bufferStart = wanted;
        setg(nullptr, nullptr, nullptr);
    }
    return position;
}

} // namespace cdimage
