// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/names.h"

#include <algorithm>
#include <optional>

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

// The next character of UTF-8 text, or nothing for a byte that does not begin a well-formed
// sequence (that byte alone is then taken).
std::optional<char32_t> nextCharacter(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(at);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                         : lead >= 0xE0                ? 3
                         : lead >= 0xC2                ? 2
                                                       : 0;
    if (length == 0 || at + length > text.size()) {
        ++at;
        return std::nullopt;
    }
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return std::nullopt;
        }
        c = c << 6 | (byte(at + i) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
        ++at;
        return std::nullopt;
    }
    at += length;
    return c;
}

std::u16string jolietCharacters(std::string_view text) {
    std::u16string out;
    for (std::size_t at = 0; at < text.size();) {
        const std::optional<char32_t> c = nextCharacter(text, at);
        const bool forbidden =
            !c || *c < 0x20 || *c == 0x7F || *c > 0xFFFF ||
            std::u32string_view(U"*/:;?\\").find(*c) != std::u32string_view::npos;
        out += forbidden ? u'_' : char16_t(*c);
    }
    return out;
}

} // namespace

std::string asciiUpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

bool isUtf8(std::string_view name) {
    for (std::size_t at = 0; at < name.size();)
        if (!nextCharacter(name, at))
            return false;
    return true;
}

std::u16string jolietName(std::string_view name, std::size_t length) {
    std::u16string whole = jolietCharacters(name);
    if (whole.size() <= length)
        return whole;
    const std::size_t dot = whole.rfind(u'.');
    const std::u16string extension = dot == std::u16string::npos || whole.size() - dot >= length
                                         ? std::u16string()
                                         : whole.substr(dot);
    whole.resize(length - extension.size());
    return whole + extension;
}

std::string bigEndianUcs2(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t c : text) {
        bytes += char(c >> 8);
        bytes += char(c & 0xFF);
    }
    return bytes;
}

std::string volumeIdentifier(std::string_view volumeName) {
    std::string identifier = mapped(volumeName);
    if (identifier.size() > kVolumeIdentifierLength)
        identifier.resize(kVolumeIdentifierLength);
    return identifier;
}

std::string numberedIdentifier(std::string_view identifier, unsigned number) {
    const std::size_t dot = identifier.rfind('.');
    std::string name(identifier.substr(0, dot));
    const std::string extension(dot == std::string_view::npos ? "" : identifier.substr(dot));
    const std::string digits = std::to_string(number);
    const std::size_t room = kFileIdentifierLength -
                             std::min(extension.size(), kFileIdentifierLength - digits.size()) -
                             digits.size();
    name.resize(std::min(name.size(), room));
    return name + digits + extension;
}

std::u16string numberedJolietName(std::u16string_view name, unsigned number, std::size_t length) {
    const std::size_t dot = name.rfind(u'.');
    const bool hasExtension = dot != std::u16string_view::npos && dot > 0;
    std::u16string stem(name.substr(0, hasExtension ? dot : name.size()));
    const std::u16string extension(hasExtension ? name.substr(dot) : std::u16string_view());
    const std::string digits = " (" + std::to_string(number) + ")";
    const std::u16string tail(digits.begin(), digits.end());
    const std::size_t room =
        length > tail.size() + extension.size() ? length - tail.size() - extension.size() : 0;
    stem.resize(std::min(stem.size(), room));
    return (stem + tail + extension).substr(0, length);
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

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        shown += "\\x";
        shown += kHex[byte >> 4];
        shown += kHex[byte & 0x0F];
    };
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
            ++at;
            continue;
        }
        if (byte < 0x80) {
            shown += char(byte);
            ++at;
            continue;
        }
        // A whole UTF-8 sequence stays; C1 controls (U+0080 to U+009F) do not.
        std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
        if (length == 0 || at + length > text.size() || !isUtf8(text.substr(at, length)) ||
            (byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0)) {
            if (length == 2 && at + 1 < text.size() && byte == 0xC2 &&
                static_cast<unsigned char>(text[at + 1]) < 0xA0 &&
                static_cast<unsigned char>(text[at + 1]) >= 0x80) {
                escape(byte);
                escape(static_cast<unsigned char>(text[at + 1]));
                at += 2;
                continue;
            }
            escape(byte);
            ++at;
            continue;
        }
        shown.append(text.substr(at, length));
        at += length;
    }
    return shown;
}

} // namespace cdimage
