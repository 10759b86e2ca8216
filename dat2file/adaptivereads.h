// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A damaged disc read the way drives behave: an unreadable sector costs the drive's own
// retries (seconds each by default) and a seek costs tens of milliseconds, so the disc is read
// in one pass, in address order, skipping ahead after a read error (further each time errors
// follow one another), keeping every sector read. Then only the sectors still needed (those the
// repair data cannot do without) are read again, in address order, with the drive's retries
// lowered. Code words are then rebuilt from what was kept, never by seeking to their members.

#include "cdimage/read/sectorsource.h"
#include "dat2file/spillfile.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace dat2file {

// Reads `count` sectors from `lba` into `out`, each from its subheader on (2336 bytes). Returns
// how many of them, from `lba` on, were read whole: `count` when all were; where the drive says
// which sector failed, the ones before it.
using ReadRun =
    std::function<std::uint32_t(std::uint32_t lba, std::uint32_t count, std::uint8_t* out)>;

// For a drive that fails a run as a whole without saying where: given that the `count` sectors
// from `lba` failed together, finds how many of them before the first that fails read whole, by
// halves (five more reads for a run of 32), and leaves them in `out`.
std::uint32_t readBeforeFailureByHalves(
    const std::function<bool(std::uint32_t lba, std::uint32_t count, std::uint8_t* out)>& readAll,
    std::uint32_t lba, std::uint32_t count, std::uint8_t* out);

// What a drive lets its reader change: its own retry count for unreadable sectors (the MMC
// Read-Write Error Recovery page), and its reading speed in multiples of 1× (MMC's SET CD SPEED;
// kFastest for as fast as it goes). Each returns false where the drive does not allow it.
struct DriveKnobs {
    static constexpr int kFastest = 0;
    std::function<bool(int)> setRetries;
    std::function<bool()> restoreRetries;
    std::function<bool(int)> setSpeed;
};

// Where what was read is kept: `inMemory` sectors in memory (256 MiB by default; a full
// 80-minute disc is 359,850 sectors, 841 MB), the rest in a file in `folder` that vanishes
// with the run. Without a folder, or where the file cannot be written, a sector past the
// memory is read again when asked for.
struct Keeping {
    std::filesystem::path folder;
    std::uint32_t inMemory = 114'688;
};

class AdaptiveReads : public cdimage::SectorSource {
public:
    static constexpr std::uint32_t kRun = 32;
    static constexpr int kAttempts = 3; // of a sector read alone, before the pass
    // Past a sector that failed, the pass goes on two sectors further: the next one went by
    // under the head while the drive reported the error, and reading it would cost a turn.
    static constexpr std::uint32_t kFirstJump = 2;
    static constexpr int kShortJumps = 8;
    static constexpr std::uint32_t kLongestJump = 64;
    static constexpr int kLoweredRetries = 0; // the drive's own, once a sector failed
    // The last tries, slower: only where so few sectors stand between the repair data and
    // words it cannot rebuild yet that a turn of the disc each is worth it.
    static constexpr int kSlowSpeed = 4;
    static constexpr std::size_t kMostSlowTries = 512;
    AdaptiveReads(ReadRun read, DriveKnobs knobs, std::uint32_t sectors, std::string device,
                  std::uint32_t lastSessionStart = 0, Keeping keeping = {});
    ~AdaptiveReads() override;

    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;
    std::uint32_t lastSessionStart() const override { return m_lastSessionStart; }
    cdimage::SectorAnswer readHarder(std::uint32_t lba) override;

    // Reads the sectors before `end` once, in order, skipping ahead after errors; then those
    // `stillNeeded` names (asked once the pass is done; sorted or not) that were passed over, in
    // order, except those lying between two that failed; then, where only a few are still
    // needed, those once more at a low speed. The drive's retries stay lowered. Done once: later
    // calls do nothing.
    void readAllAtOnce(std::uint32_t end,
                       const std::function<std::vector<std::uint32_t>()>& stillNeeded,
                       const std::function<void(const cdimage::PassProgress&)>& progress) override;
    // Whether a sector was read, and whether it failed (a sector skipped did neither).
    bool kept(std::uint32_t lba) const;
    bool failed(std::uint32_t lba) const { return m_failed.count(lba) != 0; }

private:
    // Keeps a sector read (false where it cannot be kept), and gives it back.
    bool keep(std::uint32_t lba, const std::uint8_t* bytes);
    const std::uint8_t* keptSector(std::uint32_t lba);
    void lowerRetries();
    // Whether the nearest sectors tried on both sides of `lba` failed.
    bool betweenFailures(std::uint32_t lba) const;
    // Reads a run from `lba`, keeps what came, and returns how many sectors did.
    std::uint32_t readKept(std::uint32_t lba, std::uint32_t count);
    // Tells how far a pass is: its name, done of all.
    using Tell = std::function<void(const char* pass, std::uint64_t done, std::uint64_t all)>;
    // The disc read in order up to `end`, skipping ahead after failures (`missing` counts what
    // was skipped); then the sectors `needed` that were passed over, each run at once; then
    // those still lost, slowly.
    void firstPass(std::uint32_t end, const Tell& tell, std::uint64_t& missing);
    void secondPass(const std::vector<std::uint32_t>& needed, const Tell& tell,
                    std::uint64_t& missing);
    void slowPass(const std::vector<std::uint32_t>& stillLost, const Tell& tell,
                  std::uint64_t& missing);

    ReadRun m_read;
    DriveKnobs m_knobs;
    std::uint32_t m_sectors;
    std::string m_device;
    std::uint32_t m_lastSessionStart;
    bool m_retriesLowered = false, m_retriesAsked = false;
    bool m_wholeRead = false;
    std::uint32_t m_memoryChunks;
    std::filesystem::path m_spillFolder;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_chunks; // 1,024 sectors each
    std::uint32_t m_chunksHeld = 0;
    std::optional<SpillFile> m_spill;
    std::vector<std::uint32_t> m_spillSlots; // each chunk's place in the file, from 1
    std::uint32_t m_slotsUsed = 0;
    std::vector<bool> m_kept;
    std::vector<bool> m_seen; // read whole once, kept or not
    std::set<std::uint32_t> m_failed;
    std::vector<std::uint8_t> m_run; // the last run read, from m_runStart
    std::uint32_t m_runStart = 0, m_runGot = 0;
    std::vector<std::uint8_t> m_fromFile;
};

} // namespace dat2file
