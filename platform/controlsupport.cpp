// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/controlsupport.h"

#include <QAbstractItemView>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

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

namespace {

// WCAG's relative luminance of an sRGB colour.
double luminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor& one, const QColor& other) {
    const double a = luminance(one), b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace

QColor readableHighlight(const QPalette& palette) {
    const QColor background = palette.color(QPalette::Window);
    QColor text = palette.color(QPalette::Highlight).toHsl();
    if (luminance(background) >= 0.18) // a light window: the highlight as the palette has it
        return palette.color(QPalette::Highlight);
    for (int step = 0; step < 40 && contrast(text, background) < 4.5; ++step)
        text.setHslF(text.hslHueF(), text.hslSaturationF(),
                     std::min(1.0f, text.lightnessF() + 0.025f));
    return text.toRgb();
}

} // namespace velmora
