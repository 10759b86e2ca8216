// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QFileSystemWatcher>
#include <QListView>

class QStringListModel;

namespace velmora {

// The plain, non-hidden files of a folder, sorted by name. The list follows the disk: a file
// written or removed there shows at once, and the selected file stays selected. Enter on a
// file raises DblClick, as a double-click does.
class FileListBox : public QListView {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent);

    QString Path() const { return m_path; }
    // Lists the files of `folder`. A folder that cannot be read is taken with no files, and
    // the reason is returned.
    Outcome setPath(const QString& folder);
    // The selected file's name, empty when none is selected.
    QString FileName() const;

Q_SIGNALS:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    QStringListModel* m_files;
    QString m_path;
    QFileSystemWatcher m_watcher{this};
};

} // namespace velmora
