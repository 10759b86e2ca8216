// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/commands.h"

#include "cdimage/filelist.h"
#include "cdimage/names.h"
#include "cdimage/paths.h"
#include "cdimage/progress.h"
#include "cdimage/riff.h"
#include "cdimage/sector.h"
#include "cdimage/stopsignals.h"
#include "dat2file/outputwriter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <unordered_set>

#ifdef _WIN32
#include <windows.h>
#endif

namespace dat2file {

namespace fs = std::filesystem;
using cdimage::quoted;
using cdimage::utf8;

namespace {

constexpr std::size_t kSectorsPerChunk = 64; // read at once; small chunks stay in the cache

std::uint64_t sectorsOfLength(std::uint64_t length) {
    return (length + cdimage::kForm2DataSize - 1) / cdimage::kForm2DataSize;
}

std::string linesText(const std::vector<std::size_t>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < 5; ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(lines[i]);
    if (lines.size() > 5)
        text += " and " + std::to_string(lines.size() - 5) + " more";
    return (lines.size() == 1 ? "line " : "lines ") + text;
}

// ---- the file list on a disc

struct ListOnDisc {
    std::optional<cdimage::FileList> list;
    std::string problem; // why a list that is there cannot be read
};

ListOnDisc listOnDisc(cdimage::FileSystem& files) {
    ListOnDisc found;
    try {
        const auto record = files.findPrimary(cdimage::kFileListIdentifier);
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
    } catch (const cdimage::DiscError& error) {
        found.problem = std::string("the file list cannot be read: ") + error.what();
    }
    return found;
}

// What the list says of a file on the same disc: an entry only where its name, place and size
// agree with the file's record.
Voucher voucherOnDisc(const ListOnDisc& found, const std::string& volume,
                      const cdimage::DiscFile& file) {
    if (!found.problem.empty())
        return {std::nullopt, found.problem};
    if (!found.list)
        return {};
    const cdimage::FileList& list = *found.list;
    if (!list.volumeIdentifier.empty() && list.volumeIdentifier != volume)
        return {std::nullopt, "the file list names the volume " + list.volumeIdentifier +
                                  ", this disc is " + volume};
    const std::string name = cdimage::comparableIdentifier(file.name);
    for (const cdimage::ListedFile& entry : list.files) {
        if (cdimage::comparableIdentifier(entry.identifier) != name)
            continue;
        if ((entry.lba && *entry.lba != file.lba) || sectorsOfLength(entry.length) != file.sectors)
            return {std::nullopt, "the file list and the folder disagree about " + file.name +
                                      " (its place or its size)"};
        if (!list.damagedLines.empty())
            cdimage::say(stderr,
                         "dat2file: warning: the file list is damaged (%s); its line for %s is "
                         "intact\n",
                         linesText(list.damagedLines).c_str(), entry.identifier.c_str());
        return {entry, {}};
    }
    if (!list.damagedLines.empty())
        return {std::nullopt, "the file list is damaged (" + linesText(list.damagedLines) +
                                  ") and no intact line of it names " + file.name};
    return {};
}

// The file's record, by its ISO 9660 name, its Joliet name or its original name in the list.
std::optional<cdimage::DiscFile> findFile(cdimage::FileSystem& files, const ListOnDisc& list,
                                          const std::string& path) {
    if (auto found = files.findPrimary(path))
        return found;
    std::optional<std::uint32_t> lba;
    if (auto joliet = files.findJoliet(path))
        lba = joliet->lba;
    else if (list.list)
        for (const cdimage::ListedFile& entry : list.list->files)
            if (entry.originalName == path || "/" + entry.originalName == path)
                if (auto found = files.findPrimary(entry.identifier))
                    return found;
    if (!lba)
        return std::nullopt;
    for (const cdimage::DiscFile& entry : files.entries(files.primaryRoot(), false))
        if (entry.lba == *lba && !entry.directory)
            return entry; // the same file by its ISO 9660 record
    return files.findJoliet(path);
}

// ---- RIFF CDXA files

// The list of the disc a RIFF file came from: the nearest VELMORA.LST above it whose entry has
// the file's name (its ISO 9660 name, or its original name, by which a system that reads Joliet
// shows it), its size and its place.
Voucher voucherNear(const fs::path& source, std::uint64_t sectors, std::uint32_t lba) {
    std::error_code error;
    fs::path folder = fs::absolute(source, error).parent_path();
    const std::string shownName = utf8(source.filename());
    const std::string name = cdimage::comparableIdentifier(shownName);
    bool nearest = true;
    for (std::size_t depth = 0; depth < 64; ++depth) {
        for (const char* listName : {"VELMORA.LST", "velmora.lst", "VELMORA.LST;1"}) {
            std::ifstream in(folder / listName, std::ios::binary);
            const std::uint64_t size = fs::file_size(folder / listName, error);
            if (!in || error || size > cdimage::kMaxFileListBytes)
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
                    return {entry, {}};
            if (nearest && !list->damagedLines.empty())
                return {std::nullopt, "the file list " + quoted(folder / listName) +
                                          " is damaged (" + linesText(list->damagedLines) +
                                          ") and no intact line of it names this file"};
            nearest = false;
        }
        if (!folder.has_relative_path())
            break;
        folder = folder.parent_path();
    }
    return {};
}

// What a source that is no RIFF CDXA file most likely is, and how to get its file whole.
std::string whatItLooksLike(const fs::path& source) {
    std::error_code error;
    const std::uint64_t size = fs::file_size(source, error);
    std::string text;
    if (!error && size > 0 && size % cdimage::kForm1DataSize == 0)
        text = ": its " + std::to_string(size) +
               " bytes are whole 2048-byte blocks, as a Form 2 "
               "file read through a plain ISO 9660 reader (a mounted image, a copy off a disc) "
               "holds: only 2048 of each 2324 bytes, the rest is lost";
    else
        text = ": a Form 2 file read through a plain ISO 9660 reader holds only 2048 of each 2324 "
               "bytes";
    return text + ". Extract the file from the image instead (dat2file --image IMAGE.cue NAME "
                  "DESTINATION), or from the file on the CD itself";
}

} // namespace

int extractRiff(const fs::path& source, const fs::path& destination, bool force) {
    std::ifstream in(cdimage::systemPath(source), std::ios::binary);
    if (!in)
        throw Failure("cannot open " + quoted(source) + ": " +
                      std::generic_category().message(errno));
    std::uint8_t header[cdimage::kRiffHeaderSize];
    in.read(reinterpret_cast<char*>(header), sizeof header);
    cdimage::RiffHeader riff;
    try {
        riff = cdimage::parseRiffHeader(header, std::size_t(in.gcount()));
    } catch (const std::runtime_error& error) {
        throw Failure(quoted(source) + " is not a RIFF CDXA file (" + error.what() + ")" +
                      whatItLooksLike(source));
    }
    std::error_code error;
    const std::uint64_t fileSize = fs::file_size(source, error);
    const std::uint64_t available =
        error ? 0 : (fileSize - cdimage::kRiffHeaderSize) / cdimage::kRawSectorSize;
    const std::uint64_t sectors = riff.dataSize / cdimage::kRawSectorSize;
    if (const auto why = whyNotWritable(destination, force))
        throw Failure(*why);

    std::vector<std::uint8_t> chunk(kSectorsPerChunk * cdimage::kRawSectorSize);
    in.read(reinterpret_cast<char*>(chunk.data()), cdimage::kRawSectorSize);
    const bool firstReadable = in.gcount() == std::streamsize(cdimage::kRawSectorSize) &&
                               cdimage::checkForm2(chunk.data()).empty();
    const std::uint32_t firstLba = firstReadable ? cdimage::lbaOfHeader(chunk.data() + 12) : 0;
    in.clear();
    in.seekg(std::streamoff(cdimage::kRiffHeaderSize));

    Extraction extraction(destination, force, voucherNear(source, sectors, firstLba));
    cdimage::ProgressLine progress("dat2file");
    for (std::uint64_t first = 0; first < sectors; first += kSectorsPerChunk) {
        progress.report(first, sectors);
        cdimage::stopIfAsked();
        const std::size_t count =
            std::size_t(std::min<std::uint64_t>(kSectorsPerChunk, sectors - first));
        in.read(reinterpret_cast<char*>(chunk.data()),
                std::streamsize(count * cdimage::kRawSectorSize));
        const std::size_t whole = std::size_t(in.gcount()) / cdimage::kRawSectorSize;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* sector = chunk.data() + i * cdimage::kRawSectorSize;
            const std::uint32_t lba = std::uint32_t(firstLba + first + i);
            if (i >= whole) {
                extraction.sector(nullptr, SectorState::Unreadable, lba,
                                  "is missing: " + quoted(source) + " holds only " +
                                      std::to_string(available) + " whole sectors");
            } else if (const std::string fault = cdimage::checkForm2(sector); !fault.empty()) {
                extraction.sector(nullptr, SectorState::Unreadable, lba, "is broken: " + fault);
            } else {
                extraction.sector(sector + cdimage::kDataOffset,
                                  cdimage::form2EdcMatches(sector) ? SectorState::Good
                                                                   : SectorState::FailsEdc,
                                  lba);
            }
        }
    }
    progress.report(sectors, sectors);
    progress.finish();
    return extraction.finish(quoted(source));
}

