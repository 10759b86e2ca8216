// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The ISO 9660 file system of a disc with its CD-ROM XA fields, its Joliet tree and Rock Ridge's
// relocated folders, read from a sector source. Everything read is untrusted: record lengths,
// extents and sizes are checked against the sectors that exist and against fixed limits, and
// every fault is an Error naming the sector.

#include "cdimage/base/error.h"
#include "cdimage/read/sectorsource.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cdimage {

// Limits on what a disc may claim.
inline constexpr std::uint32_t kMaxDirectoryBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxPathDepth = 32;  // parts of a path asked for by name
inline constexpr std::size_t kMaxTreeDepth = 255; // folders a walk enters, one in another
inline constexpr std::size_t kMaxVolumeDescriptors = 64;
inline constexpr std::uint32_t kMaxFileListBytes = 64 * 1024 * 1024;
inline constexpr std::size_t kMaxTreeEntries = 1'000'000; // files and folders walked at once

struct DiscFile {
    std::string name; // as recorded: "NAME.EXT;1", or a Joliet name in UTF-8
    std::uint32_t lba = 0;
    std::uint32_t size = 0; // in bytes as recorded; a Form 2 file's sectors times 2048
    std::uint32_t sectors = 0;
    bool directory = false;
    bool form2 = false;
    std::optional<std::int64_t> recorded; // its record's date, seconds after 1970 UTC
    bool relocated = false;               // a folder Rock Ridge moved here from deeper down (RE)
    // A file of several records (ISO 9660 level 3): its extents are joined where each follows
    // the last one; `extentsApart` where they do not, and then it is not given back.
    bool moreExtents = false;
    bool extentsApart = false;
    bool compressed = false; // its bytes compressed in blocks (Rock Ridge ZF, zisofs)
};

// A file met while walking a folder tree: its path below the folder walked ("MPEGAV/AVSEQ01.DAT;1"
// or, in the Joliet tree, "clips/Été.mpg"), the names as recorded.
struct TreeFile {
    std::string path;
    DiscFile file;
    std::vector<std::string> parts; // the names that make `path`, each as recorded
};

// What a walk of a folder tree found, and what it could not enter.
struct TreeWalk {
    struct LeftOut {
        std::string path; // the folder not entered, below the one walked
        std::string why;
    };
    std::vector<TreeFile> files, folders;
    std::vector<LeftOut> leftOut;
};

class FileSystem {
public:
    explicit FileSystem(SectorSource& source); // throws Error

    const std::string& volumeIdentifier() const { return m_volumeIdentifier; }
    // The sectors the volume says it has.
    std::uint32_t volumeSectors() const { return m_volumeSectors; }
    bool hasJoliet() const { return m_jolietRoot.has_value(); }

    // How names are compared: exactly as recorded (an ISO 9660 name's version and final dot
    // optional), in any case, or each part exactly where one is so named, else in any case.
    enum class Match { Exact, AnyCase, ExactFirst };

    // The entry at `path` ("A/B.DAT", a leading '/' and the version optional) by its ISO 9660
    // names or by its Joliet names; nothing when no entry has that name.
    std::optional<DiscFile> findPrimary(std::string_view path, Match match = Match::AnyCase);
    std::optional<DiscFile> findJoliet(std::string_view path, Match match = Match::ExactFirst);
    // A file of the root folder by its ISO 9660 name, through its ISO 9660 record or, where
    // the ISO 9660 root folder cannot be read, its Joliet one (the image's own files have the
    // same name in both).
    std::optional<DiscFile> findInRoot(std::string_view name);

    // The entries of a folder, its own and its parent's records left out.
    std::vector<DiscFile> entries(const DiscFile& folder, bool joliet);

    // A Form 1 file's bytes, at most `limit`.
    std::string readForm1(const DiscFile& file, std::uint32_t limit);

    SectorSource& source() const { return m_source; }
    const DiscFile& primaryRoot() const { return m_primaryRoot; }
    const std::optional<DiscFile>& jolietRoot() const { return m_jolietRoot; }

    // Every file and folder below `folder`, depth first. A folder is entered once however
    // often records name it, at most kMaxTreeDepth deep; one that cannot be read or lies deeper
    // is left out, said why, and the walk goes on. Rock Ridge's relocated folders are met at
    // their places. The walk ends with an Error past kMaxTreeEntries entries, or when `folder`
    // itself cannot be read.
    TreeWalk walk(const DiscFile& folder, bool joliet);
    // The files of such a walk; the folders met are added to `folders`, when given.
    std::vector<TreeFile> filesBelow(const DiscFile& folder, bool joliet,
                                     std::vector<TreeFile>* folders = nullptr);

    // Throws a Error naming `path` when the file reaches past the end of the volume.
    // Joins the record of a file's next extent to it.
    static void joinExtent(DiscFile& file, const DiscFile& next);
    void checkExtent(const DiscFile& file, std::string_view path) const;

private:
    std::optional<DiscFile> find(std::string_view path, const DiscFile& root, bool joliet,
                                 Match match);
    const std::uint8_t* form1Data(std::uint32_t lba, std::string_view what);
    DiscFile rootOf(const std::uint8_t* descriptor, std::uint32_t lba, bool joliet);
    // The file a folder's record of `length` bytes names, or nothing for the folder itself and
    // its parent; `formUnknown` where no XA attributes say its form. Throws what `fault` makes.
    std::optional<DiscFile> fileOfRecord(const std::uint8_t* record, std::size_t length,
                                         bool joliet,
                                         const std::function<Error(const std::string&)>& fault,
                                         bool& formUnknown);
    // The entries of a folder met on a walk; below the root, nothing where they cannot be
    // read, the folder then named in `found` as left out.
    std::optional<std::vector<DiscFile>> entriesWalked(const DiscFile& folder,
                                                       const std::string& path, bool joliet,
                                                       bool root, TreeWalk& found);
    // Rock Ridge's fields of a record: a folder moved elsewhere (RE) or standing here for one
    // moved (CL).
    void readRockRidge(const std::uint8_t* field, std::size_t size, DiscFile& entry);

    SectorSource& m_source;
    std::string m_volumeIdentifier;
    DiscFile m_primaryRoot;
    std::optional<DiscFile> m_jolietRoot;
    std::uint32_t m_lastSector = 0; // no file reaches past it
    std::uint32_t m_volumeSectors = 0;
    std::optional<bool> m_primaryRootReads; // known once findInRoot has tried it
};

// A name as ISO 9660 compares it: upper case, without version and without a final dot.
std::string comparableIdentifier(std::string name);

} // namespace cdimage
