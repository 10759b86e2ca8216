// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the image tool needs to know of a file it is asked to store, from one look at it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace cdimage {

struct FileFacts {
    bool regular = false; // a plain file (a link is followed)
    std::uint64_t size = 0;
    std::string identity; // the same for every name of one file: its device and inode
    // When it was last written: whole seconds after 1970 (UTC, rounded down) and nanoseconds
    // past them, so that any date a file system holds fits.
    std::int64_t modifiedSeconds = 0;
    std::int32_t modifiedNanoseconds = 0;
};

// Whether a file was changed between two looks: its size or its modification time.
inline bool changedBetween(const FileFacts& before, const FileFacts& after) {
    return before.size != after.size || before.modifiedSeconds != after.modifiedSeconds ||
           before.modifiedNanoseconds != after.modifiedNanoseconds ||
           before.identity != after.identity;
}

// Fills `facts` and returns true, or sets `error` and returns false.
[[nodiscard]] bool lookAt(const std::filesystem::path& path, FileFacts& facts,
                          std::error_code& error);

} // namespace cdimage
