// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/copysectors.h"

#include "cdimage/base/sector.h"
#include "cdimage/base/stopsignals.h"

#include <algorithm>

namespace dat2file {

namespace {
constexpr std::uint32_t kSectorsPerStep = 64; // between progress reports and stop checks
}

SectorVerdict verdictOf(const cdimage::SectorAnswer& answer, bool form2) {
    if (!answer)
        return {SectorState::Unreadable, answer.lost, form2};
    if (answer.rebuilt || answer.checked) // its data, which the repair data vouches for
        return {SectorState::Good, {}, form2};
    const std::uint8_t* sector = answer.bytes;
    std::string fault = cdimage::checkSubheader(sector, form2);
    // A whole Form 1 sector among Form 2 ones says it holds data; one of zeros alone (its
    // EDC is zero too) is a sector lost, not data.
    if (!fault.empty() && form2 && (sector[2] & cdimage::Data) &&
        cdimage::checkSubheader(sector, false).empty() &&
        cdimage::form1EdcMatchesFromSubheader(sector)) {
        form2 = false; // a whole Form 1 sector among Form 2 ones
        fault.clear();
    }
    if (!fault.empty())
        return {SectorState::Unreadable, "is broken: " + fault, form2};
    const bool edcMatches = form2 ? cdimage::edcMatchesFromSubheader(sector)
                                  : cdimage::form1EdcMatchesFromSubheader(sector);
    if (!edcMatches)
        return {SectorState::FailsEdc, {}, form2};
    if (!answer.doubt.empty()) // kept while the file's SHA-256 may show it right
        return {SectorState::FailsEdc, answer.doubt, form2};
    return {SectorState::Good, {}, form2};
}

void copySectors(cdimage::SectorSource& source, const cdimage::DiscFile& file,
                 Extraction& extraction, const std::function<void(std::uint32_t)>& progress) {
    const std::uint32_t held = source.sectorCount();
    const std::uint32_t copied = std::min(file.sectors, held);
    for (std::uint32_t i = 0; i < copied; ++i) {
        if (i % kSectorsPerStep == 0) {
            progress(i);
            cdimage::stopIfAsked();
        }
        const std::uint32_t lba = file.lba + i;
        const cdimage::SectorAnswer answer = source.read(lba);
        const SectorVerdict verdict = verdictOf(answer, file.form2);
        extraction.sector(answer ? answer.bytes + cdimage::kSubheaderSize : nullptr, verdict.state,
                          lba, verdict.why);
    }
    if (copied < file.sectors)
        extraction.lost(file.lba + copied, file.sectors - copied,
                        "lie past the end of what " + std::string("the source holds (") +
                            std::to_string(held) + " sectors): not written");
    progress(file.sectors);
}

} // namespace dat2file
