// SPDX-License-Identifier: GPL-3.0-or-later
// A file from its RIFF CDXA copy: the raw sectors of one file of a disc, as Windows shows it.

#include "dat2file/catalog.h"
#include "dat2file/commands.h"
#include "dat2file/copysectors.h"

#include "cdimage/paths.h"

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
    Extraction extraction(destination, force, near.voucher, {}, report);
    copySectors(*source.sectors, file, extraction,
                [&](std::uint32_t done) { report.progress(done, file.sectors, {}); });
    report.progressEnds();
    return extraction.finish(source.where);
}

} // namespace dat2file
