// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace cdimage {

// Computes the P and Q parity (ECMA-130, annex A) of a raw 2352-byte Mode 2 Form 1 sector
// into bytes 2076 to 2351. The four header bytes count as zero, as Mode 2 requires.
void computeEcc(std::uint8_t* sector);

} // namespace cdimage
