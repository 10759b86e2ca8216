// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/adaptivereads.h"

#include "cdimage/base/stopsignals.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace dat2file {

namespace {
constexpr std::size_t kSectorSize = 2336;
constexpr std::uint32_t kChunk = 1024;
} // namespace

std::uint32_t readBeforeFailureByHalves(
    const std::function<bool(std::uint32_t, std::uint32_t, std::uint8_t*)>& readAll,
    std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    std::uint32_t read = 0;
    while (count > 1) {
        const std::uint32_t half = count / 2;
        if (readAll(lba + read, half, out + std::size_t(read) * kSectorSize)) {
            read += half; // the failure lies in the rest
            count -= half;
        } else {
            count = half;
        }
    }
    return read;
}

AdaptiveReads::AdaptiveReads(ReadRun read, DriveKnobs knobs, std::uint32_t sectors,
                             std::string device, std::uint32_t lastSessionStart, Keeping keeping)
    : m_read(std::move(read))
    , m_knobs(std::move(knobs))
    , m_sectors(sectors)
    , m_device(std::move(device))
    , m_lastSessionStart(lastSessionStart)
    , m_memoryChunks((keeping.inMemory + kChunk - 1) / kChunk)
    , m_spillFolder(std::move(keeping.folder))
    , m_chunks((std::size_t(sectors) + kChunk - 1) / kChunk)
    , m_spillSlots(m_chunks.size(), 0)
    , m_kept(sectors, false)
    , m_seen(sectors, false)
    , m_run(kRun * kSectorSize)
    , m_fromFile(kSectorSize) {}

AdaptiveReads::~AdaptiveReads() {
    if (m_retriesLowered && m_knobs.restoreRetries)
        m_knobs.restoreRetries();
}

bool AdaptiveReads::kept(std::uint32_t lba) const {
    return lba < m_sectors && m_kept[lba];
}

bool AdaptiveReads::keep(std::uint32_t lba, const std::uint8_t* bytes) {
    const std::uint32_t chunk = lba / kChunk;
    if (!m_chunks[chunk] && !m_spillSlots[chunk]) {
        if (m_chunksHeld < m_memoryChunks) {
            m_chunks[chunk].reset(new std::uint8_t[kChunk * kSectorSize]);
            ++m_chunksHeld;
        } else {
            if (!m_spill)
                m_spill.emplace(m_spillFolder, kSectorSize);
            if (!m_spill->isOpen())
                return false; // read again when asked for
            m_spillSlots[chunk] = ++m_slotsUsed;
        }
    }
    if (m_chunks[chunk]) {
        std::memcpy(m_chunks[chunk].get() + std::size_t(lba % kChunk) * kSectorSize, bytes,
                    kSectorSize);
        return true;
    }
    return m_spill->write(std::uint64_t(m_spillSlots[chunk] - 1) * kChunk + lba % kChunk, bytes);
}

const std::uint8_t* AdaptiveReads::keptSector(std::uint32_t lba) {
    const std::uint32_t chunk = lba / kChunk;
    if (m_chunks[chunk])
        return m_chunks[chunk].get() + std::size_t(lba % kChunk) * kSectorSize;
    if (m_spill && m_spill->read(std::uint64_t(m_spillSlots[chunk] - 1) * kChunk + lba % kChunk,
                                 m_fromFile.data()))
        return m_fromFile.data();
    m_kept[lba] = false; // the file failed it: read again
    return nullptr;
}

void AdaptiveReads::lowerRetries() {
    if (m_retriesAsked || !m_knobs.setRetries)
        return;
    m_retriesAsked = true;
    m_retriesLowered = m_knobs.setRetries(kLoweredRetries);
}

std::uint32_t AdaptiveReads::readKept(std::uint32_t lba, std::uint32_t count) {
    count = std::min({count, kRun, m_sectors - lba});
    const std::uint32_t got = std::min(m_read(lba, count, m_run.data()), count);
    m_runStart = lba;
    m_runGot = got;
    for (std::uint32_t i = 0; i < got; ++i)
        m_seen[lba + i] = true;
    for (std::uint32_t i = 0; i < got; ++i) {
        m_failed.erase(lba + i);
        m_kept[lba + i] = keep(lba + i, m_run.data() + std::size_t(i) * kSectorSize);
    }
    return got;
}

