// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sectors of an image: each data track read from its file a run at a time, at its place on
// the disc. A read error costs the sectors it covers and no more, a file cut short the sectors
// past its end, as a scratch on a disc does; a sector of no data track (an audio track, a gap)
// cannot be read.

#include "cdimage/base/error.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/imagetrack.h"
#include "cdimage/format/iso9660.h"
#include "cdimage/read/ecm.h"
#include "cdimage/read/recordfile.h"
#include "cdimage/read/sectorsource.h"

#include <array>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace cdimage {

// The sectors of one data track, from its file.
class ImageFile : public SectorSource {
public:
    static constexpr std::uint32_t kRun = 256;    // sectors read at once (600 kB)
    static constexpr std::uint32_t kJumpRun = 16; // read where reading jumps elsewhere

    explicit ImageFile(const ImageTrack& track); // throws Error
    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;
    // A raw sector whose sync pattern is broken (a sector zeroed, or not a sector at all) is
    // lost.
    SectorAnswer read(std::uint32_t lba) override;
    // Whether its sectors are raw, each with its sync pattern and header.
    bool rawWithSync() const;
    // Whether it keeps 2048 bytes a sector, as a plain ISO 9660 image does.
    bool blocksOnly() const { return m_track.stride == kLogicalBlockSize; }

private:
    ImageTrack m_track;
    std::ifstream m_in;
    std::unique_ptr<EcmStream> m_ecm; // where the file is an ECM file
    std::unique_ptr<std::istream> m_decoded;
    std::uint64_t m_size = 0;
    std::uint32_t m_sectors = 0;
    std::optional<RecordFile> m_records;
    std::array<std::uint8_t, kRawSectorSize> m_whole{}; // a 2048-byte block as a Form 1 sector
};

// The sectors of an image's data tracks, each at its place on the disc.
class DiscImage : public SectorSource {
public:
    explicit DiscImage(const std::vector<ImageTrack>& tracks); // throws Error
    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;
    SectorAnswer read(std::uint32_t lba) override;
    std::uint32_t lastSessionStart() const override { return m_lastSessionStart; }
    bool holdsForm2() const override { return !m_blocksOnly; }

private:
    struct Part {
        std::uint32_t firstLba;
        std::unique_ptr<ImageFile> file;
        std::optional<std::uint64_t> described; // sectors its description gives it
    };
    // The part a sector lies in, its file read or not; `described` counts a part's sectors as
    // its description gives them, where its file ends too soon.
    const Part* partOf(std::uint32_t lba, bool described = false) const;

    std::vector<Part> m_parts; // by their first sector
    std::uint32_t m_sectors = 0;
    std::uint32_t m_lastSessionStart = 0;
    bool m_blocksOnly = false;
};

} // namespace cdimage
