// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

namespace velmora {

// Full path of a file listed in a folder: one separator between them, none added when the
// folder already ends with one (a drive's root folder).
QString fullPath(const QString& folder, const QString& fileName, QChar separator);

// Size in whole kilobytes (1024 bytes): rounded to the nearest, halves to the even neighbour.
qint64 sizeInKilobytes(qint64 bytes);

// Files of more than 400 kilobytes are taken into the source list.
constexpr qint64 kLargestRefusedKB = 400;
constexpr bool sizeAccepted(qint64 kilobytes) {
    return kilobytes > kLargestRefusedKB;
}

} // namespace velmora
