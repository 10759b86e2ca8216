// SPDX-License-Identifier: GPL-3.0-or-later
// The files of an image: its file list, or what its folders say where it has none.

#include "dat2file/catalog.h"
#include "dat2file/commands.h"

#include "cdimage/base/sector.h"
#include "cdimage/format/repairformat.h"
#include "terminal/progress.h"

#include <algorithm>

namespace dat2file {

namespace {

void listLeftOut(const Plan& plan, cdimage::Report& report) {
    for (const Plan::LeftOut& left : plan.leftOut)
        report.listing("# cannot be given back: " + left.name + ": " + left.why);
}

// The files of a disc without a file list (a Video CD, an image of another tool), from its
// folders: the name on the CD, the form, the sectors, the length (exact for a Form 1 file; for
// a Form 2 file whole sectors, marked "~": the CD records no more) and the name given back.
int listFolders(cdimage::FileSystem& files, const ListOnDisc& list, const std::string& where,
                cdimage::Report& report) {
    const Plan plan =
        planFolder(files, list, files.primaryRoot(), files.jolietRoot(), true, report);
    report.listing("# " + where +
                   " holds no file list: a Form 2 file's length is whole sectors of 2324 bytes "
                   "(~), and no SHA-256 vouches for it");
    for (const Planned& file : plan.files) {
        const std::uint64_t length =
            file.file.form2 ? std::uint64_t(file.file.sectors) * cdimage::kForm2DataSize
                            : file.file.size;
        report.listing(cdimage::formatted(
            "%-31s %s %8u sectors %c%12llu  %s", file.isoPath.c_str(),
            file.file.form2 ? "Form 2" : "Form 1", file.file.sectors, file.file.form2 ? '~' : ' ',
            static_cast<unsigned long long>(length), file.place.c_str()));
    }
    listLeftOut(plan, report);
    return plan.leftOut.empty() ? Done : Damaged;
}

// "# repair data: 32 parity bands of 255, 14.6% more sectors, ..."
std::string repairListing(const cdimage::ListedRepair& repair) {
    const cdimage::RepairLayout layout{repair.parity, repair.protectedSectors, repair.bandLength};
    const std::uint32_t sectors = layout.paritySectors() + 2 * layout.headerSectors();
    return cdimage::formatted(
        "# repair data: %d parity bands of 255 (VELMORA.RPD, VELMORA.RPH), %u sectors, %.1f%% of "
        "the %u it covers; it rebuilds any run of up to %u lost sectors, and any damage within "
        "%d of the 255 bands of %u sector%s",
        repair.parity, sectors, 100.0 * sectors / std::max(1u, repair.protectedSectors),
        repair.protectedSectors, layout.longestBurst(), repair.parity, repair.bandLength,
        repair.bandLength == 1 ? "" : "s");
}

} // namespace

int listFiles(cdimage::SectorSource& source, const std::string& where, cdimage::Report& report) {
    cdimage::FileSystem files(source);
    const ListOnDisc found = listOnDisc(files);
    if (!found.problem.empty())
        throw Failure(where + ": " + found.problem);
    if (!found.list)
        return listFolders(files, found, where, report);
    if (const auto& repair = found.list->repair)
        report.listing(repairListing(*repair));
    for (const cdimage::ListedFile& file : found.list->files)
        report.listing(cdimage::formatted("%-31s %12llu  %s  %s", file.identifier.c_str(),
                                          static_cast<unsigned long long>(file.length),
                                          file.sha256.c_str(), file.originalName.c_str()));
    // What the folders hold beyond the list, marked: no list vouches for those.
    const Plan plan =
        planFolder(files, found, files.primaryRoot(), files.jolietRoot(), true, report);
    for (const Planned& file : plan.files)
        if (!file.voucher.entry)
            report.listing(cdimage::formatted(
                "# not in the file list: %s, %s, %u sectors, %s", file.isoPath.c_str(),
                file.file.form2 ? "Form 2" : "Form 1", file.file.sectors, file.place.c_str()));
    listLeftOut(plan, report);
    if (!found.list->damagedLines.empty()) {
        report.problem("the file list of " + where + " is damaged (" +
                       linesText(found.list->damagedLines) + "): those lines are left out");
        return Damaged;
    }
    return plan.leftOut.empty() ? Done : Damaged;
}

} // namespace dat2file
