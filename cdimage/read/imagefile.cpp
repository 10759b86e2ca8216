// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/read/imagefile.h"

#include "cdimage/base/inputfile.h"
#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/iso9660.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace cdimage {

namespace fs = std::filesystem;

namespace {

std::string sectorText(std::uint32_t lba) {
    return "sector " + std::to_string(lba);
}

} // namespace

ImageFile::ImageFile(const ImageTrack& track)
    : m_track(track) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(track.dataFile, error)))
        if (const auto why = whyNotReadable(track.dataFile))
            throw Error(*why);
    std::istream* in = &m_in;
    if (track.ecm) {
        m_ecm = std::make_unique<EcmStream>(track.dataFile);
        m_decoded = std::make_unique<std::istream>(m_ecm.get());
        in = m_decoded.get();
        m_size = m_ecm->size();
    } else {
        m_in.open(track.dataFile, std::ios::binary);
        m_size = fs::file_size(track.dataFile, error);
    }
    if (error)
        throw Error(quoted(track.dataFile) +
                    ", which holds the image's sectors, cannot be read: " + error.message());
    if (!*in)
        throw Error(quoted(track.dataFile) +
                    " cannot be opened: " + std::generic_category().message(errno));
    if (m_size < track.offset + track.stride)
        throw Error(quoted(track.dataFile) + ", which holds the image's sectors, holds " +
                    std::to_string(m_size) + " bytes: not one whole sector from byte " +
                    std::to_string(track.offset));
    std::uint64_t sectors = (m_size - track.offset) / track.stride;
    if (track.sectors)
        sectors = std::min(sectors, *track.sectors);
    m_sectors = std::uint32_t(std::min<std::uint64_t>(sectors, UINT32_MAX));
    m_records.emplace(*in, track.dataFile, track.offset, track.stride, m_sectors, kRun,
                      track.ecm ? std::optional(m_size) : std::nullopt);
}

const std::uint8_t* ImageFile::sector(std::uint32_t lba) {
    // A run where reading goes on from the last one; a few sectors where it jumps (the members
    // of a code word lie a band apart).
    const std::uint8_t* stored = m_records->record(lba, m_records->follows(lba) ? kRun : kJumpRun);
    if (stored && blocksOnly()) {
        // A block of a plain ISO 9660 image: the Form 1 sector that holds it, which passes its
        // checks (nothing in such an image can tell a damaged block).
        writeForm1(m_whole.data(), lba, Data, stored, kLogicalBlockSize);
        return m_whole.data() + 16;
    }
    return stored ? stored + m_track.subheaderOffset : nullptr;
}

SectorAnswer ImageFile::read(std::uint32_t lba) {
    const std::uint8_t* stored = sector(lba);
    if (!stored)
        return {nullptr, "cannot be read: " + whyUnreadable(lba), false};
    if (m_track.subheaderOffset == 16 &&
        std::memcmp(stored - 16, kSyncPattern, sizeof kSyncPattern) != 0)
        return {nullptr, "is broken: broken sync pattern", false};
    return {stored, {}, false};
}

bool ImageFile::rawWithSync() const {
    return m_track.stride >= kRawSectorSize && m_track.subheaderOffset == 16;
}

std::string ImageFile::whyUnreadable(std::uint32_t lba) const {
    if (const auto failure = m_records->failure(lba))
        return quoted(m_track.dataFile) + " cannot be read there (" + *failure + ")";
    if (lba >= m_records->readable() && m_records->readable() < m_sectors)
        return quoted(m_track.dataFile) + " ends at " + sectorText(m_records->readable()) +
               ": it was cut short while being read";
    const bool cutShort = (m_size - m_track.offset) % m_track.stride != 0;
    return quoted(m_track.dataFile) + " ends at " + sectorText(m_sectors) + " (" +
           std::to_string(m_size) + " bytes" + (cutShort ? ", the last sector cut short" : "") +
           ")";
}

namespace {

// The address a raw sector's header names, where its sync pattern and mode (2) are whole.
std::optional<std::uint32_t> addressOf(ImageFile& file, std::uint32_t index) {
    const std::uint8_t* stored = file.sector(index);
    if (stored && startsWithSync(stored - 16, 16) && stored[-1] == 2)
        return lbaOfHeader(stored - 4);
    return std::nullopt;
}

// Where the headers of a raw track's first sectors say it begins: the first of its first 16
// sectors whose sync pattern and mode are whole names its address.
std::optional<std::uint32_t> placeNamedByHeaders(ImageFile& file) {
    for (std::uint32_t index = 0; index < std::min(file.sectorCount(), 16u); ++index)
        if (const auto named = addressOf(file, index);
            named && *named >= index && *named - index < kMaxSectors)
            return *named - index;
    return std::nullopt;
}

// The first sector from `from` (on to `to`, at most 16 further) whose header can be read.
std::optional<std::pair<std::uint32_t, std::uint32_t>>
readableHeader(ImageFile& file, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t index = from; index < to && index - from < 16; ++index)
        if (const auto address = addressOf(file, index))
            return std::pair{index, *address};
    return std::nullopt;
}

