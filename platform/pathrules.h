// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// Whether `c` separates folders: the system's separator, and / too, which Windows takes for one
// as well.
bool isSeparator(QChar c, QChar separator);

// Full path of a file listed in a folder: one separator between them, none added when the
// folder already ends with one (a drive's root folder).
QString fullPath(const QString& folder, const QString& fileName, QChar separator);

// The mount point, among `roots`, that holds `path`: the longest one that is a prefix of the
// path on a folder boundary. Empty when none holds it.
QString rootHolding(const QString& path, const QStringList& roots, QChar separator,
                    Qt::CaseSensitivity sensitivity = Qt::CaseSensitive);

// Length of the drive root at the start of `path`: the mount point that holds it plus the
// separator after it (a root that already ends with the separator counts as it stands).
// 0 when no mount point holds the path.
qsizetype driveRootLength(const QString& path, const QStringList& roots, QChar separator,
                          Qt::CaseSensitivity sensitivity = Qt::CaseSensitive);

// Length of the root of a Windows path, its separator included: a drive letter (C:\, c:/), a
// share (\\server\share\) or either in their \\?\ forms; 0 when the path has none. / counts as
// a separator, as on Windows.
qsizetype windowsRootLength(const QString& path);

} // namespace velmora
