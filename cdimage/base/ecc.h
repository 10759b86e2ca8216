// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace cdimage {

// Whether the four header bytes count in a sector's parity: not in Mode 2, where they count as
// zero, but in Mode 1.
enum class EccHeader { Zeroed, Counted };

// Computes the P and Q parity (ECMA-130, annex A) of a raw 2352-byte Mode 2 Form 1 sector (or
// Mode 1 sector) into bytes 2076 to 2351.
void computeEcc(std::uint8_t* sector, EccHeader header = EccHeader::Zeroed);

} // namespace cdimage
