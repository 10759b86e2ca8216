#include "testfiles.h"

#include <QDir>
#include <QFile>

namespace velmora::test {

QString makeFile(const QString& folder, const QString& name, qint64 size)
{
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qFatal("cannot make the test file %s", qPrintable(path));
    return QDir::toNativeSeparators(path);
}

QString makeFolder(const QString& parent, const QString& name)
{
    if (!QDir(parent).mkpath(name))
        qFatal("cannot make the test folder %s", qPrintable(name));
    return QDir::toNativeSeparators(QDir(parent).filePath(name));
}

CurrentFolderGuard::CurrentFolderGuard()
    : m_folder(QDir::currentPath())
{
}

CurrentFolderGuard::~CurrentFolderGuard()
{
    QDir::setCurrent(m_folder);
}

} // namespace velmora::test
