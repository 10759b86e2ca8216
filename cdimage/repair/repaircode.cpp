// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/repair/repaircode.h"

#include "cdimage/base/error.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace cdimage {

namespace {

using Bytes = std::vector<std::uint8_t>;

// ISA-L's tables for `rows` rows of `columns` coefficients each.
Bytes tablesOf(Bytes coefficients, int columns, int rows) {
    Bytes tables(std::size_t(32) * std::size_t(columns) * std::size_t(rows));
    ec_init_tables(columns, rows, coefficients.data(), tables.data());
    return tables;
}

int lengthOf(std::size_t length) {
    if (length > std::size_t(1) << 30)
        throw Error("a member of " + std::to_string(length) + " bytes is more than the code takes");
    return int(length);
}

} // namespace

RepairCode::RepairCode(int parity)
    : m_data(kMembers - parity)
    , m_parity(parity) {
    if (parity < 1 || parity >= kMembers)
        throw Error("a code of 255 members cannot have " + std::to_string(parity) +
                    " parity members");
    // ISA-L's Cauchy matrix: k rows of identity, then row r, column c: inverse(r XOR c).
    Bytes matrix(std::size_t(kMembers) * std::size_t(m_data));
    gf_gen_cauchy1_matrix(matrix.data(), kMembers, m_data);
    m_generator.assign(matrix.begin() + std::ptrdiff_t(m_data) * m_data, matrix.end());
    m_tables = tablesOf(m_generator, m_data, m_parity);
}

void RepairCode::encode(std::size_t length, const std::uint8_t* const* data,
                        std::uint8_t* const* parity) const {
    ec_encode_data(lengthOf(length), m_data, m_parity, const_cast<std::uint8_t*>(m_tables.data()),
                   const_cast<std::uint8_t**>(data), const_cast<std::uint8_t**>(parity));
}

RepairCode::Share RepairCode::share(int first, int count) const {
    if (first < 0 || count < 1 || first + count > m_data)
        throw Error("data members " + std::to_string(first) + " to " +
                    std::to_string(first + count - 1) + " are not members of the code");
    Bytes coefficients;
    coefficients.reserve(std::size_t(m_parity) * std::size_t(count));
    for (int row = 0; row < m_parity; ++row)
        for (int column = first; column < first + count; ++column)
            coefficients.push_back(coefficient(row, column));
    Share share;
    share.m_first = first;
    share.m_count = count;
    share.m_parity = m_parity;
    share.m_tables = tablesOf(std::move(coefficients), count, m_parity);
    return share;
}

void RepairCode::Share::encode(std::size_t length, const std::uint8_t* const* data,
                               std::uint8_t* const* parity) const {
    ec_encode_data(lengthOf(length), m_count, m_parity, const_cast<std::uint8_t*>(m_tables.data()),
                   const_cast<std::uint8_t**>(data), const_cast<std::uint8_t**>(parity));
}

void RepairCode::addToParity(std::size_t length, int index, const std::uint8_t* member,
                             std::uint8_t* const* parity) const {
    ec_encode_data_update(lengthOf(length), m_data, m_parity, index,
                          const_cast<std::uint8_t*>(m_tables.data()),
                          const_cast<std::uint8_t*>(member), const_cast<std::uint8_t**>(parity));
}

RepairCode::Outcome RepairCode::rebuild(std::size_t length, std::uint8_t* const* members,
                                        const std::vector<bool>& lost) const {
    std::vector<int> lostData, lostParity, keptParity;
    for (int i = 0; i < kMembers; ++i) {
        const bool gone = i < int(lost.size()) && lost[std::size_t(i)];
        if (i < m_data && gone)
            lostData.push_back(i);
        else if (i >= m_data)
            (gone ? lostParity : keptParity).push_back(i - m_data);
    }
    const std::size_t losses = lostData.size() + lostParity.size();
    if (losses == 0)
        return Outcome::Intact;
    if (losses > std::size_t(m_parity))
        return Outcome::TooManyLost;

    const Bytes zeros(length, 0);
    std::vector<std::uint8_t*> data(members, members + m_data);
    for (const int column : lostData)
        data[std::size_t(column)] = const_cast<std::uint8_t*>(zeros.data());
    // The parity members used to rebuild the data, and the ones left to check with.
    const std::size_t used = lostData.size();
    const std::vector<int> solving(keptParity.begin(), keptParity.begin() + std::ptrdiff_t(used));
    const std::vector<int> checking(keptParity.begin() + std::ptrdiff_t(used), keptParity.end());

    if (!lostData.empty() && !solve(length, members, lostData, solving, data))
        return Outcome::Inconsistent; // a Cauchy matrix's squares are all invertible
    // The lost parity again, and the spare parity compared with what was read.
    std::vector<int> again = lostParity;
    again.insert(again.end(), checking.begin(), checking.end());
    if (!again.empty() && !parityAgain(length, members, data, again, lostParity.size()))
        return Outcome::Inconsistent;
    return Outcome::Rebuilt;
}

