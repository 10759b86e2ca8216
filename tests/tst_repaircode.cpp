// SPDX-License-Identifier: GPL-3.0-or-later
// The erasure code of the repair data against a reference of the test's own: GF(2^8) with the
// polynomial 0x11D, parity member r (counted from k) of data member c weighted by the inverse
// of (r XOR c). Every loss of up to m members is rebuilt, m + 1 are refused, and a bad member
// taken for good is caught, never spread.

#include "cdimage/base/sector.h"
#include "cdimage/format/repairformat.h"
#include "cdimage/read/discreader.h"
#include "cdimage/repair/repaircode.h"
#include "cdimage/repair/repairdata.h"
#include "cdimage/write/parityaswritten.h"
#include "dat2file/commands.h"
#include "referencecode.h"
#include "toolrun.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <numeric>
#include <random>
#include <set>
#include <thread>

namespace {

using velmora::test::Bytes;

using velmora::test::referenceParity;

std::vector<Bytes> randomMembers(int count, std::size_t length, std::mt19937& random) {
    std::vector<Bytes> members(static_cast<std::size_t>(count), Bytes(length));
    for (Bytes& member : members)
        for (std::uint8_t& byte : member)
            byte = std::uint8_t(random());
    return members;
}

std::vector<const std::uint8_t*> pointers(const std::vector<Bytes>& members) {
    std::vector<const std::uint8_t*> out;
    for (const Bytes& member : members)
        out.push_back(member.data());
    return out;
}

std::vector<std::uint8_t*> pointers(std::vector<Bytes>& members) {
    std::vector<std::uint8_t*> out;
    for (Bytes& member : members)
        out.push_back(member.data());
    return out;
}

// A whole word: k data members and their parity.
std::vector<Bytes> word(const cdimage::RepairCode& code, std::size_t length, std::mt19937& random) {
    std::vector<Bytes> members = randomMembers(code.dataMembers(), length, random);
    std::vector<Bytes> parity(std::size_t(code.parityMembers()), Bytes(length));
    code.encode(length, pointers(std::as_const(members)).data(), pointers(parity).data());
    members.insert(members.end(), parity.begin(), parity.end());
    return members;
}

// `count` members of 255 chosen at random.
std::vector<bool> lostAtRandom(std::size_t count, std::mt19937& random) {
    std::vector<int> order(255);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<bool> lost(255, false);
    for (std::size_t i = 0; i < count; ++i)
        lost[std::size_t(order[i])] = true;
    return lost;
}

// Stored sectors (subheader on) in memory, Form 1 and Form 2 mixed, as an image being written:
// a source opened sees only the sectors written by then, as a file's reader sees its length.
class WrittenSectors {
public:
    WrittenSectors(std::uint32_t count, std::mt19937& random)
        : m_sectors(count, Bytes(cdimage::kStoredSectorBytes)) {
        for (Bytes& sector : m_sectors) {
            for (std::uint8_t& byte : sector)
                byte = std::uint8_t(random());
            sector[2] = random() % 3 == 0 ? 0 : cdimage::Form2;
        }
    }
    std::uint32_t count() const { return std::uint32_t(m_sectors.size()); }
    // Its symbol, by the format's rule: a Form 1 sector's 2,048 bytes and zeros.
    Bytes symbol(std::uint32_t lba) const {
        const Bytes& sector = m_sectors[lba];
        const std::size_t size = sector[2] & cdimage::Form2 ? cdimage::kSymbolSize : 2048;
        Bytes symbol(sector.begin() + 8, sector.begin() + 8 + std::ptrdiff_t(size));
        symbol.resize(cdimage::kSymbolSize, 0);
        return symbol;
    }
    void write(std::uint32_t end) { m_written = std::max(m_written.load(), end); }
    void breakSector(std::uint32_t lba) { m_broken = lba; }

