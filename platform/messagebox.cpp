// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/messagebox.h"

#include "platform/services.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

QMessageBox::Icon iconOf(MessageStyle style) {
    switch (style) {
    case MessageStyle::Critical:
        return QMessageBox::Critical;
    case MessageStyle::Exclamation:
        return QMessageBox::Warning;
    default:
        return QMessageBox::NoIcon;
    }
}

QStyle::StandardPixmap pixmapOf(MessageStyle style) {
    return style == MessageStyle::Critical ? QStyle::SP_MessageBoxCritical
                                           : QStyle::SP_MessageBoxWarning;
}

QDialog* createLongMessageBox(const QString& text, MessageStyle style, const QString& title,
                              QWidget* parent) {
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(title);
    dialog->setModal(true);

    auto* view = new LongTextView(displayedMessage(text), dialog);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);

    auto* row = new QHBoxLayout;
    if (iconOf(style) != QMessageBox::NoIcon) {
        auto* icon = new QLabel(dialog);
        const int size = dialog->style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
        icon->setPixmap(dialog->style()->standardIcon(pixmapOf(style)).pixmap(size));
        icon->setAlignment(Qt::AlignTop);
        row->addWidget(icon);
    }
    row->addWidget(view);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(row);
    layout->addWidget(buttons);

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : QSize(800, 600);
    dialog->resize(available.width() * 2 / 3, available.height() * 2 / 3);
    dialog->setMaximumSize(available);
    return dialog;
}

constexpr qsizetype kDisplayLineLength = 100;
constexpr int kCutLine = 1; // block state: the line was cut for display, not by the text

} // namespace

LongTextView::LongTextView(const QString& text, QWidget* parent)
    : QPlainTextEdit(parent) {
    setReadOnly(true);
    // The keyboard scrolls it (PageUp, PageDown, Ctrl+Home, Ctrl+End), selects and copies.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setAccessibleName(QStringLiteral("Message / Message"));
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    QString lines;
    lines.reserve(text.size() + text.size() / kDisplayLineLength + 1);
    QList<bool> cut; // per display line
    qsizetype start = 0;
    qsizetype lineEnd = -1;
    while (start < text.size()) {
        if (lineEnd < start) {
            lineEnd = text.indexOf(u'\n', start);
            if (lineEnd < 0)
                lineEnd = text.size();
        }
        qsizetype end = lineEnd;
        if (end - start > kDisplayLineLength) {
            const qsizetype blank =
                QStringView(text).sliced(start, kDisplayLineLength).lastIndexOf(u' ');
            end = start + (blank > 0 ? blank + 1 : kDisplayLineLength);
        }
        lines += QStringView(text).sliced(start, end - start);
        if (end == text.size())
            break;
        lines += u'\n';
        cut.append(end != lineEnd);
        start = end == lineEnd ? end + 1 : end;
    }
    setPlainText(lines);
    QTextBlock block = document()->firstBlock();
    for (const bool wasCut : cut) {
        block.setUserState(wasCut ? kCutLine : 0);
        block = block.next();
    }
}

QString LongTextView::textBetween(int start, int end) const {
    QString text;
    for (QTextBlock block = document()->findBlock(start);
         block.isValid() && block.position() <= end; block = block.next()) {
        const int from = std::max(start, block.position()) - block.position();
        const int to = std::min(end, block.position() + block.length() - 1) - block.position();
        text += QStringView(block.text()).sliced(from, std::max(0, to - from));
        if (block.position() + block.length() - 1 < end && block.userState() != kCutLine)
            text += u'\n';
    }
    return text;
}

QMimeData* LongTextView::createMimeDataFromSelection() const {
    auto* selected = new QMimeData;
    selected->setText(textBetween(textCursor().selectionStart(), textCursor().selectionEnd()));
    return selected;
}

QString displayedMessage(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    qsizetype pendingReturns = 0;
    for (const QChar c : text) {
        if (c == u'\r') {
            ++pendingReturns;
        } else if (c == u'\n') {
            shown.append(QString(std::max<qsizetype>(pendingReturns, 1), u'\n'));
            pendingReturns = 0;
        } else {
            shown.append(QString(pendingReturns, u'\r'));
            pendingReturns = 0;
            shown.append(c);
        }
    }
    shown.append(QString(pendingReturns, u'\r'));
    return shown;
}

QDialog* createMessageBox(const QString& text, MessageStyle style, const QString& title,
                          QWidget* parent) {
    if (text.size() > kLongMessageLength)
        return createLongMessageBox(text, style, title, parent);
    auto* box = new QMessageBox(iconOf(style), title, QString(), QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(displayedMessage(text));
    box->setEscapeButton(QMessageBox::Ok);
    return box;
}

} // namespace velmora
