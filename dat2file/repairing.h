// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sectors a command reads: the disc's own, through its repair data where it has some, so
// that every read of every command gets the sectors the repair data rebuilds.

#include "cdimage/openimage.h"
#include "cdimage/repairdata.h"

#include <memory>
#include <optional>
#include <string>

namespace dat2file {

// "12 sectors unreadable, 12 rebuilt, 0 not rebuildable"
std::string repairSummary(const cdimage::RepairCount& count);

class ReadingSource {
public:
    explicit ReadingSource(cdimage::OpenedSource& opened);
    ~ReadingSource();
    ReadingSource(const ReadingSource&) = delete;
    ReadingSource& operator=(const ReadingSource&) = delete;

    cdimage::SectorSource& sectors();
    // "12 sectors unreadable, 12 rebuilt, 0 not rebuildable", where the disc has repair data.
    std::optional<std::string> repairSummary() const;
    // The repair data's reader, where the disc has repair data.
    cdimage::RepairingSource* repairing();

private:
    struct Repair;
    cdimage::SectorSource& m_source;
    std::unique_ptr<Repair> m_repair;
};

} // namespace dat2file