    cdimage::ParityBuilder::Opener opener() {
        return [this] {
            return std::make_unique<Source>(*this, m_written.load());
        };
    }

private:
    class Source : public cdimage::SectorSource {
    public:
        Source(const WrittenSectors& sectors, std::uint32_t visible)
            : m_of(sectors)
            , m_visible(visible) {}
        std::uint32_t sectorCount() const override { return m_visible; }
        const std::uint8_t* sector(std::uint32_t lba) override {
            return lba < m_visible && lba != m_of.m_broken ? m_of.m_sectors[lba].data() : nullptr;
        }
        std::string whyUnreadable(std::uint32_t lba) const override {
            return lba < m_visible ? "it is broken" : "it is not written yet";
        }

    private:
        const WrittenSectors& m_of;
        std::uint32_t m_visible;
    };

    std::vector<Bytes> m_sectors;
    std::atomic<std::uint32_t> m_written{0};
    std::uint32_t m_broken = UINT32_MAX;
};

} // namespace

class RepairCodeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parityIsTheFormula_data();
    void parityIsTheFormula();
    void upToMLossesAreRebuiltAndMorePlusOneRefused_data();
    void upToMLossesAreRebuiltAndMorePlusOneRefused();
    void aBadMemberTakenForGoodIsCaught();
    void parityEncodedAsTheImageIsWrittenIsTheFormula();
    void parityAsWrittenStopsAndFailsCleanly();
    void checksumIsTheStandardCrc32c();
    void bandsGiveEveryWordAtMostMOfAnyLongestBurst();
    void headerReadsBackAndNothingElseReadsAsOne();
    void parityShrinksToFitTheDisc();
    void damagedImageComesBackAsTheOraclePredicts_data();
    void damagedImageComesBackAsTheOraclePredicts();
};

void RepairCodeTest::parityIsTheFormula_data() {
    QTest::addColumn<int>("m");
    QTest::newRow("m 8") << 8;
    QTest::newRow("m 32") << 32;
    QTest::newRow("m 127") << 127;
}

// ISA-L's parity, at once and one member at a time in any order, is the formula's.
void RepairCodeTest::parityIsTheFormula() {
    QFETCH(int, m);
    const cdimage::RepairCode code(m);
    std::mt19937 random{std::uint32_t(m)};
    const std::vector<Bytes> data = randomMembers(code.dataMembers(), 77, random);
    std::vector<Bytes> parity(static_cast<std::size_t>(m), Bytes(77));
    code.encode(77, pointers(data).data(), pointers(parity).data());
    QVERIFY(parity == referenceParity(data, m));

    std::vector<Bytes> streamed(static_cast<std::size_t>(m), Bytes(77, 0));
    std::vector<int> order(std::size_t(code.dataMembers()));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    for (const int index : order)
        code.addToParity(77, index, data[std::size_t(index)].data(), pointers(streamed).data());
    QVERIFY(streamed == parity);

    // The shares of ranges that part the data members add up to the parity.
    std::vector<Bytes> summed(static_cast<std::size_t>(m), Bytes(77, 0));
    for (int first = 0; first < code.dataMembers();) {
        const int count = std::min(1 + int(random() % 40), code.dataMembers() - first);
        const cdimage::RepairCode::Share share = code.share(first, count);
        std::vector<Bytes> part(static_cast<std::size_t>(m), Bytes(77));
        share.encode(77, pointers(data).data() + first, pointers(part).data());
        for (int r = 0; r < m; ++r)
            for (std::size_t b = 0; b < 77; ++b)
                summed[std::size_t(r)][b] ^= part[std::size_t(r)][b];
        first += count;
    }
    QVERIFY(summed == parity);
    for (int r = 0; r < m; ++r)
        QCOMPARE(code.coefficient(r, 3),
                 velmora::test::field().inv(std::uint8_t((255 - m + r) ^ 3)));
}

void RepairCodeTest::upToMLossesAreRebuiltAndMorePlusOneRefused_data() {
    QTest::addColumn<int>("m");
    QTest::newRow("m 8") << 8;
    QTest::newRow("m 32") << 32;
}

