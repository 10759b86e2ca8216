// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A CD in a Windows drive, read as raw sectors through the CD-ROM class driver: the table of
// contents for the disc's length, IOCTL_CDROM_RAW_READ in XA Form 2 mode for the sectors, a run
// at a time, a damaged disc read whole and skipping ahead (AdaptiveReads). Every call goes through
// one function, DeviceIoControl on the drive's handle, so that a test can stand in for the drive.

#include "cdimage/read/discreader.h"
#include "dat2file/adaptivereads.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace dat2file {

using DriveControl = std::function<bool(DWORD code, void* in, DWORD inSize, void* out,
                                        DWORD outSize, DWORD* returned)>;

// The sectors of the disc that `control` reaches; `device` names it in messages; a damaged
// disc's sectors kept as `keeping` says. Throws Failure when the drive gives no table of
// contents (no disc, not a CD drive).
std::unique_ptr<cdimage::SectorSource> driveSectors(DriveControl control, const std::string& device,
                                                    Keeping keeping = {});

} // namespace dat2file
