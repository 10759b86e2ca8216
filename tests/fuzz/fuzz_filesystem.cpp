// SPDX-License-Identifier: GPL-3.0-or-later
// The ISO 9660 / CD-ROM XA / Joliet reader on any disc. The input holds the data of the disc's
// sectors from sector 16 on (the volume descriptors first), 2048 bytes each, with a Form 1
// subheader put in front of each; the sectors before are empty. Everything a user can ask of
// the disc is asked: the roots' entries, both trees whole, a file by each kind of name, the file
// list.

#include "cdimage/format/filelist.h"
#include "cdimage/read/discreader.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kStored = 2336; // subheader, data, EDC
constexpr std::uint32_t kFirst = 16;

class Sectors : public cdimage::SectorSource {
public:
    Sectors(const std::uint8_t* data, std::size_t size)
        : m_count(kFirst + std::uint32_t((size + 2047) / 2048))
        , m_bytes(std::size_t(m_count) * kStored, 0) {
        for (std::size_t at = 0; at < size; at += 2048)
            std::memcpy(&m_bytes[(kFirst + at / 2048) * kStored + 8], data + at,
                        std::min<std::size_t>(2048, size - at));
    }
    std::uint32_t sectorCount() const override { return m_count; }
    const std::uint8_t* sector(std::uint32_t lba) override {
        return lba < m_count ? &m_bytes[std::size_t(lba) * kStored] : nullptr;
    }
    std::string whyUnreadable(std::uint32_t) const override { return "past the end"; }

private:
    std::uint32_t m_count;
    std::vector<std::uint8_t> m_bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1024 * 1024)
        return 0;
    Sectors sectors(data, size);
    try {
        cdimage::FileSystem files(sectors);
        for (const cdimage::DiscFile& entry : files.entries(files.primaryRoot(), false))
            if (entry.directory)
                (void)files.findPrimary(entry.name + "/X");
        (void)files.filesBelow(files.primaryRoot(), false); // a whole extraction's walk
        if (files.jolietRoot())
            (void)files.filesBelow(*files.jolietRoot(), true);
        (void)files.findJoliet("with blank é.dat");
        (void)files.findPrimary("/A/B/C/D.DAT;1");
        if (const auto list = files.findPrimary(cdimage::kFileListIdentifier);
            list && list->size <= cdimage::kMaxFileListBytes)
            (void)cdimage::parseFileList(files.readForm1(*list, list->size));
    } catch (const cdimage::Error&) {
    }
    return 0;
}
