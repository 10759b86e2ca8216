#include "dat2file/extract.h"

#include "cdimage/filelist.h"
#include "cdimage/paths.h"
#include "cdimage/progress.h"
#include "cdimage/riff.h"
#include "cdimage/sector.h"
#include "cdimage/stopsignals.h"
#include "dat2file/extraction.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

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
            std::fprintf(stderr,
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
// the file's name, its size and its place.
Voucher voucherNear(const fs::path& source, std::uint64_t sectors, std::uint32_t lba) {
    std::error_code error;
    fs::path folder = fs::absolute(source, error).parent_path();
    const std::string name = cdimage::comparableIdentifier(utf8(source.filename()));
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
                if (cdimage::comparableIdentifier(entry.identifier) == name &&
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
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw Failure("cannot open " + quoted(source) + ": " +
                      std::system_category().message(errno));
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
    if (const std::string why = whyNotWritable(destination, force); !why.empty())
        throw Failure(why);

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

int extractFromDisc(cdimage::SectorSource& source, const std::string& where,
                    const std::string& path, const fs::path& destination, bool force) {
    cdimage::FileSystem files(source);
    const ListOnDisc list = listOnDisc(files);
    const auto file = findFile(files, list, path);
    if (!file)
        throw Failure("no file \"" + path + "\" in " + where);
    if (file->directory)
        throw Failure("\"" + path + "\" in " + where + " is a folder");
    if (!file->form2)
        throw Failure("\"" + path + "\" in " + where + " is not stored in Form 2 sectors");
    if (const std::string why = whyNotWritable(destination, force); !why.empty())
        throw Failure(why);
    Extraction extraction(destination, force, voucherOnDisc(list, files.volumeIdentifier(), *file));
    cdimage::ProgressLine progress("dat2file");
    for (std::uint32_t i = 0; i < file->sectors; ++i) {
        if (i % kSectorsPerChunk == 0) {
            progress.report(i, file->sectors);
            cdimage::stopIfAsked();
        }
        const std::uint32_t lba = file->lba + i;
        const std::uint8_t* sector = source.sector(lba);
        if (!sector)
            extraction.sector(nullptr, SectorState::Unreadable, lba,
                              "cannot be read: " + source.whyUnreadable(lba));
        else if (std::memcmp(sector, sector + 4, 4) != 0)
            extraction.sector(nullptr, SectorState::Unreadable, lba,
                              "is broken: the two copies of its subheader differ");
        else if (!(sector[2] & cdimage::Form2))
            extraction.sector(nullptr, SectorState::Unreadable, lba,
                              "is broken: a Form 1 sector, not Form 2");
        else
            extraction.sector(sector + 8,
                              cdimage::edcMatchesFromSubheader(sector) ? SectorState::Good
                                                                       : SectorState::FailsEdc,
                              lba);
    }
    progress.report(file->sectors, file->sectors);
    progress.finish();
    return extraction.finish("\"" + path + "\" in " + where);
}

int listFiles(cdimage::SectorSource& source, const std::string& where) {
    cdimage::FileSystem files(source);
    const ListOnDisc found = listOnDisc(files);
    if (!found.problem.empty())
        throw Failure(where + ": " + found.problem);
    if (!found.list)
        throw Failure(where + " holds no file list");
    for (const cdimage::ListedFile& file : found.list->files)
        std::printf("%-31s %12llu  %s  %s\n", file.identifier.c_str(),
                    static_cast<unsigned long long>(file.length), file.sha256.c_str(),
                    file.originalName.c_str());
    if (!found.list->damagedLines.empty()) {
        std::fprintf(stderr,
                     "dat2file: the file list of %s is damaged (%s): those lines are left out\n",
                     where.c_str(), linesText(found.list->damagedLines).c_str());
        return Damaged;
    }
    return Done;
}

} // namespace dat2file
