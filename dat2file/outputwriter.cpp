// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/outputwriter.h"

#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"

#include <algorithm>

namespace dat2file {

namespace fs = std::filesystem;
using cdimage::quoted;

namespace {

constexpr std::string_view kTool = "dat2file";
constexpr std::size_t kRangesShown = 10;

fs::path damagedPath(const fs::path& destination) {
    return fs::path(destination).concat(".damaged");
}

fs::path rangesPath(const fs::path& destination) {
    return fs::path(destination).concat(".damaged.ranges");
}

fs::path preparedFolder(const fs::path& destination) {
    if (destination.has_parent_path()) {
        std::error_code error;
        fs::create_directories(cdimage::systemPath(destination.parent_path()), error);
        if (error)
            throw cdimage::Error("cannot make the folder " +
                                 quoted(cdimage::folderOf(destination)) + ": " + error.message());
    }
    for (const fs::path& path : {destination, damagedPath(destination), rangesPath(destination)})
        cdimage::removeStaleTemporaries(path, kTool);
    return destination;
}

// "45", or "46-68" for several.
std::string sectorsText(const auto& range) {
    return std::to_string(range.lba) +
           (range.lastLba == range.lba ? "" : "-" + std::to_string(range.lastLba));
}

std::string rangeText(std::uint64_t first, std::uint64_t size) {
    return "bytes " + std::to_string(first) + " to " + std::to_string(first + size - 1);
}

} // namespace

std::optional<std::string> whyNotWritable(const fs::path& destination, bool force) {
    for (const fs::path& path : {destination, damagedPath(destination)})
        if (const auto why = cdimage::whyNotPlaceable(
                path, force, "choose another storage folder or remove the old file"))
            return *why;
    return {};
}

Extraction::Extraction(const fs::path& destination, bool force, Voucher voucher, Blocks blocks,
                       cdimage::Report& report)
    : m_destination(destination)
    , m_force(force)
    , m_report(report)
    , m_voucher(std::move(voucher))
    , m_blocks(blocks)
    , m_shownAs(destination)
    , m_out(preparedFolder(destination), kTool) {
    if (m_voucher.entry) // only a listed file has a sum to check
        m_sums.emplace();
}

void Extraction::sector(const std::uint8_t* data, SectorState state, std::uint32_t lba,
                        const std::string& why) {
    std::size_t size = std::min(m_blocks.size, cdimage::kForm2DataSize);
    const std::optional<std::uint64_t> length =
        m_voucher.entry ? std::optional(m_voucher.entry->length) : m_blocks.length;
    if (length)
        size = std::size_t(std::min<std::uint64_t>(size, *length - std::min(*length, m_written)));
    if (size == 0)
        return; // padding after the file's end
    if (!m_firstLba)
        m_firstLba = lba;
    m_lastLba = lba;
    if (state == SectorState::Unreadable) {
        add(m_unreadable, {m_written, size, lba, lba, why});
        m_chunk.insert(m_chunk.end(), size, 0);
    } else {
        if (state == SectorState::FailsEdc)
            add(m_failingEdc,
                {m_written, size, lba, lba, why.empty() ? "fails its EDC check" : why});
        m_chunk.insert(m_chunk.end(), data, data + size);
    }
    m_written += size;
    if (m_chunk.size() >= kChunkSize)
        pass();
}

void Extraction::lost(std::uint32_t lba, std::uint32_t count, const std::string& why) {
    std::uint64_t size = std::uint64_t(count) * std::min(m_blocks.size, cdimage::kForm2DataSize);
    const std::optional<std::uint64_t> length =
        m_voucher.entry ? std::optional(m_voucher.entry->length) : m_blocks.length;
    if (length)
        size = std::min(size, *length - std::min(*length, m_written));
    if (size > 0)
        m_unreadable.push_back({m_written, size, lba, lba + count - 1, why});
}

void Extraction::add(std::vector<Range>& ranges, Range range) {
    if (!ranges.empty()) {
        Range& last = ranges.back();
        if (last.first + last.size == range.first && last.lastLba + 1 == range.lba &&
            last.why == range.why) {
            last.size += range.size;
            last.lastLba = range.lba;
            return;
        }
    }
    ranges.push_back(std::move(range));
}

// Writes the data gathered so far and hands it to the summing thread, if any.
void Extraction::pass() {
    m_out.write(m_chunk.data(), m_chunk.size());
    if (!m_sums) {
        m_chunk.clear();
        return;
    }
    m_sums->add(std::move(m_chunk));
    m_chunk = m_sums->spare();
}

void Extraction::keepDate() {
    const auto& entry = m_voucher.entry;
    if (entry && entry->modified)
        m_out.setModified(*entry->modified);
    else if (m_modified)
        m_out.setModified(*m_modified);
}

std::string Extraction::damageOf(std::vector<Range>& ranges) {
    const auto& entry = m_voucher.entry;
    // Sectors that fail their EDC check cannot be trusted either: zeros, like the rest.
    const std::vector<std::uint8_t> zeros(cdimage::kForm2DataSize, 0);
    for (const Range& range : m_failingEdc) {
        for (std::uint64_t done = 0; done < range.size; done += zeros.size())
            m_out.writeAt(range.first + done, zeros.data(),
                          std::size_t(std::min<std::uint64_t>(zeros.size(), range.size - done)));
        ranges.push_back(range);
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    std::string problem;
    if (!ranges.empty()) {
        std::uint64_t sectors = 0;
        for (const Range& range : ranges)
            sectors += std::uint64_t(range.lastLba) - range.lba + 1;
        problem = std::to_string(sectors) +
                  (sectors == 1 ? " sector cannot be read or fails its checks; its bytes are "
                                  "zeros"
                                : " sectors cannot be read or fail their checks; their bytes "
                                  "are zeros");
    } else if (entry) {
        // Every sector passed its checks, yet the bytes are not the listed ones: any of
        // them may be the one that differs, and the ranges say so rather than nothing.
        problem = "its SHA-256 differs from the one in the file list";
        if (m_written > 0)
            ranges.push_back({0, m_written, m_firstLba.value_or(0), m_lastLba,
                              "pass their checks, but the file's SHA-256 differs from the "
                              "file list's: no sector shows where"});
    }
    if (!m_voucher.doubt.empty())
        problem += (problem.empty() ? "" : "; ") + m_voucher.doubt;
    return problem;
}

int Extraction::finish(const std::string& source) {
    pass();
    if (m_sums)
        m_sums->endFile();
    const auto& entry = m_voucher.entry;
    std::vector<Range> ranges = m_unreadable;
    if (entry && m_written < entry->length)
        return finishDamaged(source,
                             "the copy holds " + std::to_string(m_written) +
                                 " bytes, the file list says " + std::to_string(entry->length),
                             ranges);
    const bool sumMatches = m_sums && m_sums->sums().front() == entry->sha256;
    if (!sumMatches || !ranges.empty())
        if (const std::string problem = damageOf(ranges); !problem.empty())
            return finishDamaged(source, problem, ranges);
    return finishWhole(source);
}

int Extraction::finishWhole(const std::string& source) {
    const auto& entry = m_voucher.entry;
    m_out.close();
    keepDate();
    m_out.place(m_destination, m_force);
    const std::string written = quoted(m_shownAs);
    for (const Range& range : m_failingEdc)
        m_report.warning("sector " + std::to_string(range.lba) +
                         " fails its EDC check, but the file's bytes in it match their SHA-256: "
                         "the difference lies in the padding after its end");
    const std::string bytes = std::to_string(m_written) + " bytes";
    if (!entry && m_blocks.length) {
        m_report.done("wrote " + written + ": " + bytes +
                      ", from Form 1 sectors, each checked by its EDC");
        return Done;
    }
    if (!entry) {
        m_report.problem("no file list names " + source + ": " + written +
                         " holds whole sectors (" + bytes + "), its exact length is not known");
        return Done;
    }
    m_report.done("wrote " + written + ": " + bytes + ", SHA-256 checked against the file list" +
                  (m_voucher.list.empty() ? "" : " " + quoted(m_voucher.list)));
    m_checked = true;
    return Done;
}

int Extraction::finishDamaged(const std::string& source, const std::string& problem,
                              std::vector<Range> ranges) {
    m_out.close();
    keepDate();
    for (const Range& range : ranges)
        m_lostBytes += range.size;
    const fs::path damaged = damagedPath(m_destination);
    const fs::path rangesFile = rangesPath(m_destination);
    std::string text = "# damaged byte ranges of " + quoted(damagedPath(m_shownAs)) +
                       ": first byte, last byte (counted from 0), sector, what is wrong\n";
    for (const Range& range : ranges)
        text += std::to_string(range.first) + " " + std::to_string(range.first + range.size - 1) +
                " " + sectorsText(range) + " " + range.why + "\n";
    cdimage::OutputFile list(rangesFile, kTool);
    list.write(text.data(), text.size());
    list.close();
    m_out.place(damaged, m_force);
    list.place(rangesFile, true); // it belongs to the copy just put beside it
    const std::string rangesNamed =
        ranges.empty() ? std::string()
                       : ", the damaged byte ranges in " + quoted(rangesPath(m_shownAs));
    m_report.problem(source + " is a damaged copy: " + problem + "; written as " +
                     quoted(damagedPath(m_shownAs)) + rangesNamed);
    for (std::size_t i = 0; i < std::min(ranges.size(), kRangesShown); ++i)
        m_report.problem("  " + rangeText(ranges[i].first, ranges[i].size) + ": " +
                         (ranges[i].lba == ranges[i].lastLba ? "sector " : "sectors ") +
                         sectorsText(ranges[i]) + " " + ranges[i].why);
    if (ranges.size() > kRangesShown)
        m_report.problem("  and " + std::to_string(ranges.size() - kRangesShown) + " more");
    return Damaged;
}

} // namespace dat2file
