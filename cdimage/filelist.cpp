#include "cdimage/filelist.h"

#include <charconv>

namespace cdimage {

namespace {

constexpr std::string_view kHeading =
    "# Velmora file list: SHA-256, length in bytes, name on the CD, original name\n";

} // namespace

std::string formatFileList(const std::vector<ListedFile>& files) {
    std::string text(kHeading);
    for (const ListedFile& file : files) {
        text += file.sha256;
        text += ' ';
        text += std::to_string(file.length);
        text += ' ';
        text += file.identifier;
        text += ' ';
        text += file.originalName;
        text += '\n';
    }
    return text;
}

std::optional<std::vector<ListedFile>> parseFileList(std::string_view text) {
    if (!text.starts_with(kHeading.substr(0, kHeading.find(':'))))
        return std::nullopt;
    std::vector<ListedFile> files;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        ListedFile file;
        const std::size_t lengthEnd = line.find(' ', kSha256HexLength + 1);
        const std::size_t nameEnd =
            lengthEnd == std::string_view::npos ? lengthEnd : line.find(' ', lengthEnd + 1);
        if (line.size() <= kSha256HexLength || line[kSha256HexLength] != ' ' ||
            nameEnd == std::string_view::npos)
            return std::nullopt;
        file.sha256 = line.substr(0, kSha256HexLength);
        const std::string_view length =
            line.substr(kSha256HexLength + 1, lengthEnd - kSha256HexLength - 1);
        const auto parsed =
            std::from_chars(length.data(), length.data() + length.size(), file.length);
        if (parsed.ec != std::errc() || parsed.ptr != length.data() + length.size())
            return std::nullopt;
        file.identifier = line.substr(lengthEnd + 1, nameEnd - lengthEnd - 1);
        file.originalName = line.substr(nameEnd + 1);
        files.push_back(std::move(file));
    }
    return files;
}

} // namespace cdimage
