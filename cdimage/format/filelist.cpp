// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/format/filelist.h"

#include "cdimage/format/repairformat.h"

#include <algorithm>
#include <charconv>

namespace cdimage {

namespace {

constexpr std::string_view kHeading =
    "# Velmora file list 3: SHA-256, length in bytes, first sector, modification time "
    "(seconds after 1970, UTC), name on the CD, original name\n";
// The heading of lists that do not record the time.
constexpr std::string_view kSecondHeading = "# Velmora file list 2: SHA-256, length in bytes, "
                                            "first sector, name on the CD, original name";
// The heading of lists that do not record where each file starts.
constexpr std::string_view kFirstHeading =
    "# Velmora file list: SHA-256, length in bytes, name on the CD, original name";
constexpr std::string_view kVolumeComment = "# volume ";
constexpr std::string_view kRepairComment = "# repair code ";
// What a reader of the list on any system should know: other systems read only part of each
// file, without a word of it.
constexpr std::string_view kReaderNote =
    "# These files are stored in Mode 2 Form 2 sectors of 2324 bytes. Other systems show and "
    "copy only 2048 bytes of each sector (88% of each file), without an error. Get the files "
    "back whole with dat2file: \"dat2file IMAGE.bin FOLDER\" from the image, \"dat2file "
    "/media/cdrom/NAME COPY\" from the CD.\n"
    "# Ces fichiers sont rangés dans des secteurs Mode 2 Forme 2 de 2324 octets. Les autres "
    "systèmes n'en montrent et n'en copient que 2048 octets par secteur (88 % de chaque "
    "fichier), sans erreur. Récupérez les fichiers entiers avec dat2file : \"dat2file "
    "IMAGE.bin DOSSIER\" depuis l'image, \"dat2file /media/cdrom/NOM COPIE\" depuis le CD.\n";

template <typename Number> bool readNumber(std::string_view text, Number& value) {
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && parsed.ec == std::errc() && parsed.ptr == text.data() + text.size();
}

bool isHexDigest(std::string_view text) {
    return text.size() == kSha256HexLength && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Splits off the text up to the next blank.
std::string_view nextField(std::string_view& line) {
    const std::size_t blank = line.find(' ');
    const std::string_view field = line.substr(0, blank);
    line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    return field;
}

std::optional<ListedFile> parseLine(std::string_view line, bool withPlace, bool withTime) {
    if (!fitsInFileList(line))
        return std::nullopt;
    ListedFile file;
    const std::string_view sha = nextField(line);
    const std::string_view length = nextField(line);
    if (!isHexDigest(sha) || !readNumber(length, file.length))
        return std::nullopt;
    if (withPlace) {
        std::uint32_t lba = 0;
        if (!readNumber(nextField(line), lba))
            return std::nullopt;
        file.lba = lba;
    }
    if (withTime) {
        std::int64_t modified = 0;
        if (!readNumber(nextField(line), modified))
            return std::nullopt;
        file.modified = modified;
    }
    const bool nameFollows = line.find(' ') != std::string_view::npos;
    const std::string_view identifier = nextField(line);
    if (identifier.empty() || !nameFollows)
        return std::nullopt;
    file.sha256 = sha;
    file.identifier = identifier;
    file.originalName = line;
    return file;
}

std::string repairLines(const ListedRepair& repair) {
    const auto number = [](auto value) {
        return std::to_string(value);
    };
    const RepairLayout layout{repair.parity, repair.protectedSectors, repair.bandLength};
    const std::uint64_t parityBytes = std::uint64_t(layout.paritySectors()) * kSymbolSize;
    const std::uint64_t headerBytes = std::uint64_t(layout.headerSectors()) * 2048;
    return std::string(kRepairComment) + number(repair.code) + " m " + number(repair.parity) +
           " L " + number(repair.bandLength) + " D " + number(repair.protectedSectors) + " rpd " +
           number(repair.parityLba) + " rph " + number(repair.headerLbas[0]) + " " +
           number(repair.headerLbas[1]) + "\n# repair file " + std::string(kParityIdentifier) +
           " " + number(parityBytes) + " bytes from sector " + number(repair.parityLba) +
           "\n# repair file " + std::string(kRepairHeaderIdentifier) + " " + number(headerBytes) +
           " bytes from sector " + number(repair.headerLbas[0]) + "\n";
}

// "# repair code 1 m 32 L 1346 D 300000 rpd 300672 rph 300000 343744"
std::optional<ListedRepair> parseRepairLine(std::string_view line) {
    line.remove_prefix(kRepairComment.size());
    ListedRepair repair;
    const auto field = [&](std::string_view name, auto& value) {
        if (!name.empty() && nextField(line) != name)
            return false;
        return readNumber(nextField(line), value);
    };
    if (!field("", repair.code) || !field("m", repair.parity) || !field("L", repair.bandLength) ||
        !field("D", repair.protectedSectors) || !field("rpd", repair.parityLba) ||
        !field("rph", repair.headerLbas[0]) || !field("", repair.headerLbas[1]) || !line.empty())
        return std::nullopt;
    return repair;
}

} // namespace

bool fitsInFileList(std::string_view name) {
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string formatFileList(const std::string& volumeIdentifier,
                           const std::vector<ListedFile>& files,
                           const std::optional<ListedRepair>& repair) {
    std::string text(kHeading);
    text += kVolumeComment;
    text += volumeIdentifier;
    text += '\n';
    text += kReaderNote;
    if (repair)
        text += repairLines(*repair);
    for (const ListedFile& file : files) {
        text += file.sha256;
        text += ' ';
        text += std::to_string(file.length);
        text += ' ';
        text += std::to_string(file.lba.value_or(0));
        text += ' ';
        text += std::to_string(file.modified.value_or(0));
        text += ' ';
        text += file.identifier;
        text += ' ';
        text += file.originalName;
        text += '\n';
    }
    return text;
}

std::optional<FileList> parseFileList(std::string_view text) {
    FileList list;
    const bool first = text.starts_with(kFirstHeading);
    const bool second = text.starts_with(kSecondHeading);
    const bool withPlace = !first; // a damaged heading is taken as today's
    const bool withTime = !first && !second;
    if (!first && !second && !text.starts_with(kHeading))
        list.damagedLines.push_back(1);
    bool anyLineRead = list.damagedLines.empty();
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (++number == 1)
            continue; // the heading
        if (line.starts_with(kVolumeComment)) {
            list.volumeIdentifier = line.substr(kVolumeComment.size());
            continue;
        }
        if (line.starts_with(kRepairComment)) {
            list.repair = parseRepairLine(line);
            continue;
        }
        if (line.starts_with('#'))
            continue;
        if (auto file = parseLine(line, withPlace, withTime)) {
            list.files.push_back(std::move(*file));
            anyLineRead = true;
        } else if (!(line.empty() && text.empty())) { // a final line break is no line
            list.damagedLines.push_back(number);
        }
    }
    if (!anyLineRead)
        return std::nullopt;
    return list;
}

} // namespace cdimage