// Thousands of random losses: each of up to m comes back byte-exact, m + 1 change nothing.
void RepairCodeTest::upToMLossesAreRebuiltAndMorePlusOneRefused() {
    QFETCH(int, m);
    const cdimage::RepairCode code(m);
    std::mt19937 random{std::uint32_t(1000 + m)};
    const std::vector<Bytes> original = word(code, 33, random);
    for (int round = 0; round < 1500; ++round) {
        const std::size_t count = round % 3 == 0 ? std::size_t(m) : 1 + random() % std::size_t(m);
        const std::vector<bool> lost = lostAtRandom(count, random);
        std::vector<Bytes> members = original;
        for (std::size_t i = 0; i < 255; ++i)
            if (lost[i])
                std::fill(members[i].begin(), members[i].end(), std::uint8_t(0xEE));
        QCOMPARE(code.rebuild(33, pointers(members).data(), lost),
                 cdimage::RepairCode::Outcome::Rebuilt);
        QVERIFY2(members == original, qPrintable(QString::number(round)));
    }
    for (int round = 0; round < 50; ++round) {
        const std::vector<bool> lost = lostAtRandom(std::size_t(m) + 1, random);
        std::vector<Bytes> members = original;
        for (std::size_t i = 0; i < 255; ++i)
            if (lost[i])
                std::fill(members[i].begin(), members[i].end(), std::uint8_t(0xEE));
        const std::vector<Bytes> before = members;
        QCOMPARE(code.rebuild(33, pointers(members).data(), lost),
                 cdimage::RepairCode::Outcome::TooManyLost);
        QVERIFY(members == before);
    }
    std::vector<Bytes> untouched = original;
    QCOMPARE(code.rebuild(33, pointers(untouched).data(), std::vector<bool>(255, false)),
             cdimage::RepairCode::Outcome::Intact);
}

// One flipped bit in a member read as good, with fewer than m lost: refused, data or parity.
void RepairCodeTest::aBadMemberTakenForGoodIsCaught() {
    const cdimage::RepairCode code(32);
    std::mt19937 random(7);
    const std::vector<Bytes> original = word(code, 64, random);
    for (int round = 0; round < 300; ++round) {
        const std::vector<bool> lost = lostAtRandom(1 + random() % 31, random);
        std::size_t bad = random() % 255;
        while (lost[bad])
            bad = (bad + 1) % 255;
        std::vector<Bytes> members = original;
        members[bad][random() % 64] ^= std::uint8_t(1u << (random() % 8));
        QCOMPARE(code.rebuild(64, pointers(members).data(), lost),
                 cdimage::RepairCode::Outcome::Inconsistent);
    }
}

// CRC-32C bit by bit (reflected 0x82F63B78, all ones in and out), against ISA-L's.
// The parity encoded on a thread of its own while the sectors are written, in batches whose
// sizes the writing decides, the last ones on several threads, and the sectors after the
// written ones added one by one: every word is the formula's, every check table entry the
// symbol's, whatever the pace, the band length and the number of threads.
void RepairCodeTest::parityEncodedAsTheImageIsWrittenIsTheFormula() {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 random{seed};
        const int m = seed % 2 ? 8 : 32;
        const std::uint32_t protectedSectors =
            std::uint32_t(255 - m) * (3 + random() % 5) - random() % 100; // a last band not whole
        const cdimage::RepairLayout layout = cdimage::RepairLayout::of(protectedSectors, m);
        WrittenSectors sectors(protectedSectors, random);
        // The file list's sectors come after the parity of the others is taken.
        const std::uint32_t end = protectedSectors - random() % (2 * layout.bandLength);
        cdimage::ParityAsWritten encoding(layout, sectors.opener(), {});
        for (std::uint32_t written = 0; written < end;) {
            written = std::min(end, written + 1 + std::uint32_t(random() % 300));
            sectors.write(written);
            encoding.written(written);
            if (random() % 4 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        }
        const std::unique_ptr<cdimage::ParityBuilder> parity = encoding.finish(end, 1 + seed % 3);
        for (std::uint32_t lba = end; lba < protectedSectors; ++lba)
            parity->add(lba, sectors.symbol(lba).data());

        const std::uint32_t L = layout.bandLength;
        const std::vector<std::uint32_t> table = parity->checkTable();
        for (std::uint32_t lba = 0; lba < protectedSectors; ++lba) {
            const Bytes symbol = sectors.symbol(lba);
            QCOMPARE(table[lba], cdimage::crc32c(symbol.data(), symbol.size()));
        }
        for (std::uint32_t j = 0; j < L; ++j) {
            std::vector<Bytes> members;
            for (int c = 0; c < 255 - m; ++c) {
                const std::uint32_t lba = std::uint32_t(c) * L + j;
                members.push_back(lba < protectedSectors ? sectors.symbol(lba)
                                                         : Bytes(cdimage::kSymbolSize, 0));
            }
            const std::vector<Bytes> expected = referenceParity(members, m);
            for (int r = 0; r < m; ++r)
                QVERIFY2(
                    std::equal(expected[std::size_t(r)].begin(), expected[std::size_t(r)].end(),
                               parity->parity(std::uint32_t(r) * L + j)),
                    qPrintable(u"seed %1, word %2, parity member %3"_qs.arg(seed).arg(j).arg(r)));
        }
    }
}

