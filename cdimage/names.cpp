#include "cdimage/names.h"

#include <algorithm>

namespace cdimage {

namespace {

// Upper case d-characters; each other character, a whole UTF-8 sequence included, is '_'.
std::string mapped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 'a' && c <= 'z') {
            out += char(c - 'a' + 'A');
        } else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
            out += char(c);
        } else {
            out += '_';
            if (c >= 0xC0) // skip the continuation bytes of this sequence
                while (i + 1 < text.size() &&
                       (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80)
                    ++i;
        }
    }
    return out;
}

} // namespace

std::string volumeIdentifier(std::string_view volumeName) {
    std::string identifier = mapped(volumeName);
    if (identifier.size() > kVolumeIdentifierLength)
        identifier.resize(kVolumeIdentifierLength);
    return identifier;
}

std::string fileIdentifier(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    std::string name = mapped(fileName.substr(0, dot));
    std::string extension =
        dot == std::string_view::npos ? std::string() : mapped(fileName.substr(dot + 1));
    const std::size_t room = kFileIdentifierLength - 1; // less the dot
    extension.resize(std::min(extension.size(), room - std::min<std::size_t>(name.size(), 1)));
    name.resize(std::min(name.size(), room - extension.size()));
    if (name.empty() && extension.empty())
        name.push_back('_');
    name += '.';
    name += extension;
    return name;
}

} // namespace cdimage
