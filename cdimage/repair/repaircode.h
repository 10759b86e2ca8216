// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The erasure code of the repair data: Reed-Solomon over GF(2^8) (polynomial 0x11D) with
// n = 255 members to a code word, k = 255 - m of them data and m parity. The code is
// systematic with a Cauchy generator: parity member r (k <= r < 255) is the sum over the data
// members c of inverse(r XOR c) times member c. Any k members of a word rebuild the others.
// One member is one sector's symbol, of any length; the arithmetic is Intel ISA-L's.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cdimage {

class RepairCode {
public:
    static constexpr int kMembers = 255;

    // A code of `parity` parity members (1 to 254).
    explicit RepairCode(int parity);

    int dataMembers() const { return m_data; }
    int parityMembers() const { return m_parity; }
    // The generator's coefficient of data member `column` in parity member `row` (counted
    // among the parity members, from 0).
    std::uint8_t coefficient(int row, int column) const {
        return m_generator[std::size_t(row) * std::size_t(m_data) + std::size_t(column)];
    }

    // The parity members of a word whose data members are `data` (k of them, `length` bytes each).
    void encode(std::size_t length, const std::uint8_t* const* data,
                std::uint8_t* const* parity) const;
    // The share of the parity that data members `first` to `first + count - 1` give: the
    // parity of a word whose other data members are zeros. The shares of ranges that part the
    // data members add up (XOR) to the parity.
    class Share {
    public:
        int first() const { return m_first; }
        int count() const { return m_count; }
        // The share of a word whose members `first` on are `data` (count() of them).
        void encode(std::size_t length, const std::uint8_t* const* data,
                    std::uint8_t* const* parity) const;

    private:
        friend class RepairCode;
        int m_first = 0, m_count = 0, m_parity = 0;
        std::vector<std::uint8_t> m_tables;
    };
    Share share(int first, int count) const;

    // Adds data member `index` to the parity members, which start as zeros: a word's parity
    // built one member at a time, in any order.
    void addToParity(std::size_t length, int index, const std::uint8_t* member,
                     std::uint8_t* const* parity) const;

    enum class Outcome {
        Intact,       // nothing was lost
        Rebuilt,      // every lost member was rebuilt
        TooManyLost,  // more than m are lost: nothing was changed
        Inconsistent, // the members kept disagree: one taken for good is not
    };
    // Rebuilds the members of a word that `lost` marks (n flags; members[i] for i < k is data
    // member i, for i >= k parity member i - k), in their buffers. With fewer than m lost, the
    // parity left over is computed again and compared, so that a bad member taken for good is
    // found rather than spread into the rebuilt ones.
    Outcome rebuild(std::size_t length, std::uint8_t* const* members,
                    const std::vector<bool>& lost) const;

private:
    // Rebuilds the lost data members from as many kept parity rows (`solving`); `data` points at
    // every data member, the lost ones rebuilt. False where the system has no solution.
    bool solve(std::size_t length, std::uint8_t* const* members, const std::vector<int>& lostData,
               const std::vector<int>& solving, std::vector<std::uint8_t*>& data) const;
    // Computes the parity rows `again` from the data: the first `lost` of them are written to
    // their members, the others compared with theirs. False where one differs.
    bool parityAgain(std::size_t length, std::uint8_t* const* members,
                     const std::vector<std::uint8_t*>& data, const std::vector<int>& again,
                     std::size_t lost) const;

    int m_data, m_parity;
    std::vector<std::uint8_t> m_generator; // m rows of k coefficients
    std::vector<std::uint8_t> m_tables;    // ISA-L's expanded tables of the generator
};

} // namespace cdimage