// A build that fails or is stopped while the parity is encoded leaves no thread behind, and an
// unreadable sector is told by finish(), naming it.
void RepairCodeTest::parityAsWrittenStopsAndFailsCleanly() {
    std::mt19937 random{7};
    const cdimage::RepairLayout layout = cdimage::RepairLayout::of(223 * 40, 32);
    WrittenSectors sectors(layout.protectedSectors, random);
    {
        cdimage::ParityAsWritten encoding(layout, sectors.opener(), {});
        sectors.write(layout.protectedSectors / 2);
        encoding.written(layout.protectedSectors / 2);
    } // gone mid-way: returns at once, its thread joined

    sectors.breakSector(layout.bandLength * 30 + 5);
    cdimage::ParityAsWritten encoding(layout, sectors.opener(), {});
    sectors.write(layout.protectedSectors);
    encoding.written(layout.protectedSectors);
    try {
        encoding.finish(layout.protectedSectors, 2);
        QFAIL("an unreadable sector went unnoticed");
    } catch (const cdimage::Error& error) {
        const std::string expected = std::to_string(layout.bandLength * 30 + 5) + " of the image";
        QVERIFY2(std::string(error.what()).find(expected) != std::string::npos, error.what());
    }
}

void RepairCodeTest::checksumIsTheStandardCrc32c() {
    const auto bitwise = [](const Bytes& bytes) {
        return velmora::test::bitwiseCrc32c(bytes.data(), bytes.size());
    };
    const Bytes check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    QCOMPARE(cdimage::crc32c(check.data(), check.size()), 0xE3069283u);
    std::mt19937 random(3);
    for (const std::size_t size :
         {std::size_t(0), std::size_t(1), std::size_t(2324), std::size_t(100001)}) {
        Bytes bytes(size);
        for (std::uint8_t& byte : bytes)
            byte = std::uint8_t(random());
        QCOMPARE(cdimage::crc32c(bytes.data(), bytes.size()), bitwise(bytes));
        // In two pieces, the second after the first: the same.
        const std::size_t half = size / 3;
        QCOMPARE(cdimage::crc32cAfter(cdimage::crc32c(bytes.data(), half), bytes.data() + half,
                                      size - half),
                 bitwise(bytes));
    }
}

