// SPDX-License-Identifier: GPL-3.0-or-later
// dat2file: gives back the exact files stored in Mode 2 Form 2 sectors, from a RIFF "CDXA"
// file (the way Windows presents such a file of a CD), from a file of a mounted CD, or from a
// file inside an image (BIN/CUE, cdrdao TOC, raw sectors, NRG). When the file list that
// velmora_tolk stores in the root of every image is found, the output is cut to the file's exact
// length and its SHA-256 is checked.

#include "cdimage/base/names.h"
#include "cdimage/base/paths.h"
#include "cdimage/base/stopsignals.h"
#include "cdimage/read/discreader.h"
#include "dat2file/commands.h"
#include "dat2file/drive.h"
#include "dat2file/drivelock.h"
#include "dat2file/outputwriter.h"
#include "dat2file/repairing.h"
#include "terminal/arguments.h"
#include "terminal/progress.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace dat2file;
using cdimage::quoted;
using cdimage::utf8;

namespace {

constexpr const char* kUsage =
    "usage: dat2file [--force] SOURCE DESTINATION\n"
    "       dat2file [--force] --image IMAGE.cue PATH DESTINATION\n"
    "       dat2file --list IMAGE.cue\n"
    "       dat2file --check IMAGE.cue|DISC\n"
    "\n"
    "Gives back the files stored in Mode 2 Form 2 sectors. SOURCE is an image, given by its cue\n"
    "sheet (.cue), its cdrdao table of contents (.toc), its CloneCD description (.ccd), its\n"
    "raw sectors (.bin, known by their content, or an ECM file of them) or as a Nero image\n"
    "(.nrg): every file of it is written into the folder\n"
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
    "  --list      the files of an image: name, exact length, SHA-256, original name, and\n"
    "              its repair data\n"
    "  --check     reads every sector of an image or of a disc (a device, or a folder of the\n"
    "              mounted disc) and writes nothing: each file intact, repairable or damaged,\n"
    "              and how much of what the repair data rebuilds the damage has used\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "While it works it writes progress lines on standard error, one each time they change:\n"
    "  dat2file: progress PERCENT% [file I of N: NAME]\n"
    "PERCENT counts the sectors read. On a terminal they replace one another on one\n"
    "line. At the end one line says what was written, or why nothing was. SIGINT and SIGTERM\n"
    "stop it and remove what it had half-written.\n"
    "Every read uses the image's repair data, where it has some: a lost sector is rebuilt\n"
    "byte-exact, and the last line says how many were lost, rebuilt and not rebuildable.\n"
    "Beyond its limits the files affected are reported damaged, with their byte ranges; a\n"
    "file is never written as good unless its SHA-256 matches.\n"
    "Exit status: 0 done, 1 failed, 2 bad arguments, 3 a damaged copy or an entry left out\n"
    "(or, with --list, a damaged file list; with --check, a file that cannot come back\n"
    "whole), 4 with --check: every file comes back whole, but sectors were lost and some\n"
    "only through the repair data, 5 with --check: no file is damaged, but the repair data\n"
    "itself is degraded or cannot be used (a header copy or table sectors lost, parity or a\n"
    "table that disagrees).\n";

// What a run tells, on the terminal: progress on standard error (in place on a terminal), what
// was written on standard output, problems on standard error, a name from a disc never raw.
class TerminalReport : public cdimage::Report {
public:
    void progress(std::uint64_t done, std::uint64_t total, const std::string& detail) override {
        if (!m_progress)
            m_progress.emplace("dat2file");
        m_progress->report(done, total, cdimage::printable(detail));
    }
    void progressEnds() override {
        if (m_progress)
            m_progress->finish();
    }
    void line(Kind kind, const std::string& text) override {
        const std::string shown = cdimage::printable(text);
        switch (kind) {
        case Kind::Done:
            cdimage::say(stdout, "dat2file: %s\n", shown.c_str());
            break;
        case Kind::Warning:
            cdimage::say(stderr, "dat2file: warning: %s\n", shown.c_str());
            break;
        case Kind::Problem:
            cdimage::say(stderr, "dat2file: %s\n", shown.c_str());
            break;
        case Kind::Listing:
            cdimage::say(stdout, "%s\n", shown.c_str());
            break;
        }
    }

private:
    std::optional<cdimage::ProgressLine> m_progress;
};

// A disc in a drive, read while no other run of ours reads it.
class LockedDrive : public cdimage::SectorSource {
public:
    LockedDrive(const std::string& device, const fs::path& keepIn)
        : m_lock(device,
                 [&] {
                     cdimage::ProgressLine waiting("dat2file");
                     waiting.report(0, 1, "waiting for " + device);
                 })
        , m_drive(openDrive(device, keepIn)) {}
    std::uint32_t sectorCount() const override { return m_drive->sectorCount(); }
    const std::uint8_t* sector(std::uint32_t lba) override { return m_drive->sector(lba); }
    std::string whyUnreadable(std::uint32_t lba) const override {
        return m_drive->whyUnreadable(lba);
    }
    std::uint32_t lastSessionStart() const override { return m_drive->lastSessionStart(); }
    cdimage::SectorAnswer read(std::uint32_t lba) override { return m_drive->read(lba); }
    cdimage::SectorAnswer readHarder(std::uint32_t lba) override {
        return m_drive->readHarder(lba);
    }
    void readAllAtOnce(std::uint32_t end,
                       const std::function<std::vector<std::uint32_t>()>& stillNeeded,
                       const std::function<void(const cdimage::PassProgress&)>& progress) override {
        m_drive->readAllAtOnce(end, stillNeeded, progress);
    }

private:
    DriveLock m_lock;
    std::unique_ptr<cdimage::SectorSource> m_drive;
};

// The whole of an image, or of the disc in a drive named by its device or by a folder of it
// mounted, its drive locked while it is read; a damaged disc's sectors kept, past the memory's
// share, in the system's temporary folder.
cdimage::OpenedSource openWhole(const fs::path& path) {
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    return cdimage::openWhole(path, [&](const std::string& device) {
        return std::make_unique<LockedDrive>(device, temporary);
    });
}

// What the repair data did, where the disc has some, after the run's own closing line.
int withRepairSummary(const ReadingSource& reading, cdimage::Report& report, int status) {
    if (const auto summary = reading.repairSummary())
        report.done("repair data: " + *summary);
    for (const std::string& trouble : reading.repairTroubles())
        report.warning("the repair data is degraded: " + trouble);
    return status;
}

int extract(const fs::path& path, const fs::path& destination, bool force,
            cdimage::Report& report) {
    // A damaged disc's sectors kept, past the memory's share, beside what is written.
    cdimage::OpenedSource source = cdimage::openSource(path, [&](const std::string& device) {
        return std::make_unique<LockedDrive>(device, cdimage::folderOf(destination));
    });
    ReadingSource reading(source);
    reading.reportTo(report);
    switch (source.kind) {
    case cdimage::SourceKind::Image:
        // An image gives every file it holds, into a folder named after the image.
        return withRepairSummary(reading, report,
                                 extractImage(reading.sectors(), source.where,
                                              imageFolderFor(destination), force, report));
    case cdimage::SourceKind::MountedDisc:
        return withRepairSummary(reading, report,
                                 extractFromDisc(reading.sectors(), source.where, source.pathOnDisc,
                                                 destination, force, report));
    case cdimage::SourceKind::RiffCopy:
        break;
    }
    return extractRiff(path, source, destination, force, report);
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
        TerminalReport report;
        if (arguments.size() == 2 && arguments[0] == "--list") {
            auto image = cdimage::openImage(cdimage::pathOfUtf8(arguments[1]));
            ReadingSource reading(image);
            return listFiles(reading.sectors(), image.where, report);
        }
        if (arguments.size() == 2 && arguments[0] == "--check") {
            cdimage::OpenedSource disc = openWhole(cdimage::pathOfUtf8(arguments[1]));
            ReadingSource reading(disc);
            reading.reportTo(report);
            return checkDisc(reading, disc.where, report);
        }
        if (arguments.size() == 4 && arguments[0] == "--image") {
            auto image = cdimage::openImage(cdimage::pathOfUtf8(arguments[1]));
            ReadingSource reading(image);
            return withRepairSummary(
                reading, report,
                extractFromDisc(reading.sectors(), image.where, arguments[2],
                                cdimage::pathOfUtf8(arguments[3]).make_preferred(), force, report));
        }
        if (arguments.size() == 2 && !arguments[0].starts_with("--"))
            return extract(cdimage::pathOfUtf8(arguments[0]),
                           cdimage::pathOfUtf8(arguments[1]).make_preferred(), force, report);
        cdimage::say(stderr, "%s", kUsage);
        return Usage;
    } catch (const cdimage::Stopped& stopped) {
        cdimage::say(stderr, "dat2file: %s\n", stopped.what());
        cdimage::endByStopSignal();
    } catch (const std::exception& error) {
        cdimage::say(stderr, "dat2file: %s\n", cdimage::printable(error.what()).c_str());
        return Failed;
    }
}
