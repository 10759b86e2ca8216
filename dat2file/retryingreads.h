// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Sectors from a drive: read ahead in runs, and where a run cannot be read, sector by sector,
// each one tried a few times before it is given up as unreadable. A scratch then costs the
// sectors under it and no more.

#include "cdimage/read/discreader.h"

#include <functional>
#include <vector>

namespace dat2file {

// Reads `count` sectors from `lba` into `out`, each from its subheader on (2336 bytes); false
// when the drive cannot.
using ReadSectors = std::function<bool(std::uint32_t lba, std::uint32_t count, std::uint8_t* out)>;

class RetryingReads : public cdimage::SectorSource {
public:
    static constexpr std::uint32_t kRun = 32;
    static constexpr int kAttempts = 3;

    RetryingReads(ReadSectors read, std::uint32_t sectors, std::string device,
                  std::uint32_t lastSessionStart = 0);

    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;
    std::uint32_t lastSessionStart() const override { return m_lastSessionStart; }

private:
    ReadSectors m_read;
    std::uint32_t m_sectors;
    std::string m_device;
    std::vector<std::uint8_t> m_buffer;
    std::uint32_t m_first = 0, m_count = 0; // the sectors in the buffer
    std::uint32_t m_singlyUntil = 0;        // after a failed run: one sector at a time up to here
    std::uint32_t m_lastSessionStart = 0;
};

} // namespace dat2file
