// SPDX-License-Identifier: GPL-3.0-or-later
// A file, a folder or every file of a disc or an image, from its sectors.

#include "dat2file/catalog.h"
#include "dat2file/commands.h"
#include "dat2file/copysectors.h"

#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/base/stopsignals.h"
#include "terminal/progress.h"

#include <algorithm>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dat2file {

namespace fs = std::filesystem;
using cdimage::quoted;

namespace {

Blocks blocksOf(const cdimage::DiscFile& file) {
    if (file.form2)
        return {};
    return {cdimage::kForm1DataSize, file.size};
}

// Removes a folder that a run was filling, unless it was put in place.
class FolderUnderWay {
public:
    explicit FolderUnderWay(fs::path folder)
        : m_folder(std::move(folder)) {}
    ~FolderUnderWay() {
        if (!m_placed) {
            std::error_code ignored;
            fs::remove_all(m_folder, ignored);
        }
    }
    FolderUnderWay(const FolderUnderWay&) = delete;
    FolderUnderWay& operator=(const FolderUnderWay&) = delete;
    const fs::path& path() const { return m_folder; }
    void placed() { m_placed = true; }

private:
    fs::path m_folder;
    bool m_placed = false;
};

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Why `path` must not be followed: a symbolic link that another user made (into a folder of
// theirs, or anywhere they chose). Nothing when it is no link, or one of the user's or root's.
std::optional<std::string> whyNotFollowed(const fs::path& path) {
#ifdef _WIN32
    (void)path;
#else
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode) &&
        facts.st_uid != ::getuid() && facts.st_uid != 0)
        return quoted(path) + " is a symbolic link of another user: it is not followed";
#endif
    return std::nullopt;
}

// The first folder on the way from `into` to `place` (its last part too where `whole`) that is
// a symbolic link, said as why nothing is written there: a link in an existing folder would
// lead the files written with --force outside it.
std::optional<std::string> linkOnTheWay(const fs::path& into, const std::string& place,
                                        bool whole) {
    const fs::path relative = cdimage::pathOfUtf8(place).make_preferred();
    const fs::path folders = whole ? relative : relative.parent_path();
    fs::path at = into;
    for (const fs::path& part : folders) {
        at /= part;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(cdimage::systemPath(at), error);
        if (fs::is_symlink(status))
            return quoted(at) + " is a symbolic link: nothing is written through one, so that "
                                "every file stays inside the folder written";
        if (!fs::exists(status))
            break;
    }
    return std::nullopt;
}

// The folder files are written into: `target` itself with --force where it stands, else a new
// one filled under a temporary name (`underWay`) and put in place whole at the end.
fs::path folderToFill(const fs::path& target, bool force, std::optional<FolderUnderWay>& underWay) {
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    const bool exists = fs::exists(status);
    if (exists && !fs::is_directory(status))
        throw Failure(quoted(target.filename()) + " exists already in " +
                      quoted(cdimage::folderOf(target)) +
                      " and is not a folder: choose another storage folder or remove it");
    if (exists && !force)
        throw Failure("the folder " + quoted(target.filename()) + " exists already in " +
                      quoted(cdimage::folderOf(target)) +
                      ": choose another storage folder or remove the old folder");
    if (const auto why = whyNotFollowed(target))
        throw Failure(*why);
    if (exists)
        return target;
    fs::create_directories(cdimage::systemPath(cdimage::folderOf(target)), error);
    if (error)
        throw Failure("cannot make the folder " + quoted(cdimage::folderOf(target)) + ": " +
                      error.message());
    cdimage::removeStaleTemporaries(target, "dat2file");
    underWay.emplace(cdimage::makeTemporaryFolder(target, "dat2file"));
    return underWay->path();
}

// Whether `place` lies below one of `folders`.
bool belowAny(const std::set<std::string>& folders, const std::string& place) {
    return std::any_of(folders.begin(), folders.end(),
                       [&](const std::string& folder) { return place.starts_with(folder + "/"); });
}

// Makes each folder of the plan in `into`; those that cannot be (a link on the way, an error)
// are left out, and returned, with what lies below them.
std::set<std::string> makeFolders(const fs::path& into, const std::vector<std::string>& folders,
                                  std::vector<Plan::LeftOut>& leftOut) {
    std::set<std::string> refused;
    for (const std::string& place : folders) {
        if (belowAny(refused, place))
            continue;
        const fs::path made = into / cdimage::pathOfUtf8(place).make_preferred();
        if (const auto why = linkOnTheWay(into, place, true)) {
            refused.insert(place);
            leftOut.push_back({place, *why});
            continue;
        }
        std::error_code error;
        fs::create_directories(cdimage::systemPath(made), error);
        if (error) {
            refused.insert(place);
            leftOut.push_back({place, "the folder cannot be made: " + error.message()});
        }
    }
    return refused;
}

