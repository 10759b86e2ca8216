// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The repair data's code and checks as the format document gives them, in plain C++ of the
// tests' own: GF(2^8) with the polynomial 0x11D from its logarithms, the Cauchy parity (parity
// member r of data member c weighted by the inverse of (k + r) XOR c), CRC-32C bit by bit, and
// an oracle that counts each code word's losses from the bands alone.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

namespace velmora::test {

using Bytes = std::vector<std::uint8_t>;

struct Field {
    std::array<std::uint8_t, 512> exp{};
    std::array<int, 256> log{};
    Field() {
        int x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[std::size_t(i)] = std::uint8_t(x);
            log[std::size_t(x)] = i;
            x <<= 1;
            if (x & 0x100)
                x ^= 0x11D;
        }
        for (int i = 255; i < 512; ++i)
            exp[std::size_t(i)] = exp[std::size_t(i - 255)];
    }
    std::uint8_t mul(std::uint8_t a, std::uint8_t b) const {
        return a == 0 || b == 0 ? 0 : exp[std::size_t(log[a] + log[b])];
    }
    std::uint8_t inv(std::uint8_t a) const { return exp[std::size_t(255 - log[a])]; }
};

inline const Field& field() {
    static const Field kField;
    return kField;
}

// The parity of a word by the formula alone: k = 255 - m data members in, m parity members out.
inline std::vector<Bytes> referenceParity(const std::vector<Bytes>& data, int m) {
    const int k = 255 - m;
    std::vector<Bytes> parity(static_cast<std::size_t>(m), Bytes(data.front().size(), 0));
    std::vector<bool> zeros(static_cast<std::size_t>(k));
    for (int c = 0; c < k; ++c) { // a member of zeros adds nothing
        const Bytes& member = data[std::size_t(c)];
        zeros[std::size_t(c)] =
            std::all_of(member.begin(), member.end(), [](std::uint8_t b) { return b == 0; });
    }
    for (int r = 0; r < m; ++r)
        for (int c = 0; c < k; ++c) {
            const std::uint8_t weight = field().inv(std::uint8_t((k + r) ^ c));
            if (weight == 0 || zeros[std::size_t(c)])
                continue;
            // One row of the multiplication table for this weight.
            std::array<std::uint8_t, 256> times{};
            for (int b = 0; b < 256; ++b)
                times[std::size_t(b)] = field().mul(weight, std::uint8_t(b));
            const Bytes& member = data[std::size_t(c)];
            Bytes& out = parity[std::size_t(r)];
            for (std::size_t b = 0; b < member.size(); ++b)
                out[b] ^= times[member[b]];
        }
    return parity;
}

// CRC-32C: reflected 0x82F63B78, all ones in and out.
inline std::uint32_t bitwiseCrc32c(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    }
    return ~crc;
}

// Where an image's repair data lies, as its header says.
struct RepairPlace {
    int m = 0;
    std::uint32_t bandLength = 0, protectedSectors = 0, parityLba = 0;
};

// The losses of each code word: a lost protected sector s is member s div L of word s mod L,
// a lost parity sector i of the parity is of word i mod L; other sectors belong to none.
inline std::vector<int> lossesPerWord(const RepairPlace& place,
                                      const std::set<std::uint32_t>& lost) {
    std::vector<int> losses(place.bandLength, 0);
    const std::uint32_t parityEnd = place.parityLba + std::uint32_t(place.m) * place.bandLength;
    for (const std::uint32_t lba : lost) {
        if (lba < place.protectedSectors)
            ++losses[lba % place.bandLength];
        else if (lba >= place.parityLba && lba < parityEnd)
            ++losses[(lba - place.parityLba) % place.bandLength];
    }
    return losses;
}

} // namespace velmora::test
