// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the window's controls present themselves to screen readers where the toolkit's own
// presentation misleads: the window is a frame named by its caption, the drive list is named by
// its caption rather than its value, and the source list is a list of items (the toolkit would
// show its one-column table as a table with numbered headers).

class QAccessibleInterface;
struct QMetaObject;

namespace velmora {

class ListBox;

// Installs the presentation above, `frame` being the type of the window (Form1's); once is
// enough, later calls do nothing.
void installAccessibility(const QMetaObject& frame);

// The screen reader's view of one entry of a source list.
QAccessibleInterface* accessibleEntry(ListBox* list, int row);

} // namespace velmora
