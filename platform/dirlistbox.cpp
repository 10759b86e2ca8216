// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dirlistbox.h"

#include "platform/controlsupport.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/pathrules.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include <algorithm>

namespace velmora {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentPerLevel = 8;
// Deeper folders are indented no further, so that a deep current folder stays in view.
constexpr int kDeepestIndent = 12;

// Draws each folder of the directory list indented by its depth.
class IndentDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        const int level = std::min(index.data(kLevelRole).toInt(), kDeepestIndent);
        indented.rect.adjust(level * kIndentPerLevel, 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }
};

} // namespace

DirListBox::DirListBox(DriveTable& drives, QWidget* parent)
    : QListWidget(parent)
    , m_drives(drives) {
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideLeft); // a long name keeps its end in view
    connect(this, &QListWidget::itemDoubleClicked, this, &DirListBox::open);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        const int scrolled = verticalScrollBar()->value();
        if (moveTo(m_path)) // the same folder again: no Change
            verticalScrollBar()->setValue(scrolled);
    });
}

Outcome DirListBox::setPath(const QString& folderOrDrive) {
    const auto drive = m_drives.volumeOfDriveText(folderOrDrive);
    return moveTo(drive ? m_drives.currentFolder(*drive) : nativeFolder(folderOrDrive));
}

Outcome DirListBox::moveTo(const QString& folder) {
    if (const Outcome opened = openFolder(folder); !opened)
        return opened;
    const QStringList subfolders =
        QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    const bool changed = folder != m_path;
    m_path = folder;
    m_drives.remember(folder);
    fill(subfolders);
    watchOnly(m_watcher, folder);
    if (changed)
        Q_EMIT Change();
    return Outcome::success();
}

void DirListBox::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event) && currentItem()) {
        open(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirListBox::open(const QListWidgetItem* item) {
    if (!item)
        return;
    const QString folder = item->data(kPathRole).toString();
    if (const Outcome opened = moveTo(folder); !opened)
        Q_EMIT openFailed(folder, opened.reason);
}

void DirListBox::fill(const QStringList& subfolders) {
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QChar separator = QDir::separator();
    int level = 0;
    const auto add = [&](const QString& text, const QString& path, const QIcon& icon) {
        auto* item = new QListWidgetItem(icon, text, this);
        item->setData(kPathRole, path);
        item->setData(kLevelRole, level);
        return item;
    };

    clear();
    const auto volume = m_drives.volumeOf(m_path);
    const QString root = volume ? volume->root : m_path.left(1);
    QString chain = root;
    QListWidgetItem* current = add(root, root, openIcon);
    const QStringList below = m_path.mid(root.size()).split(separator, Qt::SkipEmptyParts);
    for (const QString& name : below) {
        ++level;
        chain = fullPath(chain, name, separator);
        current = add(name, chain, openIcon);
    }
    ++level;
    for (const QString& name : subfolders)
        add(name, fullPath(m_path, name, separator), closedIcon);
    setCurrentItem(current);
    scrollToItem(current);
}

} // namespace velmora
