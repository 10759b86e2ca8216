// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/read/openimage.h"

#include "cdimage/read/recordfile.h"

#include "cdimage/base/inputfile.h"
#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/iso9660.h"
#include "cdimage/format/riff.h"
#include "cdimage/read/ecm.h"
#include "cdimage/read/imagefile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cdimage {

namespace fs = std::filesystem;

namespace {

// How a file of sectors without a description stores them, told by its content: the sync
// pattern opens a raw sector, and the volume descriptor "CD001" stands in sector 16 wherever
// its data begins in that kind of sector.
// A raw sector followed by its 96 bytes of sub-channel (2448 in all, as cdrdao read-cd
// --read-subchan and CloneCD-like rippers keep it) has the next sync pattern 2448 bytes on.
enum class SectorStorage { Unknown, Raw2352, Raw2448, Mode2Without2336, Plain2048 };

SectorStorage sectorStorageOf(std::string_view head) {
    const auto bytes = reinterpret_cast<const std::uint8_t*>(head.data());
    if (startsWithSync(bytes, head.size())) {
        const auto syncAt = [&](std::size_t at) {
            return head.size() > at && startsWithSync(bytes + at, head.size() - at);
        };
        return syncAt(2448) && !syncAt(2352) ? SectorStorage::Raw2448 : SectorStorage::Raw2352;
    }
    // ISO 9660's, or a CD-i disc's (told apart, and refused, by the file system).
    const auto descriptorAt = [&](std::size_t at) {
        return head.size() >= at + 6 &&
               (head.substr(at + 1, 5) == "CD001" || head.substr(at + 1, 5) == "CD-I ");
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
        throw Error("cannot open " + quoted(path) + ": " + std::generic_category().message(errno));
    std::string head(size, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(std::size_t(in.gcount()));
    return head;
}

// The endings of a file that is an image, or the description of one.
constexpr std::string_view kImageEndings[] = {".CUE", ".TOC", ".NRG", ".BIN"};

// Descriptions of other programs that are not read here, and where their sectors are.
struct ForeignDescription {
    std::string_view ending, signature, what, sectorsEnding;
};
constexpr ForeignDescription kForeignDescriptions[] = {
    {".SUB", {}, "the subchannel data of a CloneCD image", ".ccd"},
    {".MDS", "MEDIA DESCRIPTOR", "the description of an Alcohol image", ".mdf"},
    {".MDX", {}, "the description of an Alcohol image", ".mdf"},
};

std::string endingOf(const fs::path& path) {
    return asciiUpperCase(utf8(path.extension()));
}

bool isCloneCdDescription(const fs::path& path, std::string_view head) {
    return endingOf(path) == ".CCD" || head.starts_with("[CloneCD]");
}

// Forms an image is often kept in that are not read here, told by their first bytes, and the
// command that gives the image back: the command, the file, and what it gives.
struct PackedForm {
    enum class Gives { CueSheet, Contents, Unpacked };
    std::string_view signature, what, command;
    Gives gives;
};
constexpr PackedForm kPackedForms[] = {
    {"MComprHD", "a CHD image (compressed hunks of data)", "chdman extractcd -i",
     PackedForm::Gives::CueSheet},
    {std::string_view("7z\xBC\xAF\x27\x1C", 6), "a 7z archive", "7z x",
     PackedForm::Gives::Contents},
    {"PK\x03\x04", "a zip archive", "unzip", PackedForm::Gives::Contents},
    {std::string_view("\xFD"
                      "7zXZ\0",
                      6),
     "an xz-compressed file", "xz -dk", PackedForm::Gives::Unpacked},
    {"\x1F\x8B", "a gzip-compressed file", "gunzip -k", PackedForm::Gives::Unpacked},
    {"Rar!\x1A\x07", "a RAR archive", "unrar x", PackedForm::Gives::Contents},
};

const PackedForm* packedForm(std::string_view head) {
    for (const PackedForm& form : kPackedForms)
        if (head.starts_with(form.signature))
            return &form;
    return nullptr;
}

[[noreturn]] void refusePackedForm(const fs::path& path, const PackedForm& form) {
    std::string command = std::string(form.command) + " " + quoted(path);
    std::string result = "the cue sheet or the .bin it holds";
    if (form.gives == PackedForm::Gives::CueSheet) {
        result = quoted(fs::path(path).replace_extension(".cue"));
        command += " -o " + result;
    } else if (form.gives == PackedForm::Gives::Unpacked) {
        result = quoted(fs::path(path).replace_extension());
    }
    throw Error(quoted(path) + " is " + std::string(form.what) +
                ", which is not read here: turn it into an image first with " + command +
                ", then give " + result);
}

const ForeignDescription* foreignDescription(const fs::path& path, std::string_view head) {
    for (const ForeignDescription& description : kForeignDescriptions)
        if (endingOf(path) == description.ending ||
            (!description.signature.empty() && head.starts_with(description.signature)))
            return &description;
    return nullptr;
}

[[noreturn]] void refuseForeignDescription(const fs::path& path,
                                           const ForeignDescription& description) {
    fs::path sectors = path;
    sectors.replace_extension(pathOfUtf8(std::string(description.sectorsEnding)));
    throw Error(quoted(path) + " is " + std::string(description.what) +
                ", which is not read here: give the file of its raw sectors instead, " +
                quoted(sectors));
}

// ---- Nero images

constexpr std::size_t kMaxNeroChunks = 256;
constexpr std::uint64_t kMaxNeroChunkBytes = 1024 * 1024;

std::uint64_t bigEndian(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// Where the track's sectors lie in the file, and how each is stored.
struct NeroTrack {
    std::uint64_t offset = 0, end = 0; // of its index 1 and of its end, in the file
    std::uint64_t pregapBytes = 0;     // stored before index 1 (DAO)
    std::size_t stride = 0;
    std::uint64_t startLsn = 0; // where a TAO track starts, its pregaps not counted
};

ImageTrack imageTrackOf(const fs::path& path, const NeroTrack& track, std::uint32_t firstLba) {
    const std::size_t subheader = track.stride == kRawSectorSize ? 16 : 0;
    return {
        path,    track.offset, track.stride, subheader, (track.end - track.offset) / track.stride,
        firstLba};
}

// Whether a track of `stride` holds Mode 2 sectors that can be read from their subheaders:
// 2336-byte sectors always, 2352-byte ones where a sync pattern opens them (not audio).
bool isMode2Track(std::ifstream& in, const NeroTrack& track) {
    if (track.stride == kStoredSectorSize)
        return true;
    if (track.stride != kRawSectorSize || track.end - track.offset < kRawSectorSize)
        return false;
    std::uint8_t head[16] = {};
    in.clear();
    in.seekg(std::streamoff(track.offset));
    in.read(reinterpret_cast<char*>(head), sizeof head);
    return in.gcount() == sizeof head && startsWithSync(head, sizeof head) && head[15] == 2;
}

// The tracks a Nero image's chunks describe, from the first chunk at `chunk` on: those written
// at once (DAO) and those written track by track (TAO).
struct NeroChunks {
    std::vector<NeroTrack> dao, tao;
};

void readNeroChunks(std::ifstream& in, std::uint64_t size, std::uint64_t chunk, bool wide,
                    const std::function<Error(const std::string&)>& fault, NeroChunks& chunks) {
    std::vector<std::uint8_t> body;
    for (std::size_t count = 0; count < kMaxNeroChunks; ++count) {
        std::uint8_t header[8];
        if (chunk > size || size - chunk < sizeof header)
            throw fault("a chunk lies past the file's end (byte " + std::to_string(chunk) + ")");
        in.clear();
        in.seekg(std::streamoff(chunk));
        in.read(reinterpret_cast<char*>(header), sizeof header);
        const std::string id(reinterpret_cast<const char*>(header), 4);
        const std::uint64_t length = bigEndian(header + 4, 4);
        if (id == "END!")
            break;
        if (length > kMaxNeroChunkBytes || length > size - chunk - sizeof header)
            throw fault("the chunk " + id + " claims " + std::to_string(length) + " bytes");
        body.assign(std::size_t(length), 0);
        in.read(reinterpret_cast<char*>(body.data()), std::streamsize(body.size()));
        const std::size_t number = wide ? 8 : 4;
        if (id == "DAOI" || id == "DAOX") {
            // A common part of 22 bytes, then each track: ISRC (12), sector size (2), mode
            // (2), 2 bytes, then where its pregap, its index 1 and its end lie in the file.
            const std::size_t entry = 12 + 2 + 2 + 2 + 3 * number;
            for (std::size_t at = 22; at + entry <= body.size(); at += entry) {
                const std::uint8_t* e = body.data() + at;
                NeroTrack track;
                // The sector size; where it is none, the mode says (3: 2336 bytes).
                track.stride = std::size_t(bigEndian(e + 12, 2));
                if (track.stride != 2048 && track.stride != kStoredSectorSize &&
                    track.stride != kRawSectorSize && track.stride != 2448)
                    track.stride = e[14] == 3 ? kStoredSectorSize : kRawSectorSize;
                const std::uint64_t index0 = bigEndian(e + 18, number);
                track.offset = bigEndian(e + 18 + number, number);
                track.end = bigEndian(e + 18 + 2 * number, number);
                track.pregapBytes = track.offset >= index0 ? track.offset - index0 : 0;
                chunks.dao.push_back(track);
            }
        } else if (id == "ETNF" || id == "ETN2") {
            // Each track: where it lies in the file and its length, its mode, where it starts
            // (4 bytes, not counting the pregaps before it) and 4 or 8 bytes more.
            const std::size_t entry = 2 * number + 8 + number;
            for (std::size_t at = 0; at + entry <= body.size(); at += entry) {
                const std::uint8_t* e = body.data() + at;
                NeroTrack track;
                track.offset = bigEndian(e, number);
                const std::uint64_t bytes = bigEndian(e + number, number);
                const std::uint64_t mode = bigEndian(e + 2 * number, 4);
                track.stride = mode == 0 || mode == 2 ? 2048
                               : mode == 7            ? kRawSectorSize
                                                      : kStoredSectorSize; // 3, 6, 0x20
                track.end = track.offset + bytes;
                track.startLsn = bigEndian(e + 2 * number + 4, 4);
                chunks.tao.push_back(track);
            }
        }
        chunk += sizeof header + length;
    }
}

} // namespace

std::vector<ImageTrack> tracksOfNeroImage(const fs::path& path) {
    std::ifstream in(systemPath(path), std::ios::binary);
    std::error_code error;
    const std::uint64_t size = fs::file_size(systemPath(path), error);
    if (!in || error)
        throw Error("cannot open " + quoted(path) + ": " +
                    (error ? error.message() : std::generic_category().message(errno)));
    const auto fault = [&](const std::string& what) {
        return Error(quoted(path) + " is not a Nero image that can be read: " + what);
    };
    std::uint8_t footer[12] = {};
    if (size < sizeof footer)
        throw fault("it is too short to hold a Nero footer");
    in.seekg(std::streamoff(size - sizeof footer));
    in.read(reinterpret_cast<char*>(footer), sizeof footer);
    std::uint64_t chunk = 0;
    bool wide = false; // 64-bit numbers
    if (std::memcmp(footer, "NER5", 4) == 0) {
        chunk = bigEndian(footer + 4, 8);
        wide = true;
    } else if (std::memcmp(footer + 4, "NERO", 4) == 0) {
        chunk = bigEndian(footer + 8, 4);
    } else {
        throw fault("it ends in no footer \"NERO\" or \"NER5\"");
    }

    NeroChunks chunks;
    readNeroChunks(in, size, chunk, wide, fault, chunks);
    const std::vector<NeroTrack>& dao = chunks.dao;
    const std::vector<NeroTrack>& tracks = dao.empty() ? chunks.tao : dao;
    if (tracks.empty() || tracks.size() > 99)
        throw fault("it describes " + std::to_string(tracks.size()) + " tracks");

    // A DAO image holds each track's pregap before it; a TAO image does not, and each track
    // after the first lies two seconds later than its start says.
    std::vector<ImageTrack> found;
    std::uint64_t position = 0; // of the track's index 1 on the disc
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const NeroTrack& track = tracks[i];
        if (track.stride == 0 || track.end < track.offset || track.end > size ||
            track.pregapBytes % track.stride != 0)
            throw fault("track " + std::to_string(i + 1) +
                        " lies outside the file or has "
                        "sectors of " +
                        std::to_string(track.stride) + " bytes");
        if (dao.empty())
            position = track.startLsn + i * kPregapFrames;
        else if (i > 0)
            position += track.pregapBytes / track.stride;
        if (position > kMaxSectors)
            break;
        if (isMode2Track(in, track) && track.end - track.offset >= track.stride)
            found.push_back(imageTrackOf(path, track, std::uint32_t(position)));
        position += (track.end - track.offset) / track.stride;
    }
    if (found.empty())
        throw fault("it holds no Mode 2 data track (2352 or 2336 bytes a sector)");
    return found;
}

bool isNeroImage(const fs::path& path) {
    if (endingOf(path) == ".NRG")
        return true;
    // Whatever its name, a Nero image ends in its footer.
    std::ifstream in(systemPath(path), std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? std::streamoff(in.tellg()) : 0;
    if (size < 12)
        return false;
    char footer[12] = {};
    in.seekg(size - 12);
    in.read(footer, sizeof footer);
    return std::memcmp(footer, "NER5", 4) == 0 || std::memcmp(footer + 4, "NERO", 4) == 0;
}

bool isImageFile(const fs::path& path) {
    const std::string ending = endingOf(path);
    for (const std::string_view image : kImageEndings)
        if (ending == image && image != ".BIN")
            return true;
    std::error_code error;
    if (!fs::is_regular_file(systemPath(path), error))
        return false;
    try {
        const std::string head =
            headOf(path, kVolumeDescriptorLba * kStoredSectorSize + kSubheaderSize + 6);
        return sectorStorageOf(head) != SectorStorage::Unknown || foreignDescription(path, head) ||
               isCloneCdDescription(path, head) || packedForm(head) || startsAsEcm(head) ||
               isNeroImage(path);
    } catch (const Error&) {
        return false;
    }
}

namespace {

// The one track of a file of sectors without a description, as its first sectors show it
// stored; none where they are no sectors (a description).
std::vector<ImageTrack> tracksOfBareFile(const fs::path& path, std::string_view head) {
    switch (sectorStorageOf(head)) {
    case SectorStorage::Raw2352:
        return {ImageTrack{path, 0, 2352, 16, std::nullopt, 0}}; // the raw sectors themselves
    case SectorStorage::Raw2448:
        return {ImageTrack{path, 0, 2448, 16, std::nullopt, 0}}; // each with its sub-channel
    case SectorStorage::Mode2Without2336:
        return {ImageTrack{path, 0, 2336, 0, std::nullopt, 0}}; // from each subheader on
    case SectorStorage::Plain2048:
        // A plain ISO 9660 image: its Form 1 files come back, its Form 2 files cannot.
        return {ImageTrack{path, 0, kLogicalBlockSize, 0, std::nullopt, 0}};
    case SectorStorage::Unknown:
        break;
    }
    return {};
}

} // namespace

std::vector<ImageTrack> imageTracksAt(const fs::path& path) {
    if (const auto why = whyNotReadable(path))
        throw Error(*why);
    const std::string head = headOf(path, kMaxDescriptionSize + 1);
    if (head.empty())
        throw Error(quoted(path) + " is empty (0 bytes): not an image");
    if (const ForeignDescription* foreign = foreignDescription(path, head))
        refuseForeignDescription(path, *foreign);
    if (const PackedForm* packed = packedForm(head))
        refusePackedForm(path, *packed);
    if (isCloneCdDescription(path, head))
        return dataTracksOfCloneCd(head, path);
    if (isNeroImage(path))
        return tracksOfNeroImage(path);
    if (startsAsEcm(head)) {
        // The file of sectors it stands for, decoded as far as its head.
        EcmStream decoded(path, head.size());
        std::istream in(&decoded);
        std::string decodedHead(head.size(), '\0');
        in.read(decodedHead.data(), std::streamsize(decodedHead.size()));
        decodedHead.resize(std::size_t(in.gcount()));
        std::vector<ImageTrack> tracks = tracksOfBareFile(path, decodedHead);
        if (tracks.empty())
            throw Error(quoted(path) + " is an ECM file, but what it holds is no file of a CD's "
                                       "sectors");
        for (ImageTrack& track : tracks)
            track.ecm = true;
        return tracks;
    }
    if (std::vector<ImageTrack> bare = tracksOfBareFile(path, head); !bare.empty())
        return bare;
    const fs::path folder = path.parent_path();

    const FileSize sizeOf = [](const fs::path& file) -> std::optional<std::uint64_t> {
        std::error_code error;
        const std::uint64_t size = fs::file_size(file, error);
        return error ? std::nullopt : std::optional(size);
    };
    if (endingOf(path) == ".TOC")
        return dataTracksOfToc(head, folder, sizeOf);
    return dataTracksOfCueSheet(head, folder, sizeOf);
}

fs::path imageFolderFor(const fs::path& destination) {
    const std::string ending = endingOf(destination);
    for (const std::string_view image : kImageEndings)
        if (ending == image)
            return fs::path(destination).replace_extension();
    return destination;
}

namespace {

// What a source that is no RIFF CDXA file most likely is, and how to get its file whole.
std::string whatItLooksLike(const fs::path& source) {
    std::error_code error;
    const std::uint64_t size = fs::file_size(source, error);
    std::string text;
    if (!error && size > 0 && size % kForm1DataSize == 0)
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

// The raw sectors of a RIFF CDXA copy, each at its place on the disc it came from (the first
// one's header tells where). A sector whose sync pattern or mode is broken is lost.
class RiffCopy : public SectorSource {
public:
    static constexpr std::uint32_t kRun = 64;

    explicit RiffCopy(const fs::path& path)
        : m_path(path)
        , m_in(systemPath(path), std::ios::binary) {
        if (!m_in)
            throw Error("cannot open " + quoted(path) + ": " +
                        std::generic_category().message(errno));
        std::uint8_t header[kRiffHeaderSize];
        m_in.read(reinterpret_cast<char*>(header), sizeof header);
        RiffHeader riff;
        try {
            riff = parseRiffHeader(header, std::size_t(m_in.gcount()));
        } catch (const Error& error) {
            throw Error(quoted(path) + " is not a RIFF CDXA file (" + error.what() + ")" +
                        whatItLooksLike(path));
        }
        std::error_code error;
        const std::uint64_t size = fs::file_size(systemPath(path), error);
        m_sectors =
            std::uint32_t(std::min<std::uint64_t>(riff.dataSize / kRawSectorSize, kMaxSectors));
        const std::uint32_t available =
            error ? 0
                  : std::uint32_t(std::min<std::uint64_t>((size - kRiffHeaderSize) / kRawSectorSize,
                                                          m_sectors));
        m_records.emplace(m_in, systemPath(path), kRiffHeaderSize, kRawSectorSize, available, kRun);
        if (const std::uint8_t* first = m_records->record(0, 1); first && checkForm2(first).empty())
            m_firstLba = std::min(lbaOfHeader(first + 12), kMaxSectors - m_sectors);
    }

    std::uint32_t firstLba() const { return m_firstLba; }
    std::uint32_t fileSectors() const { return m_sectors; }
    std::uint32_t sectorCount() const override { return m_firstLba + m_sectors; }

    const std::uint8_t* sector(std::uint32_t lba) override { return read(lba).bytes; }
    std::string whyUnreadable(std::uint32_t lba) const override {
        if (lba < m_firstLba || lba - m_firstLba >= m_records->readable())
            return quoted(m_path) + " holds only " + std::to_string(m_records->readable()) +
                   " whole sectors";
        if (const auto failure = m_records->failure(lba - m_firstLba))
            return quoted(m_path) + " cannot be read there (" + *failure + ")";
        return quoted(m_path) + " cannot be read there";
    }
    SectorAnswer read(std::uint32_t lba) override {
        if (lba >= m_firstLba && lba - m_firstLba >= m_records->readable() && lba < sectorCount())
            return {nullptr, "is missing: " + whyUnreadable(lba), false};
        const std::uint8_t* raw = rawSector(lba);
        if (!raw)
            return {nullptr, "cannot be read: " + whyUnreadable(lba), false};
        if (const std::string fault = brokenBecause(raw); !fault.empty())
            return {nullptr, "is broken: " + fault, false};
        return {raw + 16, {}, false};
    }

private:
    // The sync pattern and the mode; the subheader is checked by the reader, which knows the
    // form the file's sectors should have.
    static std::string brokenBecause(const std::uint8_t* raw) {
        if (std::memcmp(raw, kSyncPattern, sizeof kSyncPattern) != 0)
            return "broken sync pattern";
        if (raw[15] != 2)
            return "mode " + std::to_string(raw[15]) + ", not mode 2";
        return {};
    }
    const std::uint8_t* rawSector(std::uint32_t lba) {
        if (lba < m_firstLba)
            return nullptr;
        const std::uint32_t index = lba - m_firstLba;
        return m_records->record(index, kRun);
    }

    fs::path m_path;
    std::ifstream m_in;
    std::uint32_t m_sectors = 0, m_firstLba = 0;
    std::optional<RecordFile> m_records;
};

} // namespace

OpenedSource openImage(const fs::path& path) {
    std::vector<ImageTrack> tracks;
    try {
        tracks = imageTracksAt(path);
    } catch (const Error& error) {
        const std::string what = error.what();
        const std::string named = quoted(path);
        throw Error(what.starts_with(named) ? what : named + ": " + what);
    }
    OpenedSource opened;
    opened.kind = SourceKind::Image;
    opened.sectors = std::make_unique<DiscImage>(tracks);
    opened.where = quoted(path);
    return opened;
}

OpenedSource openSource(const fs::path& path, const DriveOpener& openDrive) {
    if (const auto why = whyNotReadable(path))
        throw Error(*why);
    if (isImageFile(path))
        return openImage(path);
    OpenedSource opened;
    if (const auto mounted = discHolding(path); mounted && openDrive) {
        // The system reads only 2048 bytes of each Form 2 sector (or wraps them in RIFF on
        // Windows): read the CD itself.
        opened.kind = SourceKind::MountedDisc;
        opened.sectors = openDrive(mounted->first);
        opened.where = "the CD in " + mounted->first;
        opened.pathOnDisc = mounted->second;
        return opened;
    }
    auto riff = std::make_unique<RiffCopy>(path);
    opened.kind = SourceKind::RiffCopy;
    opened.firstLba = riff->firstLba();
    opened.sectorCount = riff->fileSectors();
    opened.sectors = std::move(riff);
    opened.where = quoted(path);
    return opened;
}

OpenedSource openWhole(const fs::path& path, const DriveOpener& openDrive) {
    std::optional<std::string> device;
    if (const auto mounted = discHolding(path)) {
        device = mounted->first;
    } else {
#ifdef _WIN32
        if (path.wstring().starts_with(L"\\\\.\\"))
            device = utf8(path);
#else
        std::error_code error;
        if (fs::is_block_file(path, error))
            device = utf8(path);
#endif
    }
    if (!device)
        return openImage(path);
    OpenedSource opened;
    opened.kind = SourceKind::MountedDisc;
    opened.sectors = openDrive(*device);
    opened.where = "the CD in " + *device;
    return opened;
}

#ifdef _WIN32
std::optional<std::pair<std::string, std::string>> discHolding(const fs::path& source) {
    std::error_code error;
    const fs::path whole = fs::absolute(source, error);
    const std::wstring drive = whole.root_name().wstring();
    if (error || drive.size() != 2 || drive[1] != L':' ||
        ::GetDriveTypeW((drive + L"\\").c_str()) != DRIVE_CDROM)
        return std::nullopt;
    std::string inside = utf8(whole.relative_path());
    std::replace(inside.begin(), inside.end(), '\\', '/');
    return std::pair{"\\\\.\\" + utf8(drive), "/" + inside};
}
#elif defined(__linux__)
std::optional<std::pair<std::string, std::string>> discHolding(const fs::path& source) {
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
#else
std::optional<std::pair<std::string, std::string>> discHolding(const fs::path&) {
    return std::nullopt;
}
#endif

} // namespace cdimage
