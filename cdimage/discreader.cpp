// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/discreader.h"

#include "cdimage/bytes.h"
#include "cdimage/inputfile.h"
#include "cdimage/iso9660.h"
#include "cdimage/names.h"
#include "cdimage/paths.h"
#include "cdimage/sector.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>
#include <unordered_set>

namespace cdimage {

namespace fs = std::filesystem;

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

// ---- images

ImageFile::ImageFile(const ImageTrack& track)
    : m_track(track) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(track.dataFile, error)))
        if (const auto why = whyNotReadable(track.dataFile))
            throw DiscError(*why);
    m_in.open(track.dataFile, std::ios::binary);
    m_size = fs::file_size(track.dataFile, error);
    if (error)
        throw DiscError(quoted(track.dataFile) +
                        ", which holds the image's sectors, cannot be read: " + error.message());
    if (!m_in)
        throw DiscError(quoted(track.dataFile) +
                        " cannot be opened: " + std::generic_category().message(errno));
    if (m_size < track.offset + track.stride)
        throw DiscError(quoted(track.dataFile) + ", which holds the image's sectors, holds " +
                        std::to_string(m_size) + " bytes: not one whole sector from byte " +
                        std::to_string(track.offset));
    std::uint64_t sectors = (m_size - track.offset) / track.stride;
    if (track.sectors)
        sectors = std::min(sectors, *track.sectors);
    m_sectors = std::uint32_t(std::min<std::uint64_t>(sectors, UINT32_MAX));
    m_readable = m_sectors;
    m_buffer.resize(kRun * track.stride);
}

const std::uint8_t* ImageFile::sector(std::uint32_t lba) {
    if (lba >= m_readable)
        return nullptr;
    if (lba < m_first || lba - m_first >= m_count) {
        const std::uint32_t count = std::min(kRun, m_readable - lba);
        m_in.clear();
        m_in.seekg(std::streamoff(m_track.offset + std::uint64_t(lba) * m_track.stride));
        m_in.read(reinterpret_cast<char*>(m_buffer.data()),
                  std::streamsize(std::size_t(count) * m_track.stride));
        m_first = lba;
        m_count = std::uint32_t(std::size_t(m_in.gcount()) / m_track.stride);
        if (m_count < count) // the file shrank, or a block of the disk cannot be read
            m_readable = lba + m_count;
        if (m_count == 0)
            return nullptr;
    }
    return m_buffer.data() + std::size_t(lba - m_first) * m_track.stride + m_track.subheaderOffset;
}

std::string ImageFile::whyUnreadable(std::uint32_t) const {
    if (m_readable < m_sectors)
        return quoted(m_track.dataFile) + " cannot be read from sector " +
               std::to_string(m_readable) + " on (a read error, or it was cut short meanwhile)";
    const bool cutShort = (m_size - m_track.offset) % m_track.stride != 0;
    return quoted(m_track.dataFile) + " ends at " + sectorText(m_sectors) + " (" +
           std::to_string(m_size) + " bytes" + (cutShort ? ", the last sector cut short" : "") +
           ")";
}

DiscImage::DiscImage(const std::vector<ImageTrack>& tracks) {
    for (const ImageTrack& track : tracks)
        m_parts.push_back({track.firstLba, std::make_unique<ImageFile>(track), track.sectors});
    std::sort(m_parts.begin(), m_parts.end(),
              [](const Part& a, const Part& b) { return a.firstLba < b.firstLba; });
    for (const Part& part : m_parts)
        m_sectors = std::max<std::uint32_t>(
            m_sectors, std::uint32_t(std::min<std::uint64_t>(
                           std::uint64_t(part.firstLba) + part.file->sectorCount(), kMaxSectors)));
}

const DiscImage::Part* DiscImage::partOf(std::uint32_t lba, bool described) const {
    const auto after = std::upper_bound(
        m_parts.begin(), m_parts.end(), lba,
        [](std::uint32_t wanted, const Part& part) { return wanted < part.firstLba; });
    if (after == m_parts.begin())
        return nullptr;
    const Part& part = *std::prev(after);
    const std::uint64_t within = lba - part.firstLba;
    if (within < part.file->sectorCount())
        return &part;
    // Past what its file holds: still the part's where its description runs on (a file cut
    // short), unless the next part begins first.
    const bool beforeNext = after == m_parts.end() || lba < after->firstLba;
    return described && beforeNext && (!part.described || within < *part.described) ? &part
                                                                                    : nullptr;
}

