// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/write/imagebuilder.h"

#include "cdimage/base/names.h"
#include "cdimage/base/parallelsums.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/base/sha256.h"
#include "cdimage/base/stopsignals.h"
#include "cdimage/format/filefacts.h"
#include "cdimage/format/filelist.h"
#include "cdimage/format/iso9660.h"
#include "cdimage/read/imagefile.h"
#include "cdimage/repair/repairdata.h"
#include "cdimage/write/outputfile.h"
#include "cdimage/write/parityaswritten.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace cdimage {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSystemAreaSectors = 16;
constexpr std::uint32_t kPathTablesLba = 19; // after the two descriptors and the terminator
constexpr std::uint32_t kFirstDirectoryLba = kPathTablesLba + 4;
constexpr std::uint32_t kMinimumTrackSectors = 300;
constexpr std::size_t kSectorsPerChunk = 128; // written at once; small chunks stay in the cache
constexpr std::string_view kTool = "velmora_tolk";

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::uint64_t sectorsFor(std::uint64_t bytes, std::size_t perSector) {
    return (bytes + perSector - 1) / perSector;
}

struct StoredFile {
    fs::path path;
    FileFacts facts; // as first seen
    std::string originalName;
    std::string identifier; // without ";1"
    std::u16string jolietName;
    std::uint32_t lba = 0;
    std::uint32_t sectors = 0;
    std::int64_t modified = 0; // seconds after 1970, UTC
    Timestamp recorded;        // the same as its records say it
};

// The image file being written, sector after sector, through a buffer of whole sectors.
class SectorWriter {
public:
    explicit SectorWriter(OutputFile& out)
        : m_out(out)
        , m_buffer(kSectorsPerChunk * kRawSectorSize) {}

    std::uint32_t lba() const { return m_lba; }
    // From here on, the symbol of every sector that the repair data covers goes to `parity`.
    void protectInto(ParityBuilder& parity) { m_parity = &parity; }
    // Each time sectors reach the file, `written` is told how many are there.
    void tellWritten(std::function<void(std::uint32_t)> written) { m_written = std::move(written); }

    // A sector of up to 2,048 bytes of `data`, zeros after them.
    void form1(std::uint8_t submode, const std::uint8_t* data, std::size_t size) {
        size = std::min(size, kForm1DataSize);
        const Slot slot = next();
        writeForm1(slot.sector, slot.lba, submode, data, size);
        protect(slot.lba, data, size);
    }
    // A sector of up to 2,324 bytes of `data`, zeros after them.
    void form2(std::uint8_t submode, const std::uint8_t* data, std::size_t size) {
        size = std::min(size, kForm2DataSize);
        const Slot slot = next();
        writeForm2(slot.sector, slot.lba, submode, data, size);
        protect(slot.lba, data, size);
    }
    // Writes `data` as consecutive Form 1 sectors, 2,048 bytes each; the last one ends the
    // record and the file.
    void form1Extent(const std::vector<std::uint8_t>& data) {
        const std::uint64_t count =
            std::max<std::uint64_t>(1, sectorsFor(data.size(), kForm1DataSize));
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::size_t offset = std::min(std::size_t(i) * kForm1DataSize, data.size());
            const std::uint8_t submode = i + 1 == count ? Data | EndOfRecord | EndOfFile : Data;
            form1(submode, data.data() + offset, std::min(kForm1DataSize, data.size() - offset));
        }
    }
    // Everything written, on the storage itself.
    void finish() {
        flush();
        m_out.close(true);
    }
    // What is buffered, written to the file.
    void flush() {
        m_out.write(m_buffer.data(), m_used * kRawSectorSize);
        m_used = 0;
        if (m_written)
            m_written(m_lba);
    }

private:
    // The next sector of the buffer and the logical block it will stand at.
    struct Slot {
        std::uint8_t* sector;
        std::uint32_t lba;
    };
    Slot next() {
        if (m_used == kSectorsPerChunk)
            flush();
        return {m_buffer.data() + kRawSectorSize * m_used++, m_lba++};
    }
    // A sector's symbol is its user data, `size` bytes of which were given (at most a Form 2
    // sector's), zeros after them.
    void protect(std::uint32_t lba, const std::uint8_t* data, std::size_t size) {
        if (!m_parity || lba >= m_parity->layout().protectedSectors)
            return;
        if (size == kSymbolSize) {
            m_parity->add(lba, data);
            return;
        }
        std::memset(m_symbol, 0, kSymbolSize);
        if (data && size > 0)
            std::memcpy(m_symbol, data, std::min(size, kSymbolSize));
        m_parity->add(lba, m_symbol);
    }

    OutputFile& m_out;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_used = 0;
    std::uint32_t m_lba = 0;
    ParityBuilder* m_parity = nullptr;
    std::function<void(std::uint32_t)> m_written;
    std::uint8_t m_symbol[kSymbolSize];
};