namespace {

// Reads a file's sectors into its copy, moving `progress` on by one for each sector.
void copySectors(cdimage::SectorSource& source, const cdimage::DiscFile& file,
                 Extraction& extraction, const std::function<void(std::uint32_t)>& progress) {
    for (std::uint32_t i = 0; i < file.sectors; ++i) {
        if (i % kSectorsPerChunk == 0) {
            progress(i);
            cdimage::stopIfAsked();
        }
        const std::uint32_t lba = file.lba + i;
        const std::uint8_t* sector = source.sector(lba);
        if (!sector) {
            extraction.sector(nullptr, SectorState::Unreadable, lba,
                              "cannot be read: " + source.whyUnreadable(lba));
        } else if (const std::string fault = cdimage::checkSubheader(sector, file.form2);
                   !fault.empty()) {
            extraction.sector(nullptr, SectorState::Unreadable, lba, "is broken: " + fault);
        } else {
            const bool edcMatches = file.form2 ? cdimage::edcMatchesFromSubheader(sector)
                                               : cdimage::form1EdcMatchesFromSubheader(sector);
            extraction.sector(sector + 8, edcMatches ? SectorState::Good : SectorState::FailsEdc,
                              lba);
        }
    }
    progress(file.sectors);
}

Blocks blocksOf(const cdimage::DiscFile& file) {
    if (file.form2)
        return {};
    return {cdimage::kForm1DataSize, file.size};
}

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
#else
std::string placeKey(const std::string& place) {
    return place;
}
#endif

// A name from a disc as it may stand in a folder here: its version and a final dot dropped
// (ISO 9660 names), no separator, no control character, never "." or "..".
std::string safeName(std::string name, bool isoName) {
    if (isoName) {
        if (const std::size_t version = name.rfind(';'); version != std::string::npos)
            name.erase(version);
        if (name.ends_with('.'))
            name.pop_back();
    }
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "_" + name;
#ifdef _WIN32
    makeWindowsName(name);
#endif
    return name;
}

std::string safePath(std::string_view path, bool isoNames) {
    std::string safe;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        safe += (safe.empty() ? "" : "/") +
                safeName(std::string(path.substr(start, end - start)), isoNames);
        start = end + 1;
    }
    return safe;
}

