// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/retryingreads.h"

#include <algorithm>

namespace dat2file {

namespace {
constexpr std::size_t kSectorSize = 2336;
}

RetryingReads::RetryingReads(ReadSectors read, std::uint32_t sectors, std::string device,
                             std::uint32_t lastSessionStart)
    : m_read(std::move(read))
    , m_sectors(sectors)
    , m_device(std::move(device))
    , m_buffer(kRun * kSectorSize)
    , m_lastSessionStart(lastSessionStart) {}

const std::uint8_t* RetryingReads::sector(std::uint32_t lba) {
    if (lba >= m_sectors)
        return nullptr;
    if (lba >= m_first && lba - m_first < m_count)
        return m_buffer.data() + std::size_t(lba - m_first) * kSectorSize;
    m_count = 0;
    if (lba >= m_singlyUntil) {
        const std::uint32_t run = std::min(kRun, m_sectors - lba);
        if (m_read(lba, run, m_buffer.data())) {
            m_first = lba;
            m_count = run;
            return m_buffer.data();
        }
        m_singlyUntil = lba + run;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt)
        if (m_read(lba, 1, m_buffer.data())) {
            m_first = lba;
            m_count = 1;
            return m_buffer.data();
        }
    return nullptr;
}

std::string RetryingReads::whyUnreadable(std::uint32_t lba) const {
    if (lba >= m_sectors)
        return "the disc in " + m_device + " ends at sector " + std::to_string(m_sectors);
    return "the drive " + m_device + " cannot read it (" + std::to_string(kAttempts) + " tries)";
}

} // namespace dat2file
