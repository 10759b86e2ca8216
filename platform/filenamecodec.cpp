// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filenamecodec.h"

namespace velmora {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscapedByte(char16_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// The length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 when there is none.
qsizetype sequenceAt(QByteArrayView bytes, qsizetype at, char32_t& code) {
    const auto byte = [&](qsizetype i) {
        return static_cast<unsigned char>(bytes[at + i]);
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    qsizetype length = 0;
    char32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
        lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
        lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and what lies past Unicode are not UTF-8.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

void appendUtf8(QByteArray& bytes, char32_t code) {
    if (code < 0x80) {
        bytes.append(char(code));
    } else if (code < 0x800) {
        bytes.append(char(0xC0 | code >> 6));
        bytes.append(char(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        bytes.append(char(0xE0 | code >> 12));
        bytes.append(char(0x80 | (code >> 6 & 0x3F)));
        bytes.append(char(0x80 | (code & 0x3F)));
    } else {
        bytes.append(char(0xF0 | code >> 18));
        bytes.append(char(0x80 | (code >> 12 & 0x3F)));
        bytes.append(char(0x80 | (code >> 6 & 0x3F)));
        bytes.append(char(0x80 | (code & 0x3F)));
    }
}

} // namespace

QString decodeFileName(QByteArrayView bytes) {
    QString name;
    name.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t code = 0;
        if (const qsizetype length = sequenceAt(bytes, at, code); length > 0) {
            name.append(QStringView(QChar::fromUcs4(code)));
            at += length;
        } else {
            name.append(QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[at]))));
            ++at;
        }
    }
    return name;
}

QByteArray encodeFileName(QStringView name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t unit = name[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < name.size() &&
            QChar::isLowSurrogate(name[at + 1].unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, name[at + 1].unicode()));
            ++at;
        } else if (isEscapedByte(unit)) {
            bytes.append(char(unit - kEscapeBase));
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, 0xFFFD); // half a pair: no name read from a folder holds one
        } else {
            appendUtf8(bytes, unit);
        }
    }
    return bytes;
}

bool holdsForeignBytes(QStringView name) {
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t unit = name[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < name.size() &&
            QChar::isLowSurrogate(name[at + 1].unicode()))
            ++at;
        else if (isEscapedByte(unit))
            return true;
    }
    return false;
}

} // namespace velmora