// The files of a folder on the disc and where each goes: under its original name where the
// file list gives one, else its Joliet name, else its ISO 9660 name, in its folders. Every
// place is taken once.
struct Planned {
    cdimage::DiscFile file;
    std::string isoPath; // on the disc, below the folder extracted
    std::string place;   // below the destination folder
    Voucher voucher;
};

// The dates of the folders below the one extracted, by where they go (their Joliet names where
// there are some, else their ISO 9660 names), as their records give them.
using FolderDates = std::map<std::string, std::int64_t>;

std::vector<Planned> planFolder(cdimage::FileSystem& files, const ListOnDisc& list,
                                const cdimage::DiscFile& folder,
                                const std::optional<cdimage::DiscFile>& jolietFolder,
                                bool wholeDisc, FolderDates* folderDates = nullptr) {
    std::vector<cdimage::TreeFile> isoFolders, jolietFolders;
    // A file's Joliet record has its place and size; files of no bytes may share one place,
    // and are then told apart by their names.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::string>> jolietPaths;
    if (jolietFolder)
        for (cdimage::TreeFile& found : files.filesBelow(*jolietFolder, true, &jolietFolders))
            jolietPaths[{found.file.lba, found.file.size}].push_back(safePath(found.path, false));
    const auto jolietPathOf = [&](const cdimage::TreeFile& found) -> std::optional<std::string> {
        const auto same = jolietPaths.find({found.file.lba, found.file.size});
        if (same == jolietPaths.end() || same->second.empty())
            return std::nullopt;
        std::vector<std::string>& candidates = same->second;
        const std::string identifier = cdimage::comparableIdentifier(found.file.name);
        auto chosen =
            std::find_if(candidates.begin(), candidates.end(), [&](const std::string& path) {
                return cdimage::fileIdentifier(path.substr(path.rfind('/') + 1)) == identifier;
            });
        if (chosen == candidates.end())
            chosen = candidates.begin();
        std::string path = std::move(*chosen);
        candidates.erase(chosen);
        return path;
    };
    std::vector<Planned> planned;
    std::unordered_set<std::string> taken;
    for (cdimage::TreeFile& found : files.filesBelow(folder, false, &isoFolders)) {
        const bool inRoot = wholeDisc && found.path.find('/') == std::string::npos;
        if (inRoot && list.list &&
            cdimage::comparableIdentifier(found.path) == std::string(cdimage::kFileListIdentifier))
            continue; // the list itself is the image's, not one of the user's files
        files.checkExtent(found.file, found.path);
        Planned file{found.file, found.path, {}, {}};
        if (inRoot)
            file.voucher = voucherOnDisc(list, files.volumeIdentifier(), found.file);
        std::vector<std::string> names;
        if (file.voucher.entry && !file.voucher.entry->originalName.empty())
            names.push_back(safeName(file.voucher.entry->originalName, false));
        if (const std::optional<std::string> joliet = jolietPathOf(found))
            names.push_back(*joliet);
        names.push_back(safePath(found.path, true));
        for (std::size_t number = 2; file.place.empty(); ++number)
            for (const std::string& name : names)
                if (const std::string place =
                        number == 2 ? name : name + "~" + std::to_string(number);
                    taken.insert(placeKey(place)).second) {
                    file.place = place;
                    break;
                }
        planned.push_back(std::move(file));
    }
    if (folderDates) {
        for (const cdimage::TreeFile& found : isoFolders)
            if (found.file.recorded)
                folderDates->emplace(safePath(found.path, true), *found.file.recorded);
        for (const cdimage::TreeFile& found : jolietFolders)
            if (found.file.recorded)
                (*folderDates)[safePath(found.path, false)] = *found.file.recorded;
    }
    return planned;
}

