// velmora_tolk: builds a CD image whose files are stored without error correction (CD-ROM XA
// Mode 2 Form 2), as IMAGE.bin and IMAGE.cue in the current folder.

#include "cdimage/imagebuilder.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: velmora_tolk [--force] -v VOLUME -o IMAGE -m FILE...\n"
    "\n"
    "Writes IMAGE.bin (raw 2352-byte sectors) and IMAGE.cue into the current folder: an ISO 9660\n"
    "file system with the CD-ROM XA extensions holding every FILE in its root folder, in Mode 2\n"
    "Form 2 sectors (2324 bytes each, no error correction), and a list of the files with their\n"
    "exact lengths and SHA-256 sums.\n"
    "\n"
    "  -v VOLUME   the volume name (upper case, A-Z 0-9 _, at most 32 characters are used)\n"
    "  -o IMAGE    the image name; a .bin or .cue ending is dropped\n"
    "  -m FILE...  the files to store; everything after -m is a file\n"
    "  --force     replace an image of the same name\n"
    "  --help      this text\n"
    "  --version   the version\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "velmora_tolk: %s\n", message.c_str());
    return 1;
}

// Percent and bytes on standard error, at most once a second, for builds of 64 MB or more.
void showProgress(std::uint64_t written, std::uint64_t total) {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point last = Clock::now();
    if (total < (64u << 20))
        return;
    const bool done = written == total;
    if (!done && Clock::now() - last < std::chrono::seconds(1))
        return;
    last = Clock::now();
    std::fprintf(stderr, "velmora_tolk: %3d%% (%llu of %llu bytes)%s", int(written * 100 / total),
                 static_cast<unsigned long long>(written), static_cast<unsigned long long>(total),
                 done ? "\n" : "\r");
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
            std::puts("velmora_tolk 0.2");
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
    request.progress = showProgress;
    request.warn = [](const std::string& warning) {
        std::fprintf(stderr, "velmora_tolk: warning: %s\n", warning.c_str());
    };
    try {
        const cdimage::BuildResult result = cdimage::buildImage(request);
        if (result.volumeIdentifier != request.volumeName)
            std::printf("velmora_tolk: volume identifier %s\n", result.volumeIdentifier.c_str());
        std::printf("velmora_tolk: wrote %s and %s (%u sectors)\n", result.bin.string().c_str(),
                    result.cue.string().c_str(), result.sectors);
        return 0;
    } catch (const cdimage::BuildError& error) {
        return fail(error.what());
    } catch (const std::exception& error) {
        return fail(error.what());
    }
}
