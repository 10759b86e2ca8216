// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Damage as a disc suffers it, in sectors: where each sector of a track lies on an 80-minute
// disc (1.2 m/s, 1.5 µm pitch, from a radius of 25 mm to about 58 mm), and which sectors a
// scratch, a spot, a ring, a crack or decay costs. A track of fewer sectors than a full disc is
// stretched (its pitch widened) over the same radii, so that damage of a given size costs a
// small test image about the share of its sectors that it costs a full disc. Damage that
// defeats a drive's own correction costs two or three consecutive sectors where it crosses the
// track. Everything is seeded: the same call gives the same sectors.

#include <cstdint>
#include <random>
#include <set>

namespace velmora::test {

class DiscGeometry {
public:
    static constexpr double kHub = 25.0;          // mm, where the track begins
    static constexpr double kSectorLength = 16.0; // mm of track: 1.2 m/s over 75 sectors
    static constexpr std::uint32_t kFullDisc = 359'850;

    explicit DiscGeometry(std::uint32_t sectors);

    std::uint32_t sectors() const { return m_sectors; }
    double radius(double lba) const; // mm
    double angle(double lba) const;  // radians, from 0 to 2π
    double rim() const { return radius(m_sectors); }
    // The first sector at `radius` or beyond (sectors() past the rim).
    std::uint32_t sectorAt(double radius) const;

private:
    std::uint32_t m_sectors;
    double m_pitch; // mm between turns
};

using Sectors = std::set<std::uint32_t>;

// A straight scratch along a radius at `angle`, from `from` mm outward for `length` mm.
Sectors radialScratch(const DiscGeometry& disc, double angle, double from, double length,
                      std::mt19937& random);
// An opaque spot `diameter` mm across, centred at `radius` mm and `angle`.
Sectors spot(const DiscGeometry& disc, double radius, double angle, double diameter);
// Every sector between `from` and `from + width` mm.
Sectors ring(const DiscGeometry& disc, double from, double width);
// A scratch along the track at `radius` mm, `width` mm wide, over `span` radians from `angle`.
Sectors tangentialArc(const DiscGeometry& disc, double radius, double width, double angle,
                      double span);
// A crack from the rim inward, `length` mm long at `angle`.
Sectors edgeCrack(const DiscGeometry& disc, double angle, double length, std::mt19937& random);
// The rim's decay: sectors past `depth` mm from the rim, each lost with a chance growing from
// nothing to `worst` at the rim.
Sectors rimDecay(const DiscGeometry& disc, double depth, double worst, std::mt19937& random);
// `count` consecutive sectors from `first`.
Sectors burst(std::uint32_t first, std::uint32_t count);
// Each sector lost with a chance of `percent` in 100.
Sectors scattered(const DiscGeometry& disc, double percent, std::mt19937& random);

} // namespace velmora::test
