// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/toolmodel.h"

#include "console/texts.h"
#include "console/tooljob.h"
#include "console/toolrun.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

using namespace Qt::StringLiterals;

namespace velmora::console {

QString rowState(const ToolJob& job) {
    switch (job.state()) {
    case ToolJob::State::Queued:
        return texts::kRowStarting;
    case ToolJob::State::Running:
        return texts::kRowRunning;
    case ToolJob::State::Stopping:
        return texts::kRowStopping;
    case ToolJob::State::Succeeded:
        return texts::kRowDone;
    case ToolJob::State::Repaired:
        return texts::kRowRepaired.arg(job.rebuiltSectors());
    case ToolJob::State::Warned:
        return job.warnedRow();
    case ToolJob::State::Stopped:
        return texts::kRowStopped;
    case ToolJob::State::Failed:
        if (job.exitStatus() >= 0)
            return texts::kRowFailed.arg(job.exitStatus());
        if (job.endingSignal() != 0)
            return texts::kRowEndedBySignal.arg(signalName(job.endingSignal()));
        return texts::kRowNotStarted;
    }
    return {};
}

void ToolModel::append(ToolJob* job) {
    const int row = int(m_jobs.size());
    beginInsertRows({}, row, row);
    m_jobs.append(job);
    endInsertRows();
    connect(job, &ToolJob::progressed, this, [this, job] { changed(job); });
    connect(job, &ToolJob::stateChanged, this, [this, job] { changed(job); });
}

void ToolModel::changed(const ToolJob* job) {
    const QModelIndex first = indexOf(job, ToolColumn);
    if (first.isValid())
        Q_EMIT dataChanged(first, first.siblingAtColumn(StartedColumn));
}

ToolJob* ToolModel::jobAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.row() >= m_jobs.size())
        return nullptr;
    return m_jobs.at(index.row());
}

QModelIndex ToolModel::indexOf(const ToolJob* job, int column) const {
    const qsizetype row = m_jobs.indexOf(job);
    return row < 0 ? QModelIndex() : index(int(row), column);
}

int ToolModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_jobs.size());
}

int ToolModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ToolModel::data(const QModelIndex& index, int role) const {
    const ToolJob* job = jobAt(index);
    if (!job)
        return {};
    const QString percent = QStringLiteral("%1%").arg(job->percent());
    switch (index.column()) {
    case ToolColumn:
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return job->title();
        if (role == Qt::ToolTipRole)
            return commandLineOf(job->command());
        break;
    case ProgressColumn:
        if (role == PercentRole)
            return job->percent();
        if (role == Qt::DisplayRole)
            return percent;
        if (role == Qt::AccessibleTextRole) // the bar says it; readers get its detail too
            return job->detail().isEmpty() ? percent : percent + u' ' + job->detail();
        if (role == Qt::ToolTipRole && !job->detail().isEmpty())
            return job->detail();
        break;
    case StateColumn:
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return rowState(*job);
        if (role == Qt::ToolTipRole)
            return job->status();
        break;
    case StartedColumn: // tells apart two rows of the same image
        if ((role == Qt::DisplayRole || role == Qt::AccessibleTextRole) &&
            job->startedAt().isValid())
            return job->startedAt().time().toString(u"HH:mm:ss"_s);
        break;
    default:
        break;
    }
    return {};
}

QVariant ToolModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ToolColumn:
        return texts::kToolColumn;
    case ProgressColumn:
        return texts::kProgressColumn;
    case StateColumn:
        return texts::kStateColumn;
    case StartedColumn:
        return texts::kStartedColumn;
    default:
        return {};
    }
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.text.clear();
    QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    const QString percent = index.data(Qt::DisplayRole).toString();
    const int textWidth = option.fontMetrics.horizontalAdvance(QStringLiteral("100%")) + 6;
    const QRect cell = option.rect.adjusted(2, 2, -2, -2);
    QStyleOptionProgressBar bar;
    bar.rect = cell.adjusted(0, 0, -textWidth, 0);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = index.data(ToolModel::PercentRole).toInt();
    bar.textVisible = false;
    bar.state = option.state | QStyle::State_Horizontal;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, item.widget);
    painter->save();
    painter->setPen(option.palette.color(
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(cell.adjusted(cell.width() - textWidth, 0, 0, 0),
                      Qt::AlignRight | Qt::AlignVCenter, percent);
    painter->restore();
}

} // namespace velmora::console
