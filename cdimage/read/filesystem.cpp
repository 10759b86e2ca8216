// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/read/filesystem.h"

#include "cdimage/base/bytes.h"
#include "cdimage/base/names.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/iso9660.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <unordered_set>

namespace cdimage {

namespace {

constexpr unsigned kXaForm2Bit = 0x1000; // of the XA attributes

// A number recorded both ways; nothing when the two disagree.
std::optional<std::uint32_t> readBoth32(const std::uint8_t* bytes) {
    const std::uint32_t little = readLittleEndian32(bytes);
    if (little != readBigEndian32(bytes + 4))
        return std::nullopt;
    return little;
}

std::uint32_t blocksFor(std::uint32_t bytes) {
    return std::uint32_t((std::uint64_t(bytes) + kLogicalBlockSize - 1) / kLogicalBlockSize);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// A Joliet name (UCS-2, big-endian; pairs of surrogates taken as UTF-16) in UTF-8.
std::string fromJoliet(const std::uint8_t* name, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        char32_t unit = char32_t(name[i]) << 8 | name[i + 1];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
            const char32_t low = char32_t(name[i + 2]) << 8 | name[i + 3];
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000)
            unit = 0xFFFD;
        appendUtf8(text, unit);
    }
    return text;
}

std::string withoutVersion(std::string name) {
    if (const std::size_t version = name.rfind(';'); version != std::string::npos)
        name.resize(version);
    return name;
}

std::vector<std::string_view> componentsOf(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty())
            parts.push_back(part);
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

std::string sectorText(std::uint32_t lba) {
    return "sector " + std::to_string(lba);
}

} // namespace

std::string comparableIdentifier(std::string name) {
    name = withoutVersion(std::move(name));
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    return asciiUpperCase(std::move(name));
}

FileSystem::FileSystem(SectorSource& source)
    : m_source(source) {
    bool havePrimary = false;
    // A disc of several sessions: the file system of the last one holds every file.
    const std::uint32_t start = m_source.lastSessionStart();
    for (std::uint32_t i = 0; i < kMaxVolumeDescriptors; ++i) {
        const std::uint32_t lba = start + kVolumeDescriptorLba + i;
        const std::uint8_t* d = form1Data(lba, "the volume descriptor");
        if (std::memcmp(d + descriptor::kStandard, "CD001", 5) != 0) {
            if (!havePrimary && std::memcmp(d + descriptor::kStandard, "CD-I ", 5) == 0)
                throw Error("this is a CD-i disc: its file system is the Green Book's, not "
                            "ISO 9660, and it is not read here");
            if (!havePrimary)
                throw Error(sectorText(lba) +
                            " holds no ISO 9660 volume descriptor: not a CD of files");
            break;
        }
        if (d[descriptor::kType] == descriptor::kSetTerminator)
            break;
        if (d[descriptor::kType] == descriptor::kPrimary && !havePrimary) {
            std::string identifier(reinterpret_cast<const char*>(d + descriptor::kVolumeIdentifier),
                                   32);
            identifier.erase(identifier.find_last_not_of(' ') + 1);
            m_volumeIdentifier = identifier;
            m_primaryRoot = rootOf(d, lba, false);
            // A file may lie past the sectors there are (a truncated image: those sectors are
            // lost), never past the volume it claims, and never past what a disc can address.
            m_volumeSectors =
                std::min(readLittleEndian32(d + descriptor::kVolumeSectors), kMaxSectors);
            m_lastSector = std::max(m_volumeSectors, m_source.sectorCount());
            havePrimary = true;
        } else if (const std::uint8_t* escapes = d + descriptor::kEscapes;
                   d[descriptor::kType] == descriptor::kSupplementary && escapes[0] == '%' &&
                   escapes[1] == '/' &&
                   (escapes[2] == '@' || escapes[2] == 'C' || escapes[2] == 'E') && !m_jolietRoot) {
            m_jolietRoot = rootOf(d, lba, true);
        }
    }
    if (!havePrimary)
        throw Error("no primary volume descriptor among the first " +
                    std::to_string(kMaxVolumeDescriptors) + " from sector 16");
}

