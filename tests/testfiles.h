#pragma once

#include <QString>
#include <QTemporaryDir>

namespace velmora::test {

// A file of `size` bytes (sparse: nothing is written) under `folder`; returns its path.
QString makeFile(const QString& folder, const QString& name, qint64 size);
// A folder under `parent`; returns its native path.
QString makeFolder(const QString& parent, const QString& name);

// Puts the process's current folder back when the test ends.
class CurrentFolderGuard {
public:
    CurrentFolderGuard();
    ~CurrentFolderGuard();
    CurrentFolderGuard(const CurrentFolderGuard&) = delete;
    CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

private:
    QString m_folder;
};

} // namespace velmora::test
