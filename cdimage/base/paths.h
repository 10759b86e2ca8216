// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace cdimage {

// A path as UTF-8 text, for messages and for the names stored on a CD.
inline std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A path from UTF-8 text.
inline std::filesystem::path pathOfUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// A path between double quotes, as messages name it.
inline std::string quoted(const std::filesystem::path& path) {
    return "\"" + utf8(path) + "\"";
}

// The folder that holds `path`, whole: a relative path's folder is taken from the current
// folder, so that a message never names "." or nothing at all.
inline std::filesystem::path folderOf(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(path, error);
    return (error ? path : whole).lexically_normal().parent_path();
}

// The path as the system's file calls take it. On Windows a path whose whole form reaches the
// classic limit (260 characters, less room for a name in a folder) is given in its \\?\ form:
// whole, its separators backslashes, which the system then takes as it stands, however long.
// Every other path, and every path elsewhere, is given as it is.
#ifdef _WIN32
std::filesystem::path systemPath(const std::filesystem::path& path);
#else
inline const std::filesystem::path& systemPath(const std::filesystem::path& path) {
    return path;
}
#endif

} // namespace cdimage
