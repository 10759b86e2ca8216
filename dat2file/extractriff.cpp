// SPDX-License-Identifier: GPL-3.0-or-later
// A file from its RIFF CDXA copy: the raw sectors of one file of a disc, as Windows shows it.

#include "dat2file/catalog.h"
#include "dat2file/commands.h"
#include "dat2file/copiesofdisc.h"
#include "dat2file/copysectors.h"
#include "dat2file/repairing.h"

#include "cdimage/base/paths.h"

namespace dat2file {

namespace fs = std::filesystem;

int extractRiff(const fs::path& copy, cdimage::OpenedSource& source, const fs::path& destination,
                bool force, cdimage::Report& report) {
    if (const auto why = whyNotWritable(destination, force))
        throw Failure(*why);
    cdimage::DiscFile file;
    file.name = cdimage::utf8(copy.filename());
    file.lba = source.firstLba;
    file.sectors = source.sectorCount;
    file.form2 = true;
    const ListNear near = listNear(copy, source.sectorCount, source.firstLba);
    // Where the list names repair data, the copies beside it (the repair data's among them)
    // stand for the disc, and the copy's sectors are read through the repair data.
    cdimage::SectorSource* sectors = source.sectors.get();
    std::unique_ptr<CopiesOfDisc> copies;
    std::optional<cdimage::RepairingSource> repairing;
    if (near.whole && near.whole->repair) {
        std::error_code error;
        const fs::path copyFolder = fs::absolute(copy, error).parent_path();
        copies = std::make_unique<CopiesOfDisc>(
            *near.whole, std::vector<fs::path>{near.list.parent_path(), copyFolder}, copy,
            source.firstLba);
        if (auto found = cdimage::findRepairData(*copies)) {
            repairing.emplace(*copies, std::move(*found));
            sectors = &*repairing;
        }
    }
    Extraction extraction(destination, force, near.voucher, {}, report);
    copySectors(*sectors, file, extraction,
                [&](std::uint32_t done) { report.progress(done, file.sectors, {}); });
    report.progressEnds();
    const int status = extraction.finish(source.where);
    if (repairing)
        report.done("repair data: " +
                    repairSummary(repairing->count(), repairing->header().layout.parity,
                                  " (from the copies in " +
                                      cdimage::quoted(near.list.parent_path()) + ")"));
    return status;
}

} // namespace dat2file
