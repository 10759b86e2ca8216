// SPDX-License-Identifier: GPL-3.0-or-later
// The erasure code of the repair data against a reference of the test's own: GF(2^8) with the
// polynomial 0x11D, parity member r (counted from k) of data member c weighted by the inverse
// of (r XOR c). Every loss of up to m members is rebuilt, m + 1 are refused, and a bad member
// taken for good is caught, never spread.

#include "cdimage/repaircode.h"

#include <QtTest>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>

namespace {

using Bytes = std::vector<std::uint8_t>;

// GF(2^8) from its logarithms, as any textbook builds it.
struct Field {
    std::array<std::uint8_t, 512> exp{};
    std::array<int, 256> log{};
    Field() {
        int x = 1;
        for (int i = 0; i < 255; ++i) {
            exp[std::size_t(i)] = std::uint8_t(x);
            log[std::size_t(x)] = i;
            x <<= 1;
            if (x & 0x100)
                x ^= 0x11D;
        }
        for (int i = 255; i < 512; ++i)
            exp[std::size_t(i)] = exp[std::size_t(i - 255)];
    }
    std::uint8_t mul(std::uint8_t a, std::uint8_t b) const {
        return a == 0 || b == 0 ? 0 : exp[std::size_t(log[a] + log[b])];
    }
    std::uint8_t inv(std::uint8_t a) const { return exp[std::size_t(255 - log[a])]; }
};

const Field kField;

// The parity of a word by the formula alone.
std::vector<Bytes> referenceParity(const std::vector<Bytes>& data, int m) {
    const int k = 255 - m;
    std::vector<Bytes> parity(static_cast<std::size_t>(m), Bytes(data.front().size(), 0));
    for (int r = 0; r < m; ++r)
        for (int c = 0; c < k; ++c) {
            const std::uint8_t weight = kField.inv(std::uint8_t((k + r) ^ c));
            for (std::size_t b = 0; b < data[std::size_t(c)].size(); ++b)
                parity[std::size_t(r)][b] ^= kField.mul(weight, data[std::size_t(c)][b]);
        }
    return parity;
}

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

} // namespace

class RepairCodeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parityIsTheFormula_data();
    void parityIsTheFormula();
    void upToMLossesAreRebuiltAndMorePlusOneRefused_data();
    void upToMLossesAreRebuiltAndMorePlusOneRefused();
    void aBadMemberTakenForGoodIsCaught();
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
    for (int r = 0; r < m; ++r)
        QCOMPARE(code.coefficient(r, 3), kField.inv(std::uint8_t((255 - m + r) ^ 3)));
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

QTEST_GUILESS_MAIN(RepairCodeTest)
#include "tst_repaircode.moc"
