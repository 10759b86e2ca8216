// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the tools read must be a file or a drive. Anything else a path may name (a FIFO that
// would wait for a writer forever, a folder, a socket, a device such as /dev/zero that never
// ends) is told apart before it is opened for reading, without waiting on it.

#include <filesystem>
#include <optional>
#include <string>

namespace cdimage {

// Why `path` cannot be read as a file or a drive, naming what it is ("\"f\" is a FIFO, not a
// file or a drive"); nothing when it is a regular file or a block device.
[[nodiscard]] std::optional<std::string> whyNotReadable(const std::filesystem::path& path);

} // namespace cdimage
