// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where sectors come from: an image file, a disc in a drive, a RIFF CDXA copy of a file. Every
// reader above (the file system, the file list, the writers) asks for sectors here and nowhere
// else, and gets one answer per sector: its bytes, or why it is lost.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cdimage {

// A sector from its subheader on: subheader (8 bytes), data, EDC; 2336 bytes in all.
inline constexpr std::size_t kStoredSectorBytes = 2336;

struct SectorAnswer {
    const std::uint8_t* bytes = nullptr; // nothing when the sector is lost
    // What is wrong with a lost sector, said of it: "cannot be read: IN.BIN ends at sector 29",
    // "is broken: broken sync pattern".
    std::string lost;
    // Rebuilt from repair data: the sector's symbol (its user data, 2,324 bytes) stands after
    // a subheader that says only its form; no EDC vouches for it, the repair did.
    bool rebuilt = false;
    // Read as it is, and its data is what the repair data's check table says: no other check
    // of it is needed.
    bool checked = false;
    // Read as it is, but something says its data is not what was written (the repair data's
    // check table) and nothing could rebuild it: its own bytes, kept while a file's SHA-256
    // may still show them right. Empty when nothing doubts it.
    std::string doubt = {};
    explicit operator bool() const { return bytes != nullptr; }
};

// How far a reading of a whole disc has come, for its progress line.
struct PassProgress {
    const char* pass; // "reading the disc", "reading again what the repair data needs"
    std::uint64_t done, all;
    std::uint64_t missing; // sectors not (yet) read
};

class SectorSource {
public:
    virtual ~SectorSource() = default;
    // How many sectors exist, from LBA 0.
    virtual std::uint32_t sectorCount() const = 0;
    // The sector at `lba`, or nullptr when it cannot be read; valid until the next call.
    virtual const std::uint8_t* sector(std::uint32_t lba) = 0;
    // What `sector` could not read, for messages.
    virtual std::string whyUnreadable(std::uint32_t lba) const = 0;
    // Where the last session begins: its volume descriptors lie 16 sectors further. 0 for a
    // disc of one session.
    virtual std::uint32_t lastSessionStart() const { return 0; }
    // Whether Form 2 sectors can be read here: not from an image of 2048-byte blocks, which
    // keeps only what a Form 1 sector holds.
    virtual bool holdsForm2() const { return true; }

    // A source each of whose reads costs (a drive: seeks, and seconds of retries for a sector
    // it cannot read) reads the sectors before `end` now, in one pass in its own order, then
    // those `stillNeeded` names (asked once the pass is done) again, and answers every read
    // after that from what it kept. Others have nothing to do.
    virtual void readAllAtOnce(std::uint32_t end,
                               const std::function<std::vector<std::uint32_t>()>& stillNeeded,
                               const std::function<void(const PassProgress&)>& progress) {
        (void)end, (void)stillNeeded, (void)progress;
    }

    // A sector the reader cannot do without (lost, and nothing rebuilds it): a source that
    // passed over it (a drive read whole, skipping ahead after errors) tries it now.
    virtual SectorAnswer readHarder(std::uint32_t lba) { return read(lba); }

    // The one answer for a sector; valid until the next call.
    virtual SectorAnswer read(std::uint32_t lba) {
        if (const std::uint8_t* bytes = sector(lba))
            return {bytes, {}, false};
        return {nullptr, "cannot be read: " + whyUnreadable(lba), false};
    }
};

} // namespace cdimage
