// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Repair data made and used: the parity and the check table of an image's protected sectors
// (docs/repair-format.md), and a sector source that rebuilds what another one loses.

#include "cdimage/format/repairformat.h"
#include "cdimage/read/sectorsource.h"
#include "cdimage/repair/repaircode.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace cdimage {

// The symbol of a sector as stored from its subheader on: a Form 2 sector's 2,324 user bytes,
// a Form 1 sector's 2,048 and 276 zeros.
void symbolOf(const std::uint8_t* stored, std::uint8_t* symbol);

// The parity and the check table of the protected sectors, given their symbols one by one, in
// any order.
class ParityBuilder {
public:
    explicit ParityBuilder(const RepairLayout& layout);

    void add(std::uint32_t lba, const std::uint8_t* symbol);
    using Opener = std::function<std::unique_ptr<SectorSource>()>;

    // The share of data bands `first` to `last - 1` in the parity of every word at once, from
    // the protected sectors before `end` as `open` gives them (a source of its own for each
    // thread, read a block of words at a time: a run of sectors in each band), those from `end`
    // on counted as zeros: for them add() follows. Each band is given once, in any order, by
    // this or by add(). Far quicker than adding each sector as it comes, whose updates sweep the
    // whole parity once for each band. Any number of threads share the work: each one that
    // calls work() takes blocks of words until none is left. One Bands at a time.
    class Bands {
    public:
        Bands(ParityBuilder& parity, Opener open, int first, int last, std::uint32_t end,
              std::function<void()> eachBlock);
        // Encodes blocks until none is left (at once when none is). What a thread meets (an
        // unreadable sector, what `eachBlock` throws, called before each block) stops every
        // thread and is kept for finish().
        void work();
        // Works too, waits until every thread's work() has returned, and throws what one met.
        void finish();

    private:
        void encodeBlock(SectorSource& source, std::uint32_t block, std::uint8_t* symbols,
                         std::uint8_t* scratch);

        ParityBuilder& m_builder;
        Opener m_open;
        std::function<void()> m_eachBlock;
        RepairCode::Share m_share;
        std::uint32_t m_end;
        bool m_writes; // the first share given writes the parity; each later one adds to it
        std::uint32_t m_blocks;
        std::atomic<std::uint32_t> m_nextBlock{0};
        std::mutex m_lock;
        std::condition_variable m_idle;
        int m_working = 0;
        std::exception_ptr m_failure;
    };

    // Bands encoded on `threads` threads; throws what a thread met.
    void encodeBands(const Opener& open, int first, int last, std::uint32_t end, unsigned threads,
                     const std::function<void()>& eachBlock = {});

    const RepairLayout& layout() const { return m_layout; }
    // Parity symbol `index` (r * L + j for member r of word j), once every protected one is in.
    const std::uint8_t* parity(std::uint32_t index) const {
        return m_parity.get() + std::size_t(index) * kSymbolSize;
    }
    // The check table: the CRC-32C of every protected symbol, then of every parity symbol.
    std::vector<std::uint32_t> checkTable() const;
    // The bytes of VELMORA.RPH once every protected symbol is in: the header, then the check
    // table, 512 entries to a sector.
    std::vector<std::uint8_t> headerFile(std::uint32_t parityLba,
                                         const std::array<std::uint32_t, 2>& headerLbas,
                                         std::int64_t created, const std::string& builder) const;

private:
    RepairLayout m_layout;
    RepairCode m_code;
    // m * L symbols, left unset until the first add() or encodeBands(): the parity of a full
    // disc is 100 MB, and the first encodeBands() writes every byte of it.
    std::unique_ptr<std::uint8_t[]> m_parity;
    std::size_t m_paritySize = 0;
    bool m_paritySet = false;
    std::vector<std::uint32_t> m_protectedChecks;
};

// What a repairing source did.
struct RepairCount {
    std::uint64_t lost = 0;           // protected sectors that could not be taken as read
    std::uint64_t rebuilt = 0;        // of those, rebuilt
    std::uint64_t notRebuildable = 0; // of those, in a word with too many losses
    int worstLosses = 0;              // the most members a word rebuilt had lost
    // Of those rebuilt, sectors that read without error, their own checks good, yet not as the
    // check table says: the disc and its repair data disagree, and the repair data's version
    // (proved against the table, then by the file's SHA-256) was given.
    std::uint64_t readButReplaced = 0;
};

