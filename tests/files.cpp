// SPDX-License-Identifier: GPL-3.0-or-later
#include "files.h"

#include <QDir>
#include <QFile>

namespace velmora::test {

QString tryMakeFile(const QString& folder, const QString& name, qint64 size) {
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        return {};
    return QDir::toNativeSeparators(path);
}

QString makeFile(const QString& folder, const QString& name, qint64 size) {
    const QString path = tryMakeFile(folder, name, size);
    if (path.isEmpty())
        qFatal("cannot make the test file %s", qPrintable(QDir(folder).filePath(name)));
    return path;
}

QString makeFolder(const QString& parent, const QString& name) {
    if (!QDir(parent).mkpath(name))
        qFatal("cannot make the test folder %s", qPrintable(name));
    return QDir::toNativeSeparators(QDir(parent).filePath(name));
}

} // namespace velmora::test
