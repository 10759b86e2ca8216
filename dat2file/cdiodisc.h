// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Discs in a drive and Nero images, whose sectors libcdio reads. Only sectors come from libcdio;
// the file system on them is read by dat2file itself.

#include "cdimage/discreader.h"

#include <memory>
#include <string>

namespace dat2file {

// Keeps libcdio's messages from ending the program (its own handler exits on an error).
void quietLibcdio();

// The sectors of the CD in `device` or of the Nero image `image`; throws Failure.
std::unique_ptr<cdimage::SectorSource> openDrive(const std::string& device);
std::unique_ptr<cdimage::SectorSource> openNeroImage(const std::string& image);

} // namespace dat2file
