// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/driveroot.h"

namespace velmora {

namespace {

bool holds(const QString& root, const QString& path, QChar separator) {
    if (root.isEmpty() || !path.startsWith(root))
        return false;
    return path.size() == root.size() || root.endsWith(separator) ||
           path.at(root.size()) == separator;
}

} // namespace

QString rootHolding(const QString& path, const QStringList& roots, QChar separator) {
    QString best;
    for (const QString& root : roots) {
        if (root.size() > best.size() && holds(root, path, separator))
            best = root;
    }
    return best;
}

qsizetype driveRootLength(const QString& path, const QStringList& roots, QChar separator) {
    const QString root = rootHolding(path, roots, separator);
    if (root.isEmpty())
        return 0;
    return root.endsWith(separator) ? root.size() : root.size() + 1;
}

} // namespace velmora
