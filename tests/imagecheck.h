// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A reader of the tests' own for the images velmora_tolk writes, from the standards and the
// repair format's document alone (ECMA-130 sectors and their EDC, ECMA-119 volume descriptors
// and folders with the CD-ROM XA records, Joliet, docs/repair-format.md), in plain C++ with no
// line of the tools' code: every sector's sync, address, mode, subheader and EDC; the volume
// descriptors and both root folders; the file list against the folders and each file's
// SHA-256; the repair data's header, both copies alike, every check table entry, and the parity
// recomputed by the plain formula.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

struct CheckedFile {
    std::uint32_t lba = 0;
    std::uint32_t recordedBytes = 0; // as the folder records it: 2,048 a sector
    bool form2 = false;
};

struct ImageFacts {
    std::vector<std::string> faults; // none when the image is as it should be
    std::uint32_t sectors = 0;
    std::map<std::string, CheckedFile> isoFiles; // by ISO 9660 name, without ";1"
    std::map<std::u16string, CheckedFile> jolietFiles;
    std::string fileList; // its text
    std::size_t listedFiles = 0;
    // The repair data, where there is some.
    int m = 0;
    std::uint32_t protectedSectors = 0, bandLength = 0, parityLba = 0;
    std::uint32_t wordsRecomputed = 0; // of the parity, by the formula
};

struct CheckOptions {
    // Parity words recomputed by the formula: all of them when there are at most this many,
    // else this many spread over the bands, and always those that hold a sector of the
    // folders or of the file list.
    std::uint32_t parityWords = 64;
    // Every word that holds a sector of the folders or of the list; else only those of the
    // list's first two and last sectors and of each folder's first.
    bool everyListWord = true;
    bool fileSums = true; // each listed file's SHA-256 against its sectors
};

ImageFacts checkImage(const std::uint8_t* bin, std::size_t size, const CheckOptions& options = {});

// CRC-32C by table, the tests' own.
std::uint32_t crc32cOf(const std::uint8_t* bytes, std::size_t size);

// The symbol of a sector as the repair format defines it: a Form 2 sector's 2,324 user bytes, a
// Form 1 sector's 2,048 then 276 zeros.
std::vector<std::uint8_t> symbolOfSector(const std::uint8_t* raw);

} // namespace velmora::test
