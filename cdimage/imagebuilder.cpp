#include "cdimage/imagebuilder.h"

#include "cdimage/filefacts.h"
#include "cdimage/filelist.h"
#include "cdimage/iso9660.h"
#include "cdimage/names.h"
#include "cdimage/parallelsums.h"
#include "cdimage/paths.h"
#include "cdimage/sector.h"
#include "cdimage/sha256.h"
#include "cdimage/stopsignals.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>
#include <unordered_map>

namespace cdimage {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSystemAreaSectors = 16;
constexpr std::uint32_t kLittleEndianPathTableLba = 18;
constexpr std::uint32_t kBigEndianPathTableLba = 19;
constexpr std::uint32_t kRootLba = 20;
constexpr std::uint32_t kMinimumTrackSectors = 300;
constexpr std::size_t kSectorsPerChunk = 128; // written at once; small chunks stay in the cache

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::uint32_t sectorsFor(std::uint64_t bytes, std::size_t perSector) {
    return std::uint32_t((bytes + perSector - 1) / perSector);
}

struct StoredFile {
    fs::path path;
    std::string originalName;
    std::string identifier; // without ";1"
    std::uint64_t length = 0;
    std::uint32_t lba = 0;
    std::uint32_t sectors = 0;
};

// The image file being written, sector after sector, through a buffer of whole sectors.
class SectorWriter {
public:
    explicit SectorWriter(const fs::path& path)
        : m_path(path)
        , m_out(path, std::ios::binary | std::ios::trunc)
        , m_buffer(kSectorsPerChunk * kRawSectorSize) {
        if (!m_out)
            throw BuildError("cannot create " + quoted(path));
    }

    std::uint32_t lba() const { return m_lba; }

    void form1(std::uint8_t submode, const std::uint8_t* data, std::size_t size) {
        const Slot slot = next();
        writeForm1(slot.sector, slot.lba, submode, data, size);
    }
    void form2(std::uint8_t submode, const std::uint8_t* data, std::size_t size) {
        const Slot slot = next();
        writeForm2(slot.sector, slot.lba, submode, data, size);
    }
    // Writes `data` as consecutive Form 1 sectors; the last one ends the record and the file.
    void form1Extent(const std::vector<std::uint8_t>& data) {
        const std::uint32_t count =
            std::max<std::uint32_t>(1, sectorsFor(data.size(), kForm1DataSize));
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t offset = i * kForm1DataSize;
            const std::uint8_t submode = i + 1 == count ? Data | EndOfRecord | EndOfFile : Data;
            form1(submode, data.data() + std::min(offset, data.size()),
                  data.size() > offset ? data.size() - offset : 0);
        }
    }
    void finish() {
        flush();
        m_out.close();
        if (!m_out)
            throw BuildError("cannot finish writing " + quoted(m_path) + " (is the disk full?)");
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
    void flush() {
        m_out.write(reinterpret_cast<const char*>(m_buffer.data()),
                    std::streamsize(m_used * kRawSectorSize));
        if (!m_out)
            throw BuildError("cannot write " + quoted(m_path) + " (is the disk full?)");
        m_used = 0;
    }

    fs::path m_path;
    std::ofstream m_out;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_used = 0;
    std::uint32_t m_lba = 0;
};

// Removes the files it holds unless told the build succeeded.
class TemporaryFiles {
public:
    ~TemporaryFiles() {
        std::error_code ignored;
        for (const fs::path& path : m_paths)
            fs::remove(path, ignored);
    }
    fs::path add(const fs::path& path) {
        m_paths.push_back(path);
        return path;
    }
    void keep() { m_paths.clear(); }

private:
    std::vector<fs::path> m_paths;
};

// Whole Form 2 sectors, few enough that a chunk is still in the cache when it is used.
constexpr std::size_t kReadChunkSize = 128 * kForm2DataSize;

std::vector<StoredFile> collectFiles(const std::vector<fs::path>& paths) {
    if (paths.empty())
        throw BuildError("no file to store");
    std::vector<StoredFile> files;
    std::map<std::string, fs::path> byIdentifier{{std::string(kFileListIdentifier), {}}};
    std::unordered_map<std::string, fs::path> byIdentity; // one entry per file, whatever its names
    for (const fs::path& path : paths) {
        std::error_code error;
        FileFacts facts;
        if (!lookAt(path, facts, error))
            throw BuildError(quoted(path) + ": " + error.message());
        if (!facts.regular)
            throw BuildError(quoted(path) + ": not a file that can be stored");
        const std::uint64_t length = facts.size;
        if (const auto [earlier, added] = byIdentity.emplace(facts.identity, path); !added)
            throw BuildError("the same file is listed twice: " + quoted(earlier->second) + " and " +
                             quoted(path));
        StoredFile file{path,
                        utf8(path.filename()),
                        fileIdentifier(utf8(path.filename())),
                        length,
                        0,
                        sectorsFor(length, kForm2DataSize)};
        const auto [clash, added] = byIdentifier.emplace(file.identifier, path);
        if (!added) {
            if (clash->second.empty())
                throw BuildError(quoted(path) + " would be stored as " + file.identifier +
                                 ", the name of the file list");
            throw BuildError(quoted(clash->second) + " and " + quoted(path) +
                             " would both be stored as " + file.identifier);
        }
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) {
        return precedesInDirectory(a.identifier, b.identifier);
    });
    return files;
}

} // namespace

