// SPDX-License-Identifier: GPL-3.0-or-later
// SHA-256 as FIPS 180-4 defines it, for builds without OpenSSL.
#include "cdimage/base/sha256.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace cdimage {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::array<std::uint32_t, 8> kStart = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t rotate(std::uint32_t value, int bits) {
    return (value >> bits) | (value << (32 - bits));
}

} // namespace

struct Sha256::Context {
    std::array<std::uint32_t, 8> state = kStart;
    std::array<std::uint8_t, 64> block{};
    std::size_t filled = 0;   // bytes waiting in `block`
    std::uint64_t length = 0; // bytes added in all

    void compress(const std::uint8_t* data) {
        std::array<std::uint32_t, 64> w{};
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(data[4 * i]) << 24 | std::uint32_t(data[4 * i + 1]) << 16 |
                   std::uint32_t(data[4 * i + 2]) << 8 | std::uint32_t(data[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 =
                rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, h] = state;
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) +
                                     ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            const std::uint32_t t2 =
                (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i)
            state[i] += worked[i];
    }
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>()) {}

Sha256::~Sha256() = default;

void Sha256::restart() {
    *m_context = Context();
}

void Sha256::add(const std::uint8_t* data, std::size_t size) {
    Context& context = *m_context;
    context.length += size;
    if (context.filled > 0) {
        const std::size_t taken = std::min(size, context.block.size() - context.filled);
        std::memcpy(context.block.data() + context.filled, data, taken);
        context.filled += taken;
        data += taken;
        size -= taken;
        if (context.filled < context.block.size())
            return;
        context.compress(context.block.data());
        context.filled = 0;
    }
    for (; size >= 64; data += 64, size -= 64)
        context.compress(data);
    if (size > 0)
        std::memcpy(context.block.data(), data, size);
    context.filled = size;
}

std::string Sha256::hex() {
    Context& context = *m_context;
    const std::uint64_t bits = context.length * 8;
    std::uint8_t end[72] = {0x80};
    const std::size_t padding = (context.filled < 56 ? 56 : 120) - context.filled;
    for (int i = 0; i < 8; ++i)
        end[padding + std::size_t(i)] = std::uint8_t(bits >> (56 - 8 * i));
    add(end, padding + 8);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint32_t word : context.state)
        for (int shift = 28; shift >= 0; shift -= 4)
            text += kDigits[(word >> shift) & 0x0F];
    return text;
}

} // namespace cdimage
