// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Records of a fixed size read from a file a run at a time: the sectors of an image file or of
// a RIFF CDXA copy. A read error costs the records it covers and no more: a run that comes back
// short is cut where it stopped, that record is read alone to tell whether it is lost, and
// reading goes on after it. A file that shrinks while open loses what lies past its new end.

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cdimage {

class RecordFile {
public:
    // `records` of `stride` bytes from byte `offset` of the open file `in` (at `path`), read
    // at most `longestRun` at once. `decodedSize` is the size of what `in` gives where that is
    // not the file at `path` itself (a file decoded as it is read).
    RecordFile(std::istream& in, std::filesystem::path path, std::uint64_t offset,
               std::size_t stride, std::uint32_t records, std::uint32_t longestRun,
               std::optional<std::uint64_t> decodedSize = std::nullopt);

    // Record `index`, or nullptr when it cannot be read; valid until the next call. Where the
    // buffer lacks it, `run` records are read from it on (never past one known to fail).
    const std::uint8_t* record(std::uint32_t index, std::uint32_t run);
    // Whether `index` follows the records last read: reading goes on in long runs there.
    bool follows(std::uint32_t index) const { return index == m_first + m_count; }

    std::uint32_t records() const { return m_records; }
    // The records before the file's end, as found now.
    std::uint32_t readable() const { return m_readable; }
    // What the system said when record `index` could not be read, where it failed.
    std::optional<std::string> failure(std::uint32_t index) const;

private:
    // Reads `count` records from `from` into the buffer; the error the system gave, if any.
    int readRun(std::uint32_t from, std::uint32_t count);

    std::istream& m_in;
    std::filesystem::path m_path;
    std::optional<std::uint64_t> m_decodedSize;
    std::uint64_t m_offset;
    std::size_t m_stride;
    std::uint32_t m_records, m_readable;
    std::vector<std::uint8_t> m_buffer;
    std::uint32_t m_first = 0, m_count = 0; // the records in the buffer
    std::set<std::uint32_t> m_failed;       // records whose own read failed
    std::string m_failure;                  // what the system said of the last one
};

} // namespace cdimage