// Every protected sector is one member of one word; a run of the longest burst anywhere costs
// no word more than m members, and m + 1 bands' worth costs some word m + 1.
void RepairCodeTest::bandsGiveEveryWordAtMostMOfAnyLongestBurst() {
    for (const auto& [sectors, m] : {std::pair{1000u, 8}, std::pair{4321u, 32}, {97u, 16}}) {
        const cdimage::RepairLayout layout = cdimage::RepairLayout::of(sectors, m);
        QVERIFY(std::uint64_t(layout.bandLength) * std::uint64_t(255 - m) >= sectors);
        QVERIFY(std::uint64_t(layout.bandLength - 1) * std::uint64_t(255 - m) < sectors);
        std::set<std::pair<std::uint32_t, int>> seen;
        for (std::uint32_t lba = 0; lba < sectors; ++lba) {
            QVERIFY(layout.memberOf(lba) < 255 - m);
            QVERIFY(seen.insert({layout.wordOf(lba), layout.memberOf(lba)}).second);
        }
        // Protected and parity bands, one after the other: a burst anywhere in them.
        const std::uint32_t all = std::uint32_t(255) * layout.bandLength;
        const auto worst = [&](std::uint32_t first, std::uint32_t length) {
            std::vector<int> losses(layout.bandLength, 0);
            for (std::uint32_t at = first; at < first + length && at < all; ++at)
                ++losses[at % layout.bandLength];
            return *std::max_element(losses.begin(), losses.end());
        };
        for (std::uint32_t first = 0; first + layout.longestBurst() <= all; first += 7)
            QVERIFY(worst(first, layout.longestBurst()) <= m);
        QCOMPARE(worst(0, std::uint32_t(m + 1) * layout.bandLength), m + 1);
    }
}

void RepairCodeTest::headerReadsBackAndNothingElseReadsAsOne() {
    cdimage::RepairHeader header;
    header.layout = cdimage::RepairLayout::of(300000, 32);
    header.parityLba = 300050;
    header.headerLbas = {300010, 342000};
    header.paritySha256.fill(0xAB);
    header.tableSha256.fill(0xCD);
    header.created = -86400;
    header.builder = "velmora_tolk 9.9";
    const Bytes bytes = cdimage::encodeRepairHeader(header);
    QCOMPARE(bytes.size(), std::size_t(2048));
    const auto read = cdimage::parseRepairHeader(bytes.data(), bytes.size());
    QVERIFY(read);
    QCOMPARE(read->layout.bandLength, header.layout.bandLength);
    QCOMPARE(read->layout.parity, 32);
    QCOMPARE(read->parityLba, 300050u);
    QVERIFY(read->headerLbas == header.headerLbas);
    QVERIFY(read->paritySha256 == header.paritySha256 && read->tableSha256 == header.tableSha256);
    QCOMPARE(read->created, std::int64_t(-86400));
    QCOMPARE(QString::fromStdString(read->builder), u"velmora_tolk 9.9"_qs);
    // Any byte of the fields changed: no header.
    for (std::size_t at = 0; at < 164; ++at) {
        Bytes changed = bytes;
        changed[at] ^= 0x01;
        QVERIFY2(!cdimage::parseRepairHeader(changed.data(), changed.size()),
                 qPrintable(QString::number(at)));
    }
    QVERIFY(!cdimage::parseRepairHeader(bytes.data(), 100));
}

// REPAIR.md's figures for a full 80-minute disc: m = 32 leaves room for about 728 MB of files.
void RepairCodeTest::parityShrinksToFitTheDisc() {
    const std::uint32_t disc = cdimage::kEightyMinuteSectors;
    const auto filesFitting = [&](int m) {
        std::uint32_t low = 0, high = disc;
        while (low < high) { // the most protected sectors that fit with m
            const std::uint32_t middle = (low + high + 1) / 2;
            if (cdimage::parityThatFits(middle, m, disc) == m)
                low = middle;
            else
                high = middle - 1;
        }
        return low;
    };
    const std::uint32_t at32 = filesFitting(32);
    QVERIFY2(at32 * 2324.0 / 1e6 > 715 && at32 * 2324.0 / 1e6 < 740,
             qPrintable(QString::number(at32)));
    QVERIFY(filesFitting(64) < filesFitting(16));
    QCOMPARE(cdimage::parityThatFits(1000, 32, disc), 32);
    QVERIFY(cdimage::parityThatFits(at32 + 2000, 32, disc) < 32);
    QVERIFY(cdimage::parityThatFits(at32 + 2000, 32, disc) >= cdimage::kLeastParity);
    QCOMPARE(cdimage::parityThatFits(disc - 10, 32, disc), 0);
}

