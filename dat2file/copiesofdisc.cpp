// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/copiesofdisc.h"

#include "cdimage/base/error.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/repairformat.h"
#include "cdimage/read/openimage.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace dat2file {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kForm1Data = 2048;

} // namespace

// One copy: its sectors on the disc, from a RIFF copy's raw sectors or a plain copy's bytes.
struct CopiesOfDisc::Copy {
    std::uint32_t first = 0, count = 0;
    std::unique_ptr<cdimage::SectorSource> riff; // a RIFF copy, at its place
    fs::path plain;                              // else a plain copy
    std::size_t perSector = 0;                   // its bytes to a sector: 2324 or 2048
    std::ifstream in;
};

void CopiesOfDisc::add(std::uint32_t first, std::uint32_t count,
                       std::unique_ptr<cdimage::SectorSource> riff, const fs::path& plain,
                       std::size_t perSector) {
    auto held = std::make_unique<Copy>();
    held->first = first;
    held->count = count;
    held->riff = std::move(riff);
    held->plain = plain;
    held->perSector = perSector;
    m_copies.push_back(std::move(held));
    m_sectors = std::uint32_t(std::max<std::uint64_t>(
        m_sectors, std::min<std::uint64_t>(std::uint64_t(first) + count, cdimage::kMaxSectors)));
}

void CopiesOfDisc::look(const std::vector<fs::path>& folders, const fs::path& copy,
                        const std::vector<std::string>& names, std::uint32_t lba,
                        std::uint32_t count, std::uint64_t bytes, std::size_t perSector) {
    for (const fs::path& folder : folders)
        for (const std::string& name : names) {
            const fs::path path = folder / cdimage::pathOfUtf8(name);
            std::error_code error;
            if (!fs::is_regular_file(cdimage::systemPath(path), error) ||
                fs::equivalent(cdimage::systemPath(path), cdimage::systemPath(copy), error))
                continue;
            const std::uint64_t size = fs::file_size(cdimage::systemPath(path), error);
            if (!error && size == bytes) {
                add(lba, count, nullptr, path, perSector);
                return;
            }
            try {
                cdimage::OpenedSource opened = cdimage::openSource(path, nullptr);
                if (opened.kind == cdimage::SourceKind::RiffCopy && opened.firstLba == lba &&
                    opened.sectorCount == count) {
                    add(lba, count, std::move(opened.sectors), {}, 0);
                    return;
                }
            } catch (const cdimage::Error&) {
            }
        }
}

CopiesOfDisc::CopiesOfDisc(const cdimage::FileList& list, const std::vector<fs::path>& folders,
                           const fs::path& copy, std::uint32_t copyLba)
    : m_raw(cdimage::kRawSectorSize) {
    const auto look = [&](const std::vector<std::string>& names, std::uint32_t lba,
                          std::uint32_t count, std::uint64_t bytes, std::size_t perSector) {
        this->look(folders, copy, names, lba, count, bytes, perSector);
    };
    const auto sectorsOf = [](std::uint64_t bytes, std::size_t perSector) {
        return std::uint32_t(
            std::min<std::uint64_t>((bytes + perSector - 1) / perSector, cdimage::kMaxSectors));
    };
    // The copy being read, then every other file of the list.
    cdimage::OpenedSource own = cdimage::openSource(copy, nullptr);
    const std::uint32_t ownCount = own.sectorCount;
    add(copyLba, ownCount, std::move(own.sectors), {}, 0);
    for (const cdimage::ListedFile& file : list.files)
        if (file.lba && *file.lba != copyLba)
            look({file.identifier, file.originalName}, *file.lba,
                 sectorsOf(file.length, cdimage::kForm2DataSize), file.length,
                 cdimage::kForm2DataSize);
    if (const auto& repair = list.repair) {
        const cdimage::RepairLayout layout{repair->parity, repair->protectedSectors,
                                           repair->bandLength};
        look({std::string(cdimage::kParityIdentifier)}, repair->parityLba, layout.paritySectors(),
             std::uint64_t(layout.paritySectors()) * cdimage::kForm2DataSize,
             cdimage::kForm2DataSize);
        for (const std::uint32_t at : repair->headerLbas)
            look({std::string(cdimage::kRepairHeaderIdentifier)}, at, layout.headerSectors(),
                 std::uint64_t(layout.headerSectors()) * kForm1Data, kForm1Data);
        // The list itself ends where the protected sectors do.
        for (const fs::path& folder : folders) {
            const fs::path path = folder / std::string(cdimage::kFileListIdentifier);
            std::error_code error;
            const std::uint64_t size = fs::file_size(cdimage::systemPath(path), error);
            const std::uint32_t count = error ? 0 : sectorsOf(size, kForm1Data);
            if (count > 0 && count <= repair->protectedSectors) {
                add(repair->protectedSectors - count, count, nullptr, path, kForm1Data);
                break;
            }
        }
        add(0, 16, nullptr, {}, kForm1Data); // the system area: zeros
    }
    std::sort(m_copies.begin(), m_copies.end(),
              [](const auto& a, const auto& b) { return a->first < b->first; });
}

CopiesOfDisc::~CopiesOfDisc() = default;

std::uint64_t CopiesOfDisc::held() const {
    std::uint64_t sectors = 0;
    for (const auto& copy : m_copies)
        sectors += copy->count;
    return sectors;
}

std::string CopiesOfDisc::whyUnreadable(std::uint32_t lba) const {
    return "sector " + std::to_string(lba) + " is in none of the copies";
}

cdimage::SectorAnswer CopiesOfDisc::read(std::uint32_t lba) {
    const auto after =
        std::upper_bound(m_copies.begin(), m_copies.end(), lba,
                         [](std::uint32_t at, const auto& copy) { return at < copy->first; });
    if (after == m_copies.begin() || lba - (*std::prev(after))->first >= (*std::prev(after))->count)
        return {nullptr, "is in none of the copies", false};
    Copy& copy = **std::prev(after);
    if (copy.riff)
        return copy.riff->read(lba);
    // A plain copy's bytes (or the system area's zeros) as a sector of its form.
    std::vector<std::uint8_t> data(copy.perSector, 0);
    if (!copy.plain.empty()) {
        if (!copy.in.is_open())
            copy.in.open(cdimage::systemPath(copy.plain), std::ios::binary);
        copy.in.clear();
        copy.in.seekg(std::streamoff(std::uint64_t(lba - copy.first) * copy.perSector));
        copy.in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
        if (copy.in.bad())
            return {nullptr, "cannot be read from " + cdimage::quoted(copy.plain), false};
    }
    if (copy.perSector == kForm1Data)
        cdimage::writeForm1(m_raw.data(), lba, cdimage::Data, data.data(), data.size());
    else
        cdimage::writeForm2(m_raw.data(), lba, cdimage::Data, data.data(), data.size());
    return {m_raw.data() + 16, {}, false};
}

} // namespace dat2file