// The repair data of a disc, as found on it.
struct FoundRepair {
    RepairHeader header;
    std::vector<std::uint32_t> checkTable;
    // Where the file list begins, as the file system says, where it lies among the protected
    // sectors; else past them.
    std::uint32_t fileListLba = UINT32_MAX;
    // The sectors of the check table (0 for its first, entries 0 to 511) that neither copy
    // gave: their entries are unknown, each of their symbols vouched for by its own EDC alone.
    std::vector<std::uint32_t> tableSectorsLost = {};
};

// The repair data of a disc as a search found it: usable (`found`), perhaps weakened, or not.
struct RepairSearch {
    std::optional<FoundRepair> found;
    // Whether the disc shows signs of repair data (a header, a record of one) that reads whole
    // or not.
    bool signs = false;
    // Each way in which the repair data is weaker than written (a header copy lost or
    // differing, table sectors from one copy alone), or why none is used: "the header's
    // second copy, at sector 556, cannot be read".
    std::vector<std::string> troubles;
};

// Whether the repair data of `header` was written by velmora_tolk 0.3, which took as the symbol
// of a sector of the file list the list's bytes from that sector's start, 2,324 of them: the
// sector's own 2,048 and the first 276 of the next sector's (zeros past the list's end, where
// its sectors hold zeros too). Its check table and parity are of that form; a reader takes a
// Form 1 sector as intact when either form matches its entry.
bool takesOldListSymbols(const RepairHeader& header);

// The sectors of `source`, a protected sector that is lost (unreadable, or its symbol not the one
// the check table names) rebuilt from the other members of its word where at most m are lost,
// every rebuilt member proved against its check table entry (or, where the table's sector is
// lost, by the word's spare parity). A sector that reads but does not match its entry and
// cannot be rebuilt is given as it was read: reading through repair data never gives less than
// reading without it. Unless its own EDC vouches for it, it is doubted (SectorAnswer::doubt). A
// rebuilt sector is given as a sector of its symbol: a Form 2 sector's user data, or a Form 1
// sector's 2,048 bytes (its symbol ends in 276 zeros, or in an image of velmora_tolk 0.3 in the
// next sector's first 276 bytes) with their EDC.
class RepairingSource : public SectorSource {
public:
    RepairingSource(SectorSource& source, FoundRepair found);
    RepairingSource(SectorSource& source, const RepairHeader& header,
                    std::vector<std::uint32_t> checkTable)
        : RepairingSource(source, FoundRepair{header, std::move(checkTable)}) {}

    std::uint32_t sectorCount() const override { return m_source.sectorCount(); }
    const std::uint8_t* sector(std::uint32_t lba) override;
    std::string whyUnreadable(std::uint32_t lba) const override;
    std::uint32_t lastSessionStart() const override { return m_source.lastSessionStart(); }
    bool holdsForm2() const override { return m_source.holdsForm2(); }
    SectorAnswer read(std::uint32_t lba) override;
    SectorAnswer readHarder(std::uint32_t lba) override { return m_source.readHarder(lba); }

    void readAllAtOnce(std::uint32_t end,
                       const std::function<std::vector<std::uint32_t>()>& stillNeeded,
                       const std::function<void(const PassProgress&)>& progress) override {
        m_source.readAllAtOnce(end, stillNeeded, progress);
    }
    // Where a reading of the whole disc is told, once the first lost sector starts one.
    void onWholeReading(std::function<void(const PassProgress&)> progress) {
        m_wholeProgress = std::move(progress);
    }
    // The source, where each read costs (a drive), reads the whole disc at once: every sector
    // of the repair data's cover once, then the lost members of each word that lost more than
    // m, so that every word is rebuilt from what was kept. Done at the first lost sector, and
    // by survey().
    void readWholeDisc();
    // The members lost (unreadable or not what their entries say) of the words that lost more
    // than m, by LBA.
    std::vector<std::uint32_t> stillNeeded();

    const RepairCount& count() const { return m_count; }
    const RepairHeader& header() const { return m_header; }

    // Every member of every word read once from the source and checked, `progress` told the
    // members done and in all now and then.
    struct Survey {
        std::uint64_t lost = 0; // members lost, protected and parity
        int worstLosses = 0;    // of the word that lost most
        std::uint32_t worstWord = 0;
        std::uint32_t wordsBeyondRepair = 0; // that lost more than m
        // The parity read whole, but not the parity the header's SHA-256 names.
        bool paritySumDiffers = false;
    };
    Survey survey(const std::function<void(std::uint64_t, std::uint64_t)>& progress);

private:
    enum class WordState : std::uint8_t { Unknown, Done, Failed };
    // Words rebuilt at once: their members are read as runs of consecutive sectors, one run
    // in each band.
    static constexpr std::uint32_t kWordsAtOnce = 16;

