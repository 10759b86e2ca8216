// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The console's tools as a list model: a row a tool, in the order they came, with what it works
// on, how far it is and its state. The model owns the list; the window's view shows it, and a
// row changes as its tool reports.

#include <QAbstractTableModel>
#include <QList>
#include <QStyledItemDelegate>

namespace velmora::console {

class ToolJob;

class ToolModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ToolColumn, ProgressColumn, StateColumn, StartedColumn, ColumnCount };
    // The percentage, 0 to 100, in the progress column.
    static constexpr int PercentRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    // Appends a row for `job`; the model follows its progress and state from then on.
    void append(ToolJob* job);
    const QList<ToolJob*>& jobs() const { return m_jobs; }
    ToolJob* jobAt(const QModelIndex& index) const;
    QModelIndex indexOf(const ToolJob* job, int column = ToolColumn) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void changed(const ToolJob* job);

    QList<ToolJob*> m_jobs;
};

// Draws a row's progress as a bar with its percentage beside it, never over it.
class ProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// A row's state in a few words.
QString rowState(const ToolJob& job);

} // namespace velmora::console
