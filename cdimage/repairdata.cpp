// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/repairdata.h"

#include "cdimage/bytes.h"
#include "cdimage/error.h"
#include "cdimage/filelist.h"
#include "cdimage/filesystem.h"
#include "cdimage/sector.h"
#include "cdimage/sha256.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

namespace cdimage {

namespace {

constexpr std::size_t kForm1Data = 2048;

bool endsInForm1Zeros(const std::uint8_t* symbol) {
    return std::all_of(symbol + kForm1Data, symbol + kSymbolSize,
                       [](std::uint8_t byte) { return byte == 0; });
}

// The CRC-32C of a stored sector's symbol, without copying it out.
std::uint32_t symbolCheck(const std::uint8_t* stored) {
    if (stored[2] & Form2)
        return crc32c(stored + kSubheaderSize, kSymbolSize);
    static const std::uint8_t kZeros[kSymbolSize - kForm1Data] = {};
    return crc32cAfter(crc32c(stored + kSubheaderSize, kForm1Data), kZeros, sizeof kZeros);
}

} // namespace

void symbolOf(const std::uint8_t* stored, std::uint8_t* symbol) {
    if (stored[2] & Form2) {
        std::memcpy(symbol, stored + kSubheaderSize, kSymbolSize);
    } else {
        std::memcpy(symbol, stored + kSubheaderSize, kForm1Data);
        std::memset(symbol + kForm1Data, 0, kSymbolSize - kForm1Data);
    }
}

ParityBuilder::ParityBuilder(const RepairLayout& layout)
    : m_layout(layout)
    , m_code(layout.parity)
    , m_parity(new std::uint8_t[std::size_t(layout.paritySectors()) * kSymbolSize])
    , m_paritySize(std::size_t(layout.paritySectors()) * kSymbolSize)
    , m_protectedChecks(layout.protectedSectors, 0) {}

void ParityBuilder::add(std::uint32_t lba, const std::uint8_t* symbol) {
    if (lba >= m_layout.protectedSectors)
        throw Error("sector " + std::to_string(lba) + " lies past the protected sectors");
    if (!m_paritySet) {
        std::memset(m_parity.get(), 0, m_paritySize);
        m_paritySet = true;
    }
    const std::uint32_t word = m_layout.wordOf(lba);
    std::vector<std::uint8_t*> parity(std::size_t(m_layout.parity));
    for (int r = 0; r < m_layout.parity; ++r)
        parity[std::size_t(r)] =
            m_parity.get() + (std::size_t(r) * m_layout.bandLength + word) * kSymbolSize;
    m_code.addToParity(kSymbolSize, m_layout.memberOf(lba), symbol, parity.data());
    m_protectedChecks[lba] = crc32c(symbol, kSymbolSize);
}

void ParityBuilder::encodeFrom(const std::function<std::unique_ptr<SectorSource>()>& open,
                               std::uint32_t end, unsigned threads,
                               const std::function<void()>& eachBlock) {
    constexpr std::uint32_t kBlock = 16; // words at once: one run of 16 sectors in each band
    const std::uint32_t L = m_layout.bandLength;
    const int data = m_layout.dataBands();
    const std::uint32_t blocks = (L + kBlock - 1) / kBlock;
    std::atomic<std::uint32_t> nextBlock{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto work = [&] {
        try {
            const std::unique_ptr<SectorSource> source = open();
            std::vector<std::uint8_t> symbols(std::size_t(data) * kBlock * kSymbolSize);
            std::vector<const std::uint8_t*> members(static_cast<std::size_t>(data));
            std::vector<std::uint8_t*> parity(std::size_t(m_layout.parity));
            for (std::uint32_t block = nextBlock++; block < blocks; block = nextBlock++) {
                if (eachBlock)
                    eachBlock();
                const std::uint32_t first = block * kBlock;
                const std::uint32_t count = std::min(kBlock, L - first);
                for (int c = 0; c < data; ++c)
                    for (std::uint32_t w = 0; w < count; ++w) {
                        std::uint8_t* symbol =
                            symbols.data() + (std::size_t(c) * kBlock + w) * kSymbolSize;
                        const std::uint64_t lba = std::uint64_t(c) * L + first + w;
                        if (lba >= end) {
                            std::memset(symbol, 0, kSymbolSize);
                            continue;
                        }
                        const SectorAnswer answer = source->read(std::uint32_t(lba));
                        if (!answer)
                            throw Error("sector " + std::to_string(lba) + " of the image " +
                                        answer.lost);
                        symbolOf(answer.bytes, symbol);
                        m_protectedChecks[std::size_t(lba)] = crc32c(symbol, kSymbolSize);
                    }
                for (std::uint32_t w = 0; w < count; ++w) {
                    for (int c = 0; c < data; ++c)
                        members[std::size_t(c)] =
                            symbols.data() + (std::size_t(c) * kBlock + w) * kSymbolSize;
                    for (int r = 0; r < m_layout.parity; ++r)
                        parity[std::size_t(r)] =
                            m_parity.get() + (std::size_t(r) * L + first + w) * kSymbolSize;
                    m_code.encode(kSymbolSize, members.data(), parity.data());
                }
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            failure = std::current_exception();
            nextBlock = blocks; // the others stop too
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < std::max(threads, 1u); ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
    m_paritySet = true;
}

std::vector<std::uint32_t> ParityBuilder::checkTable() const {
    std::vector<std::uint32_t> table = m_protectedChecks;
    for (std::uint32_t index = 0; index < m_layout.paritySectors(); ++index)
        table.push_back(crc32c(parity(index), kSymbolSize));
    return table;
}

namespace {

std::array<std::uint8_t, 32> sha256Of(const std::uint8_t* bytes, std::size_t size) {
    Sha256 sum;
    sum.add(bytes, size);
    const std::string hex = sum.hex();
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = std::uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return digest;
}

std::vector<std::uint8_t> tableBytes(const std::vector<std::uint32_t>& table) {
    std::vector<std::uint8_t> bytes(table.size() * 4);
    for (std::size_t i = 0; i < table.size(); ++i)
        writeLittleEndian32(bytes.data() + i * 4, table[i]);
    return bytes;
}

} // namespace

std::vector<std::uint8_t> ParityBuilder::headerFile(std::uint32_t parityLba,
                                                    const std::array<std::uint32_t, 2>& headerLbas,
                                                    std::int64_t created,
                                                    const std::string& builder) const {
    RepairHeader header;
    header.layout = m_layout;
    header.parityLba = parityLba;
    header.headerLbas = headerLbas;
    header.paritySha256 = sha256Of(m_parity.get(), m_paritySize);
    const std::vector<std::uint8_t> table = tableBytes(checkTable());
    header.tableSha256 = sha256Of(table.data(), table.size());
    header.created = created;
    header.builder = builder;
    std::vector<std::uint8_t> file = encodeRepairHeader(header);
    file.insert(file.end(), table.begin(), table.end());
    return file;
}

bool takesOldListSymbols(const RepairHeader& header) {
    return header.builder == "velmora_tolk 0.3";
}

RepairingSource::RepairingSource(SectorSource& source, FoundRepair found)
    : m_source(source)
    , m_header(std::move(found.header))
    , m_code(m_header.layout.parity)
    , m_checks(std::move(found.checkTable))
    , m_words(m_header.layout.bandLength, WordState::Unknown)
    , m_sector(kStoredSectorBytes)
    , m_own(kStoredSectorBytes)
    , m_symbol(kSymbolSize)
    , m_oldListSymbols(takesOldListSymbols(m_header))
    , m_fileListLba(found.fileListLba) {
    const RepairLayout& layout = m_header.layout;
    if (m_checks.size() != std::size_t(layout.protectedSectors) + layout.paritySectors())
        throw Error("the repair data's check table has " + std::to_string(m_checks.size()) +
                    " entries, its header says " +
                    std::to_string(layout.protectedSectors + layout.paritySectors()));
}

bool RepairingSource::nextForm1Bytes(std::uint32_t lba, std::uint8_t* into, std::size_t size,
                                     bool mayRebuild) {
    const std::uint32_t next = lba + 1;
    if (next >= m_header.layout.protectedSectors)
        return false;
    if (const SectorAnswer answer = m_source.read(next)) {
        if (answer.bytes[2] & Form2)
            return false;
        std::memcpy(into, answer.bytes + kSubheaderSize, size);
        return true;
    }
    const std::uint32_t word = m_header.layout.wordOf(next);
    if (mayRebuild && next >= m_fileListLba && m_words[word] == WordState::Unknown)
        rebuildWords(word, false);
    const std::uint8_t* symbol = rebuilt(next); // lost with this one, rebuilt with it
    if (!symbol || next < m_fileListLba)
        return false;
    std::memcpy(into, symbol, size);
    return true;
}

bool RepairingSource::matchesOldListForm(std::uint32_t lba, std::uint8_t* symbol,
                                         std::uint32_t check, bool mayRebuild) {
    return m_oldListSymbols &&
           nextForm1Bytes(lba, symbol + kForm1Data, kSymbolSize - kForm1Data, mayRebuild) &&
           crc32c(symbol, kSymbolSize) == check;
}

bool RepairingSource::isForm1Symbol(std::uint32_t lba, const std::uint8_t* symbol) const {
    return endsInForm1Zeros(symbol) || (m_oldListSymbols && lba >= m_fileListLba);
}

bool RepairingSource::member(std::uint32_t lba, std::uint32_t check, std::uint8_t* symbol) {
    const SectorAnswer answer = m_source.read(lba);
    if (!answer)
        return false;
    symbolOf(answer.bytes, symbol);
    return crc32c(symbol, kSymbolSize) == check ||
           (!(answer.bytes[2] & Form2) && matchesOldListForm(lba, symbol, check, false));
}

bool RepairingSource::intact(std::uint32_t lba, std::uint32_t check) {
    const SectorAnswer answer = m_source.read(lba);
    if (!answer)
        return false;
    if (symbolCheck(answer.bytes) == check)
        return true;
    if (!m_oldListSymbols || (answer.bytes[2] & Form2))
        return false;
    symbolOf(answer.bytes, m_symbol.data());
    return matchesOldListForm(lba, m_symbol.data(), check, true);
}

void RepairingSource::rebuildWords(std::uint32_t first, bool only) {
    const RepairLayout& layout = m_header.layout;
    const int data = layout.dataBands();
    const std::uint32_t count = only ? 1 : std::min(kWordsAtOnce, layout.bandLength - first);
    m_block.resize(std::size_t(RepairCode::kMembers) * count * kSymbolSize);
    std::vector<bool> lost(std::size_t(RepairCode::kMembers) * count, false);
    const auto at = [&](int member, std::uint32_t word) {
        return m_block.data() + (std::size_t(member) * count + word) * kSymbolSize;
    };
    // Band after band, a run of `count` members of each: reads in long runs.
    for (int i = 0; i < RepairCode::kMembers; ++i)
        for (std::uint32_t w = 0; w < count; ++w) {
            const std::uint32_t word = first + w;
            std::uint8_t* symbol = at(i, w);
            const std::size_t flag = std::size_t(i) * count + w;
            if (i < data) {
                const std::uint64_t lba = std::uint64_t(i) * layout.bandLength + word;
                if (lba >= layout.protectedSectors) // past the protected sectors: zeros
                    std::memset(symbol, 0, kSymbolSize);
                else
                    lost[flag] = !member(std::uint32_t(lba), m_checks[std::size_t(lba)], symbol);
            } else {
                const std::uint32_t index = std::uint32_t(i - data) * layout.bandLength + word;
                lost[flag] =
                    !member(m_header.parityLba + index,
                            m_checks[std::size_t(layout.protectedSectors) + index], symbol);
            }
        }
    std::vector<std::uint8_t*> members(RepairCode::kMembers);
    std::vector<bool> lostOfWord(RepairCode::kMembers);
    for (std::uint32_t w = 0; w < count; ++w) {
        for (int i = 0; i < RepairCode::kMembers; ++i) {
            members[std::size_t(i)] = at(i, w);
            lostOfWord[std::size_t(i)] = lost[std::size_t(i) * count + w];
        }
        const RepairCode::Outcome outcome = m_code.rebuild(kSymbolSize, members.data(), lostOfWord);
        bool done =
            outcome == RepairCode::Outcome::Rebuilt || outcome == RepairCode::Outcome::Intact;
        // Each rebuilt member proved against its check table entry: a word whose parity or
        // table lies rebuilds nothing.
        for (int i = 0; i < RepairCode::kMembers && done; ++i) {
            if (!lostOfWord[std::size_t(i)])
                continue;
            const std::uint64_t index = i < data ? std::uint64_t(i) * layout.bandLength + first + w
                                                 : layout.protectedSectors +
                                                       std::uint64_t(i - data) * layout.bandLength +
                                                       first + w;
            if (i < data && index >= layout.protectedSectors)
                continue; // past the protected sectors: zeros, never lost
            done = crc32c(members[std::size_t(i)], kSymbolSize) == m_checks[std::size_t(index)];
        }
        m_words[first + w] = done ? WordState::Done : WordState::Failed;
        if (!done)
            continue;
        for (int i = 0; i < data; ++i)
            if (lostOfWord[std::size_t(i)])
                m_rebuilt[std::uint32_t(i) * layout.bandLength + first + w].assign(
                    members[std::size_t(i)], members[std::size_t(i)] + kSymbolSize);
    }
}

const std::uint8_t* RepairingSource::rebuilt(std::uint32_t lba) const {
    const auto found = m_rebuilt.find(lba);
    return found == m_rebuilt.end() ? nullptr : found->second.data();
}

SectorAnswer RepairingSource::read(std::uint32_t lba) {
    const RepairLayout& layout = m_header.layout;
    if (lba >= layout.protectedSectors)
        return m_source.read(lba);
    SectorAnswer answer = m_source.read(lba);
    bool ownKept = false; // read, but not what the check table says: kept in m_own
    if (answer) {
        if (symbolCheck(answer.bytes) == m_checks[lba]) {
            answer.checked = true;
            return answer;
        }
        // Kept: every read from here on (the next sector's, a word's) overwrites the answer.
        std::memcpy(m_own.data(), answer.bytes, kStoredSectorBytes);
        ownKept = true;
        if (m_oldListSymbols && !(m_own[2] & Form2)) {
            symbolOf(m_own.data(), m_symbol.data());
            if (matchesOldListForm(lba, m_symbol.data(), m_checks[lba], true)) {
                SectorAnswer kept{m_own.data(), {}, false};
                kept.checked = true;
                return kept;
            }
        }
        answer = {nullptr, "does not hold what the repair data's check table says", false};
    }
    const std::string why = answer.lost;
    ++m_count.lost;
    const std::uint32_t word = layout.wordOf(lba);
    if (m_words[word] == WordState::Unknown)
        rebuildWords(word, false);
    const std::uint8_t* symbol = rebuilt(lba);
    if (!symbol && m_words[word] == WordState::Done) {
        rebuildWords(word, true); // read well a moment ago, lost now: its word again
        symbol = rebuilt(lba);
    }
    if (!symbol) {
        ++m_count.notRebuildable;
        const std::string notRebuilt = ", and its code word cannot be rebuilt from the repair data";
        if (ownKept) { // never worse than without repair data: its own bytes, doubted
            SectorAnswer own{m_own.data(), {}, false};
            own.doubt = why + notRebuilt;
            return own;
        }
        return {nullptr, why + notRebuilt, false};
    }
    ++m_count.rebuilt;
    // A subheader that says its form, then the symbol (a Form 1 sector's 2,048 bytes); the EDC
    // left as none.
    const bool form1 = isForm1Symbol(lba, symbol);
    std::fill(m_sector.begin(), m_sector.end(), 0);
    m_sector[2] = m_sector[6] = form1 ? std::uint8_t(Data) : std::uint8_t(Data | Form2);
    std::memcpy(m_sector.data() + kSubheaderSize, symbol, form1 ? kForm1Data : kSymbolSize);
    m_rebuilt.erase(lba); // given: a sector read again has its word rebuilt again
    return {m_sector.data(), {}, true};
}

RepairingSource::Survey
RepairingSource::survey(const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    const RepairLayout& layout = m_header.layout;
    std::vector<int> losses(layout.bandLength, 0);
    Survey survey;
    const std::uint64_t all = std::uint64_t(layout.protectedSectors) + layout.paritySectors();
    for (std::uint64_t index = 0; index < all; ++index) {
        const bool isParity = index >= layout.protectedSectors;
        const std::uint32_t lba =
            isParity ? m_header.parityLba + std::uint32_t(index - layout.protectedSectors)
                     : std::uint32_t(index);
        if (!intact(lba, m_checks[std::size_t(index)])) {
            ++survey.lost;
            ++losses[isParity ? std::uint32_t(index - layout.protectedSectors) % layout.bandLength
                              : layout.wordOf(lba)];
        }
        if (progress && (index % 4096 == 0 || index + 1 == all))
            progress(index + 1, all);
    }
    for (std::uint32_t word = 0; word < layout.bandLength; ++word) {
        if (losses[word] > survey.worstLosses) {
            survey.worstLosses = losses[word];
            survey.worstWord = word;
        }
        if (losses[word] > layout.parity)
            ++survey.wordsBeyondRepair;
    }
    return survey;
}

const std::uint8_t* RepairingSource::sector(std::uint32_t lba) {
    return read(lba).bytes;
}

std::string RepairingSource::whyUnreadable(std::uint32_t lba) const {
    return m_source.whyUnreadable(lba) + " (repair data cannot rebuild it)";
}

namespace {

constexpr std::uint32_t kMostSectorsScanned = 20000;

// Whether the volume says velmora_tolk wrote it (its application identifier): its repair data
// is then looked for at the disc's end when the root folders do not lead to it.
bool writtenByVelmoraTolk(SectorSource& source) {
    constexpr std::string_view kApplication = "VELMORA_TOLK ";
    const SectorAnswer answer = source.read(16);
    return answer && !(answer.bytes[2] & Form2) &&
           std::memcmp(answer.bytes + kSubheaderSize + 574, kApplication.data(),
                       kApplication.size()) == 0;
}

// The header in a sector as stored, when it is a Form 1 sector that holds one.
std::optional<RepairHeader> headerIn(SectorSource& source, std::uint32_t lba) {
    const SectorAnswer answer = source.read(lba);
    if (!answer || (answer.bytes[2] & Form2))
        return std::nullopt;
    return parseRepairHeader(answer.bytes + kSubheaderSize, kForm1Data);
}

} // namespace

std::optional<FoundRepair> findRepairData(SectorSource& source) {
    std::optional<RepairHeader> header;
    const std::uint32_t sectors = source.sectorCount();
    // The header's second copy is looked for at the disc's end only where there is a sign of
    // it: its first copy is named but cannot be read, the disc holds sectors past its volume,
    // or there is no file system to ask.
    bool look = false;
    std::uint32_t fileListLba = UINT32_MAX;
    try {
        FileSystem files(source);
        // A Form 1 file of the root, named by either tree; a root that cannot be read is a
        // sign to look at the disc's end.
        const auto find = [&](std::string_view name) -> std::optional<DiscFile> {
            try {
                const auto found = files.findInRoot(name);
                return found && !found->form2 ? found : std::nullopt;
            } catch (const Error&) {
                look = true;
                return std::nullopt;
            }
        };
        if (const auto record = find(kRepairHeaderIdentifier)) {
            header = headerIn(source, record->lba);
            look = look || !header;
        } else {
            look = look || files.volumeSectors() < sectors;
        }
        if (const auto list = find(kFileListIdentifier))
            fileListLba = list->lba;
        look = look || (!header && writtenByVelmoraTolk(source));
    } catch (const Error&) {
        look = true;
    }
    if (!header && look) {
        const std::uint32_t scanned = std::min(kMostSectorsScanned, std::max(sectors / 20, 64u));
        const std::uint32_t from = sectors - std::min(sectors, scanned);
        for (std::uint32_t lba = from; lba < sectors; ++lba) // onward: read in long runs
            if (auto found = headerIn(source, lba))
                header = found; // the last one found: the copy that ends the disc
    }
    if (!header)
        return std::nullopt;
    // The protected sectors must be ones the disc has; the parity may run past its end (an
    // image cut short keeps the parity it still holds, what is cut counts as lost), never past
    // what a disc addresses.
    const RepairLayout& layout = header->layout;
    if (layout.protectedSectors > sectors || header->parityLba > kMaxSectors ||
        layout.paritySectors() > kMaxSectors - header->parityLba)
        return std::nullopt;
    // The table, each sector from whichever copy reads, the first copy first, then the
    // second: a sector of one copy that reads but is wrong spoils only that try.
    const std::uint32_t entries = layout.protectedSectors + layout.paritySectors();
    for (const bool secondFirst : {false, true}) {
        std::vector<std::uint32_t> table;
        table.reserve(entries);
        for (std::uint32_t sector = 1; sector < layout.headerSectors(); ++sector) {
            std::optional<SectorAnswer> read;
            for (int i = 0; i < 2 && !read; ++i) {
                const std::uint32_t copy = header->headerLbas[std::size_t(i ^ int(secondFirst))];
                if (copy >= sectors || sector >= sectors - copy)
                    continue;
                SectorAnswer answer = source.read(copy + sector);
                if (answer && !(answer.bytes[2] & Form2) &&
                    form1EdcMatchesFromSubheader(answer.bytes))
                    read = answer;
            }
            if (!read)
                return std::nullopt;
            for (std::size_t at = 0; at < kForm1Data && table.size() < entries; at += 4)
                table.push_back(readLittleEndian32(read->bytes + kSubheaderSize + at));
        }
        // The table as a whole, against the header's sum of it.
        const std::vector<std::uint8_t> bytes = tableBytes(table);
        if (table.size() == entries && sha256Of(bytes.data(), bytes.size()) == header->tableSha256)
            return FoundRepair{*header, std::move(table),
                               fileListLba < layout.protectedSectors ? fileListLba : UINT32_MAX};
    }
    return std::nullopt;
}

} // namespace cdimage