const std::uint8_t* FileSystem::form1Data(std::uint32_t lba, std::string_view what) {
    // The source's one answer for the sector, its checks included: a sector lost (zeros where
    // a scratch was) is never taken for an empty folder.
    const SectorAnswer answer = m_source.read(lba);
    if (!answer)
        throw Error(std::string(what) + " at " + sectorText(lba) + " " + answer.lost);
    return answer.bytes + kSubheaderSize;
}

DiscFile FileSystem::rootOf(const std::uint8_t* volume, std::uint32_t lba, bool joliet) {
    const std::uint8_t* bytes = volume + descriptor::kRootRecord;
    const auto extent = readBoth32(bytes + record::kExtent);
    const auto size = readBoth32(bytes + record::kSize);
    if (bytes[record::kLength] != record::kSmallest || !extent || !size ||
        !(bytes[record::kFlags] & record::kFolderFlag))
        throw Error("the root folder's record in the volume descriptor at " + sectorText(lba) +
                    " is damaged");
    DiscFile root;
    root.name = joliet ? "" : std::string(1, '\0');
    root.lba = *extent;
    root.size = *size;
    root.sectors = blocksFor(*size);
    root.directory = true;
    root.recorded = unixSecondsOfRecordDate(bytes + record::kDate);
    return root;
}

std::optional<DiscFile> FileSystem::findInRoot(std::string_view name) {
    if (!m_primaryRootReads) {
        try {
            (void)entries(m_primaryRoot, false);
            m_primaryRootReads = true;
        } catch (const Error&) {
            m_primaryRootReads = false;
        }
    }
    return *m_primaryRootReads || !m_jolietRoot ? findPrimary(name) : findJoliet(name);
}

std::optional<DiscFile>
FileSystem::fileOfRecord(const std::uint8_t* entryBytes, std::size_t length, bool joliet,
                         const std::function<Error(const std::string&)>& fault, bool& formUnknown) {
    const std::size_t nameLength = entryBytes[record::kNameLength];
    if (nameLength == 0 || record::kName + nameLength > length)
        throw fault("has a name of " + std::to_string(nameLength) +
                    " bytes that does not fit in it");
    const auto extent = readBoth32(entryBytes + record::kExtent);
    const auto size = readBoth32(entryBytes + record::kSize);
    if (!extent || !size)
        throw fault("gives its place or its size twice, differently");
    const std::uint8_t* name = entryBytes + record::kName;
    if (nameLength == 1 && (name[0] == 0 || name[0] == 1))
        return std::nullopt; // the folder itself, its parent
    DiscFile entry;
    entry.name = joliet ? fromJoliet(name, nameLength)
                        : std::string(reinterpret_cast<const char*>(name), nameLength);
    // After an extended attribute record, if any.
    entry.lba = *extent + entryBytes[record::kAttributeLength];
    entry.size = *size;
    entry.sectors = blocksFor(*size);
    entry.directory = entryBytes[record::kFlags] & record::kFolderFlag;
    entry.recorded = unixSecondsOfRecordDate(entryBytes + record::kDate);
    const std::size_t systemUse = record::kName + nameLength + (nameLength % 2 == 0 ? 1 : 0);
    const std::uint8_t* xa = entryBytes + systemUse;
    std::size_t rockRidge = systemUse;
    if (systemUse + kXaSystemUseSize <= length && xa[record::kXaSignature] == 'X' &&
        xa[record::kXaSignature + 1] == 'A') {
        entry.form2 =
            (xa[record::kXaAttributes] << 8 | xa[record::kXaAttributes + 1]) & kXaForm2Bit;
        rockRidge += kXaSystemUseSize;
    } else {
        formUnknown = !entry.directory && entry.sectors > 0;
    }
    if (!joliet && rockRidge < length)
        readRockRidge(entryBytes + rockRidge, length - rockRidge, entry);
    entry.moreExtents = entryBytes[record::kFlags] & record::kMoreExtentsFlag;
    return entry;
}