// Whole Form 2 sectors, few enough that a chunk is still in the cache when it is used.
constexpr std::size_t kReadChunkSize = 128 * kForm2DataSize;

// One file to store as it is now: a plain file, its names, its sectors and its date.
StoredFile lookAtFile(const fs::path& path, const std::function<void(const std::string&)>& warn) {
    StoredFile file;
    file.path = path;
    std::error_code error;
    if (!lookAt(path, file.facts, error))
        throw Error(quoted(path) + ": " + error.message());
    if (!file.facts.regular)
        throw Error(quoted(path) + ": not a file that can be stored");
    file.originalName = utf8(path.filename());
    if (!fitsInFileList(file.originalName))
        throw Error(quoted(path) +
                    ": its name holds a line break or another control character, which "
                    "no CD name can keep; rename the file first");
    if (!isUtf8(file.originalName) && warn)
        warn(quoted(path) + ": its name is not UTF-8; its Joliet name has '_' for each "
                            "such byte, the file list keeps the name as it is");
    file.identifier = fileIdentifier(file.originalName);
    file.jolietName = jolietName(file.originalName);
    const std::uint64_t sectors = sectorsFor(file.facts.size, kForm2DataSize);
    if (sectors > kMaxSectors)
        throw Error(quoted(path) + " holds " + std::to_string(file.facts.size) +
                    " bytes; a disc addresses at most " + std::to_string(kMaxSectors) +
                    " sectors of 2324 bytes");
    file.sectors = std::uint32_t(sectors);
    // Its date, kept in its records and in the list (whole seconds, rounded down).
    file.modified = file.facts.modifiedSeconds;
    bool clamped = false;
    file.recorded = Timestamp::fromUnixSeconds(file.modified, clamped);
    if (clamped && warn)
        warn(quoted(path) +
             ": its date lies outside what a CD records (1900 to 2155); its "
             "records say " +
             std::to_string(file.recorded.year) + ", the file list keeps the date itself");
    return file;
}

// "the file list, VELMORA.LST"
std::string ownFileName(const std::string& identifier) {
    return (identifier == kFileListIdentifier ? "the file list, " : "the repair data, ") +
           identifier;
}

std::vector<StoredFile> collectFiles(const std::vector<fs::path>& paths,
                                     const std::function<void(const std::string&)>& warn,
                                     std::vector<std::string>& renamed) {
    if (paths.empty())
        throw Error("no file to store");
    std::vector<StoredFile> files;
    // The image's own files: their names are taken.
    std::map<std::string, fs::path> byIdentifier;
    std::map<std::u16string, fs::path> byJolietName;
    for (const std::string_view own :
         {kFileListIdentifier, kParityIdentifier, kRepairHeaderIdentifier}) {
        byIdentifier.emplace(own, fs::path());
        byJolietName.emplace(std::u16string(own.begin(), own.end()), fs::path());
    }
    std::unordered_map<std::string, fs::path> byIdentity; // one entry per file, whatever its names
    for (const fs::path& path : paths) {
        StoredFile file = lookAtFile(path, warn);
        if (const auto [earlier, added] = byIdentity.emplace(file.facts.identity, path); !added)
            throw Error("the same file is listed twice: " + quoted(earlier->second) + " and " +
                        quoted(path));
        const auto [clash, added] = byIdentifier.emplace(file.identifier, path);
        const auto [jolietClash, jolietAdded] = byJolietName.emplace(file.jolietName, path);
        if (!added && clash->second.empty())
            throw Error(quoted(path) + " would be stored under the name of " +
                        ownFileName(clash->first));
        if (!jolietAdded && jolietClash->second.empty())
            throw Error(
                quoted(path) + " would be stored under the name of " +
                ownFileName(std::string(jolietClash->first.begin(), jolietClash->first.end())));
        // Names that only their mapping makes alike (é and ü are both '_', case is one) are
        // told apart by a number, the original names kept whole in Joliet and in the list.
        for (unsigned number = 1; !added && number <= paths.size() + 1; ++number)
            if (const std::string numbered = numberedIdentifier(file.identifier, number);
                byIdentifier.emplace(numbered, path).second) {
                renamed.push_back(numbered + " (" + file.originalName + ")");
                file.identifier = numbered;
                break;
            }
        for (unsigned number = 2; !jolietAdded && number <= paths.size() + 2; ++number)
            if (const std::u16string numbered = numberedJolietName(file.jolietName, number);
                byJolietName.emplace(numbered, path).second) {
                file.jolietName = numbered;
                break;
            }
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) {
        return precedesInDirectory(a.identifier, b.identifier);
    });
    return files;
}

