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
int extractFromDisc(cdimage::SectorSource& source, const std::string& where,
                    const std::string& path, const std::filesystem::path& destination, bool force);

int listFiles(cdimage::SectorSource& source, const std::string& where);

} // namespace dat2file
