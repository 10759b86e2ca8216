// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/catalog.h"

#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <unordered_set>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dat2file {

namespace fs = std::filesystem;
using cdimage::quoted;
using cdimage::utf8;

namespace {

std::uint64_t sectorsOfLength(std::uint64_t length) {
    return (length + cdimage::kForm2DataSize - 1) / cdimage::kForm2DataSize;
}

} // namespace

std::string linesText(const std::vector<std::size_t>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < 5; ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
    if (lines.size() > 5)
        text += " and " + std::to_string(lines.size() - 5) + " more";
    return (lines.size() == 1 ? "line " : "lines ") + text;
}

// ---- the file list

bool isImagesOwn(const ListOnDisc& list, const std::string& identifier) {
    if (!list.list)
        return false;
    return identifier == cdimage::kFileListIdentifier ||
           (list.list->repair && (identifier == cdimage::kParityIdentifier ||
                                  identifier == cdimage::kRepairHeaderIdentifier));
}

ListOnDisc listOnDisc(cdimage::FileSystem& files) {
    ListOnDisc found;
    try {
        const auto record = files.findInRoot(cdimage::kFileListIdentifier);
        if (!record || record->directory || record->form2)
            return found;
        if (record->size > cdimage::kMaxFileListBytes) {
            found.problem = "the file list claims " + std::to_string(record->size) +
                            " bytes, more than a list can be (" +
                            std::to_string(cdimage::kMaxFileListBytes) + ")";
            return found;
        }
        found.list = cdimage::parseFileList(files.readForm1(*record, record->size));
        if (!found.list)
            found.problem = "the file list cannot be read at all";
        else
            for (std::size_t i = 0; i < found.list->files.size(); ++i) {
                const cdimage::ListedFile& entry = found.list->files[i];
                found.byIdentifier.emplace(cdimage::comparableIdentifier(entry.identifier), i);
                if (entry.lba && entry.length > 0)
                    found.byLba.emplace(*entry.lba, i);
            }
    } catch (const cdimage::Error& error) {
        found.problem = std::string("the file list cannot be read: ") + error.what();
    }
    return found;
}

Voucher voucherOnDisc(const ListOnDisc& found, const std::string& volume,
                      const cdimage::DiscFile& file, cdimage::Report& report) {
    if (!found.problem.empty())
        return {std::nullopt, found.problem};
    if (!found.list)
        return {};
    const cdimage::FileList& list = *found.list;
    if (!list.volumeIdentifier.empty() && list.volumeIdentifier != volume && !found.renameTold) {
        found.renameTold = true;
        report.warning("the file list names the volume " + list.volumeIdentifier +
                       ", this disc is " + volume +
                       " (a later session renamed it): the list's entries are used where the "
                       "folders agree with them, each file checked by its SHA-256");
    }
    if (const auto named = found.byIdentifier.find(cdimage::comparableIdentifier(file.name));
        named != found.byIdentifier.end()) {
        const cdimage::ListedFile& entry = list.files[named->second];
        if ((entry.lba && *entry.lba != file.lba) || sectorsOfLength(entry.length) != file.sectors)
            return {std::nullopt, "the file list and the folder disagree about " + file.name +
                                      " (its place or its size)"};
        if (!list.damagedLines.empty())
            report.warning("the file list is damaged (" + linesText(list.damagedLines) +
                           "); its line for " + entry.identifier + " is intact");
        return {entry, {}};
    }
    if (!list.damagedLines.empty())
        return {std::nullopt, "the file list is damaged (" + linesText(list.damagedLines) +
                                  ") and no intact line of it names " + file.name};
    return {};
}

namespace {

// Whether a folder, or a file in it, can only have been put there by the user or by root:
// owned by one of them, a real folder or file (no link), writable by no one else. Another
// user's file list in /tmp would otherwise cut a copy short.
bool belongsToUserOrRoot(const fs::path& path) {
#ifdef _WIN32
    (void)path;
    return true; // folders' rights are ACLs there; the folders walked are the user's drive
#else
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) != 0 || S_ISLNK(facts.st_mode))
        return false;
    return (facts.st_uid == ::getuid() || facts.st_uid == 0) &&
           (facts.st_mode & (S_IWGRP | S_IWOTH)) == 0;
#endif
}

#ifndef _WIN32
std::optional<dev_t> deviceOf(const fs::path& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0)
        return std::nullopt;
    return facts.st_dev;
}
#endif

} // namespace

