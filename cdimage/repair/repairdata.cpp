// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/repair/repairdata.h"

#include "cdimage/base/bytes.h"
#include "cdimage/base/error.h"
#include "cdimage/base/sector.h"
#include "cdimage/base/sha256.h"
#include "cdimage/format/filelist.h"
#include "cdimage/read/filesystem.h"

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

namespace {

// `to` ^= `from`, `size` bytes.
void addInto(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, to + i, 8);
        std::memcpy(&b, from + i, 8);
        a ^= b;
        std::memcpy(to + i, &a, 8);
    }
    for (; i < size; ++i)
        to[i] ^= from[i];
}

constexpr std::uint32_t kBlock = 16; // words at once: one run of 16 sectors in each band

} // namespace

ParityBuilder::Bands::Bands(ParityBuilder& parity, Opener open, int first, int last,
                            std::uint32_t end, std::function<void()> eachBlock)
    : m_builder(parity)
    , m_open(std::move(open))
    , m_eachBlock(std::move(eachBlock))
    , m_share(parity.m_code.share(std::max(first, 0),
                                  std::min(last, parity.m_layout.dataBands()) - std::max(first, 0)))
    , m_end(std::min(end, parity.m_layout.protectedSectors))
    , m_writes(!parity.m_paritySet)
    , m_blocks((parity.m_layout.bandLength + kBlock - 1) / kBlock) {}

void ParityBuilder::Bands::work() {
    if (m_nextBlock >= m_blocks)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        ++m_working;
    }
    try {
        const std::unique_ptr<SectorSource> source = m_open();
        std::vector<std::uint8_t> symbols(std::size_t(m_share.count()) * kBlock * kSymbolSize);
        std::vector<std::uint8_t> scratch(
            m_writes ? 0 : std::size_t(m_builder.m_layout.parity) * kSymbolSize);
        for (std::uint32_t block = m_nextBlock++; block < m_blocks; block = m_nextBlock++) {
            if (m_eachBlock)
                m_eachBlock();
            encodeBlock(*source, block, symbols.data(), scratch.data());
        }
    } catch (...) {
        const std::lock_guard<std::mutex> lock(m_lock);
        if (!m_failure)
            m_failure = std::current_exception();
        m_nextBlock = m_blocks; // the others stop too
    }
    const std::lock_guard<std::mutex> lock(m_lock);
    if (--m_working == 0)
        m_idle.notify_all();
}

void ParityBuilder::Bands::encodeBlock(SectorSource& source, std::uint32_t block,
                                       std::uint8_t* symbols, std::uint8_t* scratch) {
    const RepairLayout& layout = m_builder.m_layout;
    const std::uint32_t L = layout.bandLength;
    const std::size_t bands = std::size_t(m_share.count());
    const std::size_t m = std::size_t(layout.parity);
    const std::uint32_t firstWord = block * kBlock;
    const std::uint32_t count = std::min(kBlock, L - firstWord);
    for (std::size_t c = 0; c < bands; ++c)
        for (std::uint32_t w = 0; w < count; ++w) {
            std::uint8_t* symbol = symbols + (c * kBlock + w) * kSymbolSize;
            const std::uint64_t lba = (std::uint64_t(m_share.first()) + c) * L + firstWord + w;
            if (lba >= m_end) {
                std::memset(symbol, 0, kSymbolSize);
                continue;
            }
            const SectorAnswer answer = source.read(std::uint32_t(lba));
            if (!answer)
                throw Error("sector " + std::to_string(lba) + " of the image " + answer.lost);
            symbolOf(answer.bytes, symbol);
            m_builder.m_protectedChecks[std::size_t(lba)] = crc32c(symbol, kSymbolSize);
        }
    std::vector<const std::uint8_t*> members(bands);
    std::vector<std::uint8_t*> parity(m);
    for (std::uint32_t w = 0; w < count; ++w) {
        for (std::size_t c = 0; c < bands; ++c)
            members[c] = symbols + (c * kBlock + w) * kSymbolSize;
        for (std::size_t r = 0; r < m; ++r)
            parity[r] = m_writes ? m_builder.m_parity.get() + (r * L + firstWord + w) * kSymbolSize
                                 : scratch + r * kSymbolSize;
        m_share.encode(kSymbolSize, members.data(), parity.data());
        if (!m_writes)
            for (std::size_t r = 0; r < m; ++r)
                addInto(m_builder.m_parity.get() + (r * L + firstWord + w) * kSymbolSize, parity[r],
                        kSymbolSize);
    }
}

