// dat2file: gives back the exact files stored in Mode 2 Form 2 sectors, from a RIFF "CDXA"
// file (the way Windows presents such a file of a CD), from a file of a mounted CD, or from a
// file inside an image (BIN/CUE, cdrdao TOC, NRG). When the file list that velmora_tolk stores in
// the root of every image is found, the output is cut to the file's exact length and its SHA-256 is
// checked.

#include "cdimage/filelist.h"
#include "cdimage/mappedfile.h"
#include "cdimage/parallelsums.h"
#include "cdimage/paths.h"
#include "cdimage/progress.h"
#include "cdimage/riff.h"
#include "cdimage/sector.h"
#include "cdimage/stopsignals.h"

#include <cdio/bytesex.h>
#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/xa.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;
using cdimage::quoted;
using cdimage::utf8;

namespace {

constexpr const char* kUsage =
    "usage: dat2file [--force] SOURCE DESTINATION\n"
    "       dat2file [--force] --image IMAGE.cue PATH DESTINATION\n"
    "       dat2file --list IMAGE.cue\n"
    "\n"
    "Writes the file stored in Mode 2 Form 2 sectors to DESTINATION. SOURCE is a RIFF CDXA\n"
    "file, or a file of a mounted CD; with --image, PATH names a file inside an image given by\n"
    "its cue sheet (.cue), its cdrdao table of contents (.toc) or as a Nero image (.nrg).\n"
    "With the image's file list the output has the file's exact length and its SHA-256 is\n"
    "checked: a damaged copy is written as DESTINATION.damaged and the exit status is 3.\n"
    "Without the list the output is whole sectors of 2324 bytes.\n"
    "\n"
    "  --force     replace an existing DESTINATION\n"
    "  --list      the files of an image: name, exact length, SHA-256, original name\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "While it works it writes progress lines on standard error, one each time they change:\n"
    "  dat2file: progress PERCENT%\n"
    "PERCENT counts the file's sectors read. On a terminal they replace one another on one\n"
    "line. At the end one line says what was written, or why nothing was. SIGINT and SIGTERM\n"
    "stop it and remove what it had half-written.\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments, 3 a damaged copy.\n";

enum ExitStatus { Done = 0, Failed = 1, Usage = 2, Damaged = 3 };

constexpr std::size_t kSectorsPerChunk = 64; // read at once; small chunks stay in the cache

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A name as the list and the CD know it: upper case, without version and without a final dot.
std::string comparable(std::string name) {
    if (const std::size_t version = name.find(';'); version != std::string::npos)
        name.resize(version);
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return name;
}

std::optional<cdimage::ListedFile>
entryFor(const std::optional<std::vector<cdimage::ListedFile>>& list, const std::string& name) {
    if (!list)
        return std::nullopt;
    for (const cdimage::ListedFile& file : *list)
        if (comparable(file.identifier) == comparable(name))
            return file;
    return std::nullopt;
}

// The destination, written under a temporary name and put in place only when complete.
class Destination {
public:
    Destination(fs::path path, bool force)
        : m_path(std::move(path))
        , m_partial(fs::path(m_path).concat(".partial")) {
        std::error_code error;
        if (!force && fs::exists(m_path, error))
            throw Failure(quoted(m_path) + " exists already; give --force to replace it");
        if (m_path.has_parent_path())
            fs::create_directories(m_path.parent_path(), error);
        if (error)
            throw Failure("cannot make the folder " + quoted(m_path.parent_path()) + ": " +
                          error.message());
        m_out.open(m_partial, std::ios::binary | std::ios::trunc);
        if (!m_out)
            throw Failure("cannot create " + quoted(m_partial));
    }
    ~Destination() {
        if (!m_committed) {
            m_out.close();
            std::error_code ignored;
            fs::remove(m_partial, ignored);
        }
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    const fs::path& partial() const { return m_partial; }

    void write(const std::uint8_t* data, std::size_t size) {
        m_out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        if (!m_out)
            throw Failure("cannot write " + quoted(m_partial) + " (is the disk full?)");
    }
    // Puts the output in place: under its name, or with ".damaged" added. Returns where.
    fs::path commit(bool damaged) {
        m_out.close();
        if (!m_out)
            throw Failure("cannot finish writing " + quoted(m_partial) + " (is the disk full?)");
        const fs::path target = damaged ? fs::path(m_path).concat(".damaged") : m_path;
        std::error_code error;
        fs::rename(m_partial, target, error);
        if (error)
            throw Failure("cannot put " + quoted(target) + " in place: " + error.message());
        m_committed = true;
        return target;
    }

private:
    fs::path m_path;
    fs::path m_partial;
    std::ofstream m_out;
    bool m_committed = false;
};

// Takes the data of the file's sectors in order and writes the file: whole sectors, or, with
// its entry in the file list, exactly its length, checked against its SHA-256. Another thread
// sums what this one writes.
class Extraction {
public:
    Extraction(Destination& destination, std::optional<cdimage::ListedFile> entry)
        : m_destination(destination)
        , m_entry(std::move(entry)) {
        if (m_entry) // only a listed file has a sum to check
            m_sums.emplace();
    }

