// SPDX-License-Identifier: GPL-3.0-or-later
#include "discdamage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora::test {

namespace {

constexpr double kTurn = 2 * std::numbers::pi;

// The smaller angle between two directions.
double apart(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), kTurn);
    return std::min(d, kTurn - d);
}

// Where the damage crosses the track at sector `lba`: it and the next, and one more half the
// time (the drive's interleave spreads what it cannot correct).
void crossing(Sectors& lost, std::uint32_t lba, std::uint32_t sectors, std::mt19937& random) {
    const std::uint32_t count = 2 + std::uint32_t(random() % 2);
    for (std::uint32_t i = 0; i < count && lba + i < sectors; ++i)
        lost.insert(lba + i);
}

} // namespace

DiscGeometry::DiscGeometry(std::uint32_t sectors)
    : m_sectors(sectors)
    , m_pitch(0.0015 * double(kFullDisc) / double(std::max<std::uint32_t>(sectors, 1))) {}

// The track's area up to a sector is its length times the pitch: pi (r² - hub²) = p s n.
double DiscGeometry::radius(double lba) const {
    return std::sqrt(kHub * kHub + m_pitch * kSectorLength * lba / std::numbers::pi);
}

// Each turn moves the track out by one pitch.
double DiscGeometry::angle(double lba) const {
    return std::fmod(kTurn * (radius(lba) - kHub) / m_pitch, kTurn);
}

std::uint32_t DiscGeometry::sectorAt(double r) const {
    if (r <= kHub)
        return 0;
    const double lba = (r * r - kHub * kHub) * std::numbers::pi / (m_pitch * kSectorLength);
    return std::uint32_t(std::min<double>(std::ceil(lba), m_sectors));
}

Sectors radialScratch(const DiscGeometry& disc, double angle, double from, double length,
                      std::mt19937& random) {
    Sectors lost;
    const std::uint32_t first = disc.sectorAt(from), last = disc.sectorAt(from + length);
    for (std::uint32_t lba = first; lba < last; ++lba) {
        // The track passes `angle` within this sector: from its start to the next one's.
        const double start = disc.angle(lba), end = disc.angle(lba + 1);
        const double target = std::fmod(angle, kTurn);
        const bool within =
            start <= end ? target >= start && target < end : target >= start || target < end;
        if (within)
            crossing(lost, lba, disc.sectors(), random);
    }
    return lost;
}

Sectors spot(const DiscGeometry& disc, double r, double angle, double diameter) {
    Sectors lost;
    const double cx = r * std::cos(angle), cy = r * std::sin(angle);
    const std::uint32_t first = disc.sectorAt(r - diameter / 2),
                        last = disc.sectorAt(r + diameter / 2);
    for (std::uint32_t lba = first; lba < last; ++lba) {
        // Sectors whose arc points away from the spot are passed by at once.
        const double r0 = disc.radius(lba);
        const double half = DiscGeometry::kSectorLength / r0 / 2;
        if (apart(disc.angle(lba) + half, angle) > half + diameter / std::max(r - diameter, 1.0))
            continue;
        for (int step = 0; step < 16; ++step) { // points a millimetre apart along the sector
            const double at = lba + step / 16.0;
            const double x = disc.radius(at) * std::cos(disc.angle(at)) - cx;
            const double y = disc.radius(at) * std::sin(disc.angle(at)) - cy;
            if (x * x + y * y <= diameter * diameter / 4) {
                lost.insert(lba);
                if (lba + 1 < disc.sectors())
                    lost.insert(lba + 1); // what the interleave spreads
                break;
            }
        }
    }
    return lost;
}

Sectors ring(const DiscGeometry& disc, double from, double width) {
    Sectors lost;
    for (std::uint32_t lba = disc.sectorAt(from); lba < disc.sectorAt(from + width); ++lba)
        lost.insert(lba);
    return lost;
}

Sectors tangentialArc(const DiscGeometry& disc, double r, double width, double angle, double span) {
    Sectors lost;
    for (std::uint32_t lba = disc.sectorAt(r); lba < disc.sectorAt(r + width); ++lba)
        if (apart(disc.angle(lba + 0.5), angle + span / 2) <= span / 2)
            lost.insert(lba);
    return lost;
}

Sectors edgeCrack(const DiscGeometry& disc, double angle, double length, std::mt19937& random) {
    return radialScratch(disc, angle, disc.rim() - length, length + 1, random);
}

Sectors rimDecay(const DiscGeometry& disc, double depth, double worst, std::mt19937& random) {
    Sectors lost;
    const double rim = disc.rim();
    std::uniform_real_distribution<double> chance(0, 1);
    for (std::uint32_t lba = disc.sectorAt(rim - depth); lba < disc.sectors(); ++lba)
        if (chance(random) < worst * (disc.radius(lba) - (rim - depth)) / depth)
            lost.insert(lba);
    return lost;
}

Sectors burst(std::uint32_t first, std::uint32_t count) {
    Sectors lost;
    for (std::uint32_t i = 0; i < count; ++i)
        lost.insert(first + i);
    return lost;
}

Sectors scattered(const DiscGeometry& disc, double percent, std::mt19937& random) {
    Sectors lost;
    std::uniform_real_distribution<double> chance(0, 100);
    for (std::uint32_t lba = 0; lba < disc.sectors(); ++lba)
        if (chance(random) < percent)
            lost.insert(lba);
    return lost;
}

} // namespace velmora::test