// Removes a folder that a run was filling, unless it was put in place.
class FolderUnderWay {
public:
    explicit FolderUnderWay(fs::path folder)
        : m_folder(std::move(folder)) {}
    ~FolderUnderWay() {
        if (!m_placed) {
            std::error_code ignored;
            fs::remove_all(m_folder, ignored);
        }
    }
    FolderUnderWay(const FolderUnderWay&) = delete;
    FolderUnderWay& operator=(const FolderUnderWay&) = delete;
    const fs::path& path() const { return m_folder; }
    void placed() { m_placed = true; }

private:
    fs::path m_folder;
    bool m_placed = false;
};

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

int extractFolder(cdimage::FileSystem& files, const ListOnDisc& list,
                  const cdimage::DiscFile& folder,
                  const std::optional<cdimage::DiscFile>& jolietFolder, const std::string& where,
                  const fs::path& destination, bool force) {
    const bool wholeDisc = folder.lba == files.primaryRoot().lba;
    FolderDates folderDates;
    const std::vector<Planned> planned =
        planFolder(files, list, folder, jolietFolder, wholeDisc, &folderDates);
    const fs::path target =
        destination.filename().empty() ? destination.parent_path() : destination;
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    const bool exists = fs::exists(status);
    if (exists && !fs::is_directory(status))
        throw Failure(quoted(target.filename()) + " exists already in " +
                      quoted(cdimage::folderOf(target)) +
                      " and is not a folder: choose another storage folder or remove it");
    if (exists && !force)
        throw Failure("the folder " + quoted(target.filename()) + " exists already in " +
                      quoted(cdimage::folderOf(target)) +
                      ": choose another storage folder or remove the old folder");
    // A new folder is filled under a temporary name and put in place whole at the end; with
    // --force, an existing one takes each file as it is done.
    std::optional<FolderUnderWay> underWay;
    fs::path into = target;
    if (!exists) {
        fs::create_directories(cdimage::systemPath(cdimage::folderOf(target)), error);
        if (error)
            throw Failure("cannot make the folder " + quoted(cdimage::folderOf(target)) + ": " +
                          error.message());
        cdimage::removeStaleTemporaries(target, "dat2file");
        underWay.emplace(cdimage::makeTemporaryFolder(target, "dat2file"));
        into = underWay->path();
    }

    std::uint64_t totalSectors = 0;
    for (const Planned& file : planned)
        totalSectors += file.file.sectors;
    cdimage::ProgressLine progress("dat2file");
    std::uint64_t sectorsDone = 0, bytes = 0;
    std::size_t checked = 0, damaged = 0;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        const Planned& file = planned[i];
        const std::string detail = "file " + std::to_string(i + 1) + " of " +
                                   std::to_string(planned.size()) + ": " + file.place;
        const fs::path output = into / cdimage::pathOfUtf8(file.place).make_preferred();
        if (const auto why = whyNotWritable(output, force))
            throw Failure(*why);
        Extraction extraction(output, force, file.voucher, blocksOf(file.file));
        extraction.showAs(target / cdimage::pathOfUtf8(file.place).make_preferred());
        extraction.setModified(file.file.recorded);
        copySectors(files.source(), file.file, extraction, [&](std::uint32_t done) {
            progress.report(sectorsDone + done, totalSectors, detail);
        });
        sectorsDone += file.file.sectors;
        const int outcome = extraction.finish("\"" + file.isoPath + "\" in " + where);
        bytes += extraction.written();
        checked += extraction.checked() ? 1 : 0;
        damaged += outcome == Damaged ? 1 : 0;
    }
    progress.report(totalSectors, totalSectors);
    progress.finish();
    // The folders' dates last, the deepest first: writing into a folder would change its own.
    std::set<std::string> made;
    for (const Planned& file : planned)
        for (std::size_t slash = file.place.rfind('/'); slash != std::string::npos && slash > 0;
             slash = file.place.rfind('/', slash - 1))
            made.insert(file.place.substr(0, slash));
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        if (const auto date = folderDates.find(*it); date != folderDates.end())
            cdimage::setModificationTime(into / cdimage::pathOfUtf8(*it), date->second);
    if (underWay) {
        cdimage::placeFolder(underWay->path(), target);
        underWay->placed();
    }
    cdimage::say(stdout, "dat2file: wrote %s into %s: %s, %s checked against the file list, %s\n",
                 plural(planned.size(), "file", "files").c_str(),
                 quoted(fs::absolute(target, error)).c_str(),
                 plural(std::size_t(bytes), "byte", "bytes").c_str(),
                 std::to_string(checked).c_str(), (std::to_string(damaged) + " damaged").c_str());
    return damaged > 0 ? Damaged : Done;
}

} // namespace

