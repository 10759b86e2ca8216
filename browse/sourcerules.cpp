// SPDX-License-Identifier: GPL-3.0-or-later
#include "browse/sourcerules.h"

namespace velmora {

qint64 sizeInKilobytes(qint64 bytes) {
    qint64 quotient = bytes / 1024;
    qint64 remainder = bytes % 1024;
    if (remainder < 0) { // floor division, so the remainder counts upwards from the quotient
        remainder += 1024;
        --quotient;
    }
    if (remainder > 512 || (remainder == 512 && quotient % 2 != 0))
        ++quotient;
    return quotient;
}

} // namespace velmora
