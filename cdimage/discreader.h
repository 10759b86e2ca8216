// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads what velmora_tolk wrote, from an image or a disc: Mode 2 sectors, the ISO 9660 file
// system with its CD-ROM XA fields and its Joliet tree, and the file list. Everything read is
// untrusted: record lengths, extents and sizes are checked against the sectors that exist and
// against fixed limits, and every fault is a DiscError naming the sector.

#include "cdimage/imagetrack.h"

#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cdimage {

struct DiscError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Limits on what a disc may claim.
inline constexpr std::uint32_t kMaxDirectoryBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxPathDepth = 32;
inline constexpr std::size_t kMaxVolumeDescriptors = 64;
inline constexpr std::uint32_t kMaxFileListBytes = 64 * 1024 * 1024;
inline constexpr std::size_t kMaxTreeEntries = 1'000'000; // files and folders walked at once

// Where sectors come from. A sector is given from its subheader on: subheader (8 bytes), data,
// EDC (2336 bytes in all).
class SectorSource {
public:
    virtual ~SectorSource() = default;
    // How many sectors exist, from LBA 0.
    virtual std::uint32_t sectorCount() const = 0;
    // The sector at `lba`, or nullptr when it cannot be read; valid until the next call.
    virtual const std::uint8_t* sector(std::uint32_t lba) = 0;
    // What `sector` could not read, for messages: "IN.BIN ends at sector 29".
    virtual std::string whyUnreadable(std::uint32_t lba) const = 0;
};

// The sectors of an image's data track, read from its file a run at a time. A read error or a
// file cut short costs the sectors it hides, as a scratch on a disc does.
class ImageFile : public SectorSource {
public:
    static constexpr std::uint32_t kRun = 256; // sectors read at once (600 kB)

    explicit ImageFile(const ImageTrack& track); // throws DiscError
    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;

private:
    ImageTrack m_track;
    std::ifstream m_in;
    std::uint64_t m_size = 0;
    std::uint32_t m_sectors = 0;
    std::vector<std::uint8_t> m_buffer;
    std::uint32_t m_first = 0, m_count = 0; // the sectors in the buffer
    std::uint32_t m_readable;               // lowered when a read comes back short
};

// Whether an image is a Nero image (.nrg), which only a reader of Nero's own layout opens; every
// other image is read by imageTracksAt.
bool isNeroImage(const std::filesystem::path& path);

// Whether `path` is an image rather than a single file: its name ends in .cue, .toc or .nrg, or
// its content begins with the sync pattern of raw sectors.
bool isImageFile(const std::filesystem::path& path);

// The sectors of an image's data tracks, each at its place on the disc. A sector of no data
// track (an audio track, a gap between tracks) cannot be read.
class DiscImage : public SectorSource {
public:
    explicit DiscImage(const std::vector<ImageTrack>& tracks); // throws DiscError
    std::uint32_t sectorCount() const override { return m_sectors; }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;

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
};

// The data tracks of the image at `path`: a cue sheet, a cdrdao table of contents (.toc) or a
// file of raw sectors (2352 or 2336 bytes each, known by their content).
std::vector<ImageTrack> imageTracksAt(const std::filesystem::path& path); // throws ImageError

struct DiscFile {
    std::string name; // as recorded: "NAME.EXT;1", or a Joliet name in UTF-8
    std::uint32_t lba = 0;
    std::uint32_t size = 0; // in bytes as recorded; a Form 2 file's sectors times 2048
    std::uint32_t sectors = 0;
    bool directory = false;
    bool form2 = false;
    std::optional<std::int64_t> recorded; // its record's date, seconds after 1970 UTC
};

// A file met while walking a folder tree: its path below the folder walked ("MPEGAV/AVSEQ01.DAT;1"
// or, in the Joliet tree, "clips/Été.mpg"), the names as recorded.
struct TreeFile {
    std::string path;
    DiscFile file;
};

class FileSystem {
public:
    explicit FileSystem(SectorSource& source); // throws DiscError

    const std::string& volumeIdentifier() const { return m_volumeIdentifier; }
    bool hasJoliet() const { return m_jolietRoot.has_value(); }

    // The entry at `path` ("A/B.DAT", a leading '/' and the version optional) by its ISO 9660
    // names (compared in upper case), or by its Joliet names (compared exactly, then in any
    // case); nothing when no entry has that name.
    std::optional<DiscFile> findPrimary(std::string_view path);
    std::optional<DiscFile> findJoliet(std::string_view path);

    // The entries of a folder, its own and its parent's records left out.
    std::vector<DiscFile> entries(const DiscFile& folder, bool joliet);

    // A Form 1 file's bytes, at most `limit`.
    std::string readForm1(const DiscFile& file, std::uint32_t limit);

    SectorSource& source() const { return m_source; }
    const DiscFile& primaryRoot() const { return m_primaryRoot; }
    const std::optional<DiscFile>& jolietRoot() const { return m_jolietRoot; }

    // Every file below `folder`, depth first. A folder is entered once however often records
    // name it, at most kMaxPathDepth deep, and the walk ends with a DiscError past
    // kMaxTreeEntries entries.
    // The folders met are added to `folders`, when given.
    std::vector<TreeFile> filesBelow(const DiscFile& folder, bool joliet,
                                     std::vector<TreeFile>* folders = nullptr);

    // Throws a DiscError naming `path` when the file reaches past the end of the volume.
    void checkExtent(const DiscFile& file, std::string_view path) const;

private:
    std::optional<DiscFile> find(std::string_view path, const DiscFile& root, bool joliet);
    const std::uint8_t* form1Data(std::uint32_t lba, std::string_view what);
    DiscFile rootOf(const std::uint8_t* descriptor, std::uint32_t lba, bool joliet);

    SectorSource& m_source;
    std::string m_volumeIdentifier;
    DiscFile m_primaryRoot;
    std::optional<DiscFile> m_jolietRoot;
    std::uint32_t m_lastSector = 0; // no file reaches past it
};

// A name as ISO 9660 compares it: upper case, without version and without a final dot.
std::string comparableIdentifier(std::string name);

} // namespace cdimage
