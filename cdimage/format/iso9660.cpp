// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/format/iso9660.h"

#include "cdimage/base/bytes.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cdimage {

namespace {

// A text field padded with blanks.
void putText(std::uint8_t* out, std::size_t size, const std::string& text) {
    std::memset(out, ' ', size);
    std::memcpy(out, text.data(), std::min(size, text.size()));
}

// "YYYYMMDDHHMMSScc" and the offset from UTC in 15-minute steps.
void putLongDate(std::uint8_t* out, const Timestamp& time) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%04d%02d%02d%02d%02d%02d00", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    std::memcpy(out, digits, 16);
    out[16] = 0;
}

void putUnsetLongDate(std::uint8_t* out) {
    std::memset(out, '0', 16);
    out[16] = 0;
}

} // namespace

Timestamp Timestamp::now() {
    using namespace std::chrono;
    // A build that must come out the same twice names its time (reproducible-builds.org).
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        std::int64_t seconds = 0;
        const char* end = epoch + std::strlen(epoch);
        if (const auto read = std::from_chars(epoch, end, seconds);
            read.ec == std::errc() && read.ptr == end && end != epoch) {
            bool clamped = false;
            return fromUnixSeconds(seconds, clamped);
        }
    }
    const auto moment = floor<seconds>(system_clock::now());
    const auto day = floor<days>(moment);
    const year_month_day date(day);
    const hh_mm_ss time(moment - day);
    return {int(date.year()),          int(unsigned(date.month())), int(unsigned(date.day())),
            int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())};
}

std::int64_t Timestamp::unixSeconds() const {
    using namespace std::chrono;
    const sys_days date{std::chrono::year(year) / std::chrono::month(unsigned(month)) /
                        std::chrono::day(unsigned(day))};
    return date.time_since_epoch().count() * std::int64_t(86400) + hour * 3600 + minute * 60 +
           second;
}

Timestamp Timestamp::fromUnixSeconds(std::int64_t seconds, bool& clamped) {
    using namespace std::chrono;
    constexpr std::int64_t kEarliest = -2208988800; // 1900-01-01 00:00:00
    constexpr std::int64_t kLatest = 5869583999;    // 2155-12-31 23:59:59
    clamped = seconds < kEarliest || seconds > kLatest;
    const sys_seconds moment{std::chrono::seconds(std::clamp(seconds, kEarliest, kLatest))};
    const auto day = floor<days>(moment);
    const year_month_day date(day);
    const hh_mm_ss time(moment - day);
    return {int(date.year()),          int(unsigned(date.month())), int(unsigned(date.day())),
            int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())};
}

std::optional<std::int64_t> unixSecondsOfRecordDate(const std::uint8_t* date) {
    using namespace std::chrono;
    const year_month_day day{year(1900 + date[0]), month(date[1]), std::chrono::day(date[2])};
    // An offset from UTC outside -12 to +13 hours (some tools write -96) is taken as none.
    auto offset = static_cast<std::int8_t>(date[6]);
    if (offset < -48 || offset > 52)
        offset = 0;
    if (!day.ok() || date[3] > 23 || date[4] > 59 || date[5] > 59)
        return std::nullopt;
    const std::int64_t local =
        sys_days(day).time_since_epoch().count() * 86400 + date[3] * 3600 + date[4] * 60 + date[5];
    return local - std::int64_t(offset) * 15 * 60;
}

