// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/ecc.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace cdimage {

namespace {

// Multiplication by alpha in GF(2^8) with the field polynomial x^8+x^4+x^3+x^2+1, and the
// inverse of multiplication by (alpha + 1).
struct Tables {
    std::array<std::uint8_t, 256> timesAlpha{};
    std::array<std::uint8_t, 256> dividedByAlphaPlusOne{};
};

constexpr Tables makeTables() {
    Tables tables;
    for (unsigned i = 0; i < 256; ++i) {
        const unsigned doubled = (i << 1) ^ ((i & 0x80u) ? 0x11Du : 0u);
        tables.timesAlpha[i] = std::uint8_t(doubled);
        tables.dividedByAlphaPlusOne[i ^ doubled] = std::uint8_t(i);
    }
    return tables;
}

constexpr Tables kTables = makeTables();

// One family of Reed-Solomon codes over the bytes from offset 12: `codes` code words of
// `length` data bytes each; word `w` starts at (w / 2) * `start` + (w % 2) and steps by `step`
// bytes (wrapping round the covered area). Its two parity bytes go to parity[w] and
// parity[w + codes].
void computeParity(const std::uint8_t* area, std::size_t codes, std::size_t length,
                   std::size_t start, std::size_t step, std::uint8_t* parity) {
    const std::size_t size = codes * length;
    for (std::size_t word = 0; word < codes; ++word) {
        std::size_t index = (word >> 1) * start + (word & 1);
        std::uint8_t weighted = 0;
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint8_t byte = area[index];
            index += step;
            if (index >= size)
                index -= size;
            weighted = kTables.timesAlpha[weighted ^ byte];
            sum ^= byte;
        }
        weighted = kTables.dividedByAlphaPlusOne[kTables.timesAlpha[weighted] ^ sum];
        parity[word] = weighted;
        parity[word + codes] = std::uint8_t(weighted ^ sum);
    }
}

} // namespace

void computeEcc(std::uint8_t* sector, EccHeader counted) {
    std::uint8_t header[4];
    std::memcpy(header, sector + 12, 4);
    if (counted == EccHeader::Zeroed)
        std::memset(sector + 12, 0, 4);
    computeParity(sector + 12, 86, 24, 2, 86, sector + 2076);  // P: 86 columns of 24
    computeParity(sector + 12, 52, 43, 86, 88, sector + 2248); // Q: 52 diagonals of 43
    std::memcpy(sector + 12, header, 4);
}

} // namespace cdimage
