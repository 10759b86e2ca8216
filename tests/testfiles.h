// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files.h"

#include <QList>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QAbstractItemView;

// Tests that let a folder stand for a drive, as a mount point does; Windows drives are letters,
// and wine does not honour DefineDosDevice, which would make one of a folder.
#ifdef Q_OS_WIN
#define SKIP_WHERE_DRIVES_ARE_LETTERS()                                                            \
    QSKIP("drives are letters here: a folder cannot stand for one (wine ignores DefineDosDevice)")
#else
#define SKIP_WHERE_DRIVES_ARE_LETTERS() (void)0
#endif

namespace velmora::test {

// What the mouse sends for a double-click on an item: press, release, double-click, release.
void doubleClick(QAbstractItemView& view, const QModelIndex& index);
// A single click on an item.
void click(QAbstractItemView& view, const QModelIndex& index);
// The last item of a view showing `text`; invalid when none does.
QModelIndex itemShowing(const QAbstractItemView& view, const QString& text);

// What the argument-recording stand-in for the tools wrote of one run: its current folder and
// its arguments.
struct Record {
    QString folder;
    QStringList arguments;
};
// Waits (ten seconds at most) until `count` runs of the stand-in have written their records
// into `folder`, then reads them, and any other that came meanwhile.
QList<Record> waitForRecords(const QString& folder, int count);

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
