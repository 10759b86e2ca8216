// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QFileSystemWatcher>
#include <QListWidget>

namespace velmora {

class DriveTable;

// The folder being browsed: its drive's root, the chain of folders down to it, then its
// subfolders, indented. A double-click (or Enter) on a folder makes it the current one. The
// subfolders shown follow the disk: a folder made or removed there shows at once.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    DirListBox(DriveTable& drives, QWidget* parent);

    QString Path() const { return m_path; }
    // Moves to a folder, or to a drive's current folder when given a drive's text. Raises
    // Change when the path changes. A folder that cannot be opened leaves everything as it was.
    Outcome setPath(const QString& folderOrDrive);

Q_SIGNALS:
    void Change();
    // A folder the user chose could not be opened.
    void openFailed(const QString& folder, const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void open(const QListWidgetItem* item);
    Outcome moveTo(const QString& folder);
    void fill(const QStringList& subfolders);

    DriveTable& m_drives;
    QString m_path;
    QFileSystemWatcher m_watcher{this};
};

} // namespace velmora
