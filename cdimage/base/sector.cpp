// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/sector.h"

#include "cdimage/base/bytes.h"
#include "cdimage/base/ecc.h"
#include "cdimage/base/edc.h"

#include <algorithm>
#include <cstring>

namespace cdimage {

namespace {

void writeHeader(std::uint8_t* sector, std::uint32_t lba, std::uint8_t fileNumber,
                 std::uint8_t submode) {
    std::memcpy(sector, kSyncPattern, sizeof kSyncPattern);
    const Msf address = msfOf(lba);
    sector[12] = toBcd(address.minute);
    sector[13] = toBcd(address.second);
    sector[14] = toBcd(address.frame);
    sector[15] = 2; // mode 2
    const std::uint8_t subheader[4] = {fileNumber, 0, submode, 0};
    std::memcpy(sector + 16, subheader, 4);
    std::memcpy(sector + 20, subheader, 4);
}

} // namespace

Msf msfOf(std::uint32_t lba) {
    const std::uint32_t frames = lba + kPregapFrames;
    return {std::uint8_t(frames / (60 * 75)), std::uint8_t(frames / 75 % 60),
            std::uint8_t(frames % 75)};
}

std::uint8_t toBcd(std::uint8_t value) {
    return std::uint8_t((value / 10) << 4 | (value % 10));
}

std::uint8_t fromBcd(std::uint8_t bcd) {
    return std::uint8_t((bcd >> 4) * 10 + (bcd & 0x0F));
}

std::uint32_t lbaOfHeader(const std::uint8_t* header) {
    const std::uint32_t frames =
        (fromBcd(header[0]) * 60u + fromBcd(header[1])) * 75u + fromBcd(header[2]);
    return frames - kPregapFrames;
}

void writeForm1(std::uint8_t* sector, std::uint32_t lba, std::uint8_t submode,
                const std::uint8_t* data, std::size_t size) {
    writeHeader(sector, lba, 0, std::uint8_t(submode & ~Form2));
    size = std::min(size, kForm1DataSize);
    if (size > 0)
        std::memcpy(sector + kDataOffset, data, size);
    std::memset(sector + kDataOffset + size, 0, kForm1DataSize - size);
    writeLittleEndian32(sector + 2072, edc(sector + 16, 2056));
    computeEcc(sector);
}

void writeForm2(std::uint8_t* sector, std::uint32_t lba, std::uint8_t submode,
                const std::uint8_t* data, std::size_t size, std::uint8_t fileNumber) {
    writeHeader(sector, lba, fileNumber, std::uint8_t(submode | Form2));
    size = std::min(size, kForm2DataSize);
    if (size > 0)
        std::memcpy(sector + kDataOffset, data, size);
    std::memset(sector + kDataOffset + size, 0, kForm2DataSize - size);
    writeLittleEndian32(sector + 2348, edc(sector + 16, 2332));
}

std::string checkForm2(const std::uint8_t* sector) {
    if (std::memcmp(sector, kSyncPattern, sizeof kSyncPattern) != 0)
        return "broken sync pattern";
    if (sector[15] != 2)
        return "mode " + std::to_string(sector[15]) + ", not mode 2";
    return checkSubheader(sector + 16, true);
}

std::string checkSubheader(const std::uint8_t* subheader, bool form2) {
    if (std::memcmp(subheader, subheader + 4, 4) != 0)
        return "the two copies of the subheader differ";
    if (bool(subheader[2] & Form2) != form2)
        return form2 ? "a Form 1 sector, not Form 2" : "a Form 2 sector, not Form 1";
    return {};
}

bool form2EdcMatches(const std::uint8_t* sector) {
    return edcMatchesFromSubheader(sector + 16);
}

bool edcMatchesFromSubheader(const std::uint8_t* subheader) {
    const std::uint32_t stored = readLittleEndian32(subheader + 8 + kForm2DataSize);
    return stored == 0 || stored == edc(subheader, 8 + kForm2DataSize);
}

bool form1EdcMatchesFromSubheader(const std::uint8_t* subheader) {
    return readLittleEndian32(subheader + 8 + kForm1DataSize) == edc(subheader, 8 + kForm1DataSize);
}

bool vouchesForItself(const std::uint8_t* subheader) {
    const bool form2 = subheader[2] & Form2;
    const std::size_t covered = 8 + (form2 ? kForm2DataSize : kForm1DataSize);
    const std::uint32_t stored = readLittleEndian32(subheader + covered);
    return checkSubheader(subheader, form2).empty() && stored != 0 &&
           stored == edc(subheader, covered);
}

} // namespace cdimage