bool RepairCode::solve(std::size_t length, std::uint8_t* const* members,
                       const std::vector<int>& lostData, const std::vector<int>& solving,
                       std::vector<std::uint8_t*>& data) const {
    // What the kept data gives each solving row; the difference from the row's stored member is
    // the lost data's share alone: a system of e equations in e unknowns.
    const int size = lengthOf(length);
    const std::size_t used = lostData.size();
    Bytes rows;
    for (const int row : solving)
        rows.insert(rows.end(), m_generator.begin() + std::ptrdiff_t(row) * m_data,
                    m_generator.begin() + std::ptrdiff_t(row + 1) * m_data);
    std::vector<Bytes> syndromes(used, Bytes(length));
    std::vector<std::uint8_t*> syndrome(used);
    for (std::size_t i = 0; i < used; ++i)
        syndrome[i] = syndromes[i].data();
    Bytes tables = tablesOf(rows, m_data, int(used));
    ec_encode_data(size, m_data, int(used), tables.data(), data.data(), syndrome.data());
    for (std::size_t i = 0; i < used; ++i) {
        const std::uint8_t* stored = members[m_data + solving[i]];
        for (std::size_t b = 0; b < length; ++b)
            syndromes[i][b] ^= stored[b];
    }
    Bytes square(used * used), inverse(used * used);
    for (std::size_t i = 0; i < used; ++i)
        for (std::size_t j = 0; j < used; ++j)
            square[i * used + j] = coefficient(solving[i], lostData[j]);
    if (gf_invert_matrix(square.data(), inverse.data(), int(used)) != 0)
        return false;
    std::vector<std::uint8_t*> rebuilt(used);
    for (std::size_t j = 0; j < used; ++j)
        rebuilt[j] = members[lostData[j]];
    tables = tablesOf(inverse, int(used), int(used));
    ec_encode_data(size, int(used), int(used), tables.data(), syndrome.data(), rebuilt.data());
    for (std::size_t j = 0; j < used; ++j)
        data[std::size_t(lostData[j])] = members[lostData[j]];
    return true;
}

bool RepairCode::parityAgain(std::size_t length, std::uint8_t* const* members,
                             const std::vector<std::uint8_t*>& data, const std::vector<int>& again,
                             std::size_t lost) const {
    Bytes rows;
    for (const int row : again)
        rows.insert(rows.end(), m_generator.begin() + std::ptrdiff_t(row) * m_data,
                    m_generator.begin() + std::ptrdiff_t(row + 1) * m_data);
    std::vector<Bytes> computed(again.size(), Bytes(length));
    std::vector<std::uint8_t*> out(again.size());
    for (std::size_t i = 0; i < again.size(); ++i)
        out[i] = computed[i].data();
    const Bytes tables = tablesOf(rows, m_data, int(again.size()));
    ec_encode_data(lengthOf(length), m_data, int(again.size()),
                   const_cast<std::uint8_t*>(tables.data()),
                   const_cast<std::uint8_t**>(data.data()), out.data());
    for (std::size_t i = lost; i < again.size(); ++i)
        if (std::memcmp(computed[i].data(), members[m_data + again[i]], length) != 0)
            return false;
    for (std::size_t i = 0; i < lost; ++i)
        std::memcpy(members[m_data + again[i]], computed[i].data(), length);
    return true;
}

} // namespace cdimage