std::vector<std::uint8_t> encodeRecord(const DirectoryRecord& entry, const Timestamp& recorded) {
    const std::size_t nameLength = entry.identifier.size();
    const std::size_t padding = nameLength % 2 == 0 ? 1 : 0;
    std::vector<std::uint8_t> bytes(record::kName + nameLength + padding + kXaSystemUseSize, 0);
    bytes[record::kLength] = std::uint8_t(bytes.size());
    writeBothEndian32(&bytes[record::kExtent], entry.lba);
    writeBothEndian32(&bytes[record::kSize], entry.length);
    std::uint8_t* date = &bytes[record::kDate];
    date[0] = std::uint8_t(recorded.year - 1900);
    date[1] = std::uint8_t(recorded.month);
    date[2] = std::uint8_t(recorded.day);
    date[3] = std::uint8_t(recorded.hour);
    date[4] = std::uint8_t(recorded.minute);
    date[5] = std::uint8_t(recorded.second);
    date[6] = 0; // UTC
    bytes[record::kFlags] = entry.directory ? record::kFolderFlag : 0x00;
    writeBothEndian16(&bytes[record::kVolumeSequence], 1);
    bytes[record::kNameLength] = std::uint8_t(nameLength);
    std::memcpy(&bytes[record::kName], entry.identifier.data(), nameLength);
    std::uint8_t* xa = &bytes[record::kName + nameLength + padding];
    xa[record::kXaAttributes] = std::uint8_t(entry.attributes >> 8); // group, user id stay 0
    xa[record::kXaAttributes + 1] = std::uint8_t(entry.attributes);
    xa[record::kXaSignature] = 'X';
    xa[record::kXaSignature + 1] = 'A';
    xa[record::kXaFileNumber] = entry.fileNumber;
    return bytes;
}

std::vector<std::uint8_t> layOutDirectory(const std::vector<std::vector<std::uint8_t>>& records) {
    std::vector<std::uint8_t> extent;
    std::size_t used = 0; // in the current sector
    for (const auto& record : records) {
        if (used + record.size() > kLogicalBlockSize) {
            extent.resize(extent.size() + (kLogicalBlockSize - used), 0);
            used = 0;
        }
        extent.insert(extent.end(), record.begin(), record.end());
        used += record.size();
    }
    extent.resize((extent.size() + kLogicalBlockSize - 1) / kLogicalBlockSize * kLogicalBlockSize,
                  0);
    return extent;
}

std::vector<std::uint8_t> rootPathTable(std::uint32_t rootLba, bool bigEndian) {
    std::vector<std::uint8_t> table(10, 0);
    table[0] = 1; // identifier length
    if (bigEndian) {
        writeBigEndian32(&table[2], rootLba);
        table[7] = 1; // parent: itself
    } else {
        writeLittleEndian32(&table[2], rootLba);
        table[6] = 1;
    }
    table[8] = 0; // the root's identifier, then one byte of padding
    return table;
}

std::vector<std::uint8_t> primaryVolumeDescriptor(const VolumeDescriptor& volume) {
    std::vector<std::uint8_t> d(kLogicalBlockSize, 0);
    d[descriptor::kType] = descriptor::kPrimary;
    std::memcpy(&d[descriptor::kStandard], "CD001", 5);
    d[descriptor::kVersion] = 1;
    putText(&d[descriptor::kSystem], 32, "VELMORA");
    putText(&d[descriptor::kVolumeIdentifier], 32, volume.volumeIdentifier);
    writeBothEndian32(&d[descriptor::kVolumeSectors], volume.volumeSectors);
    writeBothEndian16(&d[descriptor::kSetSize], 1);
    writeBothEndian16(&d[descriptor::kSequenceNumber], 1);
    writeBothEndian16(&d[descriptor::kBlockSize], std::uint16_t(kLogicalBlockSize));
    writeBothEndian32(&d[descriptor::kPathTableSize], volume.pathTableSize);
    writeLittleEndian32(&d[descriptor::kLittleEndianPathTable], volume.littleEndianPathTableLba);
    writeBigEndian32(&d[descriptor::kBigEndianPathTable], volume.bigEndianPathTableLba);
    DirectoryRecord root = volume.root;
    root.identifier = std::string(1, '\0');
    std::vector<std::uint8_t> rootRecord = encodeRecord(root, volume.created);
    rootRecord.resize(34); // the descriptor holds the record without system use
    rootRecord[record::kLength] = record::kSmallest;
    std::memcpy(&d[descriptor::kRootRecord], rootRecord.data(), record::kSmallest);
    putText(&d[190], 128, "");             // volume set
    putText(&d[318], 128, "");             // publisher
    putText(&d[446], 128, "");             // data preparer
    putText(&d[574], 128, "VELMORA_TOLK"); // application
    putText(&d[702], 37 + 37 + 37, "");    // copyright, abstract, bibliographic files
    putLongDate(&d[813], volume.created);  // created
    putLongDate(&d[830], volume.created);  // modified
    putUnsetLongDate(&d[847]);             // expires
    putLongDate(&d[864], volume.created);  // effective
    d[881] = 1;                            // file structure version
    std::memcpy(&d[1024], "CD-XA001", 8);  // in the application use area; byte 1032 is 0
    return d;
}