ListNear listNear(const fs::path& copy, std::uint64_t sectors, std::uint32_t lba) {
    std::error_code error;
    fs::path folder = fs::absolute(copy, error).parent_path();
    const std::string shownName = utf8(copy.filename());
    const std::string name = cdimage::comparableIdentifier(shownName);
#ifndef _WIN32
    const std::optional<dev_t> device = deviceOf(folder);
#endif
    bool nearest = true;
    for (std::size_t depth = 0; depth < 64; ++depth) {
#ifndef _WIN32
        if (deviceOf(folder) != device)
            break; // past the mount point of the copy's file system
#endif
        if (!belongsToUserOrRoot(folder))
            break; // and every folder above it: a list there is not the disc's
        for (const char* listName : {"VELMORA.LST", "velmora.lst", "VELMORA.LST;1"}) {
            const fs::path path = folder / listName;
            std::ifstream in(cdimage::systemPath(path), std::ios::binary);
            const std::uint64_t size = fs::file_size(cdimage::systemPath(path), error);
            if (!in || error || size > cdimage::kMaxFileListBytes || !belongsToUserOrRoot(path))
                continue;
            std::string text(std::size_t(size), '\0');
            in.read(text.data(), std::streamsize(text.size()));
            text.resize(std::size_t(in.gcount()));
            const auto list = cdimage::parseFileList(text);
            if (!list)
                continue;
            for (const cdimage::ListedFile& entry : list->files)
                if ((cdimage::comparableIdentifier(entry.identifier) == name ||
                     entry.originalName == shownName) &&
                    sectorsOfLength(entry.length) == sectors && (!entry.lba || *entry.lba == lba))
                    return {{entry, {}, path}, path, list};
            if (nearest && !list->damagedLines.empty())
                return {{std::nullopt, "the file list " + quoted(path) + " is damaged (" +
                                           linesText(list->damagedLines) +
                                           ") and no intact line of it names this file"},
                        {},
                        std::nullopt};
            nearest = false;
        }
        if (!folder.has_relative_path())
            break;
        folder = folder.parent_path();
    }
    return {};
}

// ---- a name given by the user

