// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/repairing.h"

#ifdef VELMORA_REPAIR
#include "cdimage/repairdata.h"
#endif

namespace dat2file {

#ifdef VELMORA_REPAIR
struct ReadingSource::Repair {
    cdimage::RepairingSource source;
};
#else
struct ReadingSource::Repair {}; // a build without the erasure code reads as before
#endif

ReadingSource::ReadingSource(cdimage::OpenedSource& opened)
    : m_source(*opened.sectors) {
#ifdef VELMORA_REPAIR
    if (opened.kind != cdimage::SourceKind::RiffCopy)
        if (auto found = cdimage::findRepairData(m_source))
            m_repair.reset(new Repair{
                cdimage::RepairingSource(m_source, found->header, std::move(found->checkTable))});
#endif
}

ReadingSource::~ReadingSource() = default;

cdimage::SectorSource& ReadingSource::sectors() {
#ifdef VELMORA_REPAIR
    if (m_repair)
        return m_repair->source;
#endif
    return m_source;
}

std::optional<std::string> ReadingSource::repairSummary() const {
#ifdef VELMORA_REPAIR
    if (m_repair) {
        const cdimage::RepairCount& count = m_repair->source.count();
        return std::to_string(count.lost) + " sectors unreadable, " +
               std::to_string(count.rebuilt) + " rebuilt, " + std::to_string(count.notRebuildable) +
               " not rebuildable";
    }
#endif
    return std::nullopt;
}

} // namespace dat2file