namespace {

// An image's sectors with its parity after them (Form 2 sectors of the parity symbols), the
// sectors of `lost` unreadable and those of `garbled` read with other bytes and a right EDC.
class DamagedDisc : public cdimage::SectorSource {
public:
    DamagedDisc(cdimage::SectorSource& image, const cdimage::ParityBuilder& parity,
                std::set<std::uint32_t> lost, std::set<std::uint32_t> garbled)
        : m_image(image)
        , m_parity(parity)
        , m_lost(std::move(lost))
        , m_garbled(std::move(garbled))
        , m_sector(2352) {}
    std::uint32_t sectorCount() const override {
        return m_image.sectorCount() + m_parity.layout().paritySectors();
    }
    const std::uint8_t* sector(std::uint32_t lba) override {
        if (m_lost.count(lba) || lba >= sectorCount())
            return nullptr;
        if (lba < m_image.sectorCount()) {
            const std::uint8_t* stored = m_image.sector(lba);
            if (!stored || !m_garbled.count(lba))
                return stored;
            std::memcpy(m_sector.data() + 16, stored, 2336);
            m_sector[24 + lba % 2048] ^= 0x5A; // other data, EDC made anew: it passes
        } else {
            const std::uint8_t* symbol = m_parity.parity(lba - m_image.sectorCount());
            cdimage::writeForm2(m_sector.data(), lba, cdimage::Data, symbol, 2324, 0);
            return m_sector.data() + 16;
        }
        cdimage::writeForm2(m_sector.data(), lba, m_sector[18], m_sector.data() + 24, 2324, 0);
        if (!(m_sector[18] & cdimage::Form2))
            cdimage::writeForm1(m_sector.data(), lba, m_sector[18], m_sector.data() + 24, 2048);
        return m_sector.data() + 16;
    }
    std::string whyUnreadable(std::uint32_t) const override { return "scratched"; }

private:
    cdimage::SectorSource& m_image;
    const cdimage::ParityBuilder& m_parity;
    std::set<std::uint32_t> m_lost, m_garbled;
    std::vector<std::uint8_t> m_sector;
};

} // namespace

void RepairCodeTest::damagedImageComesBackAsTheOraclePredicts_data() {
    QTest::addColumn<QString>("damage");
    for (const char* damage : {"longest burst", "burst one band too long", "random 5 %",
                               "random 20 %", "garbled with right EDC", "file list and folder"})
        QTest::newRow(damage) << QString::fromLatin1(damage);
}