// A name that would not stand whole in a cue sheet or on a command line.
bool unfitName(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        return c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

void writeText(const std::string& text, OutputFile& out) {
    out.write(text.data(), text.size());
    out.close(true);
}

} // namespace

ImagePaths imagePaths(std::string imageName) {
    const std::string ending =
        lowerCase(imageName.size() >= 4 ? imageName.substr(imageName.size() - 4) : "");
    if (ending == ".bin" || ending == ".cue")
        imageName.resize(imageName.size() - 4);
    if (imageName.empty())
        throw Error("the image needs a name");
    if (unfitName(imageName))
        throw Error("the image name may not hold a double quote or a control character");
    return {pathOfUtf8(imageName + ".bin"), pathOfUtf8(imageName + ".cue"),
            pathOfUtf8(imageName + ".toc")};
}

std::string cueSheet(const std::string& binFileName) {
    return "FILE \"" + binFileName + "\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
}

std::string cdrdaoToc(const std::string& binFileName) {
    return "CD_ROM_XA\n\nTRACK MODE2_RAW\nDATAFILE \"" + binFileName + "\"\n";
}

namespace {

// Where everything stands in the image: the two folders (ISO 9660 and Joliet), then the files,
// then the file list.
struct Layout {
    std::uint32_t primaryRootLba = kFirstDirectoryLba;
    std::uint32_t primarySectors = 0;
    std::uint32_t jolietRootLba = 0;
    std::uint32_t jolietSectors = 0;
    std::uint32_t listLba = 0;
    std::uint32_t listLength = 0;
    std::uint32_t listSectors = 0;
    std::optional<ListedRepair> repair; // where the repair data lies, when there is some
    std::uint32_t sectors = 0;          // of the track
};

RepairLayout repairLayoutOf(const ListedRepair& repair) {
    return {repair.parity, repair.protectedSectors, repair.bandLength};
}

std::vector<std::uint8_t> folderExtent(const std::vector<StoredFile>& files, const Layout& layout,
                                       bool joliet, const Timestamp& now) {
    const std::uint32_t lba = joliet ? layout.jolietRootLba : layout.primaryRootLba;
    const std::uint32_t length =
        (joliet ? layout.jolietSectors : layout.primarySectors) * std::uint32_t(kLogicalBlockSize);
    std::vector<std::vector<std::uint8_t>> records;
    records.push_back(encodeRecord({std::string(1, '\0'), lba, length, true, XaDirectory}, now));
    records.push_back(encodeRecord({std::string(1, '\1'), lba, length, true, XaDirectory}, now));
    struct Entry {
        std::u16string jolietName;
        DirectoryRecord record;
        Timestamp recorded;
    };
    std::vector<Entry> entries;
    for (const StoredFile& file : files)
        entries.push_back(
            {file.jolietName,
             {joliet ? bigEndianUcs2(file.jolietName) : file.identifier + ";1", file.lba,
              file.sectors * std::uint32_t(kLogicalBlockSize), false, XaForm2File},
             file.recorded});
    const std::string list(kFileListIdentifier);
    const std::u16string jolietList(list.begin(), list.end());
    entries.push_back({jolietList,
                       {joliet ? bigEndianUcs2(jolietList) : list + ";1", layout.listLba,
                        layout.listLength, false, XaForm1File},
                       now});
    if (layout.repair) {
        const RepairLayout code = repairLayoutOf(*layout.repair);
        const auto add = [&](std::string_view name, std::uint32_t start, std::uint32_t sectors,
                             std::uint16_t attributes) {
            const std::u16string jolietOwn(name.begin(), name.end());
            entries.push_back({jolietOwn,
                               {joliet ? bigEndianUcs2(jolietOwn) : std::string(name) + ";1", start,
                                sectors * std::uint32_t(kLogicalBlockSize), false, attributes},
                               now});
        };
        add(kParityIdentifier, layout.repair->parityLba, code.paritySectors(), XaForm2File);
        add(kRepairHeaderIdentifier, layout.repair->headerLbas[0], code.headerSectors(),
            XaForm1File);
    }
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        return joliet ? a.jolietName < b.jolietName
                      : precedesInDirectory(a.record.identifier, b.record.identifier);
    });
    for (const Entry& entry : entries)
        records.push_back(encodeRecord(entry.record, entry.recorded));
    return layOutDirectory(records);
}

} // namespace

