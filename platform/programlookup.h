// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// Where a program named on a command line is found. A name with a folder in it is taken as it
// stands (made absolute against the current folder). A bare name is looked for in `ownFolder`
// (the folder of the running program), then in each folder of `searchPath`, never in the
// current folder; a bare name ending in ".exe" that is found nowhere is looked for again
// without it. Empty when nothing is found.
QString findProgram(const QString& name, const QString& ownFolder, const QStringList& searchPath);

// The folders of the PATH environment variable.
QStringList systemSearchPath();

} // namespace velmora
