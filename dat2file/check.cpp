// SPDX-License-Identifier: GPL-3.0-or-later
// A disc or an image read whole with nothing written: each file intact, repairable or damaged,
// and how much of what its repair data rebuilds the damage has used.

#include "dat2file/catalog.h"
#include "dat2file/commands.h"
#include "dat2file/copysectors.h"

#include "cdimage/base/sector.h"
#include "cdimage/base/sha256.h"
#include "terminal/progress.h"

#include <algorithm>
#include <array>

namespace dat2file {

namespace {

enum class Health { Intact, Repairable, Damaged };

struct FileHealth {
    Health health = Health::Intact;
    std::string why; // for a damaged file, and for one no list vouches for
};

// A file read through `source` and summed against its entry in the file list.
FileHealth checkFile(cdimage::SectorSource& source, const Planned& planned,
                     const std::function<void()>& tell) {
    const cdimage::DiscFile& file = planned.file;
    const std::optional<cdimage::ListedFile>& entry = planned.voucher.entry;
    const std::size_t perSector = file.form2 ? cdimage::kForm2DataSize : 2048;
    std::uint64_t remaining = entry        ? entry->length
                              : file.form2 ? std::uint64_t(file.sectors) * perSector
                                           : file.size;
    cdimage::Sha256 sum;
    // Each sector judged as extraction judges it: one that fails its checks (its EDC, or the
    // repair data's table where nothing rebuilt it) is kept while the SHA-256 shows it right.
    std::uint64_t lost = 0, rebuilt = 0, doubted = 0;
    for (std::uint32_t i = 0; i < file.sectors && remaining > 0; ++i) {
        const std::uint64_t lba = std::uint64_t(file.lba) + i;
        const std::size_t take = std::size_t(std::min<std::uint64_t>(remaining, perSector));
        remaining -= take;
        const cdimage::SectorAnswer answer =
            lba < source.sectorCount() ? source.read(std::uint32_t(lba)) : cdimage::SectorAnswer{};
        if (i % 256 == 0)
            tell();
        const SectorVerdict verdict = verdictOf(answer, file.form2);
        if (verdict.state == SectorState::Unreadable) {
            ++lost;
            continue;
        }
        rebuilt += answer.rebuilt ? 1 : 0;
        doubted += verdict.state == SectorState::FailsEdc ? 1 : 0;
        sum.add(answer.bytes + cdimage::kSubheaderSize, take);
    }
    if (remaining > 0)
        return {Health::Damaged, "it claims more sectors than its record gives"};
    if (lost > 0)
        return {Health::Damaged, std::to_string(lost) + " of its sectors cannot be read" +
                                     (rebuilt > 0 ? " nor rebuilt" : "")};
    if (entry && sum.hex() != entry->sha256)
        return {Health::Damaged, "its SHA-256 differs from the file list's"};
    if (!entry && doubted > 0)
        return {Health::Damaged, std::to_string(doubted) + " of its sectors fail their checks"};
    if (!entry && !planned.voucher.doubt.empty()) // extraction writes it as a damaged copy too
        return {Health::Damaged, planned.voucher.doubt};
    const std::string unvouched = entry ? "" : "no SHA-256 vouches for it";
    if (rebuilt > 0)
        return {Health::Repairable, std::to_string(rebuilt) + " of its sectors rebuilt" +
                                        (unvouched.empty() ? "" : "; " + unvouched)};
    return {Health::Intact, unvouched};
}

// How the repair data is weaker than written, by what its search and its survey found and by
// what the file list says of it.
std::vector<std::string>
repairDataTroubles(ReadingSource& reading, const ListOnDisc& list,
                   const std::optional<cdimage::RepairingSource::Survey>& survey) {
    std::vector<std::string> troubles = reading.repairTroubles();
    // An image of 2048-byte blocks never held the repair data's Form 2 sectors: its Form 2 files
    // are named as lost, and the repair data is no further news.
    if (!reading.sectors().holdsForm2())
        return troubles;
    if (!reading.repairing() && list.list && list.list->repair)
        troubles.push_back("the file list says the image has repair data, but none that can be "
                           "used was found");
    else if (!reading.repairing() && reading.hasRepairSigns() && troubles.empty())
        troubles.push_back("it cannot be used");
    if (survey && survey->paritySumDiffers)
        troubles.push_back("its parity reads whole but is not the one its header's SHA-256 names");
    return troubles;
}

// How close the disc is to losing data, as the repair data's survey found it.
std::string marginOf(const std::optional<cdimage::RepairingSource::Survey>& survey, int parity) {
    if (!survey)
        return "no repair data: a sector lost costs its file";
    if (survey->worstLosses == 0)
        return "no code word lost a sector (each can lose " + std::to_string(parity) + ")";
    return "the worst code word lost " + std::to_string(survey->worstLosses) + " of the " +
           std::to_string(parity) + " sectors it can lose" +
           (survey->wordsBeyondRepair > 0 ? " (" + std::to_string(survey->wordsBeyondRepair) +
                                                " words lost more and cannot be rebuilt)"
                                          : "");
}

// Each planned file checked and listed with its health; how many of each health.
std::array<std::size_t, 3> checkFiles(cdimage::SectorSource& source, const Plan& plan,
                                      cdimage::Report& report) {
    std::uint64_t sectors = 0, done = 0;
    for (const Planned& file : plan.files)
        sectors += file.file.sectors;
    std::array<std::size_t, 3> counts = {0, 0, 0};
    for (std::size_t index = 0; index < plan.files.size(); ++index) {
        const Planned& file = plan.files[index];
        const FileHealth health = checkFile(source, file, [&] {
            report.progress(done, sectors,
                            "file " + std::to_string(index + 1) + " of " +
                                std::to_string(plan.files.size()) + ": " + file.place);
        });
        done += file.file.sectors;
        ++counts[std::size_t(health.health)];
        static const char* const kNames[] = {"intact", "repairable", "damaged"};
        report.listing(cdimage::formatted("%-10s %s%s%s", kNames[int(health.health)],
                                          file.place.c_str(), health.why.empty() ? "" : ": ",
                                          health.why.c_str()));
    }
    report.progressEnds();
    return counts;
}

} // namespace

int checkDisc(ReadingSource& reading, const std::string& where, cdimage::Report& report) {
    cdimage::SectorSource& source = reading.sectors();
    std::optional<cdimage::RepairingSource::Survey> survey;
    int parity = 0;
    if (cdimage::RepairingSource* repairing = reading.repairing()) {
        parity = repairing->header().layout.parity;
        survey = repairing->survey([&](std::uint64_t done, std::uint64_t all) {
            report.progress(done, all, "the repair data's code words");
        });
        report.progressEnds();
    }
    cdimage::FileSystem files(source);
    const ListOnDisc list = listOnDisc(files);
    const Plan plan =
        planFolder(files, list, files.primaryRoot(), files.jolietRoot(), true, report);
    std::array<std::size_t, 3> counts = checkFiles(source, plan, report);
    for (const Plan::LeftOut& left : plan.leftOut)
        report.listing("damaged    " + left.name + ": cannot be given back: " + left.why);
    counts[std::size_t(Health::Damaged)] += plan.leftOut.size();
    if (list.list && !list.list->damagedLines.empty())
        report.problem("the file list of " + where + " is damaged (" +
                       linesText(list.list->damagedLines) + "): those lines are left out");
    if (const cdimage::RepairingSource* repairing = reading.repairing();
        repairing && repairing->count().readButReplaced > 0)
        report.problem(cdimage::formatted(
            "%llu sectors of %s read without error yet differed from the repair data's check "
            "table: the disc is not as it was made; the repair data's version was taken",
            static_cast<unsigned long long>(repairing->count().readButReplaced), where.c_str()));
    const std::vector<std::string> troubles = repairDataTroubles(reading, list, survey);
    for (const std::string& trouble : troubles)
        report.problem("the repair data of " + where + " is degraded: " + trouble);

    std::string margin = marginOf(survey, parity);
    if (!troubles.empty())
        margin += "; the repair data is degraded";
    report.done(
        cdimage::formatted("checked %zu files of %s: %zu intact, %zu repairable, %zu damaged; %s",
                           plan.files.size() + plan.leftOut.size(), where.c_str(), counts[0],
                           counts[1], counts[2], margin.c_str()));
    if (counts[std::size_t(Health::Damaged)] > 0 || (list.list && !list.list->damagedLines.empty()))
        return Damaged;
    if (!troubles.empty())
        return RepairDataDegraded;
    if (counts[std::size_t(Health::Repairable)] > 0 || (survey && survey->lost > 0))
        return Repairable;
    return Done;
}

} // namespace dat2file