    // The symbol of member `index` (protected, then parity) into `symbol`, or false when it
    // is lost: unreadable, or not the symbol its check table entry names (where the entry is
    // unknown, not vouched for by its own EDC). `mayRebuild`: see matchesOldListForm.
    bool member(std::uint64_t index, std::uint8_t* symbol, bool mayRebuild);
    // Whether the check table entry of symbol `index` (protected, then parity) was read.
    bool known(std::uint64_t index) const {
        return m_knownTableSectors.empty() || m_knownTableSectors[std::size_t(index / 512)];
    }
    // The sector of symbol `index`.
    std::uint32_t lbaOf(std::uint64_t index) const;
    // Whether `symbol`, a Form 1 sector's 2,048 bytes, matches `check` in the form velmora_tolk
    // 0.3 gave the file list's sectors, once the next sector's first 276 bytes are put after
    // them; `symbol` keeps that form. Reads the next sector: an answer read before is gone.
    // `mayRebuild`: a next sector of the list that is lost may have its word rebuilt first
    // (never while words are being rebuilt).
    bool matchesOldListForm(std::uint32_t lba, std::uint8_t* symbol, std::uint32_t check,
                            bool mayRebuild);
    // Whether a rebuilt symbol is a Form 1 sector's: it ends in zeros or, in an image of
    // velmora_tolk 0.3, it is of the file list.
    bool isForm1Symbol(std::uint32_t lba, const std::uint8_t* symbol) const;
    // The first `size` bytes of the next sector's symbol, where it reads (or was rebuilt) as a
    // Form 1 sector.
    bool nextForm1Bytes(std::uint32_t lba, std::uint8_t* into, std::size_t size, bool mayRebuild);
    // The words from `first` on, up to kWordsAtOnce, rebuilt where they lost data members,
    // those kept; `only` reads one word alone.
    void rebuildWords(std::uint32_t first, bool only);
    // The sector of member `member` of code word `word`; nothing for a data member past the
    // protected sectors, which counts as zeros.
    std::optional<std::uint64_t> sectorOfMember(int member, std::uint32_t word) const;
    // Reads the members of `count` words from `first` on into m_block, marking the lost ones.
    void readWords(std::uint32_t first, std::uint32_t count, std::vector<bool>& lost);
    // Whether the members of `word` rebuilt are each proved; those proved are kept.
    bool provedWord(std::uint32_t word, const std::vector<std::uint8_t*>& members,
                    const std::vector<bool>& lostOfWord);
    // A sector as read taken, or kept aside in m_own (`ownKept`) with `answer` saying why not.
    std::optional<SectorAnswer> takenAsRead(std::uint32_t lba, SectorAnswer& answer, bool& ownKept);
    // The sector a rebuilt symbol stands for.
    SectorAnswer rebuiltSector(std::uint32_t lba, const std::uint8_t* symbol);
    // The rebuilt symbol of a protected sector, or nothing.
    const std::uint8_t* rebuilt(std::uint32_t lba) const;

    SectorSource& m_source;
    RepairHeader m_header;
    RepairCode m_code;
    std::vector<std::uint32_t> m_checks;
    std::vector<bool> m_knownTableSectors; // empty where every one was read
    RepairCount m_count;
    std::vector<WordState> m_words;
    std::vector<std::uint8_t> m_block;  // the members of the words being rebuilt
    std::vector<std::uint8_t> m_sector; // a rebuilt sector as given
    std::vector<std::uint8_t> m_own;    // a sector read but doubted, as it was read
    std::vector<std::uint8_t> m_symbol; // a member's symbol, checked in the old list form
    bool m_oldListSymbols = false;
    bool m_wholeRead = false;
    std::function<void(const PassProgress&)> m_wholeProgress;
    std::uint32_t m_fileListLba = UINT32_MAX; // its sectors, up to the last protected one, Form 1
    // The rebuilt data members not yet given, by LBA: each word is rebuilt once, and at most
    // the parity's size is held.
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> m_rebuilt;
};

// The repair data of the disc whose sectors `source` gives: its header where the root folder's
// VELMORA.RPH lies, else where a scan of the disc's last sectors finds one (the other copy where
// the first one's table does not hold), and its check table from either copy, sector by
// sector. Nothing found when the disc has none, or none that can be trusted.
RepairSearch searchRepairData(SectorSource& source);
inline std::optional<FoundRepair> findRepairData(SectorSource& source) {
    return searchRepairData(source).found;
}

} // namespace cdimage
