// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QAccessible>
#include <QTableView>

#include <functional>

namespace velmora {

class EntryModel;

// A list of texts in the order they were added; one item selected at a time. Adding a text
// costs the same however long the list is, and brings it into view. Enter on an item raises
// DblClick; Tab leaves the list.
// A one-column table rather than a list view: a list view lays out every item again at each
// addition, which made tens of thousands of double-clicks quadratic.
class ListBox : public QTableView {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent);
    ~ListBox() override;

    int ListCount() const;
    // The text at `index`; the empty text past the last item.
    QString List(int index) const;
    QStringList entries() const;
    // The selected item's index, -1 when none is selected.
    int ListIndex() const;
    void AddItem(const QString& text);
    void RemoveItem(int index);

    // The screen reader's view of the entry at `row`, made by `make` the first time it is
    // asked for and kept until the rows move.
    QAccessibleInterface* accessibleEntry(int row,
                                          const std::function<QAccessibleInterface*()>& make) const;

Q_SIGNALS:
    void DblClick();

protected:
    // A screen reader is told of the entry that became current or (de)selected by its row: this
    // is a list, where QTableView would count the cells of a table with headers, naming an entry
    // further down or none.
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitColumn();
    void forgetAccessibleEntries();

    EntryModel* m_entries;
    mutable QHash<int, QAccessible::Id> m_accessibleEntries;
    int m_widest = 0; // the widest text added, in pixels
    bool m_scrollQueued = false;
};

} // namespace velmora
