// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The steps of dat2file: a file from a RIFF CDXA copy, a file or a folder from a disc or an
// image, every file of an image, and the list of an image's files. Each reads its sectors from
// a source, tells what it does through a report and returns the exit status; none prints.

#include "cdimage/base/report.h"
#include "cdimage/read/discreader.h"
#include "dat2file/repairing.h"

#include <filesystem>
#include <string>

namespace dat2file {

// A run that cannot go on; what it had begun to write is gone.
using Failure = cdimage::Error;

// The file whose raw sectors a RIFF CDXA copy holds (`source`, as openSource opened it), its
// exact length and SHA-256 from a file list beside the copy where one belongs to it.
int extractRiff(const std::filesystem::path& copy, cdimage::OpenedSource& source,
                const std::filesystem::path& destination, bool force,
                cdimage::Report& report = cdimage::silentReport());

// The file at `path` on the disc whose sectors `source` gives; `where` names the disc in
// messages. `path` is its ISO 9660 name, its Joliet name or its original name.
int extractFromDisc(cdimage::SectorSource& source, const std::string& where, std::string path,
                    const std::filesystem::path& destination, bool force,
                    cdimage::Report& report = cdimage::silentReport());

// Every file of the disc into the folder `destination`, each under its original name (the file
// list's, else its Joliet name, else its ISO 9660 name) in its folders, the listed ones checked,
// the empty folders too. A new folder appears whole at the end or not at all; an existing one
// is filled only with `force`. A damaged file is written as a damaged copy, an entry that
// cannot be written is left out, and the others go on (status Damaged). `extractFromDisc` does
// the same for a folder of the disc.
int extractImage(cdimage::SectorSource& source, const std::string& where,
                 const std::filesystem::path& destination, bool force,
                 cdimage::Report& report = cdimage::silentReport());

int listFiles(cdimage::SectorSource& source, const std::string& where,
              cdimage::Report& report = cdimage::silentReport());

// Every file of the disc read, nothing written: each said intact, repairable (only through the
// repair data) or damaged, and the worst code word's losses against what it can lose. Done
// when nothing was lost, Repairable when every file comes back whole all the same, Damaged
// when one does not.
int checkDisc(ReadingSource& reading, const std::string& where,
              cdimage::Report& report = cdimage::silentReport());

using cdimage::imageFolderFor;

} // namespace dat2file