const std::uint8_t* DiscImage::sector(std::uint32_t lba) {
    const Part* part = partOf(lba);
    return part ? part->file->sector(lba - part->firstLba) : nullptr;
}

std::string DiscImage::whyUnreadable(std::uint32_t lba) const {
    if (const Part* part = partOf(lba, true))
        return part->file->whyUnreadable(lba - part->firstLba);
    return sectorText(lba) + " lies in no data track of the image (an audio track or a gap)";
}

namespace {

// How a file of sectors without a description stores them, told by its content: the sync
// pattern opens a raw sector, and the volume descriptor "CD001" stands in sector 16 wherever
// its data begins in that kind of sector.
enum class SectorStorage { Unknown, Raw2352, Mode2Without2336, Plain2048 };

SectorStorage sectorStorageOf(std::string_view head) {
    const auto bytes = reinterpret_cast<const std::uint8_t*>(head.data());
    if (startsWithSync(bytes, head.size()))
        return SectorStorage::Raw2352;
    const auto descriptorAt = [&](std::size_t at) {
        return head.size() >= at + 6 && head.substr(at + 1, 5) == "CD001";
    };
    if (descriptorAt(kVolumeDescriptorLba * kStoredSectorSize + kSubheaderSize))
        return SectorStorage::Mode2Without2336;
    if (descriptorAt(kVolumeDescriptorLba * kLogicalBlockSize))
        return SectorStorage::Plain2048;
    return SectorStorage::Unknown;
}

std::string headOf(const fs::path& path, std::size_t size) {
    std::ifstream in(systemPath(path), std::ios::binary);
    if (!in)
        throw ImageError("cannot open " + quoted(path) + ": " +
                         std::generic_category().message(errno));
    std::string head(size, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(std::size_t(in.gcount()));
    return head;
}

} // namespace

bool isNeroImage(const fs::path& path) {
    return asciiUpperCase(utf8(path.extension())) == ".NRG";
}

bool isImageFile(const fs::path& path) {
    const std::string ending = asciiUpperCase(utf8(path.extension()));
    if (ending == ".CUE" || ending == ".TOC" || isNeroImage(path))
        return true;
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return false;
    try {
        return sectorStorageOf(headOf(path, kVolumeDescriptorLba * kStoredSectorSize +
                                                kSubheaderSize + 6)) != SectorStorage::Unknown;
    } catch (const ImageError&) {
        return false;
    }
}

std::vector<ImageTrack> imageTracksAt(const fs::path& path) {
    if (const auto why = whyNotReadable(path))
        throw ImageError(*why);
    const std::string head = headOf(path, kMaxDescriptionSize + 1);
    if (head.empty())
        throw ImageError(quoted(path) + " is empty (0 bytes): not an image");
    switch (sectorStorageOf(head)) {
    case SectorStorage::Raw2352:
        return {ImageTrack{path, 0, 2352, 16, std::nullopt, 0}}; // the raw sectors themselves
    case SectorStorage::Mode2Without2336:
        return {ImageTrack{path, 0, 2336, 0, std::nullopt, 0}}; // from each subheader on
    case SectorStorage::Plain2048:
        throw ImageError(quoted(path) +
                         " is an image of 2048-byte sectors (a plain ISO 9660 image): it keeps "
                         "only 2048 of each 2324 bytes of a Form 2 file. Make the image again "
                         "with whole sectors (2352 bytes, \"raw\"), or extract from the CD "
                         "itself");
    case SectorStorage::Unknown:
        break;
    }
    const fs::path folder = path.parent_path();
    const FileSize sizeOf = [](const fs::path& file) -> std::optional<std::uint64_t> {
        std::error_code error;
        const std::uint64_t size = fs::file_size(file, error);
        return error ? std::nullopt : std::optional(size);
    };
    if (asciiUpperCase(utf8(path.extension())) == ".TOC")
        return dataTracksOfToc(head, folder, sizeOf);
    return dataTracksOfCueSheet(head, folder, sizeOf);
}

// ---- the file system

FileSystem::FileSystem(SectorSource& source)
    : m_source(source) {
    bool havePrimary = false;
    for (std::uint32_t i = 0; i < kMaxVolumeDescriptors; ++i) {
        const std::uint32_t lba = kVolumeDescriptorLba + i;
        const std::uint8_t* d = form1Data(lba, "the volume descriptor");
        if (std::memcmp(d + descriptor::kStandard, "CD001", 5) != 0) {
            if (!havePrimary)
                throw DiscError(sectorText(lba) +
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
            m_lastSector =
                std::max(std::min(readLittleEndian32(d + descriptor::kVolumeSectors), kMaxSectors),
                         m_source.sectorCount());
            havePrimary = true;
        } else if (const std::uint8_t* escapes = d + descriptor::kEscapes;
                   d[descriptor::kType] == descriptor::kSupplementary && escapes[0] == '%' &&
                   escapes[1] == '/' &&
                   (escapes[2] == '@' || escapes[2] == 'C' || escapes[2] == 'E') && !m_jolietRoot) {
            m_jolietRoot = rootOf(d, lba, true);
        }
    }
    if (!havePrimary)
        throw DiscError("no primary volume descriptor among the first " +
                        std::to_string(kMaxVolumeDescriptors) + " from sector 16");
}

const std::uint8_t* FileSystem::form1Data(std::uint32_t lba, std::string_view what) {
    const std::uint8_t* sector = m_source.sector(lba);
    if (!sector)
        throw DiscError(std::string(what) + " at " + sectorText(lba) +
                        " cannot be read: " + m_source.whyUnreadable(lba));
    return sector + kSubheaderSize;
}

DiscFile FileSystem::rootOf(const std::uint8_t* volume, std::uint32_t lba, bool joliet) {
    const std::uint8_t* bytes = volume + descriptor::kRootRecord;
    const auto extent = readBoth32(bytes + record::kExtent);
    const auto size = readBoth32(bytes + record::kSize);
    if (bytes[record::kLength] != record::kSmallest || !extent || !size ||
        !(bytes[record::kFlags] & record::kFolderFlag))
        throw DiscError("the root folder's record in the volume descriptor at " + sectorText(lba) +
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

std::vector<DiscFile> FileSystem::entries(const DiscFile& folder, bool joliet) {
    const std::string where = "the folder at " + sectorText(folder.lba);
    if (folder.size > kMaxDirectoryBytes)
        throw DiscError(where + " claims " + std::to_string(folder.size) +
                        " bytes, more than a folder can hold here (" +
                        std::to_string(kMaxDirectoryBytes) + ")");
    if (std::uint64_t(folder.lba) + folder.sectors > m_source.sectorCount())
        throw DiscError(where + " reaches past the last sector (" +
                        std::to_string(m_source.sectorCount()) + ")");
    std::vector<DiscFile> found;
    for (std::uint32_t block = 0; block < folder.sectors; ++block) {
        const std::uint8_t* data = form1Data(folder.lba + block, where);
        const std::size_t usable = std::min<std::size_t>(
            kLogicalBlockSize, folder.size - std::size_t(block) * kLogicalBlockSize);
        for (std::size_t at = 0; at < usable;) {
            const std::uint8_t* entryBytes = data + at;
            const std::size_t length = entryBytes[record::kLength];
            if (length == 0)
                break; // the rest of the sector is padding
            const auto fault = [&](const std::string& what) {
                return DiscError(where + ": the record at byte " +
                                 std::to_string(block * kLogicalBlockSize + at) + " " + what);
            };
            if (length < record::kSmallest || at + length > kLogicalBlockSize)
                throw fault("claims " + std::to_string(length) + " bytes");
            const std::size_t nameLength = entryBytes[record::kNameLength];
            if (nameLength == 0 || record::kName + nameLength > length)
                throw fault("has a name of " + std::to_string(nameLength) +
                            " bytes that does not fit in it");
            const auto extent = readBoth32(entryBytes + record::kExtent);
            const auto size = readBoth32(entryBytes + record::kSize);
            if (!extent || !size)
                throw fault("gives its place or its size twice, differently");
            at += length;
            const std::uint8_t* name = entryBytes + record::kName;
            if (nameLength == 1 && (name[0] == 0 || name[0] == 1))
                continue; // the folder itself, its parent
            DiscFile entry;
            entry.name = joliet ? fromJoliet(name, nameLength)
                                : std::string(reinterpret_cast<const char*>(name), nameLength);
            // After an extended attribute record, if any.
            entry.lba = *extent + entryBytes[record::kAttributeLength];
            entry.size = *size;
            entry.sectors = blocksFor(*size);
            entry.directory = entryBytes[record::kFlags] & record::kFolderFlag;
            entry.recorded = unixSecondsOfRecordDate(entryBytes + record::kDate);
            const std::size_t systemUse =
                record::kName + nameLength + (nameLength % 2 == 0 ? 1 : 0);
            const std::uint8_t* xa = entryBytes + systemUse;
            if (systemUse + kXaSystemUseSize <= length && xa[record::kXaSignature] == 'X' &&
                xa[record::kXaSignature + 1] == 'A')
                entry.form2 =
                    (xa[record::kXaAttributes] << 8 | xa[record::kXaAttributes + 1]) & kXaForm2Bit;
            found.push_back(std::move(entry));
        }
    }
    return found;
}

std::optional<DiscFile> FileSystem::find(std::string_view path, const DiscFile& root, bool joliet) {
    const std::vector<std::string_view> parts = componentsOf(path);
    if (parts.size() > kMaxPathDepth)
        throw DiscError("the path has more than " + std::to_string(kMaxPathDepth) + " parts");
    DiscFile current = root;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!current.directory)
            return std::nullopt;
        const std::vector<DiscFile> inFolder = entries(current, joliet);
        const DiscFile* match = nullptr;
        if (joliet) {
            const std::string wanted = withoutVersion(std::string(parts[i]));
            for (const DiscFile& entry : inFolder)
                if (withoutVersion(entry.name) == wanted) {
                    match = &entry;
                    break;
                }
            for (const DiscFile& entry : inFolder)
                if (!match && asciiUpperCase(withoutVersion(entry.name)) == asciiUpperCase(wanted))
                    match = &entry;
        } else {
            const std::string wanted = comparableIdentifier(std::string(parts[i]));
            for (const DiscFile& entry : inFolder)
                if (comparableIdentifier(entry.name) == wanted) {
                    match = &entry;
                    break;
                }
        }
        if (!match)
            return std::nullopt;
        current = *match;
    }
    checkExtent(current, path);
    return current;
}

void FileSystem::checkExtent(const DiscFile& file, std::string_view path) const {
    if (std::uint64_t(file.lba) + file.sectors > m_lastSector)
        throw DiscError("\"" + std::string(path) + "\" claims sectors " + std::to_string(file.lba) +
                        " to " + std::to_string(std::uint64_t(file.lba) + file.sectors - 1) +
                        ", past the end of the volume (" + std::to_string(m_lastSector) +
                        " sectors)");
}

std::vector<TreeFile> FileSystem::filesBelow(const DiscFile& folder, bool joliet,
                                             std::vector<TreeFile>* folders) {
    struct Pending {
        DiscFile folder;
        std::string path;
        std::size_t depth;
    };
    std::vector<TreeFile> found;
    std::unordered_set<std::uint32_t> entered{folder.lba};
    std::vector<Pending> pending{{folder, {}, 0}};
    std::size_t walked = 0;
    while (!pending.empty()) {
        const Pending current = std::move(pending.back());
        pending.pop_back();
        std::vector<Pending> below;
        for (DiscFile& entry : entries(current.folder, joliet)) {
            if (++walked > kMaxTreeEntries)
                throw DiscError("the folders hold more than " + std::to_string(kMaxTreeEntries) +
                                " entries");
            std::string path = current.path.empty() ? entry.name : current.path + '/' + entry.name;
            if (!entry.directory) {
                found.push_back({std::move(path), std::move(entry)});
                continue;
            }
            if (current.depth + 1 >= kMaxPathDepth || !entered.insert(entry.lba).second)
                continue;
            if (folders)
                folders->push_back({path, entry});
            below.push_back({std::move(entry), std::move(path), current.depth + 1});
        }
        // Depth first, folders in the order they are recorded.
        pending.insert(pending.end(), std::make_move_iterator(below.rbegin()),
                       std::make_move_iterator(below.rend()));
    }
    return found;
}

std::optional<DiscFile> FileSystem::findPrimary(std::string_view path) {
    return find(path, m_primaryRoot, false);
}

std::optional<DiscFile> FileSystem::findJoliet(std::string_view path) {
    if (!m_jolietRoot)
        return std::nullopt;
    return find(path, *m_jolietRoot, true);
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