std::vector<DiscFile> FileSystem::entries(const DiscFile& folder, bool joliet) {
    const std::string where = "the folder at " + sectorText(folder.lba);
    if (folder.size > kMaxDirectoryBytes)
        throw Error(where + " claims " + std::to_string(folder.size) +
                    " bytes, more than a folder can hold here (" +
                    std::to_string(kMaxDirectoryBytes) + ")");
    if (std::uint64_t(folder.lba) + folder.sectors > m_source.sectorCount())
        throw Error(where + " reaches past the last sector (" +
                    std::to_string(m_source.sectorCount()) + ")");
    std::vector<DiscFile> found;
    std::vector<std::size_t> withoutXa; // files whose records say nothing of their form
    for (std::uint32_t block = 0; block < folder.sectors; ++block) {
        const std::uint8_t* data =
            form1Data(folder.lba + block, block == 0 ? "the folder" : where + ": its sector");
        const std::size_t usable = std::min<std::size_t>(
            kLogicalBlockSize, folder.size - std::size_t(block) * kLogicalBlockSize);
        for (std::size_t at = 0; at < usable;) {
            const std::uint8_t* entryBytes = data + at;
            const std::size_t length = entryBytes[record::kLength];
            if (length == 0)
                break; // the rest of the sector is padding
            const auto fault = [&](const std::string& what) {
                return Error(where + ": the record at byte " +
                             std::to_string(block * kLogicalBlockSize + at) + " " + what);
            };
            if (length < record::kSmallest || at + length > kLogicalBlockSize)
                throw fault("claims " + std::to_string(length) + " bytes");
            bool formUnknown = false;
            std::optional<DiscFile> read =
                fileOfRecord(entryBytes, length, joliet, fault, formUnknown);
            at += length;
            if (!read)
                continue; // the folder itself, its parent
            DiscFile& entry = *read;
            if (!found.empty() && found.back().moreExtents && found.back().name == entry.name &&
                !entry.directory) {
                joinExtent(found.back(), entry); // its form is the first extent's
                continue;
            }
            if (formUnknown)
                withoutXa.push_back(found.size());
            found.push_back(std::move(entry));
        }
    }
    // The XA attributes are optional (a session appended by a burner that writes none): a file
    // without them is of the form its first sector's subheader names.
    for (const std::size_t index : withoutXa) {
        DiscFile& entry = found[index];
        if (entry.lba >= m_source.sectorCount())
            continue;
        const SectorAnswer first = m_source.read(entry.lba);
        entry.form2 = first && checkSubheader(first.bytes, true).empty();
    }
    return found;
}

std::optional<DiscFile> FileSystem::find(std::string_view path, const DiscFile& root, bool joliet,
                                         Match match) {
    const std::vector<std::string_view> parts = componentsOf(path);
    if (parts.size() > kMaxPathDepth)
        throw Error("the path has more than " + std::to_string(kMaxPathDepth) + " parts");
    // A name as compared: without its version, and an ISO 9660 name without its final dot.
    const auto comparedAs = [joliet](std::string name) {
        name = withoutVersion(std::move(name));
        if (!joliet && !name.empty() && name.back() == '.')
            name.pop_back();
        return name;
    };
    DiscFile current = root;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!current.directory)
            return std::nullopt;
        const std::vector<DiscFile> inFolder = entries(current, joliet);
        const DiscFile* chosen = nullptr;
        const std::string wanted = comparedAs(std::string(parts[i]));
        if (match != Match::AnyCase)
            for (const DiscFile& entry : inFolder)
                if (comparedAs(entry.name) == wanted) {
                    chosen = &entry;
                    break;
                }
        const std::string wantedInAnyCase = asciiUpperCase(wanted);
        if (!chosen && match != Match::Exact)
            for (const DiscFile& entry : inFolder)
                if (asciiUpperCase(comparedAs(entry.name)) == wantedInAnyCase) {
                    chosen = &entry;
                    break;
                }
        if (!chosen)
            return std::nullopt;
        current = *chosen;
    }
    checkExtent(current, path);
    return current;
}

