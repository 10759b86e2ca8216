// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Builds a CD image whose files are stored in Mode 2 Form 2 sectors: a raw image (.bin, 2352
// bytes per sector) and its cue sheet (.cue), in one Mode 2 track. The file system is ISO 9660
// with the CD-ROM XA extensions, in Form 1 sectors; every file lies in the root directory.

#include "cdimage/base/error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cdimage {

struct BuildRequest {
    std::string volumeName;
    std::string imageName; // a ".bin" or ".cue" ending is dropped
    std::vector<std::filesystem::path> files;
    bool force = false; // replace an existing image
    // The repair data's parity bands, m of 255 (8 to 127), or 0 for none. Where the files fit
    // an 80-minute disc but not with that much, the most that fits is written.
    int repair = 32;
    // Told, as each file begins and after each chunk, the sectors written so far and in all,
    // and which file is being stored (counted from 1) under which original name.
    std::function<void(std::uint32_t sectorsWritten, std::uint32_t sectors, std::size_t file,
                       std::size_t files, const std::string& name)>
        progress;
    // Told about things that do not stop the build.
    std::function<void(const std::string&)> warn;
};

struct BuildResult {
    std::filesystem::path bin;
    std::filesystem::path cue;
    std::filesystem::path toc; // the same image described for cdrdao
    std::string volumeIdentifier;
    std::uint32_t sectors = 0; // of the track, the file system and the file list included
    std::size_t files = 0;
    std::uint64_t bytes = 0; // of the files stored
    // The ISO 9660 names given a number to stay apart: "__1.MPG (日本.mpg)".
    std::vector<std::string> numbered;
    int repair = 0;                     // the repair data's parity bands (m), 0 for none
    std::uint32_t protectedSectors = 0; // the sectors it covers, from LBA 0 (D)
    std::uint32_t repairSectors = 0;    // its parity and both copies of its header
    std::uint32_t longestBurst = 0;     // the longest run of lost sectors always rebuilt
};

BuildResult buildImage(const BuildRequest& request);

// How much of an 80-minute disc an image of `sectors` takes: its length in minutes and seconds
// (the 2 seconds before the track included, as a burner counts them) and in tenths of a percent,
// each rounded down; past a full disc, by how many sectors it is over instead.
std::string discFill(std::uint32_t sectors);

// The cue sheet of a one-track Mode 2 image.
std::string cueSheet(const std::string& binFileName);

// The table of contents of the same image for cdrdao: one CD-ROM XA track of raw sectors.
std::string cdrdaoToc(const std::string& binFileName);

struct ImagePaths {
    std::filesystem::path bin, cue, toc;
};
// The paths of an image's files for an image name.
ImagePaths imagePaths(std::string imageName);

} // namespace cdimage