int extractFromDisc(cdimage::SectorSource& source, const std::string& where, std::string path,
                    const fs::path& destination, bool force) {
    // No ISO 9660 or Joliet name holds a backslash: it is the separator a Windows user types.
    std::replace(path.begin(), path.end(), '\\', '/');
    cdimage::FileSystem files(source);
    const ListOnDisc list = listOnDisc(files);
    const auto file = findFile(files, list, path);
    if (!file)
        throw Failure("no file \"" + path + "\" in " + where);
    if (file->directory) {
        std::optional<cdimage::DiscFile> joliet = files.findJoliet(path);
        if (joliet && !joliet->directory)
            joliet.reset();
        return extractFolder(files, list, *file, joliet, where, destination, force);
    }
    if (const auto why = whyNotWritable(destination, force))
        throw Failure(*why);
    Extraction extraction(destination, force, voucherOnDisc(list, files.volumeIdentifier(), *file),
                          blocksOf(*file));
    extraction.setModified(file->recorded);
    cdimage::ProgressLine progress("dat2file");
    copySectors(source, *file, extraction,
                [&](std::uint32_t done) { progress.report(done, file->sectors); });
    progress.finish();
    return extraction.finish("\"" + path + "\" in " + where);
}

int extractImage(cdimage::SectorSource& source, const std::string& where,
                 const fs::path& destination, bool force) {
    cdimage::FileSystem files(source);
    const ListOnDisc list = listOnDisc(files);
    return extractFolder(files, list, files.primaryRoot(), files.jolietRoot(), where, destination,
                         force);
}