namespace {

// A record's identity: files of no bytes may share a place, and are told apart by name.
bool sameFile(const cdimage::DiscFile& a, const cdimage::DiscFile& b) {
    return a.lba == b.lba && a.size == b.size && a.directory == b.directory && a.name == b.name;
}

std::string leafOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string parentOf(const std::string& place) {
    const std::size_t slash = place.rfind('/');
    return slash == std::string::npos ? std::string() : place.substr(0, slash);
}

// The ISO 9660 records among `isoFiles` for a Joliet record: same place and size, the name
// agreeing where several do (files of no bytes).
std::vector<cdimage::TreeFile> isoRecordsOf(const std::vector<cdimage::TreeFile>& isoFiles,
                                            const cdimage::DiscFile& joliet,
                                            std::string_view jolietPath) {
    std::vector<cdimage::TreeFile> same;
    for (const cdimage::TreeFile& found : isoFiles)
        if (found.file.lba == joliet.lba && found.file.size == joliet.size)
            same.push_back(found);
    if (same.size() > 1) {
        const std::string identifier = cdimage::fileIdentifier(leafOf(jolietPath));
        std::vector<cdimage::TreeFile> named;
        for (const cdimage::TreeFile& found : same)
            if (cdimage::comparableIdentifier(found.file.name) == identifier)
                named.push_back(found);
        if (!named.empty())
            same = std::move(named);
    }
    return same;
}

// The ISO 9660 folder that a Joliet folder is: the one holding the same files.
std::optional<cdimage::DiscFile> isoFolderOf(cdimage::FileSystem& files,
                                             const std::vector<cdimage::TreeFile>& isoFiles,
                                             const cdimage::DiscFile& joliet) {
    for (const cdimage::TreeFile& inside : files.walk(joliet, true).files) {
        if (inside.file.size == 0)
            continue;
        for (const cdimage::TreeFile& iso : isoRecordsOf(isoFiles, inside.file, inside.path)) {
            std::string path = iso.path;
            for (std::size_t up = 0; up < inside.parts.size(); ++up)
                path = parentOf(path);
            return path.empty() ? files.primaryRoot() : files.findPrimary(path);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<Found> findFile(cdimage::FileSystem& files, const ListOnDisc& list,
                              const std::string& path) {
    using Match = cdimage::FileSystem::Match;
    std::string given = path;
    while (given.starts_with('/'))
        given.erase(0, 1);
    if (given.empty())
        return Found{files.primaryRoot(), files.jolietRoot()};
    std::optional<std::vector<cdimage::TreeFile>> isoFiles;
    for (const Match match : {Match::Exact, Match::AnyCase}) {
        std::vector<Found> fits;
        const auto add = [&](cdimage::DiscFile file, std::optional<cdimage::DiscFile> joliet) {
            for (const Found& fit : fits)
                if (sameFile(fit.file, file))
                    return;
            fits.push_back({std::move(file), std::move(joliet)});
        };
        // By the original name in the file list (the files of the root).
        if (list.list)
            for (const cdimage::ListedFile& entry : list.list->files)
                if (match == Match::Exact ? entry.originalName == given
                                          : cdimage::asciiUpperCase(entry.originalName) ==
                                                cdimage::asciiUpperCase(given))
                    if (auto found = files.findPrimary(entry.identifier, Match::AnyCase);
                        found && !found->directory)
                        add(*found, std::nullopt);
        if (auto joliet = files.findJoliet(given, match)) {
            if (!isoFiles) // every ISO 9660 file, walked once for the name
                isoFiles = files.walk(files.primaryRoot(), false).files;
            if (joliet->directory) {
                if (auto iso = isoFolderOf(files, *isoFiles, *joliet))
                    add(*iso, joliet);
                else
                    add(*joliet, joliet); // a folder of no file: walked in its Joliet tree
            } else {
                for (cdimage::TreeFile& iso : isoRecordsOf(*isoFiles, *joliet, given))
                    add(std::move(iso.file), std::nullopt);
            }
        }
        if (auto iso = files.findPrimary(given, match))
            add(*iso, iso->directory ? files.findJoliet(given, match) : std::nullopt);
        if (fits.size() > 1) {
            std::string names;
            for (const Found& fit : fits)
                names += (names.empty() ? "" : " and ") + ("\"" + fit.file.name + "\"");
            throw cdimage::Error("the name \"" + path + "\" fits more than one file: " + names +
                                 "; give the one you mean by its exact name");
        }
        if (fits.size() == 1) {
            files.checkExtent(fits.front().file, path);
            return fits.front();
        }
    }
    return std::nullopt;
}

// ---- places below a destination

namespace {

#ifdef _WIN32
// What Windows refuses in a name besides separators and control characters: < > : " | ? *, a
// final dot or blank, and the names of devices (CON, NUL.txt, COM1…).
void makeWindowsName(std::string& name) {
    for (char& c : name)
        if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            c = '_';
    if (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.back() = '_';
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    static const std::set<std::string> kDevices = {
        "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
        "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    if (kDevices.contains(stem))
        name = "_" + name;
}

// Windows takes "Clip.dat" and "clip.dat" for one name.
std::string placeKey(const std::string& place) {
    std::wstring wide = cdimage::pathOfUtf8(place).wstring();
    ::CharUpperBuffW(wide.data(), DWORD(wide.size()));
    return utf8(fs::path(wide));
}

// The length of a name as the system counts it: UTF-16 units.
std::size_t nameLength(const std::string& name) {
    return cdimage::pathOfUtf8(name).wstring().size();
}
#else
std::string placeKey(const std::string& place) {
    return place;
}

std::size_t nameLength(const std::string& name) {
    return name.size();
}
#endif

constexpr std::size_t kLongestName = 255; // a name in a folder, on the systems we run on
// What the name of a damaged copy's ranges adds: ".damaged.ranges", and "~N" for a number.
constexpr std::size_t kDamagedNameAdds = 15 + 4;

// A name from a disc as it may stand in a folder here: its version and a final dot dropped
// (ISO 9660 names), no control character, never "." or "..". Nothing where it holds a separator
// or is longer than a folder takes.
std::optional<std::string> safeName(std::string name, bool isoName) {
    if (name.find_first_of("/\\") != std::string::npos)
        return std::nullopt;
    if (isoName) {
        if (const std::size_t version = name.rfind(';'); version != std::string::npos)
            name.erase(version);
        if (name.ends_with('.'))
            name.pop_back();
    }
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "_" + name;
#ifdef _WIN32
    makeWindowsName(name);
#endif
    if (nameLength(name) + kDamagedNameAdds > kLongestName)
        return std::nullopt;
    return name;
}

std::optional<std::string> safePath(const std::vector<std::string>& parts, bool isoNames) {
    std::string safe;
    for (const std::string& part : parts) {
        const std::optional<std::string> name = safeName(part, isoNames);
        if (!name)
            return std::nullopt;
        safe += (safe.empty() ? "" : "/") + *name;
    }
    return safe;
}

} // namespace

namespace {

// The ISO 9660 and Joliet trees of a folder as walked: the one that lists the files, the one that
// names them.
struct Trees {
    cdimage::TreeWalk iso, joliet;
    bool isoTree = false;    // the ISO 9660 tree lists the files
    bool isoLost = false;    // its folder cannot be read: the Joliet tree alone names the files
    bool haveJoliet = false; // the Joliet tree names them
};

Trees walkTrees(cdimage::FileSystem& files, const std::optional<cdimage::DiscFile>& folder,
                const std::optional<cdimage::DiscFile>& jolietFolder, cdimage::Report& report) {
    Trees trees;
    trees.isoTree = folder && (!jolietFolder || folder->lba != jolietFolder->lba);
    if (trees.isoTree) {
        try {
            trees.iso = files.walk(*folder, false);
        } catch (const cdimage::Error& error) {
            if (!jolietFolder)
                throw;
            trees.isoTree = false;
            trees.isoLost = true;
            report.warning(std::string("the ISO 9660 folder cannot be read (") + error.what() +
                           "): the files are found through their Joliet names");
        }
    }
    trees.haveJoliet = jolietFolder.has_value();
    if (trees.haveJoliet) {
        try {
            trees.joliet = files.walk(*jolietFolder, true);
        } catch (const cdimage::Error& error) {
            if (!trees.isoTree)
                throw;
            trees.haveJoliet = false; // the ISO 9660 names will do
            report.warning(std::string("the Joliet names cannot be read (") + error.what() +
                           "): the files get their ISO 9660 names");
        }
    }
    return trees;
}

// Places taken in the folder written, and where each file goes.
class Planner {
public:
    Planner(Trees& trees, Plan& plan)
        : m_trees(trees)
        , m_plan(plan) {
        // A file's Joliet record has its place and size; files of no bytes may share one
        // place, and are then told apart by their names.
        if (trees.isoTree)
            for (const cdimage::TreeFile& found : trees.joliet.files)
                m_jolietFiles[{found.file.lba, found.file.size}].push_back(&found);
    }

    // Folders first: their places are taken before any file's.
    void placeFolders() {
        const cdimage::TreeWalk& names = m_trees.haveJoliet ? m_trees.joliet : m_trees.iso;
        for (const cdimage::TreeFile& found : names.folders) {
            const std::optional<std::string> place = safePath(found.parts, !m_trees.haveJoliet);
            if (!place) {
                m_plan.leftOut.push_back({found.path, "its name is longer than a folder here "
                                                      "takes, or holds / or \\"});
                continue;
            }
            if (m_folderPlaces.insert(placeKey(*place)).second)
                m_plan.folders.push_back(*place);
            if (found.file.recorded)
                m_plan.folderDates[*place] = *found.file.recorded;
        }
    }

    // The names `file` may go under, the best first; `unusable` a better one that cannot stand.
    std::vector<std::string> candidatesFor(const cdimage::TreeFile& found, const Planned& file,
                                           std::string& unusable) {
        std::vector<std::string> candidates;
        if (file.voucher.entry && !file.voucher.entry->originalName.empty()) {
            if (auto name = safeName(file.voucher.entry->originalName, false))
                candidates.push_back(*name);
            else
                unusable = file.voucher.entry->originalName;
        }
        if (const cdimage::TreeFile* named = m_trees.isoTree ? jolietOf(found) : &found) {
            if (auto path = safePath(named->parts, false))
                candidates.push_back(*path);
            else if (unusable.empty())
                unusable = named->path;
        }
        if (m_trees.isoTree)
            if (auto path = safePath(found.parts, true))
                candidates.push_back(*path);
        return candidates;
    }

    // Puts `file` at the first free place its candidates give, numbered where none is.
    void place(const cdimage::TreeFile& found, Planned file,
               const std::vector<std::string>& candidates, const std::string& unusable) {
        for (std::size_t number = 2; file.place.empty(); ++number)
            for (const std::string& name : candidates) {
                const std::string place = number == 2 ? name : name + "~" + std::to_string(number);
                if (isFree(place)) {
                    file.place = place;
                    break;
                }
            }
        for (const char* ending : {"", ".damaged", ".damaged.ranges"})
            m_taken.insert(placeKey(file.place + ending));
        for (std::string up = parentOf(file.place); !up.empty(); up = parentOf(up))
            if (m_folderPlaces.insert(placeKey(up)).second)
                m_plan.folders.push_back(up);
        const std::string writtenAs = "\"" + found.path + "\" is written as \"" + file.place;
        if (!unusable.empty())
            m_plan.renamed.push_back(writtenAs + "\": its name \"" + unusable +
                                     "\" cannot stand in a folder here (too long, or holding / "
                                     "or \\)");
        else if (file.place != candidates.front())
            m_plan.renamed.push_back(writtenAs +
                                     "\": its own name is taken by another file or folder, or "
                                     "by a damaged copy's name");
        m_plan.files.push_back(std::move(file));
    }

private:
    const cdimage::TreeFile* jolietOf(const cdimage::TreeFile& found) {
        const auto same = m_jolietFiles.find({found.file.lba, found.file.size});
        if (same == m_jolietFiles.end() || same->second.empty())
            return nullptr;
        auto& candidates = same->second;
        const std::string identifier = cdimage::comparableIdentifier(found.file.name);
        auto chosen = std::find_if(candidates.begin(), candidates.end(), [&](const auto* file) {
            return cdimage::fileIdentifier(file->parts.back()) == identifier;
        });
        if (chosen == candidates.end())
            chosen = candidates.begin();
        const cdimage::TreeFile* file = *chosen;
        candidates.erase(chosen);
        return file;
    }

    bool isFree(const std::string& place) const {
        for (const char* ending : {"", ".damaged", ".damaged.ranges"})
            if (m_taken.contains(placeKey(place + ending)) ||
                m_folderPlaces.contains(placeKey(place + ending)))
                return false;
        // A folder of it must not be a file's place, nor its damaged copy's.
        for (std::string up = parentOf(place); !up.empty(); up = parentOf(up))
            if (m_taken.contains(placeKey(up)))
                return false;
        return true;
    }

    Trees& m_trees;
    Plan& m_plan;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<const cdimage::TreeFile*>>
        m_jolietFiles;
    std::unordered_set<std::string> m_taken, m_folderPlaces;
};

} // namespace

Plan planFolder(cdimage::FileSystem& files, const ListOnDisc& list,
                const std::optional<cdimage::DiscFile>& folder,
                const std::optional<cdimage::DiscFile>& jolietFolder, bool wholeDisc,
                cdimage::Report& report) {
    Plan plan;
    Trees trees = walkTrees(files, folder, jolietFolder, report);
    const bool isoTree = trees.isoTree, isoLost = trees.isoLost;
    for (const cdimage::TreeWalk::LeftOut& left :
         isoTree ? trees.iso.leftOut : trees.joliet.leftOut)
        plan.leftOut.push_back({left.path, left.why});
    Planner planner(trees, plan);
    planner.placeFolders();
    for (const cdimage::TreeFile& found : isoTree ? trees.iso.files : trees.joliet.files) {
        const bool inRoot = wholeDisc && found.parts.size() == 1;
        if (inRoot && isoTree && isImagesOwn(list, cdimage::comparableIdentifier(found.path)))
            continue; // the image's, not one of the user's files
        try {
            files.checkExtent(found.file, found.path);
        } catch (const cdimage::Error& error) {
            plan.leftOut.push_back({found.path, error.what()});
            continue;
        }
        if (inRoot && isoLost && isImagesOwn(list, cdimage::comparableIdentifier(found.path)))
            continue;
        Planned file{found.file, found.path, {}, {}};
        if (inRoot && isoTree)
            file.voucher = voucherOnDisc(list, files.volumeIdentifier(), found.file, report);
        if (inRoot && isoLost) { // the list's entry at the file's place names it
            cdimage::DiscFile asListed = found.file;
            if (const auto at = list.byLba.find(found.file.lba);
                at != list.byLba.end() && found.file.sectors > 0)
                asListed.name = list.list->files[at->second].identifier;
            file.voucher = voucherOnDisc(list, files.volumeIdentifier(), asListed, report);
        }
        std::string unusable; // a better name that cannot stand here
        const std::vector<std::string> candidates = planner.candidatesFor(found, file, unusable);
        if (candidates.empty()) {
            plan.leftOut.push_back({found.path, "none of its names can stand in a folder here: "
                                                "too long, or holding / or \\"});
            continue;
        }
        planner.place(found, std::move(file), candidates, unusable);
    }
    return plan;
}

} // namespace dat2file
