// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/format/imagetrack.h"

#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace cdimage {

namespace fs = std::filesystem;

namespace {

// The words of a line; a word between double quotes may hold blanks.
std::vector<std::string> wordsOf(std::string_view line, std::size_t lineNumber,
                                 std::string_view what) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        if (line[at] == ' ' || line[at] == '\t' || line[at] == '\r') {
            ++at;
            continue;
        }
        if (line[at] == '"') {
            const std::size_t end = line.find('"', at + 1);
            if (end == std::string_view::npos)
                throw Error(std::string(what) + ", line " + std::to_string(lineNumber) +
                            ": a name lacks its closing double quote");
            words.emplace_back(line.substr(at + 1, end - at - 1));
            at = end + 1;
            continue;
        }
        std::size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r')
            ++end;
        words.emplace_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

template <typename Visit>
void forEachLine(std::string_view text, std::string_view what, Visit visit) {
    if (text.size() > kMaxDescriptionSize)
        throw Error(std::string(what) + " is longer than " + std::to_string(kMaxDescriptionSize) +
                    " bytes: not one");
    if (text.find('\0') != std::string_view::npos)
        throw Error(std::string(what) + " holds a zero byte: not a text file");
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (!visit(wordsOf(line, lineNumber, what), lineNumber))
            return;
    }
}

// "mm:ss:ff" as frames; nothing when it is not such an address.
std::optional<std::uint64_t> framesOf(std::string_view msf) {
    std::uint64_t parts[3] = {};
    const char* at = msf.data();
    const char* end = msf.data() + msf.size();
    for (int i = 0; i < 3; ++i) {
        const auto parsed = std::from_chars(at, end, parts[i]);
        if (parsed.ec != std::errc() || parsed.ptr - at > 3)
            return std::nullopt;
        at = parsed.ptr;
        if (i < 2 && (at == end || *at++ != ':'))
            return std::nullopt;
    }
    if (at != end || parts[1] >= 60 || parts[2] >= 75)
        return std::nullopt;
    return (parts[0] * 60 + parts[1]) * 75 + parts[2];
}

std::optional<std::uint64_t> numberOf(std::string_view word) {
    std::uint64_t value = 0;
    const auto parsed = std::from_chars(word.data(), word.data() + word.size(), value);
    if (parsed.ec != std::errc() || parsed.ptr != word.data() + word.size() ||
        value > (std::uint64_t(1) << 48))
        return std::nullopt;
    return value;
}

