// SPDX-License-Identifier: GPL-3.0-or-later
#include "drivemodel.h"

#include "dat2file/adaptivereads.h"
#include "dat2file/retryingreads.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmora::test {

namespace {
constexpr double kTurn = 6.283185307179586;
constexpr double kRimRadius = 58.0;             // mm
constexpr double kRimSpeed = 24 * 1.2 * 1000.0; // mm a second at the rim
constexpr double kSettle = 0.010, kFullStroke = 0.140, kDataWidth = 33.0;
constexpr double kCommand = 0.0005;
constexpr double kNearby = 0.05; // mm: a few turns away, reached by waiting, not seeking
} // namespace

DriveModel::DriveModel(const QByteArray& image, Sectors damaged, Sectors marginal)
    : m_image(image)
    , m_damaged(std::move(damaged))
    , m_marginal(std::move(marginal))
    , m_geometry(std::uint32_t(image.size() / 2352)) {}

double DriveModel::turn() const {
    return kTurn * kRimRadius / kRimSpeed * kFullSpeed / m_speed;
}

double DriveModel::passage(std::uint32_t lba) const {
    return turn() * DiscGeometry::kSectorLength / (kTurn * m_geometry.radius(lba));
}

void DriveModel::reach(std::uint32_t lba) {
    const double radius = m_geometry.radius(lba), distance = std::abs(radius - m_radius);
    if (distance > kNearby)
        m_clock += kSettle + kFullStroke * std::sqrt(std::min(distance, kDataWidth) / kDataWidth);
    // The disc has turned meanwhile; wait until the sector's start comes under the head.
    const double now = std::fmod(m_angle + kTurn * (m_clock / turn()), kTurn);
    double wait = std::fmod(m_geometry.angle(lba) - now + 2 * kTurn, kTurn);
    m_clock += wait / kTurn * turn();
    m_radius = radius;
}

std::uint32_t DriveModel::read(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    ++m_commands;
    m_clock += kCommand;
    if (lba >= sectors())
        return 0;
    count = std::min(count, sectors() - lba);
    if (lba != m_head)
        reach(lba);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t sector = lba + i;
        m_clock += passage(sector);
        if (m_damaged.count(sector) || (m_speed > kMarginalSpeed && m_marginal.count(sector))) {
            m_clock += m_retries * turn();
            m_head = UINT32_MAX; // the read-ahead stops with the error
            m_angle = std::fmod(
                m_geometry.angle(sector + 1) - kTurn * (m_clock / turn()) + 64 * kTurn, kTurn);
            m_radius = m_geometry.radius(sector + 1);
            return i;
        }
        std::memcpy(out + std::size_t(i) * 2336, m_image.constData() + qint64(sector) * 2352 + 16,
                    2336);
    }
    m_head = lba + count;
    m_angle =
        std::fmod(m_geometry.angle(lba + count) - kTurn * (m_clock / turn()) + 64 * kTurn, kTurn);
    m_radius = m_geometry.radius(lba + count);
    return count;
}

cdimage::OpenedSource openedOn(DriveModel& drive, bool adaptive,
                               std::optional<dat2file::Keeping> keeping) {
    cdimage::OpenedSource opened;
    opened.kind = cdimage::SourceKind::MountedDisc;
    opened.where = "the model drive";
    if (adaptive)
        opened.sectors = std::make_unique<dat2file::AdaptiveReads>(
            [&drive](std::uint32_t lba, std::uint32_t count, std::uint8_t* into) {
                return drive.read(lba, count, into);
            },
            dat2file::DriveKnobs{[&drive](int retries) { return drive.setRetries(retries); },
                                 [&drive] { return drive.restoreRetries(); },
                                 [&drive](int speed) {
                                     return drive.setSpeed(speed);
                                 }},
            drive.sectors(), "\"model\"", 0,
            keeping.value_or(dat2file::Keeping{QDir::tempPath().toStdString()}));
    else
        opened.sectors = std::make_unique<dat2file::RetryingReads>(
            [&drive](std::uint32_t lba, std::uint32_t count, std::uint8_t* into) {
                return drive.readAll(lba, count, into);
            },
            drive.sectors(), "\"model\"");
    return opened;
}

} // namespace velmora::test
