// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace cdimage {

// The error detection code of CD-ROM sectors: CRC-32/CD-ROM-EDC (reflected polynomial
// 0xD8018001, initial value 0, no final xor). `crc` continues an earlier computation.
// Folds 64 bytes at a time with carry-less multiplication where the processor offers it.
std::uint32_t edc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// The same by table look-up alone, a byte at a time in eight: the reference for the above.
std::uint32_t edcWithoutFolding(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

} // namespace cdimage
