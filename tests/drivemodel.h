// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A CD drive in virtual time: the sectors of an image read as a drive reads a disc, each
// command costing what it would, so that reading strategies can be compared without a drive.
// Where each sector lies is DiscGeometry's (tests/discdamage.h); which ones the drive cannot
// read is given, as its damage functions lay it out.
//
// The figures, and where they come from:
// - The disc turns at a constant rate (CAV), 24× at its rim: 28.8 m/s at 58 mm, 79 turns a
//   second. CD-ROM drives of 24× and more read data at constant angular velocity; 24× is the
//   speed they fall back to on a worn disc.
// - A seek costs 10 ms to start and settle, plus 140 ms for the whole 33 mm of the data area,
//   growing as the square root of the distance (the arm accelerates, then brakes): about 90 ms
//   for a third of it, the "average access time" drive data sheets give. Then the drive waits
//   for the sector to come round. A sector on the same or the next few turns needs no seek,
//   only the wait.
// - Each command costs 0.5 ms before the drive acts on it. A command that continues the last
//   one (the next sector) streams from the drive's read-ahead: no wait.
// - A sector the drive cannot correct costs one revolution per attempt: it reads the sector
//   again each time it comes round. The drive makes its Read Retry Count of attempts more
//   (MMC's Read-Write Error Recovery page; 24 by default here, which with the drive's other
//   recovery is the second or so a scratched sector takes), then fails the command; the
//   sectors before it in the command are delivered. Lowered to 0, the error costs only the
//   sector's own passage.
// - Its speed can be lowered (SET CD SPEED): the disc turns slower in proportion. A worn
//   sector that the drive misreads at full speed may read at 8× or less (`marginal`).

#include "discdamage.h"

#include "cdimage/read/openimage.h"
#include "dat2file/adaptivereads.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace velmora::test {

class DriveModel {
public:
    static constexpr int kDefaultRetries = 24;

    static constexpr int kFullSpeed = 24, kMarginalSpeed = 8;

    // The sectors of `image` (raw, 2,352 bytes each), `damaged` unreadable, `marginal` readable
    // only at kMarginalSpeed or slower.
    DriveModel(const QByteArray& image, Sectors damaged, Sectors marginal = {});

    // Reads `count` sectors from `lba`, each from its subheader on (2,336 bytes), into `out`:
    // how many from `lba` on were read before the first unreadable one (all when none is).
    std::uint32_t read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out);
    // The same, all or nothing, as a drive that does not say which sector failed.
    bool readAll(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
        return read(lba, count, out) == count;
    }
    bool setRetries(int retries) {
        m_retries = retries;
        m_retriesSet.append(retries);
        return true;
    }
    bool restoreRetries() { return setRetries(kDefaultRetries); }
    // In multiples of 1×; 0 for the fastest.
    bool setSpeed(int speed) {
        m_speed = speed <= 0 ? kFullSpeed : std::min(speed, kFullSpeed);
        m_speedsSet.append(speed);
        return true;
    }
    const QList<int>& speedsSet() const { return m_speedsSet; }
    // Every retry count its reader gave it, in order.
    const QList<int>& retriesSet() const { return m_retriesSet; }

    std::uint32_t sectors() const { return m_geometry.sectors(); }
    double seconds() const { return m_clock; }
    std::uint64_t commands() const { return m_commands; }

private:
    // Moves the head to `lba`'s sector: a seek where it lies elsewhere, then the wait for it.
    void reach(std::uint32_t lba);
    double turn() const; // seconds a revolution takes
    double passage(std::uint32_t lba) const;

    const QByteArray& m_image;
    Sectors m_damaged, m_marginal;
    DiscGeometry m_geometry;
    double m_clock = 0;
    std::uint32_t m_head = UINT32_MAX; // the next sector under the head, streaming
    double m_angle = 0, m_radius = DiscGeometry::kHub;
    int m_retries = kDefaultRetries;
    int m_speed = kFullSpeed;
    QList<int> m_speedsSet;
    std::uint64_t m_commands = 0;
    QList<int> m_retriesSet;
};

// The disc in `drive` as dat2file opens a drive: read whole and skipping ahead where `adaptive`
// (what was read kept as `keeping` says: by default, past 256 MiB, in the system's temporary
// folder), else as dat2file read drives before (runs of 32, each sector of a failed run tried
// three times). `drive` must outlive it.
cdimage::OpenedSource openedOn(DriveModel& drive, bool adaptive,
                               std::optional<dat2file::Keeping> keeping = std::nullopt);

} // namespace velmora::test