std::vector<std::uint8_t> jolietVolumeDescriptor(const VolumeDescriptor& volume,
                                                 std::u16string_view volumeName) {
    std::vector<std::uint8_t> d = primaryVolumeDescriptor(volume);
    d[descriptor::kType] = descriptor::kSupplementary;
    std::memcpy(&d[descriptor::kEscapes], "%/E", 3); // UCS-2 level 3
    const auto putUcs2 = [&](std::size_t at, std::size_t size, std::u16string_view text) {
        for (std::size_t i = 0; i + 1 < size; i += 2) {
            const char16_t c = i / 2 < text.size() ? text[i / 2] : u' ';
            d[at + i] = std::uint8_t(c >> 8);
            d[at + i + 1] = std::uint8_t(c);
        }
        if (size % 2 != 0)
            d[at + size - 1] = 0;
    };
    putUcs2(descriptor::kSystem, 32, u"VELMORA");
    putUcs2(descriptor::kVolumeIdentifier, 32, volumeName.substr(0, 16));
    for (const std::size_t at : {190, 318, 446})
        putUcs2(at, 128, u"");
    putUcs2(574, 128, u"VELMORA_TOLK");
    for (const std::size_t at : {702, 739, 776})
        putUcs2(at, 37, u"");
    return d;
}

std::vector<std::uint8_t> volumeDescriptorSetTerminator() {
    std::vector<std::uint8_t> d(kLogicalBlockSize, 0);
    d[descriptor::kType] = descriptor::kSetTerminator;
    std::memcpy(&d[descriptor::kStandard], "CD001", 5);
    d[descriptor::kVersion] = 1;
    return d;
}

namespace {

struct IdentifierParts {
    std::string_view name, extension;
    unsigned long version = 0;
};

IdentifierParts partsOf(std::string_view identifier) {
    IdentifierParts parts;
    if (const std::size_t semicolon = identifier.find(';'); semicolon != identifier.npos) {
        for (const char digit : identifier.substr(semicolon + 1))
            if (digit >= '0' && digit <= '9')
                parts.version = parts.version * 10 + unsigned(digit - '0');
        identifier = identifier.substr(0, semicolon);
    }
    const std::size_t dot = identifier.find('.');
    parts.name = identifier.substr(0, dot);
    parts.extension = dot == identifier.npos ? std::string_view() : identifier.substr(dot + 1);
    return parts;
}

// -1, 0 or 1 as `a` comes before, with or after `b`, the shorter padded with blanks.
int compareBlankPadded(std::string_view a, std::string_view b) {
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : ' ');
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : ' ');
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace

bool precedesInDirectory(std::string_view a, std::string_view b) {
    const IdentifierParts x = partsOf(a);
    const IdentifierParts y = partsOf(b);
    if (const int byName = compareBlankPadded(x.name, y.name); byName != 0)
        return byName < 0;
    if (const int byExtension = compareBlankPadded(x.extension, y.extension); byExtension != 0)
        return byExtension < 0;
    return x.version > y.version;
}

} // namespace cdimage
