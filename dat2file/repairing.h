// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sectors a command reads: the disc's own, through its repair data where it has some, so
// that every read of every command gets the sectors the repair data rebuilds.

#include "cdimage/base/report.h"
#include "cdimage/read/openimage.h"
#include "cdimage/repair/repairdata.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dat2file {

// "12 sectors unreadable, 12 rebuilt, 0 not rebuildable", `from` (where the sectors were read,
// if it is told), and where a word was rebuilt "; the worst code word lost 12 of the 32 it can
// lose" (`parity` the sectors a word can lose).
std::string repairSummary(const cdimage::RepairCount& count, int parity, const std::string& from);

class ReadingSource {
public:
    explicit ReadingSource(cdimage::OpenedSource& opened);
    ~ReadingSource();
    ReadingSource(const ReadingSource&) = delete;
    ReadingSource& operator=(const ReadingSource&) = delete;

    cdimage::SectorSource& sectors();
    // Where a disc in a drive, read whole at its first lost sector, tells how far it has come.
    void reportTo(cdimage::Report& report);
    // "12 sectors unreadable, 12 rebuilt, 0 not rebuildable", where the disc has repair data.
    std::optional<std::string> repairSummary() const;
    // The repair data's reader, where the disc has repair data.
    cdimage::RepairingSource* repairing();
    // Whether the disc shows signs of repair data, usable or not, and how it is weaker than
    // written (empty where it is whole, or where there is none).
    bool hasRepairSigns() const { return m_signs; }
    const std::vector<std::string>& repairTroubles() const { return m_troubles; }

private:
    struct Repair;
    cdimage::SectorSource& m_source;
    std::unique_ptr<Repair> m_repair;
    bool m_signs = false;
    std::vector<std::string> m_troubles;
};

} // namespace dat2file
