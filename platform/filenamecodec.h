// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// File names as the system stores them (bytes) and as the program holds them (text): UTF-8,
// with each byte that is not part of UTF-8 kept as the lone surrogate U+DC80..U+DCFF (the way
// Python's "surrogateescape" keeps it). Every name read from a folder thus comes back to its
// exact bytes when it is opened or handed to a tool, and shows with a replacement mark.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace velmora {

QString decodeFileName(QByteArrayView bytes);
QByteArray encodeFileName(QStringView name);

// Whether a name holds a byte that is not UTF-8, kept as above.
bool holdsForeignBytes(QStringView name);

} // namespace velmora
