// SPDX-License-Identifier: GPL-3.0-or-later
// dat2file: gives back the exact files stored in Mode 2 Form 2 sectors, from a RIFF "CDXA"
// file (the way Windows presents such a file of a CD), from a file of a mounted CD, or from a
// file inside an image (BIN/CUE, cdrdao TOC, raw sectors, NRG). When the file list that
// velmora_tolk stores in the root of every image is found, the output is cut to the file's exact
// length and its SHA-256 is checked.

#include "cdimage/arguments.h"
#include "cdimage/discreader.h"
#include "cdimage/inputfile.h"
#include "cdimage/paths.h"
#include "cdimage/progress.h"
#include "cdimage/stopsignals.h"
#include "dat2file/commands.h"
#include "dat2file/drive.h"
#include "dat2file/drivelock.h"
#include "dat2file/outputwriter.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;
using namespace dat2file;
using cdimage::quoted;
using cdimage::utf8;

namespace {

constexpr const char* kUsage =
    "usage: dat2file [--force] SOURCE DESTINATION\n"
    "       dat2file [--force] --image IMAGE.cue PATH DESTINATION\n"
    "       dat2file --list IMAGE.cue\n"
    "\n"
    "Gives back the files stored in Mode 2 Form 2 sectors. SOURCE is an image, given by its cue\n"
    "sheet (.cue), its cdrdao table of contents (.toc), its raw sectors (.bin, known by their\n"
    "content) or as a Nero image (.nrg): every file of it is written into the folder\n"
    "DESTINATION without the image's ending (.../Kestrel.bin gives the folder .../Kestrel),\n"
    "each under its original name, in its folders. The folder appears whole at the end.\n"
    "SOURCE may also be a RIFF CDXA file, or a file of a mounted CD: that file is written to\n"
    "DESTINATION. With --image, PATH names a file inside the image by its ISO 9660 name, its\n"
    "Joliet name or its original name; a folder (/ for all) is written whole into DESTINATION.\n"
    "With the image's file list the output has the file's exact length and its SHA-256 is\n"
    "checked. Without the list the output is whole sectors of 2324 bytes.\n"
    "A sector that cannot be read (tried a few times on a drive) or fails its checks gives\n"
    "zeros: the copy is written as DESTINATION.damaged, its damaged byte ranges in\n"
    "DESTINATION.damaged.ranges, and the exit status is 3.\n"
    "\n"
    "  --force     replace an existing DESTINATION or DESTINATION.damaged (never a folder);\n"
    "              for a whole image or folder, write into an existing folder\n"
    "  --list      the files of an image: name, exact length, SHA-256, original name\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "While it works it writes progress lines on standard error, one each time they change:\n"
    "  dat2file: progress PERCENT% [file I of N: NAME]\n"
    "PERCENT counts the sectors read. On a terminal they replace one another on one\n"
    "line. At the end one line says what was written, or why nothing was. SIGINT and SIGTERM\n"
    "stop it and remove what it had half-written.\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments, 3 a damaged copy (or, with --list, a\n"
    "damaged file list).\n";

// The sectors of an image: a Nero image through libcdio, anything else read here.
std::unique_ptr<cdimage::SectorSource> openImage(const std::string& image) {
    if (cdimage::isNeroImage(cdimage::pathOfUtf8(image))) {
        if (const auto why = cdimage::whyNotReadable(cdimage::pathOfUtf8(image)))
            throw Failure(*why);
        return openNeroImage(image);
    }
    try {
        return std::make_unique<cdimage::DiscImage>(
            cdimage::imageTracksAt(cdimage::pathOfUtf8(image)));
    } catch (const cdimage::ImageError& error) {
        const std::string what = error.what();
        const std::string named = "\"" + image + "\"";
        throw Failure(what.starts_with(named) ? what : named + ": " + what);
    }
}

#ifdef _WIN32
// The drive and the path on its disc, when `source` lies on a CD drive: \\.\D: and
// /MPEGAV/AVSEQ01.DAT for D:\MPEGAV\AVSEQ01.DAT.
std::optional<std::pair<std::string, std::string>> discHolding(const fs::path& source) {
    std::error_code error;
    const fs::path whole = fs::absolute(source, error);
    const std::wstring drive = whole.root_name().wstring();
    if (error || drive.size() != 2 || drive[1] != L':' ||
        ::GetDriveTypeW((drive + L"\\").c_str()) != DRIVE_CDROM)
        return std::nullopt;
    std::string inside = utf8(whole.relative_path());
    std::replace(inside.begin(), inside.end(), '\\', '/');
    return std::pair{"\\\\.\\" + utf8(drive), "/" + inside};
}
#elif defined(__linux__)
// The device and the path inside it, when `source` lies on a mounted ISO 9660 CD.
std::optional<std::pair<std::string, std::string>> discHolding(const fs::path& source) {
    std::error_code error;
    const std::string path = utf8(fs::canonical(source, error));
    std::ifstream mounts("/proc/self/mounts");
    std::string device, mountPoint, type, rest, bestDevice, bestMount;
    const auto unescape = [](std::string text) {
        for (std::size_t at = text.find('\\'); at != std::string::npos && at + 3 < text.size();
             at = text.find('\\', at + 1))
            text.replace(at, 4, 1, char(std::stoi(text.substr(at + 1, 3), nullptr, 8)));
        return text;
    };
    while (mounts >> device >> mountPoint >> type && std::getline(mounts, rest)) {
        mountPoint = unescape(mountPoint);
        const bool holds =
            path.starts_with(mountPoint) && (path.size() == mountPoint.size() ||
                                             mountPoint == "/" || path[mountPoint.size()] == '/');
        if (holds && mountPoint.size() > bestMount.size()) {
            bestMount = mountPoint;
            bestDevice = type == "iso9660" ? unescape(device) : std::string();
        }
    }
    if (error || bestDevice.empty())
        return std::nullopt;
    return std::pair{bestDevice, path.substr(bestMount == "/" ? 0 : bestMount.size())};
}
#endif

int extract(const fs::path& source, const fs::path& destination, bool force) {
    if (const auto why = cdimage::whyNotReadable(source))
        throw Failure(*why);
    // An image gives every file it holds, into a folder named after the image.
    if (cdimage::isImageFile(source)) {
        const auto image = openImage(utf8(source));
        return extractImage(*image, quoted(source), imageFolderFor(destination), force);
    }
#if defined(__linux__) || defined(_WIN32)
    // The system reads only 2048 bytes of each Form 2 sector (or wraps them in RIFF on Windows):
    // read the CD itself.
    if (const auto mounted = discHolding(source)) {
        const DriveLock turn(mounted->first, [&] {
            cdimage::ProgressLine waiting("dat2file");
            waiting.report(0, 1, "waiting for " + mounted->first);
        });
        const auto drive = openDrive(mounted->first);
        return extractFromDisc(*drive, "the CD in " + mounted->first, mounted->second, destination,
                               force);
    }
#endif
    return extractRiff(source, destination, force);
}

} // namespace