// A text in Windows-1252, as sheets written on Windows are, in UTF-8.
std::string utf8OfWindows1252(std::string_view text) {
    // 0x80 to 0x9F; the rest of the upper half is Latin-1. 0 where the code page has nothing.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const char16_t unit = byte < 0x80 ? byte : byte < 0xA0 ? kHigh[byte - 0x80] : byte;
        if (unit == 0 && byte != 0) {
            out += '?';
        } else if (unit < 0x80) {
            out += char(unit);
        } else if (unit < 0x800) {
            out += char(0xC0 | (unit >> 6));
            out += char(0x80 | (unit & 0x3F));
        } else {
            out += char(0xE0 | (unit >> 12));
            out += char(0x80 | ((unit >> 6) & 0x3F));
            out += char(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

fs::path fileInAsWritten(const fs::path& folder, std::string name);

// The file a description names. Sheets made on Windows write a backslash between folders and
// care nothing for case ("BASIC.BIN" for basic.bin): where the name as written is missing, a
// file whose name differs only in case stands for it. A name that is not UTF-8 was written in
// Windows' code page, while the file's own name became UTF-8 when it was copied here.
fs::path fileIn(const fs::path& folder, std::string name) {
    if (isUtf8(name))
        return fileInAsWritten(folder, std::move(name));
    std::optional<fs::path> found;
    try {
        found = fileInAsWritten(folder, name); // a name of bytes, where the system has those
    } catch (const std::exception&) {
        // Windows' paths are UTF-16: bytes that are not UTF-8 make none.
    }
    std::error_code error;
    if (!found || !fs::exists(*found, error)) {
        const fs::path converted = fileInAsWritten(folder, utf8OfWindows1252(name));
        if (!found || fs::exists(converted, error))
            return converted;
    }
    return *found;
}

fs::path fileInAsWritten(const fs::path& folder, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    const fs::path written = fs::path(std::u8string(name.begin(), name.end()));
    const fs::path path = written.is_absolute() ? written : folder / written;
    std::error_code error;
    if (fs::exists(path, error))
        return path;
    // Each part of the name as written, else the one entry of its folder that differs in case.
    fs::path found = written.is_absolute() ? written.root_path() : folder;
    for (const fs::path& part : written.relative_path()) {
        fs::path next = found / part;
        if (!fs::exists(next, error)) {
            const std::string wanted = asciiUpperCase(utf8(part));
            std::size_t looked = 0;
            for (fs::directory_iterator it(found, error), end;
                 !error && it != end && looked < 100'000; it.increment(error), ++looked)
                if (asciiUpperCase(utf8(it->path().filename())) == wanted) {
                    next = it->path();
                    break;
                }
        }
        found = std::move(next);
    }
    return fs::exists(found, error) ? found : path;
}

} // namespace

bool startsWithSync(const std::uint8_t* bytes, std::size_t size) {
    return size >= sizeof kSyncPattern &&
           std::memcmp(bytes, kSyncPattern, sizeof kSyncPattern) == 0;
}

namespace {

// The track modes of cue sheets and of cdrdao tables of contents: the bytes a sector takes in
// the image file and, for the Mode 2 modes read here, where its subheader starts. The other
// modes (audio, Mode 1) are counted for the places of the tracks after them.
struct TrackMode {
    std::string_view cueName, tocName; // empty where the description has no such mode
    std::size_t stride;
    std::optional<std::size_t> subheaderOffset; // nothing: not read here
};

constexpr TrackMode kTrackModes[] = {
    {"MODE2/2352", "MODE2_RAW", 2352, 16},
    {"MODE2/2336", "MODE2_FORM_MIX", 2336, 0},
    {{}, "MODE2", 2336, 0},
    {"AUDIO", "AUDIO", 2352, std::nullopt},
    {"MODE1/2352", "MODE1_RAW", 2352, std::nullopt},
    {"MODE1/2048", "MODE1", 2048, std::nullopt},
    {{}, "MODE2_FORM1", 2048, std::nullopt},
    {{}, "MODE2_FORM2", 2324, std::nullopt},
    {"CDG", {}, 2448, std::nullopt},
    {"CDI/2352", {}, 2352, std::nullopt},
};

// A mode by its name in a cue sheet or a table of contents; an unknown one as audio.
const TrackMode& trackMode(const std::string& name, bool toc) {
    for (const TrackMode& mode : kTrackModes)
        if (!name.empty() && name == (toc ? mode.tocName : mode.cueName))
            return mode;
    return kTrackModes[3];
}

// Sectors are counted in 64 bits and bounded: no disc holds more than kMaxDiscFrames.
constexpr std::uint64_t kMaxDiscFrames = std::uint64_t(100) * 60 * 75;

std::uint64_t sectorsOfFile(const FileSize& sizeOf, const fs::path& file, std::size_t stride) {
    const std::optional<std::uint64_t> bytes = sizeOf ? sizeOf(file) : std::nullopt;
    return bytes ? std::min(*bytes / stride, kMaxDiscFrames) : kMaxDiscFrames;
}

// The data tracks of an image's files and where each starts on the disc; `origin` is where the
// first track's index 1 lies.
struct TrackLayout {
    std::vector<ImageTrack> tracks;
    std::vector<std::uint64_t> starts;
    std::optional<std::uint64_t> origin;
};

// The data tracks found, placed at their addresses: LBA 0 is where the first track's index 1
// lies. Places before it (a first track's pregap) are left out.
std::vector<ImageTrack> placed(TrackLayout layout) {
    std::vector<ImageTrack> found;
    if (!layout.origin)
        return found;
    std::vector<ImageTrack>& tracks = layout.tracks;
    const std::vector<std::uint64_t>& starts = layout.starts;
    const std::uint64_t origin = *layout.origin;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        ImageTrack& track = tracks[i];
        std::uint64_t start = starts[i];
        if (start < origin) {
            const std::uint64_t before = origin - start;
            if (track.sectors && *track.sectors <= before)
                continue;
            track.offset += before * track.stride;
            if (track.sectors)
                *track.sectors -= before;
            start = origin;
        }
        if (start - origin > kMaxDiscFrames)
            continue;
        track.firstLba = std::uint32_t(start - origin);
        found.push_back(std::move(track));
    }
    return found;
}

} // namespace

namespace {

// A cue sheet as it reads: its files, each with its tracks in order.
struct CueTrack {
    std::string mode;
    std::optional<std::uint64_t> index0, index1;
    std::uint64_t pregap = 0, postgap = 0;
    unsigned session = 1; // REM SESSION nn before it
};
struct CueFile {
    fs::path path;
    std::vector<CueTrack> tracks;
};

std::vector<CueFile> parseCueSheet(std::string_view text, const fs::path& folder) {
    std::vector<CueFile> files;
    unsigned session = 1;
    // A byte-order mark, as some systems begin a text with, is no part of the first line.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    forEachLine(
        text, "the cue sheet", [&](const std::vector<std::string>& words, std::size_t line) {
            const auto fault = [&](const std::string& message) {
                return Error("the cue sheet, line " + std::to_string(line) + ": " + message);
            };
            if (words.empty())
                return true;
            const std::string keyword = asciiUpperCase(words[0]);
            const auto address = [&](std::size_t at) {
                const auto frames = at < words.size() ? framesOf(words[at]) : std::nullopt;
                if (!frames)
                    throw fault("\"" + (at < words.size() ? words[at] : std::string()) +
                                "\" is not an address mm:ss:ff");
                return *frames;
            };
            if (keyword == "FILE") {
                if (words.size() < 2 || words[1].empty())
                    throw fault("FILE names no file");
                if (files.size() >= 99)
                    throw fault("more than 99 files");
                files.push_back({fileIn(folder, words[1]), {}});
            } else if (keyword == "TRACK") {
                if (files.empty())
                    throw fault("a TRACK before any FILE");
                if (files.back().tracks.size() >= 99)
                    throw fault("more than 99 tracks");
                files.back().tracks.push_back(
                    {words.size() >= 3 ? asciiUpperCase(words[2]) : std::string(),
                     {},
                     {},
                     0,
                     0,
                     session});
            } else if (keyword == "REM" && words.size() >= 3 &&
                       asciiUpperCase(words[1]) == "SESSION") {
                // An Enhanced CD's: its data track in a session after the audio.
                if (const auto number = numberOf(words[2]); number && *number >= 1 && *number <= 99)
                    session = unsigned(*number);
            } else if (keyword == "INDEX" && !files.empty() && !files.back().tracks.empty()) {
                CueTrack& track = files.back().tracks.back();
                if (words.size() >= 2 && (words[1] == "00" || words[1] == "0"))
                    track.index0 = address(2);
                else if (words.size() >= 2 && (words[1] == "01" || words[1] == "1"))
                    track.index1 = address(2);
            } else if ((keyword == "PREGAP" || keyword == "POSTGAP") && !files.empty() &&
                       !files.back().tracks.empty()) {
                (keyword == "PREGAP" ? files.back().tracks.back().pregap
                                     : files.back().tracks.back().postgap) = address(1);
            }
            return true;
        });
    return files;
}

TrackLayout layOutCueSheet(const std::vector<CueFile>& files, const FileSize& sizeOf) {
    TrackLayout layout;
    std::vector<ImageTrack>& tracks = layout.tracks;
    std::vector<std::uint64_t>& starts = layout.starts;
    std::optional<std::uint64_t>& origin = layout.origin;
    std::uint64_t position = 0; // of the file's start on the disc, in sectors
    for (const CueFile& file : files) {
        if (file.tracks.empty())
            continue;
        const std::size_t stride = trackMode(file.tracks.front().mode, false).stride;
        const std::uint64_t fileSectors = sectorsOfFile(sizeOf, file.path, stride);
        std::uint64_t gaps = 0; // not in the file: PREGAP and POSTGAP
        for (std::size_t i = 0; i < file.tracks.size(); ++i) {
            const CueTrack& track = file.tracks[i];
            if (!track.index1)
                throw Error("the cue sheet gives track " + std::to_string(tracks.size() + 1) +
                            " no INDEX 01");
            gaps += track.pregap;
            const std::uint64_t start = position + gaps + *track.index1;
            if (!origin)
                origin = start;
            std::uint64_t end = fileSectors;
            if (i + 1 < file.tracks.size()) {
                const CueTrack& next = file.tracks[i + 1];
                end = std::min(end, next.index0 ? *next.index0 : next.index1.value_or(end));
            }
            if (const TrackMode& mode = trackMode(track.mode, false);
                mode.subheaderOffset && *track.index1 < end) {
                // The last track of a file runs to the file's end, however long it is.
                const bool last = i + 1 == file.tracks.size();
                tracks.push_back({file.path, *track.index1 * mode.stride, mode.stride,
                                  *mode.subheaderOffset,
                                  last ? std::nullopt : std::optional(end - *track.index1), 0,
                                  track.session > file.tracks.front().session ||
                                      track.session > files.front().tracks.front().session});
                starts.push_back(start);
            }
            gaps += track.postgap;
        }
        position += gaps + fileSectors;
        if (position > kMaxDiscFrames)
            break;
    }
    return layout;
}

} // namespace

std::vector<ImageTrack> dataTracksOfCueSheet(std::string_view text, const fs::path& folder,
                                             const FileSize& sizeOf) {
    const std::vector<CueFile> files = parseCueSheet(text, folder);
    if (files.empty() || files.front().tracks.empty())
        throw Error("the cue sheet describes no track");
    std::vector<ImageTrack> found = placed(layOutCueSheet(files, sizeOf));
    if (found.empty()) {
        const std::string mode = files.front().tracks.front().mode;
        throw Error("the cue sheet holds no Mode 2 data track of raw sectors (MODE2/2352 "
                    "or MODE2/2336) on a disc's sectors; its first track is " +
                    (mode.empty() ? "of no mode" : mode));
    }
    return found;
}

namespace {

// A table of contents as it reads: its tracks, each made of pieces of files or of zeros.
struct TocPiece {
    std::optional<fs::path> file; // nothing: zeros, or silence
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> sectors;
};
struct TocTrack {
    std::string mode;
    std::uint64_t pregap = 0;           // PREGAP: zeros before the track, in no file
    std::optional<std::uint64_t> start; // START: where index 1 lies in the track's data
    std::vector<TocPiece> pieces;
    // The sub-channel stored after each sector (RW, RW_RAW: 96 bytes), as cdrdao read-cd
    // --read-subchan keeps it.
    std::size_t subchannel = 0;
};
using Fault = std::function<Error(const std::string&)>;

// A length: mm:ss:ff, or (for data) a number of bytes.
std::uint64_t tocLength(const std::string& word, std::size_t stride, const Fault& fault) {
    if (const auto frames = framesOf(word))
        return *frames;
    if (const auto bytes = numberOf(word))
        return *bytes / stride;
    throw fault("\"" + word + "\" is not a length mm:ss:ff or in bytes");
}

// DATAFILE, FILE or AUDIOFILE: a file, from a byte offset (#n) and (for FILE) a start, for a
// length or to its end.
TocPiece tocFilePiece(const std::vector<std::string>& words, const std::string& keyword,
                      const fs::path& folder, std::size_t stride, const Fault& fault) {
    if (words.size() < 2 || words[1].empty())
        throw fault(keyword + " names no file");
    TocPiece piece{fileIn(folder, words[1]), 0, {}};
    std::size_t next = 2;
    if (next < words.size() && words[next].starts_with('#')) {
        const auto offset = numberOf(std::string_view(words[next]).substr(1));
        if (!offset)
            throw fault("\"" + words[next] + "\" is not a byte offset");
        piece.offset = *offset;
        ++next;
    }
    if (keyword != "DATAFILE" && next < words.size()) { // the start within the file
        const auto start = framesOf(words[next]);
        if (!start && words[next] != "0")
            throw fault("\"" + words[next] + "\" is not an address mm:ss:ff");
        piece.offset += start.value_or(0) * stride;
        ++next;
    }
    if (next < words.size())
        piece.sectors = tocLength(words[next], stride, fault);
    return piece;
}

// One line of a table of contents, into the tracks read so far.
void readTocLine(std::vector<std::string> words, std::vector<TocTrack>& tracks,
                 const fs::path& folder, const Fault& fault) {
    // A comment runs from "//" to the end of its line.
    for (std::size_t i = 0; i < words.size(); ++i)
        if (words[i].starts_with("//")) {
            words.resize(i);
            break;
        }
    if (words.empty())
        return;
    const std::string keyword = asciiUpperCase(words[0]);
    if (keyword == "TRACK") {
        if (tracks.size() >= 99)
            throw fault("more than 99 tracks");
        tracks.push_back({words.size() >= 2 ? asciiUpperCase(words[1]) : std::string(), 0, {}, {}});
        if (words.size() >= 3) {
            const std::string subchannel = asciiUpperCase(words[2]);
            if (subchannel == "RW" || subchannel == "RW_RAW")
                tracks.back().subchannel = 96;
        }
        return;
    }
    if (tracks.empty())
        return;
    TocTrack& track = tracks.back();
    const std::size_t stride = trackMode(track.mode, true).stride + track.subchannel;
    const bool piece = keyword == "DATAFILE" || keyword == "FILE" || keyword == "AUDIOFILE" ||
                       ((keyword == "ZERO" || keyword == "SILENCE") && words.size() >= 2);
    if (piece && track.pieces.size() >= 99)
        throw fault("more than 99 parts of a track");
    if (keyword == "DATAFILE" || keyword == "FILE" || keyword == "AUDIOFILE") {
        track.pieces.push_back(tocFilePiece(words, keyword, folder, stride, fault));
    } else if (piece) {
        track.pieces.push_back({std::nullopt, 0, tocLength(words.back(), stride, fault)});
    } else if (keyword == "PREGAP" && words.size() >= 2) {
        const auto frames = framesOf(words[1]);
        if (!frames)
            throw fault("\"" + words[1] + "\" is not a length mm:ss:ff");
        track.pregap = *frames;
    } else if (keyword == "START") {
        std::uint64_t before = 0; // no address: index 1 where the data so far ends
        for (const TocPiece& earlier : track.pieces)
            before += earlier.sectors.value_or(0);
        const auto frames = words.size() >= 2 ? framesOf(words[1]) : std::optional(before);
        if (!frames)
            throw fault("\"" + words[1] + "\" is not an address mm:ss:ff");
        track.start = *frames;
    }
}

// The data tracks of a table of contents and where each starts on the disc.
TrackLayout layOutToc(const std::vector<TocTrack>& tracks, const FileSize& sizeOf) {
    TrackLayout layout;
    std::uint64_t position = 0; // of the track's beginning on the disc, in sectors
    for (const TocTrack& track : tracks) {
        const TrackMode& mode = trackMode(track.mode, true);
        const std::size_t stride = mode.stride + track.subchannel;
        if (!layout.origin)
            layout.origin = position + track.pregap + track.start.value_or(0);
        std::uint64_t at = position + track.pregap;
        for (const TocPiece& piece : track.pieces) {
            std::uint64_t sectors = piece.sectors.value_or(0);
            if (piece.file && !piece.sectors) {
                const std::uint64_t inFile = sectorsOfFile(sizeOf, *piece.file, stride);
                const std::uint64_t skipped = std::min(inFile, piece.offset / stride);
                sectors = inFile - skipped;
            }
            if (mode.subheaderOffset && piece.file && sectors > 0) {
                // Without a length, to the file's end, however long it is.
                layout.tracks.push_back({*piece.file, piece.offset, stride, *mode.subheaderOffset,
                                         piece.sectors ? std::optional(sectors) : std::nullopt, 0});
                layout.starts.push_back(at);
            }
            at += sectors;
            if (at > kMaxDiscFrames)
                break;
        }
        position = at;
        if (position > kMaxDiscFrames)
            break;
    }
    return layout;
}

} // namespace

std::vector<ImageTrack> dataTracksOfToc(std::string_view text, const fs::path& folder,
                                        const FileSize& sizeOf) {
    std::vector<TocTrack> tracks;
    forEachLine(
        text, "the table of contents", [&](std::vector<std::string> words, std::size_t line) {
            readTocLine(std::move(words), tracks, folder, [line](const std::string& what) {
                return Error("the table of contents, line " + std::to_string(line) + ": " + what);
            });
            return true;
        });
    if (tracks.empty())
        throw Error("the table of contents describes no track");
    std::vector<ImageTrack> placedTracks = placed(layOutToc(tracks, sizeOf));
    if (placedTracks.empty()) {
        const std::string mode = tracks.front().mode;
        throw Error("the table of contents holds no Mode 2 track of raw sectors with a "
                    "DATAFILE (MODE2_RAW or MODE2_FORM_MIX) on a disc's sectors; its first "
                    "track is " +
                    (mode.empty() ? "of no mode" : mode));
    }
    return placedTracks;
}

namespace {

// One entry of a CloneCD description's table of contents, or one of its tracks.
struct CloneCdEntry {
    std::optional<std::int64_t> session, point, control, plba;
};

std::optional<std::int64_t> cloneCdNumber(std::string_view value) {
    int base = 10;
    if (value.starts_with("0x") || value.starts_with("0X")) {
        value.remove_prefix(2);
        base = 16;
    }
    std::int64_t number = 0;
    const auto [end, error] =
        std::from_chars(value.data(), value.data() + value.size(), number, base);
    if (error != std::errc() || end != value.data() + value.size() || value.empty() ||
        number < -std::int64_t(kMaxDiscFrames) || number > std::int64_t(kMaxDiscFrames))
        return std::nullopt;
    return number;
}

// A CloneCD description as it reads: "[Entry N]" sections, the table of contents as the disc
// holds it (point 1 to 99 a track's start, point 0xA2 a session's lead-out), and "[TRACK N]"
// sections, each track's mode and index 1.
struct CloneCdDescription {
    std::map<std::int64_t, CloneCdEntry> entries;
    std::map<std::int64_t, std::int64_t> modes, firstIndexes;
};

CloneCdDescription parseCloneCd(std::string_view text) {
    CloneCdDescription read;
    CloneCdEntry* entry = nullptr;
    std::int64_t track = -1; // of the [TRACK N] section read, if any
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size(); ++lineNumber) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        const auto fault = [&](const std::string& what) {
            return Error("the CloneCD description, line " + std::to_string(lineNumber + 1) + ": " +
                         what);
        };
        if (line.starts_with('[')) {
            entry = nullptr;
            track = -1;
            // "[Entry N]", "[TRACK N]": the number between the name and the bracket.
            const auto number = [&line] {
                return line.substr(7, line.size() - 8);
            };
            if (line.starts_with("[Entry ")) {
                const auto index = cloneCdNumber(number());
                if (!index || *index < 0 || read.entries.size() >= 1000)
                    throw fault("\"" + std::string(line) + "\" is no entry of a table of contents");
                entry = &read.entries[*index];
            } else if (line.starts_with("[TRACK ")) {
                track = cloneCdNumber(number()).value_or(-1);
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, equals);
        const std::optional<std::int64_t> value = cloneCdNumber(line.substr(equals + 1));
        if (entry && (key == "Session" || key == "Point" || key == "Control" || key == "PLBA")) {
            if (!value)
                throw fault("\"" + std::string(line) + "\" holds no number");
            (key == "Session"   ? entry->session
             : key == "Point"   ? entry->point
             : key == "Control" ? entry->control
                                : entry->plba) = *value;
        } else if (track >= 0 && key == "MODE" && value) {
            read.modes[track] = *value;
        } else if (track >= 0 && key == "INDEX 1" && value) {
            read.firstIndexes[track] = *value;
        }
    }
    return read;
}

struct CloneCdStart {
    std::int64_t track, session, lba;
    bool data;
};

// Where each track starts, by track number, and each session's lead-out.
std::vector<CloneCdStart> startsOf(const CloneCdDescription& read,
                                   std::map<std::int64_t, std::int64_t>& leadOuts) {
    std::vector<CloneCdStart> starts;
    for (const auto& [number, e] : read.entries) {
        if (!e.session || !e.point || !e.plba)
            continue;
        if (*e.point >= 1 && *e.point <= 99)
            starts.push_back({*e.point, *e.session, *e.plba, (e.control.value_or(0) & 4) != 0});
        else if (*e.point == 0xA2)
            leadOuts[*e.session] = *e.plba;
    }
    // A description whose table of contents lacks the tracks: each one's index 1, in the first
    // session, of the kind its mode says.
    if (starts.empty())
        for (const auto& [number, index] : read.firstIndexes)
            if (number >= 1 && number <= 99) {
                const auto mode = read.modes.find(number);
                starts.push_back({number, 1, index, mode != read.modes.end() && mode->second != 0});
            }
    std::sort(starts.begin(), starts.end(),
              [](const CloneCdStart& a, const CloneCdStart& b) { return a.track < b.track; });
    return starts;
}

} // namespace

