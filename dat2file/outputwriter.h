// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writes one extracted file from its sectors, in order: whole sectors, or, with its entry in the
// file list, exactly its length, checked against its SHA-256. A sector that cannot be read, or
// whose subheader is broken, gives zeros; one that fails its EDC check keeps its bytes while the
// SHA-256 may still show them right, else it gives zeros too. A copy with such sectors is written
// as DESTINATION.damaged, with its damaged byte ranges in DESTINATION.damaged.ranges.

#include "cdimage/base/parallelsums.h"
#include "cdimage/base/report.h"
#include "cdimage/format/filelist.h"
#include "cdimage/write/outputfile.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dat2file {

// Repairable: with --check, every file comes back whole, but some only through repair data.
// RepairDataDegraded: with --check, no file is damaged, but the repair data itself is weaker
// than written (a header copy, table sectors, parity that disagrees) or cannot be used.
enum ExitStatus {
    Done = 0,
    Failed = 1,
    Usage = 2,
    Damaged = 3,
    Repairable = 4,
    RepairDataDegraded = 5
};

enum class SectorState {
    Good,
    FailsEdc,   // read, but its EDC differs or the repair data doubts it (`why` says which)
    Unreadable, // not read at all, or not a Form 2 sector with agreeing subheaders
};

// What is known of the file from the file list.
struct Voucher {
    std::optional<cdimage::ListedFile> entry;
    // Why no entry can be used although a list is there (a damaged list, an entry that does
    // not match the file); empty when there is simply no list.
    std::string doubt;
    // The list's file, where it is not the disc's own (a RIFF copy's list beside it).
    std::filesystem::path list = {};
};

// How a file's bytes lie in its sectors.
struct Blocks {
    std::size_t size = 2324; // data bytes a sector carries: 2324 in Form 2, 2048 in Form 1
    // The exact length where the file's record gives it (a Form 1 file); a Form 2 file's
    // record gives only whole blocks of 2048.
    std::optional<std::uint64_t> length;
};

class Extraction {
public:
    Extraction(const std::filesystem::path& destination, bool force, Voucher voucher,
               Blocks blocks = {}, cdimage::Report& report = cdimage::silentReport());

    const std::filesystem::path& temporaryPath() const { return m_out.temporaryPath(); }

    // The next sector's 2324 bytes of data (ignored unless Good or FailsEdc); `lba` and `why`
    // name it in messages.
    void sector(const std::uint8_t* data, SectorState state, std::uint32_t lba,
                const std::string& why = {});

    // `count` sectors from `lba` on that are lost and not written at all: the copy ends before
    // them.
    void lost(std::uint32_t lba, std::uint32_t count, const std::string& why);

    // Puts the copy in place and says what was written; returns the exit status.
    int finish(const std::string& source);

    // The name messages give the copy, where it is written under another one first (a folder
    // that is put in place whole at the end).
    void showAs(std::filesystem::path name) { m_shownAs = std::move(name); }
    // The date the copy is given; the file list's, where it has one, comes first.
    void setModified(std::optional<std::int64_t> seconds) { m_modified = seconds; }

    std::uint64_t written() const { return m_written; }
    // The bytes of a damaged copy that are zeros for sectors lost (after a finish that returned
    // Damaged; the whole copy where no sector shows where it differs).
    std::uint64_t lostBytes() const { return m_lostBytes; }
    // Whether the copy's SHA-256 was checked against the file list (true only after a finish
    // that returned Done).
    bool checked() const { return m_checked; }

private:
    // Bytes of the copy from damaged sectors, neighbours with the same fault taken together.
    struct Range {
        std::uint64_t first, size;
        std::uint32_t lba, lastLba;
        std::string why;
    };
    static void add(std::vector<Range>& ranges, Range range);
    static constexpr std::size_t kChunkSize = 64 * 2324;

    void pass();
    void keepDate();
    // What is wrong with the copy (sectors lost or failing their EDC, zeroed now; a SHA-256
    // that differs; a doubt), its byte ranges added to `ranges`; nothing when it is whole.
    std::string damageOf(std::vector<Range>& ranges);
    // Puts a whole copy in place and says what it is.
    int finishWhole(const std::string& source);
    int finishDamaged(const std::string& source, const std::string& problem,
                      std::vector<Range> ranges);

    std::filesystem::path m_destination;
    bool m_force;
    cdimage::Report& m_report;
    Voucher m_voucher;
    Blocks m_blocks;
    std::filesystem::path m_shownAs;
    std::optional<std::int64_t> m_modified;
    cdimage::OutputFile m_out;
    std::optional<cdimage::ParallelSums> m_sums;
    std::vector<std::uint8_t> m_chunk;
    std::uint64_t m_written = 0;
    // The first and last sector that gave the file bytes.
    std::optional<std::uint32_t> m_firstLba;
    std::uint32_t m_lastLba = 0;
    bool m_checked = false;
    std::vector<Range> m_unreadable, m_failingEdc;
    std::uint64_t m_lostBytes = 0;
};

// Why DESTINATION (or its .damaged form) cannot be written; nothing when it can.
[[nodiscard]] std::optional<std::string> whyNotWritable(const std::filesystem::path& destination,
                                                        bool force);

} // namespace dat2file