// The folders' dates last, the deepest first: writing into a folder would change its own.
void setFolderDates(const fs::path& into, const Plan& plan, const std::set<std::string>& refused) {
    std::vector<std::string> folders = plan.folders;
    std::sort(folders.rbegin(), folders.rend());
    for (const std::string& place : folders) {
        const bool made = !refused.contains(place) && !belowAny(refused, place);
        if (const auto date = plan.folderDates.find(place); date != plan.folderDates.end() && made)
            cdimage::setModificationTime(into / cdimage::pathOfUtf8(place), date->second);
    }
}

// Where a folder's files are written: into `into`, shown as in `target`, read from `where`.
struct WrittenInto {
    const fs::path& into;
    const fs::path& target;
    const std::string& where;
    bool force;
};

// What was written.
struct Written {
    std::uint64_t bytes = 0;
    std::size_t files = 0, checked = 0, damaged = 0;
    std::vector<std::pair<std::string, std::uint64_t>> lost; // damaged copies, bytes lost
};

// An amount of bytes as people say it: "1.2 MB", "300 kB", "12 bytes".
std::string amountOf(std::uint64_t bytes) {
    if (bytes >= 1'000'000)
        return cdimage::formatted("%.1f MB", double(bytes) / 1e6);
    if (bytes >= 1'000)
        return cdimage::formatted("%.1f kB", double(bytes) / 1e3);
    return plural(std::size_t(bytes), "byte", "bytes");
}

// What came back and what did not, in plain words, where some file did not.
std::string plainOutcome(const Written& totals, std::size_t leftOut) {
    if (totals.damaged == 0 && leftOut == 0)
        return {};
    std::string text = "; " + std::to_string(totals.files - totals.damaged) + " back whole";
    if (totals.damaged > 0) {
        text += ", " + std::to_string(totals.damaged) + " damaged: ";
        constexpr std::size_t kNamed = 5;
        for (std::size_t i = 0; i < totals.lost.size() && i < kNamed; ++i)
            text += (i > 0 ? ", \"" : "\"") + totals.lost[i].first + "\" (" +
                    amountOf(totals.lost[i].second) + " lost)";
        if (totals.lost.size() > kNamed)
            text += " and " + std::to_string(totals.lost.size() - kNamed) + " more";
        text += totals.damaged == 1
                    ? " — its damaged parts are zeros, listed in \"" + totals.lost.front().first +
                          ".damaged.ranges\""
                    : " — their damaged parts are zeros, each listed in NAME.damaged.ranges";
    }
    if (leftOut > 0)
        text +=
            std::string(totals.damaged > 0 ? "; " : ", ") + std::to_string(leftOut) + " left out";
    return text + "; try another drive or another copy";
}

// Writes each file of the plan whose folder was made (below none `refused`).
Written writeFiles(cdimage::FileSystem& files, const Plan& plan, const WrittenInto& to,
                   const std::set<std::string>& refused, std::vector<Plan::LeftOut>& leftOut,
                   cdimage::Report& report) {
    std::uint64_t totalSectors = 0;
    for (const Planned& file : plan.files)
        totalSectors += file.file.sectors;
    std::uint64_t sectorsDone = 0;
    Written totals;
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const Planned& file = plan.files[i];
        if (belowAny(refused, file.place)) {
            leftOut.push_back({file.isoPath, "its folder was not made"});
            continue;
        }
        const std::string detail = "file " + std::to_string(i + 1) + " of " +
                                   std::to_string(plan.files.size()) + ": " + file.place;
        const fs::path output = to.into / cdimage::pathOfUtf8(file.place).make_preferred();
        if (const auto why = linkOnTheWay(to.into, file.place, false)) {
            leftOut.push_back({file.isoPath, *why});
            continue;
        }
        if (const auto why = whyNotWritable(output, to.force)) {
            leftOut.push_back({file.isoPath, *why});
            continue;
        }
        Extraction extraction(output, to.force, file.voucher, blocksOf(file.file), report);
        extraction.showAs(to.target / cdimage::pathOfUtf8(file.place).make_preferred());
        extraction.setModified(file.file.recorded);
        copySectors(files.source(), file.file, extraction, [&](std::uint32_t done) {
            report.progress(sectorsDone + done, totalSectors, detail);
        });
        sectorsDone += file.file.sectors;
        const int outcome = extraction.finish("\"" + file.isoPath + "\" in " + to.where);
        totals.bytes += extraction.written();
        ++totals.files;
        totals.checked += extraction.checked() ? 1 : 0;
        if (outcome == Damaged) {
            ++totals.damaged;
            totals.lost.emplace_back(file.place, extraction.lostBytes());
        }
    }
    report.progress(totalSectors, totalSectors, {});
    report.progressEnds();
    return totals;
}

