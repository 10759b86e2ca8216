// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Discs in a drive. Only sectors come from here; the file system on them is read by dat2file
// itself. On Linux libcdio reads them; on Windows the CD-ROM driver (drive_windows.cpp).

#include "cdimage/read/discreader.h"

#include <filesystem>
#include <memory>
#include <string>

namespace dat2file {

// Keeps libcdio's messages from ending the program (its own handler exits on an error); nothing
// to do on Windows.
void quietLibcdio();

// The sectors of the CD in `device` (/dev/sr0; \\.\D: on Windows); what was read of a damaged
// disc is kept past the memory's share in a file in `keepIn` (see AdaptiveReads). Throws Failure.
std::unique_ptr<cdimage::SectorSource> openDrive(const std::string& device,
                                                 const std::filesystem::path& keepIn);

} // namespace dat2file
