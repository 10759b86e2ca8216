// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A file's sectors, read from their source into its copy.

#include "cdimage/read/filesystem.h"
#include "dat2file/outputwriter.h"

#include <functional>

namespace dat2file {

// What a file's sector, as its source answered, gives: its state, and for one that is not
// Good, why. A Form 1 sector inside a Form 2 file (as interleaved files hold) is Good when it
// is whole; `form2` then says false.
struct SectorVerdict {
    SectorState state = SectorState::Good;
    std::string why;
    bool form2 = true;
};
SectorVerdict verdictOf(const cdimage::SectorAnswer& answer, bool form2);

// Reads the sectors of `file` into `extraction`, calling `progress` with the sectors done now
// and then. A sector that cannot be read or is broken costs its bytes; a Form 1 sector inside
// a Form 2 file (as interleaved files hold) gives its whole user area. A file cannot claim more
// sectors than its source holds: what it claims past that is lost, not written.
void copySectors(cdimage::SectorSource& source, const cdimage::DiscFile& file,
                 Extraction& extraction, const std::function<void(std::uint32_t)>& progress);

} // namespace dat2file