ImagePaths imagePaths(std::string imageName) {
    const std::string ending =
        lowerCase(imageName.size() >= 4 ? imageName.substr(imageName.size() - 4) : "");
    if (ending == ".bin" || ending == ".cue")
        imageName.resize(imageName.size() - 4);
    if (imageName.empty())
        throw BuildError("the image needs a name");
    return {fs::path(imageName + ".bin"), fs::path(imageName + ".cue"),
            fs::path(imageName + ".toc")};
}

std::string cueSheet(const std::string& binFileName) {
    return "FILE \"" + binFileName + "\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n";
}

std::string cdrdaoToc(const std::string& binFileName) {
    return "CD_ROM_XA\n\nTRACK MODE2_RAW\nDATAFILE \"" + binFileName + "\"\n";
}

BuildResult buildImage(const BuildRequest& request) {
    BuildResult result;
    const ImagePaths paths = imagePaths(request.imageName);
    result.bin = paths.bin;
    result.cue = paths.cue;
    result.toc = paths.toc;
    result.volumeIdentifier = volumeIdentifier(request.volumeName);
    if (result.volumeIdentifier.empty())
        throw BuildError("the volume needs a name");
    if (!request.force) {
        for (const fs::path& path : {result.bin, result.cue, result.toc}) {
            std::error_code error;
            if (fs::exists(path, error))
                throw BuildError(quoted(path) + " exists already; give --force to replace it");
        }
    }

    std::vector<StoredFile> files = collectFiles(request.files);
    const Timestamp now = Timestamp::now();

    // Where everything goes: the directory first, then the files, then the file list.
    std::vector<ListedFile> listed;
    for (const StoredFile& file : files)
        listed.push_back(
            {file.identifier, file.length, std::string(kSha256HexLength, '0'), file.originalName});
    const std::size_t listLength = formatFileList(listed).size();
    const auto recordsFor = [&](std::uint32_t directorySectors, std::uint32_t listLba) {
        std::vector<std::vector<std::uint8_t>> records;
        const std::uint32_t directoryLength = directorySectors * 2048;
        records.push_back(encodeRecord(
            {std::string(1, '\0'), kRootLba, directoryLength, true, XaDirectory}, now));
        records.push_back(encodeRecord(
            {std::string(1, '\1'), kRootLba, directoryLength, true, XaDirectory}, now));
        std::vector<DirectoryRecord> entries;
        for (const StoredFile& file : files)
            entries.push_back(
                {file.identifier + ";1", file.lba, file.sectors * 2048u, false, XaForm2File});
        entries.push_back({std::string(kFileListIdentifier) + ";1", listLba,
                           std::uint32_t(listLength), false, XaForm1File});
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryRecord& a, const DirectoryRecord& b) {
                      return precedesInDirectory(a.identifier, b.identifier);
                  });
        for (const DirectoryRecord& entry : entries)
            records.push_back(encodeRecord(entry, now));
        return records;
    };
    const std::uint32_t directorySectors =
        std::uint32_t(layOutDirectory(recordsFor(1, 0)).size() / 2048);
    std::uint32_t lba = kRootLba + directorySectors;
    for (StoredFile& file : files) {
        file.lba = lba;
        lba += file.sectors;
        result.bytes += file.length;
    }
    result.files = files.size();
    const std::uint32_t listLba = lba;
    const std::uint32_t listSectors = sectorsFor(listLength, kForm1DataSize);
    const std::uint64_t usedSectors = std::uint64_t(listLba) + listSectors;
    if (usedSectors > kMaxSectors)
        throw BuildError("the files need " + std::to_string(usedSectors) +
                         " sectors; a disc addresses at most " + std::to_string(kMaxSectors));
    result.sectors = std::max(std::uint32_t(usedSectors), kMinimumTrackSectors);
    if (result.sectors > kEightyMinuteSectors && request.warn)
        request.warn("the image holds " + std::to_string(result.sectors) +
                     " sectors, more than an 80-minute CD (" +
                     std::to_string(kEightyMinuteSectors) + ")");

    TemporaryFiles temporary;
    const fs::path partialBin = temporary.add(fs::path(result.bin).concat(".partial"));
    const fs::path partialCue = temporary.add(fs::path(result.cue).concat(".partial"));
    const fs::path partialToc = temporary.add(fs::path(result.toc).concat(".partial"));
    SectorWriter image(partialBin);

    for (std::uint32_t i = 0; i < kSystemAreaSectors; ++i)
        image.form1(Data, nullptr, 0);
    VolumeDescriptor volume;
    volume.volumeIdentifier = result.volumeIdentifier;
    volume.volumeSectors = result.sectors;
    volume.pathTableSize = 10;
    volume.littleEndianPathTableLba = kLittleEndianPathTableLba;
    volume.bigEndianPathTableLba = kBigEndianPathTableLba;
    volume.root = {std::string(1, '\0'), kRootLba, directorySectors * 2048, true, XaDirectory};
    volume.created = now;
    const auto descriptor = primaryVolumeDescriptor(volume);
    image.form1(Data | EndOfRecord, descriptor.data(), descriptor.size());
    const auto terminator = volumeDescriptorSetTerminator();
    image.form1(Data | EndOfRecord | EndOfFile, terminator.data(), terminator.size());
    image.form1Extent(rootPathTable(kRootLba, false));
    image.form1Extent(rootPathTable(kRootLba, true));
    image.form1Extent(layOutDirectory(recordsFor(directorySectors, listLba)));

    // This thread reads the files and writes their sectors while another one sums them.
    ParallelSums summing;
    for (std::size_t index = 0; index < files.size(); ++index) {
        const StoredFile& file = files[index];
        const auto tell = [&] {
            if (request.progress)
                request.progress(image.lba(), result.sectors, index + 1, files.size(),
                                 file.originalName);
        };
        tell();
        std::ifstream in(file.path, std::ios::binary);
        if (!in)
            throw BuildError("cannot open " + quoted(file.path));
        std::uint32_t sector = 0;
        for (std::uint64_t remaining = file.length; remaining > 0;) {
            std::vector<std::uint8_t> chunk = summing.spare();
            chunk.resize(std::size_t(std::min<std::uint64_t>(remaining, kReadChunkSize)));
            in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize(chunk.size()));
            if (std::size_t(in.gcount()) != chunk.size())
                throw BuildError(quoted(file.path) +
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
        if (in.peek() != std::char_traits<char>::eof())
            throw BuildError(quoted(file.path) + " grew while it was read");
        summing.endFile();
    }
    const std::vector<std::string> sums = summing.sums();
    for (std::size_t index = 0; index < files.size(); ++index)
        listed[index].sha256 = sums[index];

    const std::string list = formatFileList(listed);
    image.form1Extent(std::vector<std::uint8_t>(list.begin(), list.end()));
    while (image.lba() < result.sectors)
        image.form1(Data, nullptr, 0);
    image.finish();

    const auto writeText = [](const fs::path& partial, const fs::path& path,
                              const std::string& text) {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            throw BuildError("cannot write " + quoted(path));
    };
    const std::string binName = utf8(result.bin.filename());
    writeText(partialCue, result.cue, cueSheet(binName));
    writeText(partialToc, result.toc, cdrdaoToc(binName));
    std::error_code error;
    fs::rename(partialBin, result.bin, error);
    if (!error)
        fs::rename(partialCue, result.cue, error);
    if (!error)
        fs::rename(partialToc, result.toc, error);
    if (error) {
        const std::string reason = error.message();
        for (const fs::path& path : {result.bin, result.cue})
            fs::remove(path, error);
        throw BuildError("cannot put the image in place: " + reason);
    }
    temporary.keep();
    return result;
}

} // namespace cdimage
