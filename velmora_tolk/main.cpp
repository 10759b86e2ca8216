// SPDX-License-Identifier: GPL-3.0-or-later
// velmora_tolk: builds a CD image whose files are stored without error correction (CD-ROM XA
// Mode 2 Form 2), as IMAGE.bin and IMAGE.cue in the current folder.

#include "cdimage/base/inputfile.h"
#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/base/stopsignals.h"
#include "cdimage/format/repairformat.h"
#include "cdimage/write/imagebuilder.h"
#include "terminal/arguments.h"
#include "terminal/progress.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: velmora_tolk [--force] [--repair M|off] -v VOLUME -o IMAGE [--files-from LIST]\n"
    "                    -m FILE...\n"
    "\n"
    "Writes IMAGE.bin (raw 2352-byte sectors), its cue sheet IMAGE.cue and its table of\n"
    "contents for cdrdao IMAGE.toc into the current folder: an ISO 9660 file system with the\n"
    "CD-ROM XA extensions holding every FILE in its root folder, in Mode 2 Form 2 sectors\n"
    "(2324 bytes each, no error correction), and a list of the files with their exact lengths\n"
    "and SHA-256 sums.\n"
    "\n"
    "After them it writes repair data (VELMORA.RPD and VELMORA.RPH, listed in the file list):\n"
    "Reed-Solomon parity across sectors with which dat2file rebuilds sectors that a\n"
    "scratched or decayed disc no longer gives. With M parity bands of 255 (32 unless said)\n"
    "it takes M/(255-M) of the image's sectors again (14.8% at 32, with its check table),\n"
    "and rebuilds any run of lost sectors up to (M-1)/(255-M) of them (43,587 sectors, 101 MB,\n"
    "on a full 80-minute disc at 32) and any damage that touches at most M of\n"
    "the 255 bands. Where the files fit an 80-minute disc but not with that much, the most\n"
    "that fits is written (at least 8, else none), and the closing line says so. Beyond\n"
    "these limits the files affected are reported damaged, with their byte ranges; a file\n"
    "is never written as good unless its SHA-256 matches.\n"
    "\n"
    "  -v VOLUME   the volume name (upper case, A-Z 0-9 _, at most 32 characters are used)\n"
    "  -o IMAGE    the image name; a .bin or .cue ending is dropped\n"
    "  -m FILE...  the files to store; everything after -m is a file\n"
    "  --files-from LIST\n"
    "              the files to store named in the file LIST, one per line (UTF-8), stored\n"
    "              before those after -m, which may then be none; for more files than a\n"
    "              command line holds (Windows takes 32,767 characters)\n"
    "  --force     replace an image of the same name\n"
    "  --repair M  repair data of M parity bands, 8 to 127 (32 unless said)\n"
    "  --repair off\n"
    "              no repair data\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "While it works it writes progress lines on standard error, one each time they change:\n"
    "  velmora_tolk: progress PERCENT% file I of N: NAME\n"
    "PERCENT counts the image's sectors written. On a terminal they replace one another on one\n"
    "line. At the end one line says what was written and how full an 80-minute disc would be,\n"
    "or why nothing was. SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break, closing the console)\n"
    "stop it and remove what it had half-written. The volume's dates are the time of the build,\n"
    "or that SOURCE_DATE_EPOCH gives (seconds after 1970, UTC).\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments.\n";

// Every text shown names files of the user's, whose names may hold an escape sequence or a line
// break: they reach the terminal escaped, never raw.
int fail(const std::string& message) {
    cdimage::say(stderr, "velmora_tolk: %s\n", cdimage::printable(message).c_str());
    return 1;
}

// Adds the files named in `list`, one per line; why it cannot, or nothing.
std::optional<std::string> readFileList(const std::string& list,
                                        std::vector<std::filesystem::path>& files) {
    const std::filesystem::path path = cdimage::pathOfUtf8(list);
    if (const auto why = cdimage::whyNotReadable(path))
        return *why;
    std::ifstream in(cdimage::systemPath(path), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back(); // a list written on Windows
        if (!line.empty())
            files.push_back(cdimage::pathOfUtf8(line));
    }
    if (in.bad())
        return "cannot read the list of files " + cdimage::quoted(path);
    return {};
}

// The parity bands `text` asks for: a number from 8 to 127, or "off" for none.
std::optional<int> repairBands(const std::string& text) {
    if (text == "off")
        return 0;
    int bands = 0;
    const auto read = std::from_chars(text.data(), text.data() + text.size(), bands);
    if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size() ||
        bands < cdimage::kLeastParity || bands > cdimage::kMostParity)
        return std::nullopt;
    return bands;
}

// The disc the repair data had to fit on.
const char* discFitOn(const cdimage::BuildResult& result) {
    return result.protectedSectors <= cdimage::kEightyMinuteSectors
               ? "an 80-minute disc"
               : "the 99:59:74 a disc addresses";
}

// What the closing line says of the repair data.
std::string repairNote(const cdimage::BuildResult& result, int wanted) {
    if (wanted == 0)
        return "; no repair data (--repair off)";
    if (result.repair == 0)
        return std::string("; no repair data: the files leave no room for it on ") +
               discFitOn(result);
    return cdimage::formatted(
        "; repair data of %d parity bands (%u sectors, %.1f%% of the %u it covers) rebuilds any "
        "run of up to %u lost sectors",
        result.repair, result.repairSectors, 100.0 * result.repairSectors / result.protectedSectors,
        result.protectedSectors, result.longestBurst);
}