bool AdaptiveReads::betweenFailures(std::uint32_t lba) const {
    const auto nearestFailed = [&](std::uint32_t from, int step) {
        for (std::int64_t at = std::int64_t(from) + step;
             at >= 0 && at < std::int64_t(m_sectors) && std::abs(at - from) <= kLongestJump;
             at += step) {
            if (m_kept[std::size_t(at)])
                return false;
            if (m_failed.count(std::uint32_t(at)))
                return true;
        }
        return false;
    };
    return nearestFailed(lba, -1) && nearestFailed(lba, +1);
}

const std::uint8_t* AdaptiveReads::sector(std::uint32_t lba) {
    if (lba >= m_sectors)
        return nullptr;
    if (m_kept[lba])
        if (const std::uint8_t* kept = keptSector(lba))
            return kept;
    if (lba >= m_runStart && lba - m_runStart < m_runGot) // read a moment ago, not kept
        return m_run.data() + std::size_t(lba - m_runStart) * kSectorSize;
    if (m_wholeRead && !m_seen[lba])
        return nullptr; // failed, or skipped and not needed by the repair data
    // Not read yet, or read but more than could be kept: read (again) now.
    if (m_failed.count(lba))
        return nullptr;
    // Before the whole disc is read (its file system, its repair data's header): a run from
    // here, and where it fails, the sector alone, a few times.
    if (readKept(lba, kRun) == 0) {
        // A damaged disc: from here on an unreadable sector costs its passage, not the drive's
        // seconds of retries.
        lowerRetries();
        bool read = false;
        for (int attempt = 1; attempt < kAttempts && !read; ++attempt)
            read = readKept(lba, 1) == 1;
        if (!read) {
            m_failed.insert(lba);
            return nullptr;
        }
    }
    // Given from the run just read, kept or not.
    return m_run.data();
}

void AdaptiveReads::firstPass(std::uint32_t end, const Tell& tell, std::uint64_t& missing) {
    // One pass in order: after a sector that fails, skip ahead, further while failures follow
    // one another; what was skipped is neither read nor lost.
    std::uint32_t jump = kFirstJump;
    int failuresInARow = 0;
    std::uint32_t lba = 0;
    std::uint32_t lastTold = 0;
    while (lba < end) {
        if (lba - lastTold >= 4096 || lba == 0) {
            tell("reading the disc", lba, end);
            cdimage::stopIfAsked();
            lastTold = lba;
        }
        if (m_kept[lba]) {
            ++lba;
            continue;
        }
        std::uint32_t count = 1;
        while (count < kRun && lba + count < end && !m_kept[lba + count])
            ++count;
        const std::uint32_t got = readKept(lba, count);
        if (got == count) {
            lba += got;
            jump = kFirstJump;
            failuresInARow = 0;
            continue;
        }
        lba += got;
        m_failed.insert(lba);
        const std::uint32_t skipTo = std::min(end, lba + jump);
        missing += skipTo - lba;
        lba = skipTo;
        // Where failures follow one another, the jumps stay short a while (a failed command
        // costs little more than its sector's passage), so that the damage's far edge is found
        // within a sector or two; then they grow, to cross a wide ring quickly.
        failuresInARow = got > 0 ? 1 : failuresInARow + 1;
        jump = failuresInARow < kShortJumps ? kFirstJump : std::min(jump * 2, kLongestJump);
    }
    tell("reading the disc", end, end);
}

