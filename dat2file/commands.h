// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The steps of dat2file: a file from a RIFF CDXA file, a file from a disc or an image, and the
// list of an image's files.

#include "cdimage/discreader.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace dat2file {

// A run that cannot go on; what it had begun to write is gone.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int extractRiff(const std::filesystem::path& source, const std::filesystem::path& destination,
                bool force);

// The file at `path` on the disc whose sectors `source` gives; `where` names the disc in
// messages. `path` is its ISO 9660 name, its Joliet name or its original name.
int extractFromDisc(cdimage::SectorSource& source, const std::string& where, std::string path,
                    const std::filesystem::path& destination, bool force);

// Every file of the disc into the folder `destination`, each under its original name (the file
// list's, else its Joliet name, else its ISO 9660 name) in its folders, the listed ones checked.
// A new folder appears whole at the end or not at all; an existing one is filled only with
// `force`. A damaged file is written as a damaged copy and the others go on (status Damaged).
// `extractFromDisc` does the same for a folder of the disc.
int extractImage(cdimage::SectorSource& source, const std::string& where,
                 const std::filesystem::path& destination, bool force);

// The folder a whole image goes into: DESTINATION without the ending of an image file (.bin,
// .cue, .toc, .nrg), so that ".../Kestrel.bin" gives ".../Kestrel".
std::filesystem::path imageFolderFor(const std::filesystem::path& destination);

int listFiles(cdimage::SectorSource& source, const std::string& where);

} // namespace dat2file
