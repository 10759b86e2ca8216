// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/controlsupport.h"

#include <QAbstractItemView>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>

namespace velmora {

namespace {

QColor borderColour(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    return QColor::fromRgbF((text.redF() + base.redF()) / 2, (text.greenF() + base.greenF()) / 2,
                            (text.blueF() + base.blueF()) / 2);
}

} // namespace

bool isActivation(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
           event->key() == Qt::Key_Select;
}

void selectCurrent(QAbstractItemView& view) {
    const QModelIndex current = view.currentIndex();
    if (current.isValid() && !view.selectionModel()->isSelected(current))
        view.selectionModel()->select(current, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
}

void watchOnly(QFileSystemWatcher& watcher, const QString& folder) {
    if (watcher.directories() == QStringList{folder})
        return;
    if (!watcher.directories().isEmpty())
        watcher.removePaths(watcher.directories());
    watcher.addPath(folder);
}

void drawBorder(QPainter& painter, const QRect& rect, const QPalette& palette) {
    painter.setPen(borderColour(palette));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

} // namespace velmora