void FileSystem::joinExtent(DiscFile& file, const DiscFile& next) {
    const std::uint64_t size = std::uint64_t(file.size) + next.size;
    if (next.lba == std::uint64_t(file.lba) + file.sectors && size <= UINT32_MAX) {
        file.size = std::uint32_t(size);
        file.sectors += next.sectors;
    } else {
        file.extentsApart = true;
    }
    file.moreExtents = next.moreExtents;
}

void FileSystem::checkExtent(const DiscFile& file, std::string_view path) const {
    if (file.compressed)
        throw Error("\"" + std::string(path) +
                    "\" is stored compressed (zisofs, which this program does not "
                    "uncompress): it is not given back; xorriso -osirrox gives it whole");
    if (file.form2 && !file.directory && file.sectors > 0 && !m_source.holdsForm2())
        throw Error("\"" + std::string(path) +
                    "\" is a Form 2 file, whose sectors hold 2324 bytes each: an image of "
                    "2048-byte blocks (a plain ISO 9660 image) cannot hold them, and it is "
                    "not given back. Make the image again with whole sectors (2352 bytes, "
                    "\"raw\"), or extract from the CD itself");
    if (file.extentsApart)
        throw Error("\"" + std::string(path) +
                    "\" is recorded in several parts that do not follow one another on the "
                    "disc: it is not given back");
    if (std::uint64_t(file.lba) + file.sectors > m_lastSector)
        throw Error("\"" + std::string(path) + "\" claims sectors " + std::to_string(file.lba) +
                    " to " + std::to_string(std::uint64_t(file.lba) + file.sectors - 1) +
                    ", past the end of the volume (" + std::to_string(m_lastSector) + " sectors)");
}

void FileSystem::readRockRidge(const std::uint8_t* field, std::size_t size, DiscFile& entry) {
    // System use entries: two letters, their length, a version, their data (IEEE P1282).
    for (std::size_t at = 0; at + 4 <= size;) {
        const std::size_t length = field[at + 2];
        if (length < 4 || at + length > size)
            return;
        const std::uint8_t* data = field + at + 4;
        if (field[at] == 'R' && field[at + 1] == 'E') {
            entry.relocated = true;
        } else if (field[at] == 'Z' && field[at + 1] == 'F' && length >= 16) {
            // Compressed in blocks (zisofs): its bytes on the disc are not the file's.
            entry.compressed = true;
        } else if (field[at] == 'C' && field[at + 1] == 'L' && length >= 12) {
            // The record of a folder moved away: its own "." record tells its size.
            const auto moved = readBoth32(data);
            if (!moved || *moved >= m_source.sectorCount())
                return;
            const std::uint8_t* self = form1Data(*moved, "a relocated folder");
            const auto bytes = readBoth32(self + record::kSize);
            if (self[record::kLength] < record::kSmallest || !bytes)
                return;
            entry.lba = *moved;
            entry.size = *bytes;
            entry.sectors = blocksFor(*bytes);
            entry.directory = true;
        }
        at += length;
    }
}

std::optional<std::vector<DiscFile>> FileSystem::entriesWalked(const DiscFile& folder,
                                                               const std::string& path, bool joliet,
                                                               bool root, TreeWalk& found) {
    if (root)
        return entries(folder, joliet); // without its root, nothing to walk
    try {
        return entries(folder, joliet);
    } catch (const Error& error) {
        found.leftOut.push_back({path, error.what()});
        return std::nullopt;
    }
}