std::string discFill(std::uint32_t sectors) {
    const std::uint32_t frames = sectors + kPregapFrames;
    constexpr std::uint32_t kEightyMinutes = 80 * 60 * 75;
    char text[96];
    const unsigned minutes = frames / 4500, seconds = frames / 75 % 60;
    if (frames > kEightyMinutes) // never rounded to a full disc: it does not fit on one
        std::snprintf(text, sizeof text, "%u min %02u s, over an 80-minute disc by %u sector%s",
                      minutes, seconds, frames - kEightyMinutes,
                      frames - kEightyMinutes == 1 ? "" : "s");
    else
        std::snprintf(text, sizeof text, "%u min %02u s of an 80-minute disc (%u.%u%%)", minutes,
                      seconds, unsigned(std::uint64_t(frames) * 1000 / kEightyMinutes / 10),
                      unsigned(std::uint64_t(frames) * 1000 / kEightyMinutes % 10));
    return text;
}

namespace {

// What a build writes, settled before a byte is: the names checked, the files looked at, every
// sector placed.
struct Plan {
    BuildResult result;
    std::vector<StoredFile> files;
    std::vector<ListedFile> listed; // their lines of the file list, sums still zeros
    Layout layout;
    Timestamp now;
};

// The outputs' names and the volume's, checked before anything is read.
BuildResult checkNames(const BuildRequest& request) {
    BuildResult result;
    const ImagePaths paths = imagePaths(request.imageName);
    result.bin = paths.bin;
    result.cue = paths.cue;
    result.toc = paths.toc;
    if (unfitName(request.volumeName))
        throw Error("the volume name may not hold a double quote or a control character");
    result.volumeIdentifier = volumeIdentifier(request.volumeName);
    if (result.volumeIdentifier.empty())
        throw Error("the volume needs a name");
    for (const fs::path& path : {result.bin, result.cue, result.toc})
        if (const auto why = whyNotPlaceable(path, request.force,
                                             "choose another image name or remove the old image"))
            throw Error(*why);
    return result;
}

// The repair data of `parity` bands for the sectors up to `protectedEnd`: the header's first copy
// there, the parity after it, the header's second copy as the image's last sectors. They may end
// past what a disc addresses: less repair data is then chosen.
ListedRepair repairAfter(std::uint32_t protectedEnd, int parity) {
    const RepairLayout code = RepairLayout::of(protectedEnd, parity);
    ListedRepair repair{1, parity, code.bandLength, protectedEnd, 0, {}};
    const std::uint64_t header = code.headerSectors();
    repair.headerLbas[0] = protectedEnd;
    const std::uint64_t parityLba = protectedEnd + header;
    const std::uint64_t secondCopy = std::max<std::uint64_t>(
        parityLba + code.paritySectors(), std::max<std::uint64_t>(kMinimumTrackSectors, header) -
                                              header); // a track has its least length
    repair.parityLba = std::uint32_t(parityLba);
    repair.headerLbas[1] = std::uint32_t(secondCopy);
    return repair;
}

// Every sector placed: the folders, the files, the file list, and `parity` bands of repair data
// (none for 0).
void layOut(Plan& plan, int parity) {
    BuildResult& result = plan.result;
    Layout& layout = plan.layout;
    layout = Layout();
    if (parity > 0) // the folders name its files; their places do not change the folders' size
        layout.repair = ListedRepair{1, parity, 1, 1, 0, {}};
    layout.primarySectors =
        std::uint32_t(folderExtent(plan.files, layout, false, plan.now).size() / kLogicalBlockSize);
    layout.jolietRootLba = layout.primaryRootLba + layout.primarySectors;
    layout.jolietSectors =
        std::uint32_t(folderExtent(plan.files, layout, true, plan.now).size() / kLogicalBlockSize);
    std::uint64_t lba = layout.jolietRootLba + layout.jolietSectors;
    plan.listed.clear();
    result.bytes = 0;
    for (StoredFile& file : plan.files) {
        if (lba + file.sectors > kMaxSectors)
            throw Error("the files need more than the " + std::to_string(kMaxSectors) +
                        " sectors a disc addresses (99:59:74)");
        file.lba = std::uint32_t(lba);
        lba += file.sectors;
        result.bytes += file.facts.size;
        plan.listed.push_back({file.identifier, file.facts.size, std::string(kSha256HexLength, '0'),
                               file.originalName, file.lba, file.modified});
    }
    result.files = plan.files.size();
    layout.listLba = std::uint32_t(lba);
    // The list names where the repair data lies, after the list: the list's length and those
    // places are settled together, the list growing until its record fits.
    for (std::uint32_t listSectors = 0;;) {
        const std::uint64_t protectedEnd = lba + listSectors;
        if (protectedEnd > kMaxSectors)
            throw Error("the files need " + std::to_string(protectedEnd) +
                        " sectors; a disc addresses at most " + std::to_string(kMaxSectors));
        if (parity > 0)
            layout.repair = repairAfter(std::uint32_t(protectedEnd), parity);
        layout.listLength = std::uint32_t(
            formatFileList(result.volumeIdentifier, plan.listed, layout.repair).size());
        const std::uint32_t needed = std::uint32_t(
            std::max<std::uint64_t>(1, sectorsFor(layout.listLength, kForm1DataSize)));
        if (needed <= listSectors) {
            layout.listSectors = listSectors;
            break;
        }
        listSectors = needed;
    }
    const std::uint32_t protectedEnd = layout.listLba + layout.listSectors;
    result.repair = parity;
    result.protectedSectors = protectedEnd;
    result.repairSectors = 0;
    result.longestBurst = 0;
    if (layout.repair) {
        const RepairLayout code = repairLayoutOf(*layout.repair);
        result.sectors = layout.repair->headerLbas[1] + code.headerSectors();
        result.repairSectors = code.paritySectors() + 2 * code.headerSectors();
        result.longestBurst = code.longestBurst();
    } else {
        result.sectors = std::max(protectedEnd, kMinimumTrackSectors);
    }
    layout.sectors = result.sectors;
}

Plan planImage(const BuildRequest& request) {
    if (request.repair != 0 && (request.repair < kLeastParity || request.repair > kMostParity))
        throw Error("the repair data has " + std::to_string(kLeastParity) + " to " +
                    std::to_string(kMostParity) + " parity bands, not " +
                    std::to_string(request.repair));
    Plan plan{checkNames(request), {}, {}, {}, Timestamp::now()};
    plan.files = collectFiles(request.files, request.warn, plan.result.numbered);
    layOut(plan, request.repair);
    // Files that fit an 80-minute disc keep fitting, and files that fit no disc keep to the
    // sectors one addresses: less repair data, or none.
    if (plan.layout.repair) {
        const std::uint32_t disc = plan.result.protectedSectors <= kEightyMinuteSectors
                                       ? kEightyMinuteSectors
                                       : kMaxSectors;
        const int fitting = parityThatFits(plan.result.protectedSectors, request.repair, disc);
        if (fitting != request.repair)
            layOut(plan, fitting);
    }
    if (plan.result.sectors > kEightyMinuteSectors && request.warn)
        request.warn("the image holds " + std::to_string(plan.result.sectors) +
                     " sectors, more than an 80-minute CD (" +
                     std::to_string(kEightyMinuteSectors) + ")");
    return plan;
}

// The system area, the volume descriptors (ISO 9660, Joliet, terminator), the path tables and
// both root folders.
void writeFileSystem(SectorWriter& image, const Plan& plan, const std::string& volumeName) {
    const Layout& layout = plan.layout;
    for (std::uint32_t i = 0; i < kSystemAreaSectors; ++i)
        image.form1(Data, nullptr, 0);
    VolumeDescriptor volume;
    volume.volumeIdentifier = plan.result.volumeIdentifier;
    volume.volumeSectors = plan.result.sectors;
    volume.pathTableSize = 10;
    volume.littleEndianPathTableLba = kPathTablesLba;
    volume.bigEndianPathTableLba = kPathTablesLba + 1;
    volume.root = {std::string(1, '\0'), layout.primaryRootLba,
                   layout.primarySectors * std::uint32_t(kLogicalBlockSize), true, XaDirectory};
    volume.created = plan.now;
    const auto primary = primaryVolumeDescriptor(volume);
    image.form1(Data | EndOfRecord, primary.data(), primary.size());
    VolumeDescriptor jolietVolume = volume;
    jolietVolume.littleEndianPathTableLba = kPathTablesLba + 2;
    jolietVolume.bigEndianPathTableLba = kPathTablesLba + 3;
    jolietVolume.root.lba = layout.jolietRootLba;
    jolietVolume.root.length = layout.jolietSectors * std::uint32_t(kLogicalBlockSize);
    const auto joliet = jolietVolumeDescriptor(jolietVolume, jolietName(volumeName, 16));
    image.form1(Data | EndOfRecord, joliet.data(), joliet.size());
    const auto terminator = volumeDescriptorSetTerminator();
    image.form1(Data | EndOfRecord | EndOfFile, terminator.data(), terminator.size());
    image.form1Extent(rootPathTable(layout.primaryRootLba, false));
    image.form1Extent(rootPathTable(layout.primaryRootLba, true));
    image.form1Extent(rootPathTable(layout.jolietRootLba, false));
    image.form1Extent(rootPathTable(layout.jolietRootLba, true));
    image.form1Extent(folderExtent(plan.files, layout, false, plan.now));
    image.form1Extent(folderExtent(plan.files, layout, true, plan.now));
}

// One file's sectors, read a chunk at a time and handed on to be summed; a file that changes
// while it is read stops the build.
void writeFile(SectorWriter& image, const StoredFile& file, ParallelSums& summing,
               const std::function<void()>& tell) {
    tell();
    std::ifstream in(systemPath(file.path), std::ios::binary);
    if (!in)
        throw Error("cannot open " + quoted(file.path) + ": " +
                    std::generic_category().message(errno));
    std::uint32_t sector = 0;
    for (std::uint64_t remaining = file.facts.size; remaining > 0;) {
        std::vector<std::uint8_t> chunk = summing.spare();
        chunk.resize(std::size_t(std::min<std::uint64_t>(remaining, kReadChunkSize)));
        in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize(chunk.size()));
        if (std::size_t(in.gcount()) != chunk.size())
            throw Error(quoted(file.path) +
                        " could not be read whole (it shrank, or a read failed)");
        for (std::size_t offset = 0; offset < chunk.size(); offset += kForm2DataSize) {
            const bool last = ++sector == file.sectors;
            image.form2(last ? Data | EndOfRecord | EndOfFile : Data, chunk.data() + offset,
                        std::min(kForm2DataSize, chunk.size() - offset));
        }
        remaining -= chunk.size();
        summing.add(std::move(chunk));
        tell();
        stopIfAsked();
    }
    FileFacts after;
    std::error_code error;
    if (in.peek() != std::char_traits<char>::eof() || !lookAt(file.path, after, error) ||
        changedBetween(file.facts, after))
        throw Error(quoted(file.path) + " was changed while it was read; nothing was written");
    summing.endFile();
}

