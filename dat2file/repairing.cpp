// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/repairing.h"

#include "cdimage/repair/repairdata.h"

namespace dat2file {

struct ReadingSource::Repair {
    cdimage::RepairingSource source;
};

ReadingSource::ReadingSource(cdimage::OpenedSource& opened)
    : m_source(*opened.sectors) {
    // A RIFF copy holds one file's sectors; an image of 2048-byte blocks cannot hold the repair
    // data's Form 2 sectors.
    if (opened.kind == cdimage::SourceKind::RiffCopy || !m_source.holdsForm2())
        return;
    cdimage::RepairSearch search = cdimage::searchRepairData(m_source);
    m_signs = search.signs;
    m_troubles = std::move(search.troubles);
    if (search.found)
        m_repair.reset(new Repair{cdimage::RepairingSource(m_source, std::move(*search.found))});
}

ReadingSource::~ReadingSource() = default;

cdimage::SectorSource& ReadingSource::sectors() {
    if (m_repair)
        return m_repair->source;
    return m_source;
}

void ReadingSource::reportTo(cdimage::Report& report) {
    if (!m_repair)
        return;
    m_repair->source.onWholeReading([&report](const cdimage::PassProgress& pass) {
        if (pass.done == pass.all) {
            report.progressEnds();
            return;
        }
        report.progress(pass.done, pass.all,
                        std::string(pass.pass) + ": " + std::to_string(pass.missing) +
                            " sectors missing");
    });
}

cdimage::RepairingSource* ReadingSource::repairing() {
    return m_repair ? &m_repair->source : nullptr;
}

std::string repairSummary(const cdimage::RepairCount& count, int parity, const std::string& from) {
    std::string text = std::to_string(count.lost) + " sectors unreadable, " +
                       std::to_string(count.rebuilt) + " rebuilt, " +
                       std::to_string(count.notRebuildable) + " not rebuildable" + from;
    // How close the disc came to losing data, where a word was rebuilt.
    if (count.worstLosses > 0 && parity > 0)
        text += "; the worst code word lost " + std::to_string(count.worstLosses) + " of the " +
                std::to_string(parity) + " it can lose";
    // Sectors that read well but not as the check table says: a disc changed after it was made,
    // or repair data made for another; told, whatever the files' sums say.
    if (count.readButReplaced > 0)
        text += "; " + std::to_string(count.readButReplaced) +
                (count.readButReplaced == 1 ? " sector" : " sectors") +
                " read without error yet differed from the check table, and the repair data's "
                "version was given: this disc is not as it was made";
    return text;
}

std::optional<std::string> ReadingSource::repairSummary() const {
    if (m_repair)
        return dat2file::repairSummary(m_repair->source.count(),
                                       m_repair->source.header().layout.parity, {});
    return std::nullopt;
}

} // namespace dat2file
