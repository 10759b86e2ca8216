#pragma once

#include <filesystem>
#include <string>

namespace cdimage {

// A path as UTF-8 text, for messages and for the names stored on a CD.
inline std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A path between double quotes, as messages name it.
inline std::string quoted(const std::filesystem::path& path) {
    return "\"" + utf8(path) + "\"";
}

} // namespace cdimage
