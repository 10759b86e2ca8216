// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/pathrules.h" // fullPath

#include <QString>
#include <QtGlobal>

namespace velmora {

// Size in whole kilobytes (1024 bytes): rounded to the nearest, halves to the even neighbour.
qint64 sizeInKilobytes(qint64 bytes);

// Files of more than 400 kilobytes are taken into the source list.
constexpr qint64 kLargestRefusedKB = 400;
constexpr bool sizeAccepted(qint64 kilobytes) {
    return kilobytes > kLargestRefusedKB;
}

} // namespace velmora