TreeWalk FileSystem::walk(const DiscFile& folder, bool joliet) {
    struct Pending {
        DiscFile folder;
        std::string path;
        std::vector<std::string> parts;
        std::size_t index = 0; // in found.folders
    };
    TreeWalk found;
    std::unordered_set<std::uint32_t> entered{folder.lba};
    std::vector<Pending> pending{{folder, {}, {}}};
    std::size_t walked = 0;
    while (!pending.empty()) {
        const Pending current = std::move(pending.back());
        pending.pop_back();
        std::optional<std::vector<DiscFile>> read =
            entriesWalked(current.folder, current.path, joliet, current.parts.empty(), found);
        if (!read)
            continue;
        std::vector<DiscFile>& inFolder = *read;
        // A folder that only held folders moved elsewhere (Rock Ridge's rr_moved) is none of
        // the user's.
        if (!current.parts.empty() && !inFolder.empty() &&
            std::all_of(inFolder.begin(), inFolder.end(),
                        [](const DiscFile& entry) { return entry.relocated; }))
            found.folders[current.index].path.clear();
        std::vector<Pending> below;
        for (DiscFile& entry : inFolder) {
            if (++walked > kMaxTreeEntries)
                throw Error("the folders hold more than " + std::to_string(kMaxTreeEntries) +
                            " entries");
            if (entry.relocated)
                continue; // met where its placeholder stands
            std::string path = current.path.empty() ? entry.name : current.path + '/' + entry.name;
            std::vector<std::string> parts = current.parts;
            parts.push_back(entry.name);
            if (!entry.directory) {
                found.files.push_back({std::move(path), std::move(entry), std::move(parts)});
                continue;
            }
            if (!entered.insert(entry.lba).second)
                continue; // a folder named twice, or a loop
            if (parts.size() > kMaxTreeDepth) {
                found.leftOut.push_back({path, "it lies " + std::to_string(parts.size()) +
                                                   " folders deep, more than " +
                                                   std::to_string(kMaxTreeDepth) + " are entered"});
                continue;
            }
            found.folders.push_back({path, entry, parts});
            below.push_back(
                {std::move(entry), std::move(path), std::move(parts), found.folders.size() - 1});
        }
        // Depth first, folders in the order they are recorded.
        pending.insert(pending.end(), std::make_move_iterator(below.rbegin()),
                       std::make_move_iterator(below.rend()));
    }
    std::erase_if(found.folders, [](const TreeFile& met) { return met.path.empty(); });
    return found;
}

std::vector<TreeFile> FileSystem::filesBelow(const DiscFile& folder, bool joliet,
                                             std::vector<TreeFile>* folders) {
    TreeWalk found = walk(folder, joliet);
    if (folders)
        folders->insert(folders->end(), found.folders.begin(), found.folders.end());
    return std::move(found.files);
}

std::optional<DiscFile> FileSystem::findPrimary(std::string_view path, Match match) {
    return find(path, m_primaryRoot, false, match);
}

std::optional<DiscFile> FileSystem::findJoliet(std::string_view path, Match match) {
    if (!m_jolietRoot)
        return std::nullopt;
    return find(path, *m_jolietRoot, true, match);
}

std::string FileSystem::readForm1(const DiscFile& file, std::uint32_t limit) {
    const std::uint32_t size = std::min(file.size, limit);
    std::string bytes;
    bytes.reserve(size);
    for (std::uint32_t block = 0; bytes.size() < size; ++block) {
        const std::uint8_t* data = form1Data(file.lba + block, "\"" + file.name + "\"");
        bytes.append(reinterpret_cast<const char*>(data),
                     std::min<std::size_t>(kLogicalBlockSize, size - bytes.size()));
    }
    return bytes;
}

} // namespace cdimage