// Every file in Form 2 sectors, handed on to `summing`.
void writeFiles(SectorWriter& image, Plan& plan, const BuildRequest& request,
                ParallelSums& summing) {
    for (std::size_t index = 0; index < plan.files.size(); ++index) {
        const StoredFile& file = plan.files[index];
        writeFile(image, file, summing, [&] {
            if (request.progress)
                request.progress(image.lba(), plan.result.sectors, index + 1, plan.files.size(),
                                 file.originalName);
        });
    }
}

// The file list, then empty sectors up to its reserved length.
void writeFileList(SectorWriter& image, const Plan& plan) {
    const std::string list =
        formatFileList(plan.result.volumeIdentifier, plan.listed, plan.layout.repair);
    image.form1Extent(std::vector<std::uint8_t>(list.begin(), list.end()));
    while (image.lba() < plan.layout.listLba + plan.layout.listSectors)
        image.form1(Data, nullptr, 0);
}

// The repair data once every protected sector is written: the header and check table, the
// parity, and the header again as the image's last sectors.
void writeRepairData(SectorWriter& image, const Plan& plan, const ParityBuilder& parity,
                     const BuildRequest& request) {
    const ListedRepair& where = *plan.layout.repair;
    const std::vector<std::uint8_t> header =
        parity.headerFile(where.parityLba, where.headerLbas, plan.now.unixSeconds(),
                          std::string(kTool) + " " + VELMORA_VERSION);
    image.form1Extent(header);
    const std::uint32_t sectors = parity.layout().paritySectors();
    for (std::uint32_t index = 0; index < sectors; ++index) {
        const bool last = index + 1 == sectors;
        image.form2(last ? Data | EndOfRecord | EndOfFile : Data, parity.parity(index),
                    kSymbolSize);
        if (request.progress && (index % 1024 == 0 || last))
            request.progress(image.lba(), plan.result.sectors, plan.files.size(), plan.files.size(),
                             "repair data");
    }
    while (image.lba() < where.headerLbas[1])
        image.form1(Data, nullptr, 0);
    image.form1Extent(header);
}