int main(int argc, char** argv) {
    cdimage::prepareStandardStreams();
    std::vector<std::string> arguments = cdimage::programArguments(argc, argv);
    bool force = false;
    std::erase_if(arguments, [&](const std::string& argument) {
        if (argument != "--force")
            return false;
        force = true;
        return true;
    });
    quietLibcdio();
    cdimage::catchStopSignals();
    try {
        if (arguments.size() == 1 && arguments[0] == "--help") {
            cdimage::say(stdout, "%s", kUsage);
            return Done;
        }
        if (arguments.size() == 1 && arguments[0] == "--version") {
            std::puts("dat2file " VELMORA_VERSION);
            return Done;
        }
        if (arguments.size() == 2 && arguments[0] == "--list") {
            const auto image = openImage(arguments[1]);
            return listFiles(*image, "\"" + arguments[1] + "\"");
        }
        if (arguments.size() == 4 && arguments[0] == "--image") {
            const auto image = openImage(arguments[1]);
            return extractFromDisc(*image, "\"" + arguments[1] + "\"", arguments[2],
                                   cdimage::pathOfUtf8(arguments[3]).make_preferred(), force);
        }
        if (arguments.size() == 2 && !arguments[0].starts_with("--"))
            return extract(cdimage::pathOfUtf8(arguments[0]),
                           cdimage::pathOfUtf8(arguments[1]).make_preferred(), force);
        cdimage::say(stderr, "%s", kUsage);
        return Usage;
    } catch (const cdimage::Stopped& stopped) {
        cdimage::say(stderr, "dat2file: %s\n", stopped.what());
        cdimage::endByStopSignal();
    } catch (const std::exception& error) {
        cdimage::say(stderr, "dat2file: %s\n", error.what());
        return Failed;
    }
}