void AdaptiveReads::secondPass(const std::vector<std::uint32_t>& needed, const Tell& tell,
                               std::uint64_t& missing) {
    for (std::size_t i = 0; i < needed.size();) {
        if (i % 256 == 0) {
            tell("reading again what the repair data needs", i, needed.size());
            cdimage::stopIfAsked();
        }
        // Damage lies in one piece: a sector between two that failed, with nothing read
        // between them, is part of it and not tried.
        if (m_kept[needed[i]] || failed(needed[i]) || betweenFailures(needed[i])) {
            ++i;
            continue;
        }
        std::size_t run = 1;
        while (i + run < needed.size() && run < kRun && needed[i + run] == needed[i] + run)
            ++run;
        const std::uint32_t got = readKept(needed[i], std::uint32_t(run));
        missing -= got;
        if (got < run)
            m_failed.insert(needed[i + got]);
        i += got < run ? got + 1 : got;
    }
    tell("reading again what the repair data needs", needed.size(), needed.size());
}

void AdaptiveReads::slowPass(const std::vector<std::uint32_t>& stillLost, const Tell& tell,
                             std::uint64_t& missing) {
    // A few sectors short of rebuilding some words: each of them tried once more, at a speed
    // where a worn disc reads better; then the drive goes back to its fastest.
    if (stillLost.empty() || stillLost.size() > kMostSlowTries || !m_knobs.setSpeed ||
        !m_knobs.setSpeed(kSlowSpeed))
        return;
    missing = stillLost.size();
    for (std::size_t i = 0; i < stillLost.size(); ++i) {
        tell("reading slowly what the repair data still needs", i, stillLost.size());
        cdimage::stopIfAsked();
        if (!m_kept[stillLost[i]] && readKept(stillLost[i], 1) == 1)
            --missing;
    }
    tell("reading slowly what the repair data still needs", stillLost.size(), stillLost.size());
    m_knobs.setSpeed(DriveKnobs::kFastest);
}

void AdaptiveReads::readAllAtOnce(
    std::uint32_t end, const std::function<std::vector<std::uint32_t>()>& stillNeeded,
    const std::function<void(const cdimage::PassProgress&)>& progress) {
    if (m_wholeRead)
        return;
    end = std::min(end, m_sectors);
    lowerRetries();
    std::uint64_t missing = 0;
    const Tell tell = [&](const char* pass, std::uint64_t done, std::uint64_t all) {
        if (progress)
            progress(cdimage::PassProgress{pass, done, all, missing});
    };
    firstPass(end, tell, missing);
    // Then again what is still needed, in order, each run of needed sectors at once. Meanwhile
    // a sector not kept reads as lost.
    m_wholeRead = true;
    const auto notKept = [&] {
        std::vector<std::uint32_t> needed =
            stillNeeded ? stillNeeded() : std::vector<std::uint32_t>{};
        std::sort(needed.begin(), needed.end());
        needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
        std::erase_if(needed,
                      [&](std::uint32_t wanted) { return wanted >= end || m_kept[wanted]; });
        return needed;
    };
    std::vector<std::uint32_t> needed = notKept();
    // A sector that failed was tried already: only those skipped are read.
    std::erase_if(needed, [&](std::uint32_t wanted) { return failed(wanted); });
    missing = needed.size();
    secondPass(needed, tell, missing);
    if (!needed.empty())
        slowPass(notKept(), tell, missing);
    // The retries stay lowered for the sectors still to be tried (readHarder); they are put
    // back when the drive is let go.
}

cdimage::SectorAnswer AdaptiveReads::readHarder(std::uint32_t lba) {
    // Skipped, and more than the repair data rebuilds: read now, unless the sectors nearest it
    // on both sides failed (damage lies in one piece: it is part of it).
    if (m_wholeRead && lba < m_sectors && !m_kept[lba] && !m_failed.count(lba)) {
        if (betweenFailures(lba) || readKept(lba, 1) != 1)
            m_failed.insert(lba);
        else if (!m_kept[lba])
            return {m_run.data(), {}, false}; // read, but it could not be kept
    }
    return read(lba);
}

std::string AdaptiveReads::whyUnreadable(std::uint32_t lba) const {
    if (lba >= m_sectors)
        return "the disc in " + m_device + " ends at sector " + std::to_string(m_sectors);
    if (m_wholeRead && !m_failed.count(lba))
        return "the drive " + m_device +
               " was not asked for it again: it lies just after a sector it cannot read, and "
               "the repair data did not need it";
    return "the drive " + m_device + " cannot read it";
}

} // namespace dat2file
