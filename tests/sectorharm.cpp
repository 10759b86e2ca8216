// SPDX-License-Identifier: GPL-3.0-or-later
#include "sectorharm.h"

#include "cdimage/base/sector.h"

#include <cstring>
#include <vector>

namespace velmora::test {

namespace {
constexpr qint64 kRaw = 2352;
constexpr qint64 kData = 2324;
} // namespace

void harm(QByteArray& bin, const Sectors& sectors, Harm how, std::mt19937& random) {
    for (const std::uint32_t lba : sectors) {
        if (lba >= bin.size() / kRaw)
            continue;
        auto* raw = reinterpret_cast<std::uint8_t*>(bin.data()) + lba * kRaw;
        if (how == Harm::Zeroed) {
            std::memset(raw, 0, kRaw);
            continue;
        }
        std::vector<std::uint8_t> data(raw + 24, raw + 24 + kData);
        if (how == Harm::FlippedBit)
            data[random() % 2048] ^= std::uint8_t(1u << (random() % 8));
        else
            for (std::uint8_t& byte : data)
                byte = std::uint8_t(random());
        if (how == Harm::GarbageBadEdc) {
            std::memcpy(raw + 24, data.data(), kData);
        } else if (raw[18] & 0x20) {
            cdimage::writeForm2(raw, lba, raw[18], data.data(), kData, raw[16]);
        } else {
            cdimage::writeForm1(raw, lba, raw[18], data.data(), 2048);
        }
    }
}

std::uint32_t le32(const QByteArray& bytes, qsizetype at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | std::uint8_t(bytes[at + i]);
    return value;
}

} // namespace velmora::test