// The warning said before the closing line when fewer repair bands than asked fit.
std::optional<std::string> fewerBands(const cdimage::BuildResult& result, int wanted) {
    if (result.repair == 0 || result.repair >= wanted)
        return std::nullopt;
    return cdimage::formatted("only %d of the %d repair bands asked fit with the files on %s: the "
                              "image rebuilds less than asked",
                              result.repair, wanted, discFitOn(result));
}

// Reads the command line into `request`; the exit status where the run ends there (--help,
// --version, a wrong argument), nothing where the build goes on.
std::optional<int> readArguments(const std::vector<std::string>& arguments,
                                 cdimage::BuildRequest& request) {
    const std::size_t count = arguments.size();
    bool haveVolume = false, haveImage = false, haveFiles = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help") {
            cdimage::say(stdout, "%s", kUsage);
            return 0;
        }
        if (argument == "--version") {
            std::puts("velmora_tolk " VELMORA_VERSION);
            return 0;
        }
        if (argument == "--force") {
            request.force = true;
        } else if (argument == "--repair" && i + 1 < count) {
            const std::optional<int> parity = repairBands(arguments[++i]);
            if (!parity) {
                cdimage::say(stderr,
                             "velmora_tolk: --repair takes a number from %d to %d, or off, not "
                             "\"%s\"\n",
                             cdimage::kLeastParity, cdimage::kMostParity,
                             cdimage::printable(arguments[i]).c_str());
                return 2;
            }
            request.repair = *parity;
        } else if (argument == "--files-from" && i + 1 < count) {
            if (const auto why = readFileList(arguments[++i], request.files))
                return fail(*why);
            haveFiles = true;
        } else if ((argument == "-v" || argument == "-o") && i + 1 < count) {
            (argument == "-v" ? request.volumeName : request.imageName) = arguments[++i];
            (argument == "-v" ? haveVolume : haveImage) = true;
        } else if (argument == "-m") {
            haveFiles = true;
            for (++i; i < count; ++i)
                request.files.push_back(cdimage::pathOfUtf8(arguments[i]));
        } else {
            cdimage::say(stderr, "velmora_tolk: unexpected argument \"%s\"\n%s",
                         cdimage::printable(argument).c_str(), kUsage);
            return 2;
        }
    }
    if (!haveVolume || !haveImage || !haveFiles) {
        cdimage::say(stderr, "%s", kUsage);
        return 2;
    }
    return std::nullopt;
}

// The line that ends a build: what was written, how full a disc it makes, its repair data.
std::string closingLine(const cdimage::BuildResult& result, int wanted) {
    std::string numbered;
    for (std::size_t i = 0; i < result.numbered.size() && i < 3; ++i)
        numbered +=
            (i == 0 ? "; ISO 9660 names numbered to stay apart: " : ", ") + result.numbered[i];
    if (result.numbered.size() > 3)
        numbered += " and " + std::to_string(result.numbered.size() - 3) + " more";
    return cdimage::formatted("wrote %s, %s and %s: %zu %s, %llu bytes, %u sectors, %s%s%s",
                              cdimage::utf8(result.bin).c_str(), cdimage::utf8(result.cue).c_str(),
                              cdimage::utf8(result.toc).c_str(), result.files,
                              result.files == 1 ? "file" : "files",
                              static_cast<unsigned long long>(result.bytes), result.sectors,
                              cdimage::discFill(result.sectors).c_str(), numbered.c_str(),
                              repairNote(result, wanted).c_str());
}

} // namespace

int main(int argc, char** argv) {
    cdimage::prepareStandardStreams();
    cdimage::BuildRequest request;
    if (const auto status = readArguments(cdimage::programArguments(argc, argv), request))
        return *status;
    cdimage::ProgressLine progress("velmora_tolk");
    request.progress = [&](std::uint32_t written, std::uint32_t sectors, std::size_t file,
                           std::size_t files, const std::string& name) {
        progress.report(written, sectors,
                        "file " + std::to_string(file) + " of " + std::to_string(files) + ": " +
                            cdimage::printable(name));
    };
    request.warn = [&](const std::string& warning) {
        progress.finish();
        cdimage::say(stderr, "velmora_tolk: warning: %s\n", cdimage::printable(warning).c_str());
    };
    cdimage::catchStopSignals();
    try {
        const cdimage::BuildResult result = cdimage::buildImage(request);
        progress.report(1, 1, "done");
        progress.finish();
        if (result.volumeIdentifier != request.volumeName)
            cdimage::say(stdout, "velmora_tolk: volume identifier %s\n",
                         result.volumeIdentifier.c_str());
        if (const auto fewer = fewerBands(result, request.repair))
            cdimage::say(stderr, "velmora_tolk: warning: %s\n", fewer->c_str());
        const std::string closing = closingLine(result, request.repair);
        cdimage::say(stdout, "velmora_tolk: %s\n", cdimage::printable(closing).c_str());
        return 0;
    } catch (const cdimage::Stopped& stopped) {
        progress.finish();
        cdimage::say(stderr, "velmora_tolk: %s\n", cdimage::printable(stopped.what()).c_str());
        cdimage::endByStopSignal();
    } catch (const std::exception& error) {
        progress.finish();
        return fail(error.what());
    }
}
