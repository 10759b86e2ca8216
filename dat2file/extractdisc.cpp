// SPDX-License-Identifier: GPL-3.0-or-later
// A file, a folder or every file of a disc or an image, from its sectors.

#include "dat2file/catalog.h"
#include "dat2file/commands.h"
#include "dat2file/copysectors.h"

#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/base/stopsignals.h"

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
    // A new folder is filled under a temporary name and put in place whole at the end; with
    // --force, an existing one takes each file as it is done.
    std::optional<FolderUnderWay> underWay;
    fs::path into = target;
    if (!exists) {
        fs::create_directories(cdimage::systemPath(cdimage::folderOf(target)), error);
        if (error)
            throw Failure("cannot make the folder " + quoted(cdimage::folderOf(target)) + ": " +
                          error.message());
        cdimage::removeStaleTemporaries(target, "dat2file");
        underWay.emplace(cdimage::makeTemporaryFolder(target, "dat2file"));
        into = underWay->path();
    }

    std::vector<Plan::LeftOut> leftOut = plan.leftOut;
    std::set<std::string> refused; // folders of another user's links, and what lies below them
    const auto below = [&](const std::string& place) {
        for (const std::string& folderPlace : refused)
            if (place.starts_with(folderPlace + "/"))
                return true;
        return false;
    };
    for (const std::string& place : plan.folders) {
        if (below(place))
            continue;
        const fs::path made = into / cdimage::pathOfUtf8(place).make_preferred();
        if (const auto why = linkOnTheWay(into, place, true)) {
            refused.insert(place);
            leftOut.push_back({place, *why});
            continue;
        }
        fs::create_directories(cdimage::systemPath(made), error);
        if (error) {
            refused.insert(place);
            leftOut.push_back({place, "the folder cannot be made: " + error.message()});
        }
    }
    for (const std::string& renamed : plan.renamed)
        report.warning(renamed);

    std::uint64_t totalSectors = 0;
    for (const Planned& file : plan.files)
        totalSectors += file.file.sectors;
    std::uint64_t sectorsDone = 0, bytes = 0;
    std::size_t written = 0, checked = 0, damaged = 0;
    for (std::size_t i = 0; i < plan.files.size(); ++i) {
        const Planned& file = plan.files[i];
        if (below(file.place)) {
            leftOut.push_back({file.isoPath, "its folder was not made"});
            continue;
        }
        const std::string detail = "file " + std::to_string(i + 1) + " of " +
                                   std::to_string(plan.files.size()) + ": " + file.place;
        const fs::path output = into / cdimage::pathOfUtf8(file.place).make_preferred();
        if (const auto why = linkOnTheWay(into, file.place, false)) {
            leftOut.push_back({file.isoPath, *why});
            continue;
        }
        if (const auto why = whyNotWritable(output, force)) {
            leftOut.push_back({file.isoPath, *why});
            continue;
        }
        Extraction extraction(output, force, file.voucher, blocksOf(file.file), report);
        extraction.showAs(target / cdimage::pathOfUtf8(file.place).make_preferred());
        extraction.setModified(file.file.recorded);
        copySectors(files.source(), file.file, extraction, [&](std::uint32_t done) {
            report.progress(sectorsDone + done, totalSectors, detail);
        });
        sectorsDone += file.file.sectors;
        const int outcome = extraction.finish("\"" + file.isoPath + "\" in " + where);
        bytes += extraction.written();
        ++written;
        checked += extraction.checked() ? 1 : 0;
        damaged += outcome == Damaged ? 1 : 0;
    }
    report.progress(totalSectors, totalSectors, {});
    report.progressEnds();
    // The folders' dates last, the deepest first: writing into a folder would change its own.
    std::vector<std::string> folders = plan.folders;
    std::sort(folders.rbegin(), folders.rend());
    for (const std::string& place : folders)
        if (const auto date = plan.folderDates.find(place);
            date != plan.folderDates.end() && !below(place) && !refused.contains(place))
            cdimage::setModificationTime(into / cdimage::pathOfUtf8(place), date->second);
    if (underWay) {
        cdimage::placeFolder(underWay->path(), target);
        underWay->placed();
    }
    for (const Plan::LeftOut& left : leftOut)
        report.problem("left out \"" + left.name + "\" in " + where + ": " + left.why);
    std::string closing = "wrote " + plural(written, "file", "files") + " into " +
                          quoted(fs::absolute(target, error)) + ": " +
                          plural(std::size_t(bytes), "byte", "bytes") + ", " +
                          std::to_string(checked) + " checked against the file list, " +
                          std::to_string(damaged) + " damaged";
    if (!leftOut.empty())
        closing +=
            ", " + std::to_string(leftOut.size()) + " left out (each named above with the reason)";
    report.done(closing);
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
