// SPDX-License-Identifier: GPL-3.0-or-later
// velmora_tolk: builds a CD image whose files are stored without error correction (CD-ROM XA
// Mode 2 Form 2), as IMAGE.bin and IMAGE.cue in the current folder.

#include "cdimage/imagebuilder.h"
#include "cdimage/progress.h"
#include "cdimage/sector.h"
#include "cdimage/stopsignals.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: velmora_tolk [--force] -v VOLUME -o IMAGE -m FILE...\n"
    "\n"
    "Writes IMAGE.bin (raw 2352-byte sectors), its cue sheet IMAGE.cue and its table of\n"
    "contents for cdrdao IMAGE.toc into the current folder: an ISO 9660 file system with the\n"
    "CD-ROM XA extensions holding every FILE in its root folder, in Mode 2 Form 2 sectors\n"
    "(2324 bytes each, no error correction), and a list of the files with their exact lengths\n"
    "and SHA-256 sums.\n"
    "\n"
    "  -v VOLUME   the volume name (upper case, A-Z 0-9 _, at most 32 characters are used)\n"
    "  -o IMAGE    the image name; a .bin or .cue ending is dropped\n"
    "  -m FILE...  the files to store; everything after -m is a file\n"
    "  --force     replace an image of the same name\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "While it works it writes progress lines on standard error, one each time they change:\n"
    "  velmora_tolk: progress PERCENT% file I of N: NAME\n"
    "PERCENT counts the image's sectors written. On a terminal they replace one another on one\n"
    "line. At the end one line says what was written and how full an 80-minute disc would be,\n"
    "or why nothing was. SIGINT and SIGTERM stop it and remove what it had half-written.\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments.\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "velmora_tolk: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    cdimage::BuildRequest request;
    bool haveVolume = false;
    bool haveImage = false;
    bool haveFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::puts("velmora_tolk " VELMORA_VERSION);
            return 0;
        }
        if (argument == "--force") {
            request.force = true;
        } else if ((argument == "-v" || argument == "-o") && i + 1 < argc) {
            (argument == "-v" ? request.volumeName : request.imageName) = argv[++i];
            (argument == "-v" ? haveVolume : haveImage) = true;
        } else if (argument == "-m") {
            haveFiles = true;
            for (++i; i < argc; ++i)
                request.files.emplace_back(argv[i]);
        } else {
            std::fprintf(stderr, "velmora_tolk: unexpected argument \"%s\"\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (!haveVolume || !haveImage || !haveFiles) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    cdimage::ProgressLine progress("velmora_tolk");
    request.progress = [&](std::uint32_t written, std::uint32_t sectors, std::size_t file,
                           std::size_t files, const std::string& name) {
        progress.report(written, sectors,
                        "file " + std::to_string(file) + " of " + std::to_string(files) + ": " +
                            name);
    };
    request.warn = [&](const std::string& warning) {
        progress.finish();
        std::fprintf(stderr, "velmora_tolk: warning: %s\n", warning.c_str());
    };
    cdimage::catchStopSignals();
    try {
        const cdimage::BuildResult result = cdimage::buildImage(request);
        progress.report(1, 1, "done");
        progress.finish();
        if (result.volumeIdentifier != request.volumeName)
            std::printf("velmora_tolk: volume identifier %s\n", result.volumeIdentifier.c_str());
        std::string numbered;
        for (std::size_t i = 0; i < result.numbered.size() && i < 3; ++i)
            numbered +=
                (i == 0 ? "; ISO 9660 names numbered to stay apart: " : ", ") + result.numbered[i];
        if (result.numbered.size() > 3)
            numbered += " and " + std::to_string(result.numbered.size() - 3) + " more";
        std::printf("velmora_tolk: wrote %s, %s and %s: %zu file(s), %llu bytes, %u sectors, "
                    "%s%s\n",
                    result.bin.string().c_str(), result.cue.string().c_str(),
                    result.toc.string().c_str(), result.files,
                    static_cast<unsigned long long>(result.bytes), result.sectors,
                    cdimage::discFill(result.sectors).c_str(), numbered.c_str());
        return 0;
    } catch (const cdimage::Stopped& stopped) {
        progress.finish();
        std::fprintf(stderr, "velmora_tolk: %s\n", stopped.what());
        cdimage::endByStopSignal();
    } catch (const std::exception& error) {
        progress.finish();
        return fail(error.what());
    }
}