namespace {

// The files of a disc without a file list (a Video CD, an image of another tool), from its
// folders: the name on the CD, the form, the sectors, the length (exact for a Form 1 file; for
// a Form 2 file whole sectors, marked "~": the CD records no more) and the name given back.
int listFolders(cdimage::FileSystem& files, const ListOnDisc& list, const std::string& where) {
    const std::vector<Planned> planned =
        planFolder(files, list, files.primaryRoot(), files.jolietRoot(), true);
    cdimage::say(stdout,
                 "# %s holds no file list: a Form 2 file's length is whole sectors of 2324 "
                 "bytes (~), and no SHA-256 vouches for it\n",
                 where.c_str());
    for (const Planned& file : planned) {
        const std::uint64_t length =
            file.file.form2 ? std::uint64_t(file.file.sectors) * cdimage::kForm2DataSize
                            : file.file.size;
        cdimage::say(stdout, "%-31s %s %8u sectors %c%12llu  %s\n", file.isoPath.c_str(),
                     file.file.form2 ? "Form 2" : "Form 1", file.file.sectors,
                     file.file.form2 ? '~' : ' ', static_cast<unsigned long long>(length),
                     file.place.c_str());
    }
    return Done;
}

} // namespace

fs::path imageFolderFor(const fs::path& destination) {
    const std::string ending = cdimage::asciiUpperCase(utf8(destination.extension()));
    if (ending == ".BIN" || ending == ".CUE" || ending == ".TOC" || ending == ".NRG")
        return fs::path(destination).replace_extension();
    return destination;
}

int listFiles(cdimage::SectorSource& source, const std::string& where) {
    cdimage::FileSystem files(source);
    const ListOnDisc found = listOnDisc(files);
    if (!found.problem.empty())
        throw Failure(where + ": " + found.problem);
    if (!found.list)
        return listFolders(files, found, where);
    for (const cdimage::ListedFile& file : found.list->files)
        cdimage::say(stdout, "%-31s %12llu  %s  %s\n", file.identifier.c_str(),
                     static_cast<unsigned long long>(file.length), file.sha256.c_str(),
                     file.originalName.c_str());
    // What the folders hold beyond the list, marked: no list vouches for those.
    for (const Planned& file :
         planFolder(files, found, files.primaryRoot(), files.jolietRoot(), true))
        if (!file.voucher.entry)
            cdimage::say(stdout, "# not in the file list: %s, %s, %u sectors, %s\n",
                         file.isoPath.c_str(), file.file.form2 ? "Form 2" : "Form 1",
                         file.file.sectors, file.place.c_str());
    if (!found.list->damagedLines.empty()) {
        cdimage::say(stderr,
                     "dat2file: the file list of %s is damaged (%s): those lines are left out\n",
                     where.c_str(), linesText(found.list->damagedLines).c_str());
        return Damaged;
    }
    return Done;
}

} // namespace dat2file
