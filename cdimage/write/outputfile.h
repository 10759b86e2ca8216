// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A file that a tool writes: first under a temporary name of its own beside the place it is
// meant for, created exclusively so that it can never be another run's or a user's file, and
// put in place by a rename as the very last step. Until then nothing at the target changes;
// if the run fails or is stopped, the temporary file goes.
//
// Temporary names read ".TARGET.TOOL-PID-N.tmp". A run stopped for good (SIGKILL, a power
// cut) cannot remove its own: the next run removes those whose run is over. On POSIX systems a
// run holds a lock (flock) on each temporary file and folder of its own while it lives, which
// the system drops when the run ends however it ends: a temporary whose lock is held is never
// taken, even where its process number means nothing (a run in another PID namespace).

#include "cdimage/base/error.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cdimage {

class OutputFile {
public:
    OutputFile(std::filesystem::path target, std::string_view tool); // throws Error
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::filesystem::path& temporaryPath() const { return m_temporary; }

    void write(const void* data, std::size_t size);
    // Writes over bytes already written.
    void writeAt(std::uint64_t offset, const void* data, std::size_t size);
    // Writes what is buffered and closes the file; after it only `setModified` and `place`
    // are left. `durably` first waits until the system has the bytes on its storage, so that a
    // file put in place is never one a power cut leaves half-written.
    void close(bool durably = false);
    // Gives the closed file its modification time, in seconds after 1970 UTC.
    void setModified(std::int64_t seconds);
    // Puts the file in place as `name`. An existing file there is replaced only when `replace`
    // is given; a folder never is.
    void place(const std::filesystem::path& name, bool replace);

private:
    [[noreturn]] void fail(const std::string& what) const;

    // The open temporary file, written through the system's own calls; each call says whether it
    // worked, and `why` what the system said when it did not.
    class File {
    public:
        bool create(const std::filesystem::path& path); // exclusively
        bool isOpen() const { return m_file != nullptr || m_handle != nullptr; }
        bool existed() const { return m_existed; } // create failed as something stood there
        bool write(const void* data, std::size_t size);
        bool seek(std::uint64_t offset);
        bool seekToEnd();
        bool sync(); // to the storage itself
        bool close();
        const std::string& why() const { return m_why; }

    private:
        bool failed();
        void writeBehind();

        std::FILE* m_file = nullptr; // POSIX
        // Where the next byte goes, and the bytes before which the system was asked to start
        // putting on the storage (POSIX).
        std::uint64_t m_position = 0, m_handedOver = 0;
        void* m_handle = nullptr; // Windows
        bool m_existed = false;
        std::string m_why;
    };

    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    File m_file;
    int m_lock = -1; // the run's lock on the temporary file, until it is placed or gone
    bool m_placed = false;
};

// Why a file cannot be put at `path` without replacing something: it is a folder, or (unless
// `replace`) a file stands there, named with its whole folder and followed by `advice` ("choose
// another image name"). Nothing when it can.
[[nodiscard]] std::optional<std::string>
whyNotPlaceable(const std::filesystem::path& path, bool replace, std::string_view advice = {});

// Gives a file or a folder its modification time, in seconds after 1970 UTC; as much as the
// system allows, and silently: a date is worth keeping, not worth failing for.
void setModificationTime(const std::filesystem::path& path, std::int64_t seconds);

// Removes the temporary files and folders of `tool` in the folder of `target` whose run is
// over, whatever file they were for; once a run for each folder.
void removeStaleTemporaries(const std::filesystem::path& target, std::string_view tool);

// A new, empty folder beside `target`, under a temporary name of the same form as a file's,
// to be filled and then put in place whole by placeFolder.
std::filesystem::path makeTemporaryFolder(const std::filesystem::path& target,
                                          std::string_view tool); // throws Error
// Renames the folder `from` to `to` where nothing stands yet; throws Error.
void placeFolder(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace cdimage
