// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sectors of a disc as a folder of copies of its files holds them: RIFF CDXA copies of its
// Form 2 files (as Windows copies them), plain copies of its Form 1 files (the file list, the
// repair data's header) and of Form 2 files given back whole, each at its place on the disc as
// the file list and its repair record say. What no copy holds is lost; the system area is
// zeros. Enough for the repair data to rebuild a copy's lost sectors, where the copies hold
// what a code word needs.

#include "cdimage/format/filelist.h"
#include "cdimage/read/sectorsource.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace dat2file {

class CopiesOfDisc : public cdimage::SectorSource {
public:
    // The copies named by `list` (found in `folders`, the list's own first), `copy` among them
    // as the RIFF copy at `copyLba`.
    CopiesOfDisc(const cdimage::FileList& list, const std::vector<std::filesystem::path>& folders,
                 const std::filesystem::path& copy, std::uint32_t copyLba);
    ~CopiesOfDisc() override;

    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override { return read(lba).bytes; }
    std::string whyUnreadable(std::uint32_t lba) const override;
    cdimage::SectorAnswer read(std::uint32_t lba) override;

    // How many sectors of the disc the copies hold.
    std::uint64_t held() const;

private:
    struct Copy;
    // Keeps a copy of `count` sectors from `first` on: a RIFF copy, or a plain file of
    // `perSector` bytes a sector.
    void add(std::uint32_t first, std::uint32_t count, std::unique_ptr<cdimage::SectorSource> riff,
             const std::filesystem::path& plain, std::size_t perSector);
    // Keeps the first file of `names` in `folders` (not `copy` itself) that is a RIFF copy at
    // `lba` of `count` sectors, or a plain copy of `bytes`.
    void look(const std::vector<std::filesystem::path>& folders, const std::filesystem::path& copy,
              const std::vector<std::string>& names, std::uint32_t lba, std::uint32_t count,
              std::uint64_t bytes, std::size_t perSector);

    std::vector<std::unique_ptr<Copy>> m_copies; // by their first sector
    std::uint32_t m_sectors = 0;
    std::vector<std::uint8_t> m_raw;
};

} // namespace dat2file
