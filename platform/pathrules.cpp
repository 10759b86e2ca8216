// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pathrules.h"

namespace velmora {

bool isSeparator(QChar c, QChar separator) {
    return c == separator || c == u'/';
}

namespace {

bool holds(const QString& root, const QString& path, QChar separator,
           Qt::CaseSensitivity sensitivity = Qt::CaseSensitive) {
    if (root.isEmpty() || !path.startsWith(root, sensitivity))
        return false;
    return path.size() == root.size() || isSeparator(root.back(), separator) ||
           isSeparator(path.at(root.size()), separator);
}

} // namespace

QString fullPath(const QString& folder, const QString& fileName, QChar separator) {
    if (folder.endsWith(separator))
        return folder + fileName;
    return folder + separator + fileName;
}

QString rootHolding(const QString& path, const QStringList& roots, QChar separator,
                    Qt::CaseSensitivity sensitivity) {
    QString best;
    for (const QString& root : roots) {
        if (root.size() > best.size() && holds(root, path, separator, sensitivity))
            best = root;
    }
    return best;
}

qsizetype driveRootLength(const QString& path, const QStringList& roots, QChar separator,
                          Qt::CaseSensitivity sensitivity) {
    const QString root = rootHolding(path, roots, separator, sensitivity);
    if (root.isEmpty())
        return 0;
    return isSeparator(root.back(), separator) ? root.size() : root.size() + 1;
}

qsizetype windowsRootLength(const QString& path) {
    const auto separatorAt = [&](qsizetype at) {
        return at < path.size() && isSeparator(path.at(at), u'\\');
    };
    qsizetype start = 0;
    bool share = false;
    if (path.startsWith(u"\\\\?\\UNC\\", Qt::CaseInsensitive)) {
        start = 8;
        share = true;
    } else if (path.startsWith(u"\\\\?\\")) {
        start = 4;
    } else if (separatorAt(0) && separatorAt(1)) {
        start = 2;
        share = true;
    }
    if (!share) {
        const bool letter = start + 1 < path.size() && path.at(start).isLetter() &&
                            path.at(start).unicode() < 0x80 && path.at(start + 1) == u':';
        return letter && separatorAt(start + 2) ? start + 3 : 0;
    }
    // \\server\share\: two names, each followed by a separator (the last may end the path).
    qsizetype at = start;
    for (int name = 0; name < 2; ++name) {
        const qsizetype first = at;
        while (at < path.size() && !separatorAt(at))
            ++at;
        if (at == first)
            return 0;
        if (name == 1)
            return separatorAt(at) ? at + 1 : 0;
        ++at;
    }
    return 0;
}

} // namespace velmora