// Whether a session begins at `index`: its volume descriptors stand 16 sectors further.
bool opensSession(ImageFile& file, std::uint32_t index) {
    const std::uint32_t descriptor = index + kVolumeDescriptorLba;
    if (descriptor >= file.sectorCount() || descriptor < index)
        return false;
    const std::uint8_t* stored = file.sector(descriptor); // from its subheader on
    return stored && std::memcmp(stored + kSubheaderSize + 1, "CD001", 5) == 0;
}

// A bare file of raw sectors of a disc of several sessions holds them back to back, without
// the lead-out and lead-in between sessions: its sectors' headers jump ahead there. The runs
// of sectors whose headers follow one another, each as its first sector and its length; the
// file as one run where they never jump (or cannot be read: audio, sectors zeroed).
std::vector<std::pair<std::uint32_t, std::uint32_t>> sessionsOfBareFile(ImageFile& file) {
    constexpr std::size_t kMaxSessions = 99;
    const std::uint32_t count = file.sectorCount();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
    std::uint32_t start = 0;
    while (start < count) {
        const auto first = readableHeader(file, start, count);
        std::optional<std::pair<std::uint32_t, std::uint32_t>> last;
        for (std::uint32_t back = 0; back < 16 && back < count - start && !last; ++back)
            last = readableHeader(file, count - 1 - back, count - back);
        const auto follows = [&](std::uint32_t index, std::uint32_t address) {
            return address - first->second == index - first->first;
        };
        if (!first || !last || follows(last->first, last->second) ||
            runs.size() + 1 == kMaxSessions) {
            runs.emplace_back(start, count - start);
            break;
        }
        // Halve the span between a sector that follows and one that does not.
        std::uint32_t good = first->first, bad = last->first;
        while (bad - good > 1) {
            const std::uint32_t middle = good + (bad - good) / 2;
            const auto probe = readableHeader(file, middle, bad);
            if (!probe)
                break; // nothing readable up to `bad`: the jump lies there
            if (follows(probe->first, probe->second))
                good = probe->first;
            else
                bad = probe->first;
        }
        // A session begins there only where its volume descriptors follow (a header damaged
        // in place is no session).
        if (!opensSession(file, bad)) {
            runs.emplace_back(start, count - start);
            break;
        }
        runs.emplace_back(start, bad - start);
        start = bad;
    }
    return runs;
}

// The tracks of `track` as its file holds them: a bare file of raw sectors may hold several
// sessions, each a track at the place its headers name.
std::vector<ImageTrack> tracksHeld(const ImageTrack& track, ImageFile& file) {
    if (track.sectors || !file.rawWithSync())
        return {track};
    const auto runs = sessionsOfBareFile(file);
    if (runs.size() < 2)
        return {track};
    std::vector<ImageTrack> sessions;
    for (const auto& [first, length] : runs) {
        ImageTrack session = track;
        session.offset += std::uint64_t(first) * track.stride;
        session.sectors = length;
        session.laterSession = first > 0;
        sessions.push_back(std::move(session));
    }
    return sessions;
}

} // namespace

DiscImage::DiscImage(const std::vector<ImageTrack>& described) {
    std::vector<std::pair<ImageTrack, std::unique_ptr<ImageFile>>> tracks;
    for (const ImageTrack& track : described) {
        auto file = std::make_unique<ImageFile>(track);
        std::vector<ImageTrack> held = tracksHeld(track, *file);
        if (held.size() == 1)
            tracks.emplace_back(track, std::move(file));
        else
            for (ImageTrack& session : held)
                tracks.emplace_back(session, std::make_unique<ImageFile>(session));
    }
    std::optional<std::uint32_t> lastSession;
    for (auto& [track, file] : tracks) {
        Part part{track.firstLba, std::move(file), track.sectors};
        // Raw sectors' headers tell where they lie: a later session begins after the lead-out
        // and lead-in between sessions, which no image file holds, and a description may put a
        // track elsewhere (a pregap it says is in no file, though the file holds it).
        if (part.file->rawWithSync())
            if (const auto named = placeNamedByHeaders(*part.file))
                part.firstLba = *named;
        if (track.laterSession)
            lastSession = std::max(lastSession.value_or(0), part.firstLba);
        m_blocksOnly = m_blocksOnly || part.file->blocksOnly();
        m_parts.push_back(std::move(part));
    }
    m_lastSessionStart = lastSession.value_or(0);
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

SectorAnswer DiscImage::read(std::uint32_t lba) {
    const Part* part = partOf(lba);
    if (!part)
        return {nullptr, "cannot be read: " + whyUnreadable(lba), false};
    SectorAnswer answer = part->file->read(lba - part->firstLba);
    // A raw sector's header names its address: one that names another stands at the wrong
    // place (a track the description puts elsewhere), and its bytes are not this sector's.
    if (answer && part->file->rawWithSync()) {
        const std::uint32_t named = lbaOfHeader(answer.bytes - 4);
        if (named != lba)
            return {nullptr,
                    "is misplaced: its header names sector " + std::to_string(named) +
                        ", it stands at sector " + std::to_string(lba),
                    false};
    }
    return answer;
}

std::string DiscImage::whyUnreadable(std::uint32_t lba) const {
    if (const Part* part = partOf(lba, true))
        return part->file->whyUnreadable(lba - part->firstLba);
    return sectorText(lba) + " lies in no data track of the image (an audio track or a gap)";
}

} // namespace cdimage