    void sector(const std::uint8_t* data) {
        std::size_t size = cdimage::kForm2DataSize;
        if (m_entry)
            size = std::size_t(std::min<std::uint64_t>(
                size, m_entry->length - std::min(m_entry->length, m_written)));
        m_chunk.insert(m_chunk.end(), data, data + size);
        m_written += size;
        if (m_chunk.size() >= kChunkSize)
            pass();
    }

    // Reports what was written; returns the exit status.
    int finish(const std::string& source, std::uint64_t badSectors) {
        pass();
        if (m_sums)
            m_sums->endFile();
        std::string problem;
        if (m_entry && m_written < m_entry->length)
            problem = "the copy holds " + std::to_string(m_written) +
                      " bytes, the file list says " + std::to_string(m_entry->length);
        else if (m_sums && m_sums->sums().front() != m_entry->sha256)
            problem = "its SHA-256 differs from the one in the file list";
        if (badSectors > 0)
            problem += (problem.empty() ? "" : ", and ") + std::to_string(badSectors) +
                       " sector(s) fail their EDC check";
        const fs::path written = m_destination.commit(!problem.empty());
        if (!problem.empty()) {
            std::fprintf(stderr, "dat2file: %s is a damaged copy: %s; written as %s\n",
                         source.c_str(), problem.c_str(), quoted(written).c_str());
            return Damaged;
        }
        if (!m_entry) {
            std::fprintf(stderr,
                         "dat2file: no file list names %s: %s holds whole sectors (%llu bytes), "
                         "its exact length is not known\n",
                         source.c_str(), quoted(written).c_str(),
                         static_cast<unsigned long long>(m_written));
            return Done;
        }
        std::printf("dat2file: wrote %s: %llu bytes, SHA-256 checked against the file list\n",
                    quoted(written).c_str(), static_cast<unsigned long long>(m_written));
        return Done;
    }

private:
    static constexpr std::size_t kChunkSize = kSectorsPerChunk * cdimage::kForm2DataSize;

    // Writes the data gathered so far and hands it to the summing thread, if any.
    void pass() {
        m_destination.write(m_chunk.data(), m_chunk.size());
        if (!m_sums) {
            m_chunk.clear();
            return;
        }
        m_sums->add(std::move(m_chunk));
        m_chunk = m_sums->spare();
    }