// Empty sectors up to the track's least length.
void writeTrackEnd(SectorWriter& image, const Plan& plan) {
    while (image.lba() < plan.result.sectors)
        image.form1(Data, nullptr, 0);
    image.finish();
}

// The parity of the image's protected sectors, encoded as they are written: bands whole on the
// file are read back from it on a thread of its own while this one writes the next ones.
std::unique_ptr<ParityAsWritten> encodeAsWritten(SectorWriter& image, const OutputFile& binFile,
                                                 const Plan& plan) {
    if (!plan.layout.repair)
        return nullptr;
    ImageTrack track;
    track.dataFile = binFile.temporaryPath();
    auto encoding = std::make_unique<ParityAsWritten>(
        repairLayoutOf(*plan.layout.repair), [track] { return std::make_unique<ImageFile>(track); },
        stopIfAsked);
    image.tellWritten([&encoding = *encoding](std::uint32_t end) { encoding.written(end); });
    return encoding;
}

// The parity of every sector written so far: the bands not yet encoded are, on every core while
// the last sums finish; the sectors written from here on (the file list's) go into it one by one.
std::unique_ptr<ParityBuilder> parityOfWritten(SectorWriter& image, ParityAsWritten& encoding,
                                               const Plan& plan, const BuildRequest& request) {
    image.flush();
    image.tellWritten({});
    if (request.progress)
        request.progress(image.lba(), plan.result.sectors, plan.files.size(), plan.files.size(),
                         "repair data");
    std::unique_ptr<ParityBuilder> parity =
        encoding.finish(image.lba(), std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    image.protectInto(*parity);
    return parity;
}

// The cue sheet and the table of contents written, then all three put in place.
void placeOutputs(OutputFile& binFile, const BuildResult& result, bool force) {
    const std::string binName = utf8(result.bin.filename());
    OutputFile cueFile(result.cue, kTool);
    writeText(cueSheet(binName), cueFile);
    OutputFile tocFile(result.toc, kTool);
    writeText(cdrdaoToc(binName), tocFile);
    // The .bin first: of two builds of one name at once, the one that places it first places
    // the others too; the other finds it there and stops, its own files gone.
    binFile.place(result.bin, force);
    try {
        cueFile.place(result.cue, force);
        tocFile.place(result.toc, force);
    } catch (const Error&) {
        std::error_code ignored;
        fs::remove(result.bin, ignored); // placed by this build a moment ago
        throw;
    }
}

} // namespace

BuildResult buildImage(const BuildRequest& request) {
    Plan plan = planImage(request);
    for (const fs::path& output : {plan.result.bin, plan.result.cue, plan.result.toc})
        removeStaleTemporaries(output, kTool);
    OutputFile binFile(plan.result.bin, kTool);
    SectorWriter image(binFile);
    // This thread reads the files and writes their sectors while another one sums them and a
    // third encodes the parity of what is written.
    const std::unique_ptr<ParityAsWritten> encoding = encodeAsWritten(image, binFile, plan);
    writeFileSystem(image, plan, request.volumeName);
    ParallelSums summing;
    writeFiles(image, plan, request, summing);
    const std::unique_ptr<ParityBuilder> parity =
        encoding ? parityOfWritten(image, *encoding, plan, request) : nullptr;
    const std::vector<std::string> sums = summing.sums();
    for (std::size_t index = 0; index < plan.files.size(); ++index)
        plan.listed[index].sha256 = sums[index];
    writeFileList(image, plan);
    if (parity)
        writeRepairData(image, plan, *parity, request);
    writeTrackEnd(image, plan);
    placeOutputs(binFile, plan.result, request.force);
    return plan.result;
}

} // namespace cdimage
