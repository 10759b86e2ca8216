// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A damaged disc read the way drives behave: an unreadable sector costs the drive's own
// retries (seconds each by default) and a seek costs tens of milliseconds, so the disc is read
// in one pass, in address order, skipping ahead after a read error (further each time errors
// follow one another), keeping every sector read. Then only the sectors still needed (those the
// repair data cannot do without) are read again, in address order, with the drive's retries
// lowered. Code words are then rebuilt from what was kept, never by seeking to their members.

#include "cdimage/read/sectorsource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace dat2file {

// Reads `count` sectors from `lba` into `out`, each from its subheader on (2336 bytes). Returns
// how many of them, from `lba` on, were read whole: `count` when all were; where the drive says
// which sector failed, the ones before it.
using ReadRun =
    std::function<std::uint32_t(std::uint32_t lba, std::uint32_t count, std::uint8_t* out)>;

// What a drive lets its reader change: its own retry count for unreadable sectors (the MMC
// Read-Write Error Recovery page). Each returns false where the drive does not allow it.
struct DriveKnobs {
    std::function<bool(int)> setRetries;
    std::function<bool()> restoreRetries;
};

class AdaptiveReads : public cdimage::SectorSource {
public:
    static constexpr std::uint32_t kRun = 32;
    static constexpr int kAttempts = 3;            // of a sector read alone, before the pass
    static constexpr std::uint32_t kFirstJump = 4; // past a sector that failed
    static constexpr std::uint32_t kLongestJump = 64;
    static constexpr int kLoweredRetries = 0; // the drive's own, while the disc is read
    // Sectors kept at most (a full 80-minute disc is 359,850 of them, 841 MB).
    static constexpr std::uint32_t kMostKept = 400'000;

    AdaptiveReads(ReadRun read, DriveKnobs knobs, std::uint32_t sectors, std::string device,
                  std::uint32_t lastSessionStart = 0);
    ~AdaptiveReads() override;

    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;
    std::uint32_t lastSessionStart() const override { return m_lastSessionStart; }
    cdimage::SectorAnswer readHarder(std::uint32_t lba) override;

    // Reads the sectors before `end` once, in order, skipping ahead after errors; then those
    // `stillNeeded` names (asked once the pass is done; sorted or not), again, in order; the
    // drive's retries lowered meanwhile. Done once: later calls do nothing.
    void readAllAtOnce(std::uint32_t end,
                       const std::function<std::vector<std::uint32_t>()>& stillNeeded,
                       const std::function<void(const cdimage::PassProgress&)>& progress) override;
    // Whether a sector was read, and whether it failed (a sector skipped did neither).
    bool kept(std::uint32_t lba) const;
    bool failed(std::uint32_t lba) const { return m_failed.count(lba) != 0; }

private:
    std::uint8_t* slot(std::uint32_t lba); // where a sector is kept, allocated on demand
    // Whether the nearest sectors tried on both sides of `lba` failed.
    bool betweenFailures(std::uint32_t lba) const;
    // Reads a run from `lba`, keeps what came, and returns how many sectors did.
    std::uint32_t readKept(std::uint32_t lba, std::uint32_t count);
    // Tells how far a pass is: its name, done of all.
    using Tell = std::function<void(const char* pass, std::uint64_t done, std::uint64_t all)>;
    // The disc read in order up to `end`, skipping ahead after failures (`missing` counts what
    // was skipped); then the sectors `needed` again, each run at once.
    void firstPass(std::uint32_t end, const Tell& tell, std::uint64_t& missing);
    void secondPass(const std::vector<std::uint32_t>& needed, const Tell& tell,
                    std::uint64_t& missing);

    ReadRun m_read;
    DriveKnobs m_knobs;
    std::uint32_t m_sectors;
    std::string m_device;
    std::uint32_t m_lastSessionStart;
    bool m_retriesLowered = false;
    bool m_wholeRead = false;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_chunks; // 1,024 sectors each
    std::uint32_t m_chunksHeld = 0;
    std::vector<bool> m_kept;
    std::vector<bool> m_seen; // read whole once, kept or not
    std::set<std::uint32_t> m_failed;
    std::vector<std::uint8_t> m_run;
};

} // namespace dat2file
