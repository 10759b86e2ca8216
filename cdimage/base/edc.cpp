// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/edc.h"

#include "cdimage/base/bytes.h"

#include <array>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define CDIMAGE_HAVE_CLMUL 1
#endif

namespace cdimage {

namespace {

constexpr std::uint32_t kPolynomial = 0xD8018001u;

// Eight tables, so that eight bytes are folded in per step ("slicing by eight").
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeTables() {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1u) ? kPolynomial : 0u);
        tables[0][i] = crc;
    }
    for (std::size_t t = 1; t < 8; ++t)
        for (std::uint32_t i = 0; i < 256; ++i)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFFu];
    return tables;
}

constexpr auto kTables = makeTables();

std::uint32_t edcByTables(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    while (size >= 8) {
        std::uint32_t low = readLittleEndian32(data) ^ crc;
        const std::uint32_t high = readLittleEndian32(data + 4);
        crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
              kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^
              kTables[2][(high >> 8) & 0xFF] ^ kTables[1][(high >> 16) & 0xFF] ^
              kTables[0][high >> 24];
        data += 8;
        size -= 8;
    }
    while (size-- > 0)
        crc = (crc >> 8) ^ kTables[0][(crc ^ *data++) & 0xFFu];
    return crc;
}

#ifdef CDIMAGE_HAVE_CLMUL
// Carry-less multiplication folds 64 bytes at a time into four 128-bit remainders, then one,
// then 32 bits by a Barrett reduction ("Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ", Intel). The constants are x^n mod P, bit-reflected and shifted left by one, for
// P = x^32+x^31+x^16+x^15+x^4+x^3+x+1; they were derived for this polynomial by the same
// steps that give the well-known constants of CRC-32/ISO-HDLC.
constexpr std::uint64_t kFold64Low = 0x1F8931102;  // x^(4*128+32)
constexpr std::uint64_t kFold64High = 0x12E7928A2; // x^(4*128-32)
constexpr std::uint64_t kFold16Low = 0x06C90C100;  // x^(128+32)
constexpr std::uint64_t kFold16High = 0x1D5934102; // x^(128-32)
constexpr std::uint64_t kFold8 = 0x1F1030002;      // x^64
constexpr std::uint64_t kPolynomialReflected = 0x1B0030003;
constexpr std::uint64_t kQuotientReflected = 0x17000FFFF; // x^64 / P

#define CDIMAGE_CLMUL __attribute__((target("pclmul,sse4.1")))

CDIMAGE_CLMUL __m128i load(const std::uint8_t*& data) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    data += 16;
    return block;
}

// value * x^(128 or 512) mod P, added to the next block.
CDIMAGE_CLMUL __m128i fold(__m128i value, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(value, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(value, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The CRC of `blocks` (at least four) of 16 bytes.
CDIMAGE_CLMUL std::uint32_t edcByFolding(const std::uint8_t* data, std::size_t blocks,
                                         std::uint32_t crc) {
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(data);
    __m128i x3 = load(data);
    __m128i x4 = load(data);
    blocks -= 4;
    const __m128i by64 = _mm_set_epi64x(std::int64_t(kFold64High), std::int64_t(kFold64Low));
    for (; blocks >= 4; blocks -= 4) {
        x1 = fold(x1, by64, load(data));
        x2 = fold(x2, by64, load(data));
        x3 = fold(x3, by64, load(data));
        x4 = fold(x4, by64, load(data));
    }
    const __m128i by16 = _mm_set_epi64x(std::int64_t(kFold16High), std::int64_t(kFold16Low));
    x1 = fold(x1, by16, x2);
    x1 = fold(x1, by16, x3);
    x1 = fold(x1, by16, x4);
    for (; blocks > 0; --blocks)
        x1 = fold(x1, by16, load(data));

    // 128 bits to 64, then to 32 with 32 zero bits appended, then the Barrett reduction.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, by16, 0x10), _mm_srli_si128(x1, 8));
    const __m128i by8 = _mm_set_epi64x(0, std::int64_t(kFold8));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), by8, 0x00),
                       _mm_srli_si128(x1, 4));
    const __m128i barrett =
        _mm_set_epi64x(std::int64_t(kQuotientReflected), std::int64_t(kPolynomialReflected));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    return std::uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

bool canFold() {
    static const bool supported =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return supported;
}
#endif

} // namespace

std::uint32_t edc(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
#ifdef CDIMAGE_HAVE_CLMUL
    if (size >= 64 && canFold()) {
        const std::size_t blocks = size / 16;
        crc = edcByFolding(data, blocks, crc);
        data += blocks * 16;
        size -= blocks * 16;
    }
#endif
    return edcByTables(data, size, crc);
}

std::uint32_t edcWithoutFolding(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    return edcByTables(data, size, crc);
}

} // namespace cdimage
