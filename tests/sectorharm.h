// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Damage done to a raw image's sectors in the tests, and its little-endian fields read.

#include "discdamage.h"

#include <QByteArray>

#include <cstdint>
#include <random>

namespace velmora::test {

enum class Harm {
    Zeroed,         // the whole raw sector
    GarbageBadEdc,  // other data, the EDC left: it fails
    GarbageGoodEdc, // other data with its EDC made anew: only the check table tells
    FlippedBit,     // one bit, the EDC made anew
};

// Harms `sectors` of the raw image `bin` (2,352 bytes a sector) as `how` says; sectors past its
// end are left alone.
void harm(QByteArray& bin, const Sectors& sectors, Harm how, std::mt19937& random);

// The little-endian 32-bit number at `at`.
std::uint32_t le32(const QByteArray& bytes, qsizetype at);

} // namespace velmora::test
