// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading what is on a disc or in an image, in layers: where sectors come from (openimage.h,
// imagefile.h, sectorsource.h), then the file system on them (filesystem.h).

#include "cdimage/read/filesystem.h"
#include "cdimage/read/imagefile.h"
#include "cdimage/read/openimage.h"
#include "cdimage/read/sectorsource.h"