std::vector<ImageTrack> dataTracksOfCloneCd(std::string_view text, const fs::path& description) {
    const CloneCdDescription read = parseCloneCd(text);
    // Its sectors are in the file of the same name ending in .img, in whatever case.
    const fs::path sectorsFile =
        fileIn(description.parent_path(), utf8(description.stem()) + ".img");
    std::map<std::int64_t, std::int64_t> leadOuts; // by session
    const std::vector<CloneCdStart> starts = startsOf(read, leadOuts);
    // The file holds every track back to back: the lead-outs and lead-ins between sessions are
    // in no file.
    std::vector<ImageTrack> found;
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const CloneCdStart& start = starts[i];
        const bool lastOfSession = i + 1 == starts.size() || starts[i + 1].session != start.session;
        const auto leadOut = leadOuts.find(start.session);
        // The last track runs to the file's end where no lead-out tells its length.
        const bool toTheEnd = i + 1 == starts.size() && leadOut == leadOuts.end();
        if (lastOfSession && leadOut == leadOuts.end() && !toTheEnd)
            throw Error("the CloneCD description gives session " + std::to_string(start.session) +
                        " no lead-out");
        const std::int64_t end = toTheEnd        ? start.lba + 1
                                 : lastOfSession ? leadOut->second
                                                 : starts[i + 1].lba;
        if (start.lba < 0 || end <= start.lba || (i > 0 && start.lba <= starts[i - 1].lba))
            throw Error("the CloneCD description places track " + std::to_string(start.track) +
                        " at sector " + std::to_string(start.lba) +
                        ", before the track ahead of it or past its end at sector " +
                        std::to_string(end));
        const auto sectors = std::uint64_t(end - start.lba);
        const auto mode = read.modes.find(start.track);
        if (start.data && mode != read.modes.end() && mode->second == 2) {
            ImageTrack data{sectorsFile, offset,  kRawSectorSize,
                            16,          sectors, std::uint32_t(start.lba)};
            if (toTheEnd)
                data.sectors.reset();
            data.laterSession = start.session > starts.front().session;
            found.push_back(std::move(data));
        }
        offset += sectors * kRawSectorSize;
    }
    if (found.empty())
        throw Error("the CloneCD description names no Mode 2 data track");
    return found;
}

ImageTrack trackOfCueSheet(std::string_view text, const fs::path& folder) {
    return dataTracksOfCueSheet(text, folder, {}).front();
}

ImageTrack trackOfToc(std::string_view text, const fs::path& folder) {
    return dataTracksOfToc(text, folder, {}).front();
}

} // namespace cdimage
