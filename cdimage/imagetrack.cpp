#include "cdimage/imagetrack.h"

#include "cdimage/names.h"
#include "cdimage/paths.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace cdimage {

namespace fs = std::filesystem;

namespace {

constexpr std::uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

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
                throw ImageError(std::string(what) + ", line " + std::to_string(lineNumber) +
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
        throw ImageError(std::string(what) + " is longer than " +
                         std::to_string(kMaxDescriptionSize) + " bytes: not one");
    if (text.find('\0') != std::string_view::npos)
        throw ImageError(std::string(what) + " holds a zero byte: not a text file");
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

fs::path fileIn(const fs::path& folder, const std::string& name) {
    const fs::path path = fs::path(std::u8string(name.begin(), name.end()));
    return path.is_absolute() ? path : folder / path;
}

} // namespace

bool startsWithSync(const std::uint8_t* bytes, std::size_t size) {
    return size >= sizeof kSync && std::memcmp(bytes, kSync, sizeof kSync) == 0;
}

ImageTrack trackOfCueSheet(std::string_view text, const fs::path& folder) {
    constexpr std::string_view kWhat = "the cue sheet";
    std::optional<std::string> file;
    std::optional<ImageTrack> track;
    bool done = false;
    forEachLine(text, kWhat, [&](const std::vector<std::string>& words, std::size_t line) {
        const auto fault = [&](const std::string& message) {
            return ImageError("the cue sheet, line " + std::to_string(line) + ": " + message);
        };
        if (words.empty())
            return true;
        const std::string keyword = asciiUpperCase(words[0]);
        if (keyword == "FILE") {
            if (track)
                return false; // the first track ends where the next file begins
            if (words.size() < 2 || words[1].empty())
                throw fault("FILE names no file");
            file = words[1];
        } else if (keyword == "TRACK") {
            if (track)
                return false;
            if (!file)
                throw fault("a TRACK before any FILE");
            const std::string mode = words.size() >= 3 ? asciiUpperCase(words[2]) : std::string();
            ImageTrack found;
            found.dataFile = fileIn(folder, *file);
            if (mode == "MODE2/2352") {
                found.stride = 2352;
                found.subheaderOffset = 16;
            } else if (mode == "MODE2/2336") {
                found.stride = 2336;
                found.subheaderOffset = 0;
            } else {
                throw fault("the first track is " + (mode.empty() ? "of no mode" : mode) +
                            ", not a Mode 2 data track of raw sectors (MODE2/2352 or MODE2/2336)");
            }
            track = found;
        } else if (keyword == "INDEX" && track && words.size() >= 3) {
            if (words[1] != "01" && words[1] != "1")
                return true;
            const auto frames = framesOf(words[2]);
            if (!frames)
                throw fault("\"" + words[2] + "\" is not an address mm:ss:ff");
            track->offset = *frames * track->stride;
            done = true;
            return false;
        }
        return true;
    });
    if (!track)
        throw ImageError("the cue sheet describes no track");
    if (!done)
        throw ImageError("the cue sheet gives the first track no INDEX 01");
    return *track;
}

ImageTrack trackOfToc(std::string_view text, const fs::path& folder) {
    constexpr std::string_view kWhat = "the table of contents";
    std::optional<ImageTrack> track;
    bool haveFile = false;
    forEachLine(text, kWhat, [&](std::vector<std::string> words, std::size_t line) {
        const auto fault = [&](const std::string& message) {
            return ImageError("the table of contents, line " + std::to_string(line) + ": " +
                              message);
        };
        if (!words.empty() && words[0].starts_with("//"))
            return true;
        if (words.empty())
            return true;
        const std::string keyword = asciiUpperCase(words[0]);
        if (keyword == "TRACK") {
            if (track)
                return false;
            const std::string mode = words.size() >= 2 ? asciiUpperCase(words[1]) : std::string();
            ImageTrack found;
            if (mode == "MODE2_RAW") {
                found.stride = 2352;
                found.subheaderOffset = 16;
            } else if (mode == "MODE2_FORM_MIX") {
                found.stride = 2336;
                found.subheaderOffset = 0;
            } else {
                throw fault("the first track is " + (mode.empty() ? "of no mode" : mode) +
                            ", not a Mode 2 track of raw sectors (MODE2_RAW or MODE2_FORM_MIX)");
            }
            track = found;
        } else if ((keyword == "DATAFILE" || keyword == "FILE") && track && !haveFile) {
            if (words.size() < 2 || words[1].empty())
                throw fault(keyword + " names no file");
            track->dataFile = fileIn(folder, words[1]);
            haveFile = true;
            std::size_t next = 2;
            if (next < words.size() && words[next].starts_with('#')) {
                const auto offset = numberOf(std::string_view(words[next]).substr(1));
                if (!offset)
                    throw fault("\"" + words[next] + "\" is not a byte offset");
                track->offset = *offset;
                ++next;
            }
            if (keyword == "FILE" && next < words.size()) { // the start within the file
                const auto start = framesOf(words[next]);
                if (!start)
                    throw fault("\"" + words[next] + "\" is not an address mm:ss:ff");
                track->offset += *start * track->stride;
                ++next;
            }
            if (next < words.size()) {
                const auto length = framesOf(words[next]);
                if (!length)
                    throw fault("\"" + words[next] + "\" is not a length mm:ss:ff");
                track->sectors = *length;
            }
        }
        return true;
    });
    if (!track)
        throw ImageError("the table of contents describes no track");
    if (!haveFile)
        throw ImageError("the table of contents gives the first track no DATAFILE");
    return *track;
}

} // namespace cdimage
