// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/accessibility.h"

#include "platform/controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QPointer>

#include <mutex>

namespace velmora {

namespace {

// A window: a frame named by its caption, as any main window is.
class FrameAccessible final : public QAccessibleWidget {
public:
    explicit FrameAccessible(QWidget* window)
        : QAccessibleWidget(window, QAccessible::Window) {}
};

// A drop-down list named by its caption. Its value is the drive chosen, given as its text and,
// as screen readers look for it, as the selected item of its list of drives.
class DriveListAccessible final : public QAccessibleWidget {
public:
    explicit DriveListAccessible(QComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        switch (kind) {
        case QAccessible::Name:
            return box()->accessibleName();
        case QAccessible::Value:
            return box()->currentText();
        default:
            return QAccessibleWidget::text(kind);
        }
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == box()->view() ? 0 : -1;
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

// One entry of the source list.
class EntryAccessible final : public QAccessibleInterface {
public:
    EntryAccessible(ListBox* list, int row)
        : m_list(list)
        , m_row(row) {}

    bool isValid() const override { return m_list && m_row < m_list->ListCount(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_list);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name && isValid() ? m_list->List(m_row) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect shown = m_list->visualRect(m_list->model()->index(m_row, 0));
        return {m_list->viewport()->mapToGlobal(shown.topLeft()), shown.size()};
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        if (isValid()) {
            state.selected = m_list->ListIndex() == m_row;
            state.focused = m_list->hasFocus() && m_list->currentIndex().row() == m_row;
            state.invisible = !m_list->viewport()->rect().intersects(
                m_list->visualRect(m_list->model()->index(m_row, 0)));
        }
        return state;
    }
    int row() const { return m_row; }

private:
    QPointer<ListBox> m_list;
    int m_row;
};

// The source list: a list of entries, in their order.
class SourceListAccessible final : public QAccessibleWidget {
public:
    explicit SourceListAccessible(ListBox* list)
        : QAccessibleWidget(list, QAccessible::List) {}

    int childCount() const override { return list()->ListCount(); }
    QAccessibleInterface* child(int index) const override {
        return index >= 0 && index < childCount() ? accessibleEntry(list(), index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
            return -1;
        return static_cast<const EntryAccessible*>(child)->row();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex at = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
        return at.isValid() ? child(at.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const int row = list()->currentIndex().row();
        return list()->hasFocus() && row >= 0 ? child(row) : nullptr;
    }

private:
    ListBox* list() const { return static_cast<ListBox*>(widget()); }
};

const QMetaObject* g_frame = nullptr; // the type of the window presented as a frame

QAccessibleInterface* presentation(const QString&, QObject* object) {
    if (g_frame && object->metaObject() == g_frame)
        return new FrameAccessible(static_cast<QWidget*>(object));
    if (auto* box = qobject_cast<DriveListBox*>(object))
        return new DriveListAccessible(box);
    if (auto* list = qobject_cast<ListBox*>(object))
        return new SourceListAccessible(list);
    return nullptr;
}

} // namespace

void installAccessibility(const QMetaObject& frame) {
    static std::once_flag installed;
    std::call_once(installed, [&frame] {
        g_frame = &frame;
        QAccessible::installFactory(presentation);
    });
}

QAccessibleInterface* accessibleEntry(ListBox* list, int row) {
    return list->accessibleEntry(row, [list, row] { return new EntryAccessible(list, row); });
}

} // namespace velmora
