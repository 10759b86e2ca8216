// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which kind of source a path names and its sectors, decided here and nowhere else: an image
// (a cue sheet, a cdrdao table of contents, a Nero image of either format, a file of raw
// 2352- or 2336-byte sectors), a RIFF CDXA copy of a file of a disc, or a file of a mounted
// disc, whose sectors a drive gives.

#include "cdimage/base/error.h"
#include "cdimage/format/imagetrack.h"
#include "cdimage/read/sectorsource.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cdimage {

enum class SourceKind {
    Image,      // every file of it can be given back
    RiffCopy,   // one file, its raw sectors after a RIFF CDXA header
    MountedDisc // a file of a disc that the system shows: read from the drive
};

struct OpenedSource {
    SourceKind kind = SourceKind::Image;
    std::unique_ptr<SectorSource> sectors;
    std::string where;      // for messages: "\"IMG.cue\"", "the CD in /dev/sr0"
    std::string pathOnDisc; // for a file of a mounted disc: "/MPEGAV/AVSEQ01.DAT"
    // For a RIFF copy: the file's sectors on the disc it came from.
    std::uint32_t firstLba = 0, sectorCount = 0;
};

// Opens the sectors of a disc in a drive (/dev/sr0; \\.\D: on Windows); throws Error.
using DriveOpener = std::function<std::unique_ptr<SectorSource>(const std::string& device)>;

// The image at `path` (its description or its only file); throws Error saying why not.
OpenedSource openImage(const std::filesystem::path& path);

// Whatever `path` names: an image, a file of a mounted disc (opened by `openDrive`), or a RIFF
// CDXA copy of a file; throws Error saying why it cannot be read.
OpenedSource openSource(const std::filesystem::path& path, const DriveOpener& openDrive);

// The whole of what `path` names, to check or list: an image, or the disc in a drive named by
// its device (/dev/sr0; \\.\D: on Windows) or by a folder of it mounted (opened by
// `openDrive`); throws Error saying why it cannot be read.
OpenedSource openWhole(const std::filesystem::path& path, const DriveOpener& openDrive);

// Whether `path` is an image rather than a single file: its name ends as an image's does, or
// its content begins as raw sectors do.
bool isImageFile(const std::filesystem::path& path);
bool isNeroImage(const std::filesystem::path& path);

// The data tracks of the image at `path`; throws Error.
std::vector<ImageTrack> imageTracksAt(const std::filesystem::path& path);

// The data tracks of a Nero image, old format (footer "NERO") or new ("NER5"), written at once
// (DAO) or track by track (TAO); throws Error.
std::vector<ImageTrack> tracksOfNeroImage(const std::filesystem::path& path);

// The folder a whole image goes into: DESTINATION without an image's ending, so that
// ".../Kestrel.bin" gives ".../Kestrel".
std::filesystem::path imageFolderFor(const std::filesystem::path& destination);

// The device and the path on its disc when `path` lies on a mounted CD: /dev/sr0 and
// /MPEGAV/AVSEQ01.DAT (\\.\D: and /MPEGAV/AVSEQ01.DAT for D:\MPEGAV\AVSEQ01.DAT on Windows).
std::optional<std::pair<std::string, std::string>> discHolding(const std::filesystem::path& path);

} // namespace cdimage