int extractFolder(cdimage::FileSystem& files, const ListOnDisc& list, const Found& folder,
                  const std::string& where, const fs::path& destination, bool force,
                  cdimage::Report& report) {
    const bool wholeDisc = folder.file.lba == files.primaryRoot().lba;
    const bool jolietOnly = folder.joliet && folder.joliet->lba == folder.file.lba &&
                            folder.file.lba != files.primaryRoot().lba;
    const Plan plan =
        planFolder(files, list, jolietOnly ? std::nullopt : std::optional(folder.file),
                   folder.joliet, wholeDisc, report);
    const fs::path target =
        destination.filename().empty() ? destination.parent_path() : destination;
    std::optional<FolderUnderWay> underWay;
    const fs::path into = folderToFill(target, force, underWay);
    std::vector<Plan::LeftOut> leftOut = plan.leftOut;
    // Folders of another user's links, and what lies below them.
    const std::set<std::string> refused = makeFolders(into, plan.folders, leftOut);
    for (const std::string& renamed : plan.renamed)
        report.warning(renamed);

    const Written totals =
        writeFiles(files, plan, {into, target, where, force}, refused, leftOut, report);
    const std::uint64_t bytes = totals.bytes;
    const std::size_t written = totals.files, checked = totals.checked, damaged = totals.damaged;
    setFolderDates(into, plan, refused);
    if (underWay) {
        cdimage::placeFolder(underWay->path(), target);
        underWay->placed();
    }
    for (const Plan::LeftOut& left : leftOut)
        report.problem("left out \"" + left.name + "\" in " + where + ": " + left.why);
    std::error_code unknown;
    std::string closing = "wrote " + plural(written, "file", "files") + " into " +
                          quoted(fs::absolute(target, unknown)) + ": " +
                          plural(std::size_t(bytes), "byte", "bytes") + ", " +
                          std::to_string(checked) + " checked against the file list, " +
                          std::to_string(damaged) + " damaged";
    if (!leftOut.empty())
        closing +=
            ", " + std::to_string(leftOut.size()) + " left out (each named above with the reason)";
    report.done(closing + plainOutcome(totals, leftOut.size()));
    return damaged > 0 || !leftOut.empty() ? Damaged : Done;
}

} // namespace

int extractFromDisc(cdimage::SectorSource& source, const std::string& where, std::string path,
                    const fs::path& destination, bool force, cdimage::Report& report) {
    // No ISO 9660 or Joliet name holds a backslash: it is the separator a Windows user types.
    std::replace(path.begin(), path.end(), '\\', '/');
    cdimage::FileSystem files(source);
    const ListOnDisc list = listOnDisc(files);
    const auto found = findFile(files, list, path);
    if (!found)
        throw Failure("no file \"" + path + "\" in " + where);
    const cdimage::DiscFile& file = found->file;
    if (file.directory)
        return extractFolder(files, list, *found, where, destination, force, report);
    if (const auto why = whyNotWritable(destination, force))
        throw Failure(*why);
    Extraction extraction(destination, force,
                          voucherOnDisc(list, files.volumeIdentifier(), file, report),
                          blocksOf(file), report);
    extraction.setModified(file.recorded);
    copySectors(source, file, extraction,
                [&](std::uint32_t done) { report.progress(done, file.sectors, {}); });
    report.progressEnds();
    return extraction.finish("\"" + path + "\" in " + where);
}

int extractImage(cdimage::SectorSource& source, const std::string& where,
                 const fs::path& destination, bool force, cdimage::Report& report) {
    cdimage::FileSystem files(source);
    const ListOnDisc list = listOnDisc(files);
    return extractFolder(files, list, {files.primaryRoot(), files.jolietRoot()}, where, destination,
                         force, report);
}

} // namespace dat2file
