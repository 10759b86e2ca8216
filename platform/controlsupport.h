// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What several controls share: the keys that activate an item, the item they act on, a folder
// followed on disk, and a border that keeps to the colour scheme.

class QAbstractItemView;
class QColor;
class QFileSystemWatcher;
class QKeyEvent;
class QPainter;
class QPalette;
class QRect;
class QString;

namespace velmora {

// Enter, on either keyboard block, or Select: what a double-click does, from the keyboard.
bool isActivation(const QKeyEvent* event);
// The item the keyboard is on is the one an activation key acts on, selected or not yet.
void selectCurrent(QAbstractItemView& view);
// Makes `watcher` follow `folder` alone.
void watchOnly(QFileSystemWatcher& watcher, const QString& folder);
// A border that stands out in light and dark colour schemes alike: halfway between the text
// and the field it surrounds.
void drawBorder(QPainter& painter, const QRect& rect, const QPalette& palette);

// The palette's highlight colour as text on its window colour: on a dark window, made lighter
// in its own hue until it reads (a contrast of at least 4.5:1, as WCAG asks of text); on a
// light one, itself.
QColor readableHighlight(const QPalette& palette);

} // namespace velmora