// An oracle of the test's own, from the bands alone: a file comes back whole exactly when
// every sector it lost lies in a word that lost at most m members; else it is damaged.
void RepairCodeTest::damagedImageComesBackAsTheOraclePredicts() {
    QFETCH(QString, damage);
    using namespace velmora::test;
    QTemporaryDir folder;
    QStringList paths;
    QMap<QString, QByteArray> files;
    for (int i = 0; i < 4; ++i) {
        const QByteArray bytes = randomBytes(90000 + i * 41000, quint32(20 + i));
        const QString name = u"f%1.dat"_qs.arg(i);
        paths << writeFile(folder.path(), name, bytes);
        files.insert(name, bytes);
    }
    QVERIFY(run(tolkProgram(),
                QStringList{u"--repair"_qs, u"off"_qs, u"-v"_qs, u"R"_qs, u"-o"_qs, u"IMG"_qs,
                            u"-m"_qs} +
                    paths,
                folder.path())
                .status == 0);
    cdimage::OpenedSource image = cdimage::openImage(folder.filePath(u"IMG.cue"_qs).toStdString());
    const std::uint32_t sectors = image.sectors->sectorCount();
    const int m = 8;
    cdimage::ParityBuilder parity(cdimage::RepairLayout::of(sectors, m));
    std::uint8_t symbol[cdimage::kSymbolSize];
    for (std::uint32_t lba = 0; lba < sectors; ++lba) {
        cdimage::symbolOf(image.sectors->sector(lba), symbol);
        parity.add(lba, symbol);
    }
    const cdimage::RepairLayout layout = parity.layout();
    const std::uint32_t all = sectors + layout.paritySectors();

    // Where the files lie, from the test's own reader.
    QMap<QString, std::pair<qint64, qint64>> places;
    for (auto it = files.begin(); it != files.end(); ++it)
        places[it.key()] =
            placeOf(folder.filePath(u"IMG.cue"_qs), it.key().toUpper(), folder.path());
    std::mt19937 random(std::uint32_t(qHash(damage)));
    std::set<std::uint32_t> lost, garbled;
    const std::uint32_t firstFile = std::uint32_t(places.first().first);
    if (damage == u"longest burst"_qs || damage == u"burst one band too long"_qs) {
        const std::uint32_t length = damage == u"longest burst"_qs
                                         ? layout.longestBurst()
                                         : std::uint32_t(m + 1) * layout.bandLength;
        const std::uint32_t first = firstFile + random() % (all - firstFile - length);
        for (std::uint32_t at = first; at < first + length; ++at)
            lost.insert(at);
    } else if (damage.startsWith(u"random"_qs)) {
        const std::uint32_t percent = damage.contains(u"20"_qs) ? 20 : 5;
        for (std::uint32_t at = firstFile; at < all; ++at)
            if (random() % 100 < percent)
                lost.insert(at);
    } else if (damage == u"garbled with right EDC"_qs) {
        for (const auto& [first, count] : places)
            garbled.insert(std::uint32_t(first + count / 2));
    } else { // the folder's and the file list's sectors: protected like the rest
        for (std::uint32_t at = 16; at < firstFile; ++at)
            lost.insert(at);
        for (std::uint32_t at = std::uint32_t(places.last().first + places.last().second);
             at < sectors && lost.size() < std::size_t(m) * layout.bandLength / 2; ++at)
            lost.insert(at);
    }
    // The oracle: losses of each word, garbled sectors counted as lost.
    std::vector<int> losses(layout.bandLength, 0);
    for (const std::set<std::uint32_t>* set : {&lost, &garbled})
        for (const std::uint32_t at : *set)
            ++losses[at < sectors ? layout.wordOf(at) : (at - sectors) % layout.bandLength];
    const auto recoverable = [&](std::uint32_t at) {
        return losses[layout.wordOf(at)] <= m;
    };

    DamagedDisc disc(*image.sectors, parity, lost, garbled);
    cdimage::RepairHeader header;
    header.layout = layout;
    header.parityLba = sectors;
    cdimage::RepairingSource repairing(disc, header, parity.checkTable());
    const QString out = folder.filePath(u"out"_qs);
    const int status = dat2file::extractImage(repairing, "the disc", out.toStdString(), false);
    bool allWhole = true;
    for (auto it = files.begin(); it != files.end(); ++it) {
        const auto [first, count] = places[it.key()];
        bool whole = true;
        for (qint64 at = first; at < first + count; ++at)
            if ((lost.count(std::uint32_t(at)) || garbled.count(std::uint32_t(at))) &&
                !recoverable(std::uint32_t(at)))
                whole = false;
        allWhole = allWhole && whole;
        if (whole) {
            QVERIFY2(readFile(out + u'/' + it.key()) == it.value(), qPrintable(it.key()));
        } else {
            QVERIFY2(!QFile::exists(out + u'/' + it.key()), qPrintable(it.key()));
            QVERIFY(QFile::exists(out + u'/' + it.key() + u".damaged"_qs));
        }
    }
    QCOMPARE(status, allWhole ? 0 : 3);
    if (damage == u"longest burst"_qs || damage == u"file list and folder"_qs ||
        damage == u"garbled with right EDC"_qs)
        QVERIFY(allWhole);
    if (damage == u"burst one band too long"_qs)
        QVERIFY(std::any_of(losses.begin(), losses.end(), [&](int n) { return n > m; }));
    const bool protectedLost =
        std::any_of(lost.begin(), lost.end(), [&](std::uint32_t at) { return at < sectors; });
    if (allWhole && (protectedLost || !garbled.empty()))
        QVERIFY(repairing.count().rebuilt > 0);
}

QTEST_GUILESS_MAIN(RepairCodeTest)
#include "tst_repaircode.moc"