void ParityBuilder::Bands::finish() {
    work();
    std::unique_lock<std::mutex> lock(m_lock);
    m_idle.wait(lock, [this] { return m_working == 0; });
    if (m_failure)
        std::rethrow_exception(m_failure);
    m_builder.m_paritySet = true;
}

void ParityBuilder::encodeBands(const Opener& open, int first, int last, std::uint32_t end,
                                unsigned threads, const std::function<void()>& eachBlock) {
    if (std::max(first, 0) >= std::min(last, m_layout.dataBands()))
        return;
    Bands bands(*this, open, first, last, end, eachBlock);
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < std::max(threads, 1u); ++i)
        helpers.emplace_back([&bands] { bands.work(); });
    bands.work();
    for (std::thread& helper : helpers)
        helper.join();
    bands.finish();
}

std::vector<std::uint32_t> ParityBuilder::checkTable() const {
    std::vector<std::uint32_t> table = m_protectedChecks;
    for (std::uint32_t index = 0; index < m_layout.paritySectors(); ++index)
        table.push_back(crc32c(parity(index), kSymbolSize));
    return table;
}

namespace {

std::array<std::uint8_t, 32> digestOf(Sha256& sum) {
    const std::string hex = sum.hex();
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = std::uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return digest;
}

std::array<std::uint8_t, 32> sha256Of(const std::uint8_t* bytes, std::size_t size) {
    Sha256 sum;
    sum.add(bytes, size);
    return digestOf(sum);
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
    if (!found.tableSectorsLost.empty()) {
        m_knownTableSectors.assign(layout.headerSectors() - 1, true);
        for (const std::uint32_t sector : found.tableSectorsLost)
            if (sector < m_knownTableSectors.size())
                m_knownTableSectors[sector] = false;
    }
}

std::uint32_t RepairingSource::lbaOf(std::uint64_t index) const {
    const RepairLayout& layout = m_header.layout;
    return index < layout.protectedSectors
               ? std::uint32_t(index)
               : m_header.parityLba + std::uint32_t(index - layout.protectedSectors);
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

bool RepairingSource::member(std::uint64_t index, std::uint8_t* symbol, bool mayRebuild) {
    const std::uint32_t lba = lbaOf(index);
    const SectorAnswer answer = m_source.read(lba);
    if (!answer)
        return false;
    symbolOf(answer.bytes, symbol);
    // Where the table's sector is lost, a member vouches for itself (its EDC): a forged one
    // spoils the word's rebuilt members, which the spare parity then refuses.
    if (!known(index))
        return vouchesForItself(answer.bytes);
    const std::uint32_t check = m_checks[std::size_t(index)];
    return crc32c(symbol, kSymbolSize) == check ||
           (!(answer.bytes[2] & Form2) && index < m_header.layout.protectedSectors &&
            matchesOldListForm(lba, symbol, check, mayRebuild));
}

std::optional<std::uint64_t> RepairingSource::sectorOfMember(int member, std::uint32_t word) const {
    const RepairLayout& layout = m_header.layout;
    const int data = layout.dataBands();
    if (member >= data)
        return layout.protectedSectors + std::uint64_t(member - data) * layout.bandLength + word;
    const std::uint64_t lba = std::uint64_t(member) * layout.bandLength + word;
    // Past the protected sectors: zeros, never lost.
    return lba < layout.protectedSectors ? std::optional(lba) : std::nullopt;
}

void RepairingSource::readWords(std::uint32_t first, std::uint32_t count, std::vector<bool>& lost) {
    // Band after band, a run of `count` members of each: reads in long runs.
    for (int i = 0; i < RepairCode::kMembers; ++i)
        for (std::uint32_t w = 0; w < count; ++w) {
            std::uint8_t* symbol = m_block.data() + (std::size_t(i) * count + w) * kSymbolSize;
            if (const auto sector = sectorOfMember(i, first + w))
                lost[std::size_t(i) * count + w] = !member(*sector, symbol, false);
            else
                std::memset(symbol, 0, kSymbolSize);
        }
}

bool RepairingSource::provedWord(std::uint32_t word, const std::vector<std::uint8_t*>& members,
                                 const std::vector<bool>& lostOfWord) {
    // Each rebuilt member proved against its check table entry: a word whose parity or table
    // lies rebuilds nothing. A member whose entry is unknown is proved only by the spare parity
    // the rebuild compared, where the word had some.
    const RepairLayout& layout = m_header.layout;
    const int data = layout.dataBands();
    const int lostCount = int(std::count(lostOfWord.begin(), lostOfWord.end(), true));
    const bool spareCompared = lostCount < layout.parity;
    std::vector<bool> proved(std::size_t(data), false);
    for (int i = 0; i < RepairCode::kMembers; ++i) {
        const auto sector = sectorOfMember(i, word);
        if (!lostOfWord[std::size_t(i)] || !sector)
            continue;
        const bool ok = known(*sector) ? crc32c(members[std::size_t(i)], kSymbolSize) ==
                                             m_checks[std::size_t(*sector)]
                                       : spareCompared;
        if (known(*sector) && !ok)
            return false;
        if (i < data)
            proved[std::size_t(i)] = ok;
    }
    for (int i = 0; i < data; ++i)
        if (lostOfWord[std::size_t(i)] && proved[std::size_t(i)])
            m_rebuilt[std::uint32_t(i) * layout.bandLength + word].assign(
                members[std::size_t(i)], members[std::size_t(i)] + kSymbolSize);
    return true;
}

void RepairingSource::rebuildWords(std::uint32_t first, bool only) {
    const std::uint32_t count =
        only ? 1 : std::min(kWordsAtOnce, m_header.layout.bandLength - first);
    m_block.resize(std::size_t(RepairCode::kMembers) * count * kSymbolSize);
    std::vector<bool> lost(std::size_t(RepairCode::kMembers) * count, false);
    readWords(first, count, lost);
    std::vector<std::uint8_t*> members(RepairCode::kMembers);
    std::vector<bool> lostOfWord(RepairCode::kMembers);
    for (std::uint32_t w = 0; w < count; ++w) {
        for (int i = 0; i < RepairCode::kMembers; ++i) {
            members[std::size_t(i)] = m_block.data() + (std::size_t(i) * count + w) * kSymbolSize;
            lostOfWord[std::size_t(i)] = lost[std::size_t(i) * count + w];
        }
        const RepairCode::Outcome outcome = m_code.rebuild(kSymbolSize, members.data(), lostOfWord);
        const bool done =
            (outcome == RepairCode::Outcome::Rebuilt || outcome == RepairCode::Outcome::Intact) &&
            provedWord(first + w, members, lostOfWord);
        m_words[first + w] = done ? WordState::Done : WordState::Failed;
        if (done)
            m_count.worstLosses = std::max(
                m_count.worstLosses, int(std::count(lostOfWord.begin(), lostOfWord.end(), true)));
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
    if (answer)
        if (const auto taken = takenAsRead(lba, answer, ownKept))
            return *taken;
    const std::string why = answer.lost;
    ++m_count.lost;
    if (!m_wholeRead) { // a disc in a drive is read whole now, its words rebuilt from that
        readWholeDisc();
        if (!ownKept)
            if (const SectorAnswer again = m_source.read(lba);
                again && symbolCheck(again.bytes) == m_checks[lba] && known(lba)) {
                --m_count.lost; // read after all, on the disc's second pass
                SectorAnswer found = again;
                found.checked = true;
                return found;
            }
    }
    const std::uint32_t word = layout.wordOf(lba);
    if (m_words[word] == WordState::Unknown)
        rebuildWords(word, false);
    const std::uint8_t* symbol = rebuilt(lba);
    if (!symbol && m_words[word] == WordState::Done) {
        rebuildWords(word, true); // read well a moment ago, lost now: its word again
        symbol = rebuilt(lba);
    }
    if (!symbol && !ownKept && m_wholeRead) {
        // Passed over while the disc was read whole, and its word beyond repair: read it now.
        if (SectorAnswer harder = m_source.readHarder(lba)) {
            --m_count.lost;
            harder.checked = known(lba) && symbolCheck(harder.bytes) == m_checks[lba];
            return harder;
        }
    }
    if (!symbol) {
        ++m_count.notRebuildable;
        const std::string notRebuilt = ", and its code word cannot be rebuilt from the repair data";
        if (ownKept) { // never worse than without repair data: its own bytes
            SectorAnswer own{m_own.data(), {}, false};
            // Vouched for by its own EDC, it is taken as without repair data; else doubted,
            // kept while the file's SHA-256 may show it right.
            if (!vouchesForItself(m_own.data()))
                own.doubt = why + notRebuilt;
            return own;
        }
        return {nullptr, why + notRebuilt, false};
    }
    ++m_count.rebuilt;
    if (ownKept && vouchesForItself(m_own.data()))
        ++m_count.readButReplaced;
    return rebuiltSector(lba, symbol);
}

std::optional<SectorAnswer> RepairingSource::takenAsRead(std::uint32_t lba, SectorAnswer& answer,
                                                         bool& ownKept) {
    if (known(lba) && symbolCheck(answer.bytes) == m_checks[lba]) {
        answer.checked = true;
        return answer;
    }
    if (!known(lba) && vouchesForItself(answer.bytes))
        return answer; // no entry to compare with: its own checks decide
    // Kept: every read from here on (the next sector's, a word's) overwrites the answer.
    std::memcpy(m_own.data(), answer.bytes, kStoredSectorBytes);
    ownKept = true;
    if (m_oldListSymbols && !(m_own[2] & Form2) && lba >= m_fileListLba && known(lba)) {
        symbolOf(m_own.data(), m_symbol.data());
        if (matchesOldListForm(lba, m_symbol.data(), m_checks[lba], true)) {
            SectorAnswer kept{m_own.data(), {}, false};
            kept.checked = true;
            return kept;
        }
    }
    answer = {nullptr, "does not hold what the repair data's check table says", false};
    return std::nullopt;
}

SectorAnswer RepairingSource::rebuiltSector(std::uint32_t lba, const std::uint8_t* symbol) {
    // A subheader that says its form, then the symbol (a Form 1 sector's 2,048 bytes); the EDC
    // left as none.
    const bool form1 = isForm1Symbol(lba, symbol);
    std::fill(m_sector.begin(), m_sector.end(), 0);
    m_sector[2] = m_sector[6] = form1 ? std::uint8_t(Data) : std::uint8_t(Data | Form2);
    std::memcpy(m_sector.data() + kSubheaderSize, symbol, form1 ? kForm1Data : kSymbolSize);
    m_rebuilt.erase(lba); // given: a sector read again has its word rebuilt again
    return {m_sector.data(), {}, true};
}

void RepairingSource::readWholeDisc() {
    if (m_wholeRead)
        return;
    m_wholeRead = true;
    const RepairLayout& layout = m_header.layout;
    const std::uint64_t end = std::max<std::uint64_t>(
        {layout.protectedSectors, std::uint64_t(m_header.parityLba) + layout.paritySectors(),
         std::uint64_t(m_header.headerLbas[1]) + layout.headerSectors()});
    m_source.readAllAtOnce(
        std::uint32_t(std::min<std::uint64_t>(end, m_source.sectorCount())),
        [this] { return stillNeeded(); }, m_wholeProgress);
}

std::vector<std::uint32_t> RepairingSource::stillNeeded() {
    const RepairLayout& layout = m_header.layout;
    std::vector<std::vector<std::uint32_t>> lost(layout.bandLength);
    std::vector<std::uint8_t> symbol(kSymbolSize);
    const std::uint64_t all = std::uint64_t(layout.protectedSectors) + layout.paritySectors();
    for (std::uint64_t index = 0; index < all; ++index)
        if (!member(index, symbol.data(), false))
            lost[index < layout.protectedSectors
                     ? layout.wordOf(std::uint32_t(index))
                     : std::uint32_t((index - layout.protectedSectors) % layout.bandLength)]
                .push_back(lbaOf(index));
    std::vector<std::uint32_t> needed;
    for (const std::vector<std::uint32_t>& word : lost)
        if (int(word.size()) > layout.parity)
            needed.insert(needed.end(), word.begin(), word.end());
    std::sort(needed.begin(), needed.end());
    return needed;
}

RepairingSource::Survey
RepairingSource::survey(const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    readWholeDisc();
    const RepairLayout& layout = m_header.layout;
    std::vector<int> losses(layout.bandLength, 0);
    Survey survey;
    Sha256 paritySum;
    bool parityWhole = true;
    std::vector<std::uint8_t> symbol(kSymbolSize);
    const std::uint64_t all = std::uint64_t(layout.protectedSectors) + layout.paritySectors();
    for (std::uint64_t index = 0; index < all; ++index) {
        const bool isParity = index >= layout.protectedSectors;
        if (member(index, symbol.data(), true)) {
            if (isParity)
                paritySum.add(symbol.data(), kSymbolSize);
        } else {
            parityWhole = parityWhole && !isParity;
            ++survey.lost;
            ++losses[isParity ? std::uint32_t(index - layout.protectedSectors) % layout.bandLength
                              : layout.wordOf(std::uint32_t(index))];
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
    survey.paritySumDiffers = parityWhole && digestOf(paritySum) != m_header.paritySha256;
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

// What a sector holds of a header: nothing that reads, a header refused, or one.
struct HeaderRead {
    bool read = false;    // the sector reads as a Form 1 sector
    bool refused = false; // it begins as a header does, but is none that holds
    std::optional<RepairHeader> header;
};

HeaderRead headerIn(SectorSource& source, std::uint32_t lba) {
    const SectorAnswer answer = source.read(lba);
    if (!answer || (answer.bytes[2] & Form2))
        return {};
    const std::uint8_t* bytes = answer.bytes + kSubheaderSize;
    HeaderRead found{true, false, parseRepairHeader(bytes, kForm1Data)};
    found.refused = !found.header && std::memcmp(bytes, RepairHeader::kMagic.data(),
                                                 RepairHeader::kMagic.size()) == 0;
    return found;
}

// Whether what `header` names lies where a disc of `sectors` can hold it: the protected
// sectors on the disc, the parity within what a disc addresses (an image cut short keeps the
// parity it still holds; what is cut counts as lost).
bool fitsTheDisc(const RepairHeader& header, std::uint32_t sectors) {
    const RepairLayout& layout = header.layout;
    return layout.protectedSectors <= sectors && header.parityLba <= kMaxSectors &&
           layout.paritySectors() <= kMaxSectors - header.parityLba;
}

std::string sectorNamed(std::uint32_t lba) {
    return "sector " + std::to_string(lba);
}

// The check table of `header`, each of its sectors from whichever copy reads (the first copy
// first; the second first where that does not match the header's SHA-256). A table some of
// whose sectors neither copy gives is taken with those entries unknown: no sum can be checked
// then, and each symbol they cover vouches for itself.
// The two copies of a check table, each sector where it reads whole, and how they compare.
struct TableCopies {
    std::array<std::vector<std::vector<std::uint8_t>>, 2> copies;
    std::uint32_t fromOneCopy = 0, differing = 0;
    std::vector<std::uint32_t> lost; // sectors that neither copy gives
};

TableCopies tableCopiesOf(SectorSource& source, const RepairHeader& header) {
    const std::uint32_t sectors = source.sectorCount();
    const std::uint32_t tableSectors = header.layout.headerSectors() - 1;
    TableCopies read;
    for (std::size_t copy = 0; copy < 2; ++copy)
        read.copies[copy].resize(tableSectors);
    for (std::uint32_t sector = 0; sector < tableSectors; ++sector) {
        for (std::size_t copy = 0; copy < 2; ++copy) {
            const std::uint32_t at = header.headerLbas[copy];
            if (at >= sectors || sector + 1 >= sectors - at)
                continue;
            const SectorAnswer answer = source.read(at + 1 + sector);
            if (answer && !(answer.bytes[2] & Form2) && form1EdcMatchesFromSubheader(answer.bytes))
                read.copies[copy][sector].assign(answer.bytes + kSubheaderSize,
                                                 answer.bytes + kSubheaderSize + kForm1Data);
        }
        const bool first = !read.copies[0][sector].empty();
        const bool second = !read.copies[1][sector].empty();
        if (!first && !second)
            read.lost.push_back(sector);
        else if (first != second)
            ++read.fromOneCopy;
        else if (read.copies[0][sector] != read.copies[1][sector])
            ++read.differing;
    }
    return read;
}

std::optional<FoundRepair> tableOf(SectorSource& source, const RepairHeader& header,
                                   std::vector<std::string>& troubles) {
    const RepairLayout& layout = header.layout;
    const std::uint32_t entries = layout.protectedSectors + layout.paritySectors();
    const std::uint32_t tableSectors = layout.headerSectors() - 1;
    TableCopies read = tableCopiesOf(source, header);
    const auto& copies = read.copies;
    const std::uint32_t fromOneCopy = read.fromOneCopy, differing = read.differing;
    std::vector<std::uint32_t>& lost = read.lost;
    if (lost.size() == tableSectors) {
        troubles.push_back("its check table cannot be read in either copy");
        return std::nullopt;
    }
    for (const bool secondFirst : {false, true}) {
        std::vector<std::uint32_t> table;
        table.reserve(entries);
        for (std::uint32_t sector = 0; sector < tableSectors; ++sector) {
            const std::vector<std::uint8_t>& preferred = copies[secondFirst ? 1 : 0][sector];
            const std::vector<std::uint8_t>& bytes =
                preferred.empty() ? copies[secondFirst ? 0 : 1][sector] : preferred;
            for (std::size_t at = 0; at < kForm1Data && table.size() < entries; at += 4)
                table.push_back(bytes.empty() ? 0 : readLittleEndian32(bytes.data() + at));
        }
        const std::vector<std::uint8_t> bytes = tableBytes(table);
        if (lost.empty() && sha256Of(bytes.data(), bytes.size()) != header.tableSha256)
            continue;
        if (!lost.empty())
            troubles.push_back(
                std::to_string(lost.size()) + " of the " + std::to_string(tableSectors) +
                " sectors of its check table cannot be read in either copy: the sectors they "
                "vouch for are rebuilt only where spare parity proves them");
        if (fromOneCopy > 0)
            troubles.push_back(std::to_string(fromOneCopy) + " of the " +
                               std::to_string(tableSectors) +
                               " sectors of its check table read from one copy alone");
        if (differing > 0)
            troubles.push_back(std::to_string(differing) +
                               " sectors of its check table differ between its two copies");
        return FoundRepair{header, std::move(table), UINT32_MAX, std::move(lost)};
    }
    troubles.push_back("its check table is not the one its header's SHA-256 names");
    return std::nullopt;
}

// A header found, and where.
struct HeaderFound {
    std::optional<RepairHeader> header;
    std::optional<std::uint32_t> lba;
};

// The header the root folder names, and the file list's place; `look` says whether there is a
// sign to look for the header's copy at the disc's end: its first copy is named but cannot be
// read, the disc holds sectors past its volume, or there is no file system to ask.
HeaderFound headerNamedByRoot(SectorSource& source, RepairSearch& search, bool& look,
                              std::uint32_t& fileListLba) {
    HeaderFound named;
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
            search.signs = true;
            const HeaderRead read = headerIn(source, record->lba);
            named = {read.header, record->lba};
            if (!read.header)
                search.troubles.push_back(
                    "the header that the root folder names, at " + sectorNamed(record->lba) +
                    (read.read ? ", is not one that can be used" : ", cannot be read"));
            look = look || !read.header;
        } else {
            look = look || files.volumeSectors() < source.sectorCount();
        }
        if (const auto list = find(kFileListIdentifier))
            fileListLba = list->lba;
        look = look || (!named.header && writtenByVelmoraTolk(source));
    } catch (const Error&) {
        look = true;
    }
    return named;
}

// The last copy of the header among the disc's last sectors.
HeaderFound headerAtDiscEnd(SectorSource& source, RepairSearch& search) {
    HeaderFound last;
    const std::uint32_t sectors = source.sectorCount();
    const std::uint32_t scanned = std::min(kMostSectorsScanned, std::max(sectors / 20, 64u));
    const std::uint32_t from = sectors - std::min(sectors, scanned);
    std::uint32_t refused = 0;
    for (std::uint32_t lba = from; lba < sectors; ++lba) { // onward: read in long runs
        const HeaderRead read = headerIn(source, lba);
        refused += read.refused ? 1 : 0;
        if (read.header)
            last = {read.header, lba}; // the last one found: the copy that ends the disc
    }
    if (last.header && search.signs)
        search.troubles.push_back("its header was found at the disc's end, at " +
                                  sectorNamed(*last.lba));
    if (!last.header && refused > 0)
        search.troubles.push_back(std::to_string(refused) +
                                  " sectors at the disc's end begin as its header does, but none "
                                  "is one that can be used");
    search.signs = search.signs || last.header || refused > 0;
    return last;
}

// The header found, and the other copy it names where that one differs: each that fits the
// disc, to try in turn.
std::vector<RepairHeader> headerCandidates(SectorSource& source, const HeaderFound& found,
                                           std::vector<std::string>& troubles) {
    const std::uint32_t sectors = source.sectorCount();
    const RepairHeader& header = *found.header;
    std::vector<RepairHeader> candidates;
    if (fitsTheDisc(header, sectors))
        candidates.push_back(header);
    else
        troubles.push_back("its header names sectors that no disc of " + std::to_string(sectors) +
                           " sectors holds");
    const std::array<const char*, 2> kCopyNames = {"first", "second"};
    for (std::size_t copy = 0; copy < 2; ++copy) {
        const std::uint32_t at = header.headerLbas[copy];
        if (found.lba && at == *found.lba)
            continue;
        const std::string which =
            std::string("its header's ") + kCopyNames[copy] + " copy, at " + sectorNamed(at);
        const HeaderRead read = at < sectors ? headerIn(source, at) : HeaderRead{};
        if (!read.header) {
            troubles.push_back(which + (at >= sectors ? ", lies past the disc's end"
                                        : read.read   ? ", is not one that can be used"
                                                      : ", cannot be read"));
        } else if (encodeRepairHeader(*read.header) != encodeRepairHeader(header)) {
            troubles.push_back(which + ", differs from the one at " +
                               sectorNamed(found.lba.value_or(0)));
            if (fitsTheDisc(*read.header, sectors))
                candidates.push_back(*read.header);
        }
    }
    return candidates;
}

} // namespace

RepairSearch searchRepairData(SectorSource& source) {
    RepairSearch search;
    bool look = false;
    std::uint32_t fileListLba = UINT32_MAX;
    HeaderFound found = headerNamedByRoot(source, search, look, fileListLba);
    if (!found.header && look)
        found = headerAtDiscEnd(source, search);
    if (!found.header)
        return search;
    // The first candidate whose table holds is used.
    for (const RepairHeader& candidate : headerCandidates(source, found, search.troubles)) {
        if (auto repair = tableOf(source, candidate, search.troubles)) {
            if (fileListLba < candidate.layout.protectedSectors)
                repair->fileListLba = fileListLba;
            search.found = std::move(repair);
            return search;
        }
    }
    return search;
}

} // namespace cdimage
