// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/listbox.h"

#include "platform/controlsupport.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

namespace velmora {

// The texts of a list box, appended at the end and removed anywhere.
class EntryModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_texts.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        return m_texts.at(index.row());
    }
    void append(const QString& text) {
        const int row = int(m_texts.size());
        beginInsertRows({}, row, row);
        m_texts.append(text);
        endInsertRows();
    }
    void remove(int row) {
        beginRemoveRows({}, row, row);
        m_texts.removeAt(row);
        endRemoveRows();
    }
    const QStringList& texts() const { return m_texts; }

private:
    QStringList m_texts;
};

ListBox::ListBox(QWidget* parent)
    : QTableView(parent)
    , m_entries(new EntryModel(this)) {
    setModel(m_entries);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    setShowGrid(false);
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTabKeyNavigation(false);
    fitColumn();
}

int ListBox::ListCount() const {
    return m_entries->rowCount();
}

QString ListBox::List(int index) const {
    return m_entries->texts().value(index);
}

QStringList ListBox::entries() const {
    return m_entries->texts();
}

int ListBox::ListIndex() const {
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.constFirst().row();
}

void ListBox::AddItem(const QString& text) {
    m_entries->append(text);
    // Once the view has taken the new row in (after this event), the last entry comes into view.
    if (!m_scrollQueued) {
        m_scrollQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_scrollQueued = false;
                if (ListCount() > 0)
                    scrollTo(m_entries->index(ListCount() - 1), QAbstractItemView::EnsureVisible);
            },
            Qt::QueuedConnection);
    }
    const int width = fontMetrics().horizontalAdvance(text) + 2 * frameWidth() + 8;
    if (width > m_widest) {
        m_widest = width;
        fitColumn();
    }
}

ListBox::~ListBox() {
    forgetAccessibleEntries();
}

QAccessibleInterface*
ListBox::accessibleEntry(int row, const std::function<QAccessibleInterface*()>& make) const {
    if (const auto known = m_accessibleEntries.constFind(row); known != m_accessibleEntries.cend())
        return QAccessible::accessibleInterface(*known);
    QAccessibleInterface* entry = make();
    m_accessibleEntries.insert(row, QAccessible::registerAccessibleInterface(entry));
    return entry;
}

void ListBox::forgetAccessibleEntries() {
    for (const QAccessible::Id id : std::as_const(m_accessibleEntries))
        QAccessible::deleteAccessibleInterface(id);
    m_accessibleEntries.clear();
}

void ListBox::RemoveItem(int index) {
    if (index < 0 || index >= ListCount())
        return;                // no such entry: nothing to remove
    forgetAccessibleEntries(); // the rows after it move up
    m_entries->remove(index);
    clearSelection();
}

void ListBox::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous); // not QTableView's: see the header
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(current.row());
        QAccessible::updateAccessibility(&focus);
    }
}

void ListBox::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!QAccessible::isActive())
        return;
    for (const auto& [indexes, change] :
         {std::pair{selected.indexes(), QAccessible::SelectionAdd},
          std::pair{deselected.indexes(), QAccessible::SelectionRemove}})
        for (const QModelIndex& index : indexes) {
            QAccessibleEvent event(this, change);
            event.setChild(index.row());
            QAccessible::updateAccessibility(&event);
        }
}

void ListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT DblClick();
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event)) {
        selectCurrent(*this);
        Q_EMIT DblClick();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ListBox::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fitColumn();
}

// The one column is as wide as the box, or as the widest text when that is wider.
void ListBox::fitColumn() {
    setColumnWidth(0, std::max(viewport()->width(), m_widest));
}

} // namespace velmora
