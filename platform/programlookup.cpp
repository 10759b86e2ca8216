// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/programlookup.h"

#include <QDir>
#include <QFileInfo>

namespace velmora {

namespace {

bool namesFolder(const QString& name) {
    return name.contains(u'/') || name.contains(QDir::separator());
}

QString findIn(const QString& name, const QStringList& folders) {
    for (const QString& folder : folders) {
        if (folder.isEmpty() || QDir::isRelativePath(folder))
            continue; // a relative folder would be looked up in the current folder
        const QFileInfo candidate(QDir(folder), name);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return {};
}

} // namespace

QString findProgram(const QString& name, const QString& ownFolder, const QStringList& searchPath) {
    if (name.isEmpty())
        return {};
    if (namesFolder(name))
        return QFileInfo(name).absoluteFilePath();
    const QStringList folders = QStringList{ownFolder} + searchPath;
    QString found = findIn(name, folders);
    static constexpr QStringView kWindowsSuffix = u".exe";
#ifdef Q_OS_WIN
    // As Windows itself does, a name without an ending is a program's with ".exe".
    if (found.isEmpty() && QFileInfo(name).suffix().isEmpty())
        found = findIn(name + kWindowsSuffix, folders);
#endif
    if (found.isEmpty() && name.endsWith(kWindowsSuffix, Qt::CaseInsensitive) &&
        name.size() > kWindowsSuffix.size())
        found = findIn(name.chopped(kWindowsSuffix.size()), folders);
    return found;
}

QStringList systemSearchPath() {
    return qEnvironmentVariable("PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts);
}

} // namespace velmora
