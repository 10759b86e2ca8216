// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a disc holds and where each file goes: the file list and what it vouches for, the file a
// name given by the user means, and the places of a folder's files below a destination.

#include "cdimage/base/report.h"
#include "cdimage/format/filelist.h"
#include "cdimage/read/filesystem.h"
#include "dat2file/outputwriter.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace dat2file {

// "line 3", "lines 1, 2, 3, 4, 5 and 2 more".
std::string linesText(const std::vector<std::size_t>& lines);

// The file list found on a disc.
struct ListOnDisc {
    std::optional<cdimage::FileList> list;
    std::string problem; // why a list that is there cannot be read
    // The list's entries by their names on the CD, as comparableIdentifier gives them.
    std::unordered_map<std::string, std::size_t> byIdentifier;
    // And by their first sector, those that have one of their own (a length above 0).
    std::unordered_map<std::uint32_t, std::size_t> byLba;
    // Whether the warning that a later session renamed the volume was given.
    mutable bool renameTold = false;
};
ListOnDisc listOnDisc(cdimage::FileSystem& files);
// Whether the root file `identifier` (as comparableIdentifier gives it) is the image's own, not
// one of the files stored: its file list, and the repair data the list names.
bool isImagesOwn(const ListOnDisc& list, const std::string& identifier);

// What the list says of a file on the same disc: an entry only where its name, place and size
// agree with the file's record. A list that names another volume (a later session renamed it)
// is used all the same, with a warning: its entries agree with the records or are not used,
// and each file's SHA-256 decides.
Voucher voucherOnDisc(const ListOnDisc& found, const std::string& volume,
                      const cdimage::DiscFile& file, cdimage::Report& report);

// The list of the disc a RIFF copy came from: the nearest VELMORA.LST in the folders from the
// copy's up to its file system's mount point whose entry has the copy's name, size and place.
// Only a folder that no one but its owner (the user, or root) may write to is looked in.
struct ListNear {
    Voucher voucher;
    std::filesystem::path list;             // the list that vouches; empty when none
    std::optional<cdimage::FileList> whole; // all of that list
};
ListNear listNear(const std::filesystem::path& copy, std::uint64_t sectors, std::uint32_t lba);

// The file or folder `path` names, by its original name (the file list's), its Joliet name
// or its ISO 9660 name: names given exactly first, then in any case. Throws an Error naming
// both where the name fits two files.
struct Found {
    cdimage::DiscFile file;                  // its ISO 9660 record
    std::optional<cdimage::DiscFile> joliet; // a folder's Joliet record
};
std::optional<Found> findFile(cdimage::FileSystem& files, const ListOnDisc& list,
                              const std::string& path);

// A folder's files and where each goes below the destination.
struct Planned {
    cdimage::DiscFile file;
    std::string isoPath; // on the disc, below the folder extracted
    std::string place;   // below the destination folder, parts joined by '/'
    Voucher voucher;
};
struct Plan {
    std::vector<Planned> files;
    std::vector<std::string> folders; // every folder's place, the empty ones too
    struct LeftOut {
        std::string name; // on the disc
        std::string why;
    };
    std::vector<LeftOut> leftOut;
    std::map<std::string, std::int64_t> folderDates; // by place, as their records give them
    std::vector<std::string> renamed;                // what a file was written as, and why
};

// Each file goes under its original name where the file list gives one, else its Joliet name,
// else its ISO 9660 name, in its folders. No two places are one, none is another's .damaged
// or .damaged.ranges, no file stands where a folder does: a file that would is numbered
// ("NAME~2"). A name this system cannot hold (too long, holding / or \) gives way to the next
// of the file's names; an entry with none that fits is left out, as is one that claims sectors
// past the volume.
Plan planFolder(cdimage::FileSystem& files, const ListOnDisc& list,
                const std::optional<cdimage::DiscFile>& folder,
                const std::optional<cdimage::DiscFile>& jolietFolder, bool wholeDisc,
                cdimage::Report& report);

} // namespace dat2file
