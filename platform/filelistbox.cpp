// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filelistbox.h"

#include "platform/controlsupport.h"
#include "platform/filenamecodec.h"
#include "platform/filesystem.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStringListModel>

#include <algorithm>
#include <filesystem>

namespace velmora {

namespace {

// The plain, non-hidden files of a folder (or links to such files), by name. Names that are not
// UTF-8 are listed too, each keeping its bytes.
QStringList filesOf(const QString& folder) {
#ifdef Q_OS_WIN
    return QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
#else
    QStringList files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(fsPath(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().native();
        std::error_code notAFile; // a link that leads nowhere, say: left out, the rest listed
        if (!name.starts_with('.') && it->is_regular_file(notAFile))
            files.append(decodeFileName(QByteArrayView(name.data(), qsizetype(name.size()))));
    }
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return files;
#endif
}

} // namespace

FileListBox::FileListBox(QWidget* parent)
    : QListView(parent)
    , m_files(new QStringListModel(this)) {
    setModel(m_files);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FileListBox::refresh);
}

Outcome FileListBox::setPath(const QString& folder) {
    m_path = folder;
    const Outcome opened = openFolder(folder);
    m_files->setStringList(opened ? filesOf(folder) : QStringList());
    watchOnly(m_watcher, folder);
    return opened;
}

// Lists the folder again, keeping the selected file and the scrolled place where they remain.
void FileListBox::refresh() {
    const QString selected = FileName();
    const int scrolled = verticalScrollBar()->value();
    m_files->setStringList(filesOf(m_path));
    verticalScrollBar()->setValue(scrolled);
    const int row = selected.isEmpty() ? -1 : int(m_files->stringList().indexOf(selected));
    if (row >= 0)
        setCurrentIndex(m_files->index(row));
}

QString FileListBox::FileName() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : selected.constFirst().data().toString();
}

void FileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT DblClick();
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event)) {
        selectCurrent(*this);
        Q_EMIT DblClick();
        return;
    }
    QListView::keyPressEvent(event);
}

} // namespace velmora