    Destination& m_destination;
    std::optional<cdimage::ListedFile> m_entry;
    std::optional<cdimage::ParallelSums> m_sums;
    std::vector<std::uint8_t> m_chunk;
    std::uint64_t m_written = 0;
};

// ---- RIFF CDXA files

std::optional<std::vector<cdimage::ListedFile>> listNear(const fs::path& source) {
    std::error_code error;
    fs::path folder = fs::absolute(source, error).parent_path();
    for (;;) {
        for (const char* name : {"VELMORA.LST", "velmora.lst", "VELMORA.LST;1"}) {
            std::ifstream in(folder / name, std::ios::binary);
            if (in) {
                const std::string text((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
                if (auto list = cdimage::parseFileList(text))
                    return list;
            }
        }
        if (!folder.has_relative_path())
            return std::nullopt;
        folder = folder.parent_path();
    }
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

int extractRiff(const fs::path& source, const fs::path& destinationPath, bool force) {
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw Failure("cannot open " + quoted(source));
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
    const std::uint64_t available = fs::file_size(source, error) - cdimage::kRiffHeaderSize;
    if (!error && available < riff.dataSize)
        throw Failure(quoted(source) + ": truncated: sector " +
                      std::to_string(available / cdimage::kRawSectorSize) + " of " +
                      std::to_string(riff.dataSize / cdimage::kRawSectorSize) + " is incomplete");

    const auto entry = entryFor(listNear(source), utf8(source.filename()));
    Destination destination(destinationPath, force);
    Extraction extraction(destination, entry);
    const std::uint64_t sectors = riff.dataSize / cdimage::kRawSectorSize;
    std::uint64_t badSectors = 0;
    std::vector<std::uint8_t> chunk(kSectorsPerChunk * cdimage::kRawSectorSize);
    cdimage::ProgressLine progress("dat2file");
    for (std::uint64_t first = 0; first < sectors; first += kSectorsPerChunk) {
        progress.report(first, sectors);
        cdimage::stopIfAsked();
        const std::size_t count =
            std::size_t(std::min<std::uint64_t>(kSectorsPerChunk, sectors - first));
        in.read(reinterpret_cast<char*>(chunk.data()),
                std::streamsize(count * cdimage::kRawSectorSize));
        if (std::size_t(in.gcount()) != count * cdimage::kRawSectorSize)
            throw Failure(
                quoted(source) + ": sector " +
                std::to_string(first + std::size_t(in.gcount()) / cdimage::kRawSectorSize) +
                " cannot be read whole");
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* sector = chunk.data() + i * cdimage::kRawSectorSize;
            if (const std::string fault = cdimage::checkForm2(sector); !fault.empty())
                throw Failure(quoted(source) + ": sector " + std::to_string(first + i) + ": " +
                              fault);
            badSectors += cdimage::form2EdcMatches(sector) ? 0 : 1;
            extraction.sector(sector + cdimage::kDataOffset);
        }
    }
    progress.report(sectors, sectors);
    progress.finish();
    return extraction.finish(quoted(source), badSectors);
}

// ---- files on a disc or in an image, through libcdio

// The libcdio driver of an image file, by its ending: a cdrdao table of contents (.toc), a
// Nero image (.nrg), else a cue sheet.
driver_id_t imageDriver(const std::string& image) {
    std::string ending = image.size() >= 4 ? image.substr(image.size() - 4) : std::string();
    for (char& c : ending)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    if (ending == ".toc")
        return DRIVER_CDRDAO;
    if (ending == ".nrg")
        return DRIVER_NRG;
    return DRIVER_BINCUE;
}

class Disc {
public:
    Disc(const std::string& source, driver_id_t driver)
        : m_cdio(open(source, driver))
        , m_rawReads(driver != DRIVER_DEVICE) {
        if (!m_cdio)
            throw Failure("cannot open \"" + source + "\" as a CD or CD image");
        if (driver == DRIVER_BINCUE)
            mapImage();
    }
    ~Disc() { cdio_destroy(m_cdio); }
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;

    struct Stat {
        std::string name;
        lsn_t lsn = 0;
        std::uint32_t sectors = 0;
        std::uint32_t size = 0;
        bool form2 = false;
    };

    std::optional<Stat> stat(const std::string& path) const {
        std::string withRoot = path.starts_with('/') ? path : "/" + path;
        iso9660_stat_t* found = iso9660_fs_stat(m_cdio, withRoot.c_str());
        if (!found)
            found = iso9660_fs_stat_translate(m_cdio, withRoot.c_str());
        if (!found && withRoot.find(';') == std::string::npos)
            found = iso9660_fs_stat(m_cdio, (withRoot + ";1").c_str());
        if (!found)
            return std::nullopt;
        Stat stat{found->filename, found->lsn, found->secsize, found->size,
                  found->b_xa && (uint16_from_be(found->xa.attributes) & XA_ATTR_MODE2FORM2)};
        if (found->type == iso9660_stat_s::_STAT_DIR)
            stat.sectors = 0;
        iso9660_stat_free(found);
        return stat;
    }

    // The file list in the disc's root, if there is one.
    std::optional<std::vector<cdimage::ListedFile>> fileList() const {
        const auto list = stat(std::string(cdimage::kFileListIdentifier) + ";1");
        if (!list || list->form2)
            return std::nullopt;
        std::vector<std::uint8_t> data(std::size_t(list->sectors) * cdimage::kForm1DataSize);
        if (list->sectors == 0 || cdio_read_mode2_sectors(m_cdio, data.data(), list->lsn, false,
                                                          list->sectors) != DRIVER_OP_SUCCESS)
            return std::nullopt;
        return cdimage::parseFileList(
            std::string_view(reinterpret_cast<const char*>(data.data()),
                             std::min<std::size_t>(list->size, data.size())));
    }

    // `count` Form 2 sectors, each from its subheader on (subheader, data, EDC), `stride` bytes
    // apart. They stay valid until the next read.
    struct Sectors {
        const std::uint8_t* first;
        std::size_t stride;
    };
    Sectors readForm2(lsn_t lsn, std::uint32_t count) {
        const std::uint64_t end = std::uint64_t(lsn) + count;
        if (m_image && lsn >= 0 && end * CDIO_CD_FRAMESIZE_RAW <= m_image->size())
            return {m_image->data() + std::uint64_t(lsn) * CDIO_CD_FRAMESIZE_RAW + kSubheaderOffset,
                    CDIO_CD_FRAMESIZE_RAW};
        const auto unreadable = [&] {
            return Failure("sectors " + std::to_string(lsn) + " to " + std::to_string(end - 1) +
                           " cannot be read");
        };
        if (m_rawReads) {
            // An image file holds the whole sectors: read them as they are stored (the image
            // drivers differ in what they make of a Mode 2 read).
            m_buffer.resize(std::size_t(count) * CDIO_CD_FRAMESIZE_RAW);
            if (cdio_read_audio_sectors(m_cdio, m_buffer.data(), lsn, count) != DRIVER_OP_SUCCESS)
                throw unreadable();
            return {m_buffer.data() + kSubheaderOffset, CDIO_CD_FRAMESIZE_RAW};
        }
        m_buffer.resize(std::size_t(count) * M2RAW_SECTOR_SIZE);
        if (cdio_read_mode2_sectors(m_cdio, m_buffer.data(), lsn, true, count) != DRIVER_OP_SUCCESS)
            throw unreadable();
        return {m_buffer.data(), M2RAW_SECTOR_SIZE};
    }

private:
    static constexpr std::size_t kSubheaderOffset = CDIO_CD_SYNC_SIZE + CDIO_CD_HEADER_SIZE;

    // A cdrdao table of contents names its data file relative to the folder it is read in, as
    // cdrdao does: it is read in its own folder, wherever dat2file was started.
    static CdIo_t* open(const std::string& source, driver_id_t driver) {
        const fs::path path(source);
        if (driver != DRIVER_CDRDAO || !path.has_parent_path())
            return cdio_open(source.c_str(), driver);
        std::error_code error;
        const fs::path here = fs::current_path(error);
        fs::current_path(path.parent_path(), error);
        if (error)
            return nullptr;
        CdIo_t* opened = cdio_open(utf8(path.filename()).c_str(), driver);
        fs::current_path(here, error);
        if (error) {
            if (opened)
                cdio_destroy(opened);
            throw Failure("cannot go back to the folder " + quoted(here) + ": " + error.message());
        }
        return opened;
    }

    // An image of one data track that starts its .bin file, as velmora_tolk writes them, holds
    // sector n at n × 2352 bytes: those sectors are used where they lie in the mapped file,
    // which spares copying every byte twice. libcdio still finds the files, and any other
    // image is read through it; so is an image whose volume descriptor is not where the
    // mapping expects it.
    void mapImage() {
        const char* bin = cdio_get_arg(m_cdio, "source");
        if (!bin || cdio_get_num_tracks(m_cdio) != 1 ||
            cdio_get_track_format(m_cdio, 1) != TRACK_FORMAT_XA ||
            cdio_get_track_lsn(m_cdio, 1) != 0)
            return;
        m_image = cdimage::MappedFile::open(bin);
        if (m_image && !mappingAgreesWithLibcdio())
            m_image.reset();
    }

    // The mapped file is as long as the track, and its volume descriptor is what libcdio reads.
    bool mappingAgreesWithLibcdio() const {
        constexpr lsn_t kVolumeDescriptor = 16;
        const std::uint64_t sectors = cdio_get_track_sec_count(m_cdio, 1);
        std::uint8_t descriptor[M2RAW_SECTOR_SIZE];
        return m_image->size() == sectors * CDIO_CD_FRAMESIZE_RAW &&
               sectors > std::uint64_t(kVolumeDescriptor) &&
               cdio_read_mode2_sector(m_cdio, descriptor, kVolumeDescriptor, true) ==
                   DRIVER_OP_SUCCESS &&
               std::memcmp(descriptor,
                           m_image->data() + kVolumeDescriptor * CDIO_CD_FRAMESIZE_RAW +
                               kSubheaderOffset,
                           sizeof descriptor) == 0;
    }

    CdIo_t* m_cdio;
    bool m_rawReads; // an image file, not a drive
    std::optional<cdimage::MappedFile> m_image;
    std::vector<std::uint8_t> m_buffer;
};

int extractFromDisc(Disc& disc, const std::string& where, const std::string& path,
                    const fs::path& destinationPath, bool force) {
    const auto file = disc.stat(path);
    if (!file)
        throw Failure("no file \"" + path + "\" in " + where);
    if (!file->form2)
        throw Failure("\"" + path + "\" in " + where + " is not stored in Form 2 sectors");
    const auto entry = entryFor(disc.fileList(), file->name);
    Destination destination(destinationPath, force);
    cdimage::MappedFile::whenUnreadable("dat2file: \"" + path + "\" in " + where +
                                            " cannot be read: a read error, or the image was "
                                            "changed meanwhile; nothing was written\n",
                                        destination.partial());
    Extraction extraction(destination, entry);
    std::uint64_t badSectors = 0;
    cdimage::ProgressLine progress("dat2file");
    for (std::uint32_t first = 0; first < file->sectors; first += kSectorsPerChunk) {
        progress.report(first, file->sectors);
        cdimage::stopIfAsked();
        const std::uint32_t count =
            std::min<std::uint32_t>(kSectorsPerChunk, file->sectors - first);
        const Disc::Sectors sectors = disc.readForm2(file->lsn + lsn_t(first), count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* sector = sectors.first + std::size_t(i) * sectors.stride;
            if (std::memcmp(sector, sector + 4, 4) != 0 || !(sector[2] & cdimage::Form2))
                throw Failure("\"" + path + "\" in " + where + ": sector " +
                              std::to_string(file->lsn + lsn_t(first + i)) +
                              ": not a Form 2 sector with agreeing subheaders");
            badSectors += cdimage::edcMatchesFromSubheader(sector) ? 0 : 1;
            extraction.sector(sector + CDIO_CD_SUBHEADER_SIZE);
        }
    }
    progress.report(file->sectors, file->sectors);
    progress.finish();
    return extraction.finish("\"" + path + "\" in " + where, badSectors);
}

int listImage(const std::string& cue) {
    const Disc disc(cue, imageDriver(cue));
    const auto list = disc.fileList();
    if (!list)
        throw Failure("\"" + cue + "\" holds no file list");
    for (const cdimage::ListedFile& file : *list)
        std::printf("%-31s %12llu  %s  %s\n", file.identifier.c_str(),
                    static_cast<unsigned long long>(file.length), file.sha256.c_str(),
                    file.originalName.c_str());
    return Done;
}

#ifdef __linux__
// The device and the path inside it, when `source` lies on a mounted ISO 9660 CD.
std::optional<std::pair<std::string, std::string>> mountedDisc(const fs::path& source) {
    std::error_code error;
    const std::string path = utf8(fs::canonical(source, error));
    std::ifstream mounts("/proc/self/mounts");
    std::string device, mountPoint, type, rest, bestDevice, bestMount;
    const auto unescape = [](std::string text) {
        for (std::size_t at = text.find('\\'); at != std::string::npos && at + 3 < text.size();
             at = text.find('\\', at + 1))
            text.replace(at, 4, 1, char(std::stoi(text.substr(at + 1, 3), nullptr, 8)));
        return text;
    };
    while (mounts >> device >> mountPoint >> type && std::getline(mounts, rest)) {
        mountPoint = unescape(mountPoint);
        const bool holds =
            path.starts_with(mountPoint) && (path.size() == mountPoint.size() ||
                                             mountPoint == "/" || path[mountPoint.size()] == '/');
        if (holds && mountPoint.size() > bestMount.size()) {
            bestMount = mountPoint;
            bestDevice = type == "iso9660" ? unescape(device) : std::string();
        }
    }
    if (error || bestDevice.empty())
        return std::nullopt;
    return std::pair{bestDevice, path.substr(bestMount == "/" ? 0 : bestMount.size())};
}
#endif

int extract(const fs::path& source, const fs::path& destination, bool force) {
#ifdef __linux__
    // The kernel reads only 2048 bytes of each Form 2 sector: read the CD itself.
    if (const auto mounted = mountedDisc(source)) {
        Disc disc(mounted->first, DRIVER_DEVICE);
        return extractFromDisc(disc, "the CD in " + mounted->first, mounted->second, destination,
                               force);
    }
#endif
    return extractRiff(source, destination, force);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    bool force = false;
    std::erase_if(arguments, [&](const std::string& argument) {
        if (argument != "--force")
            return false;
        force = true;
        return true;
    });
    cdio_loglevel_default = CDIO_LOG_ERROR;
    cdimage::catchStopSignals();
    try {
        if (arguments.size() == 1 && arguments[0] == "--help") {
            std::fputs(kUsage, stdout);
            return Done;
        }
        if (arguments.size() == 1 && arguments[0] == "--version") {
            std::puts("dat2file 0.2");
            return Done;
        }
        if (arguments.size() == 2 && arguments[0] == "--list")
            return listImage(arguments[1]);
        if (arguments.size() == 4 && arguments[0] == "--image") {
            Disc image(arguments[1], imageDriver(arguments[1]));
            return extractFromDisc(image, "\"" + arguments[1] + "\"", arguments[2],
                                   fs::path(arguments[3]), force);
        }
        if (arguments.size() == 2 && !arguments[0].starts_with("--"))
            return extract(fs::path(arguments[0]), fs::path(arguments[1]), force);
        std::fputs(kUsage, stderr);
        return Usage;
    } catch (const cdimage::Stopped& stopped) {
        std::fprintf(stderr, "dat2file: %s\n", stopped.what());
        cdimage::endByStopSignal();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "dat2file: %s\n", error.what());
        return Failed;
    }
}
