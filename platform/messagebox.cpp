#include "platform/messagebox.h"

#include "app/texts.h"
#include "platform/services.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora {

namespace {

QMessageBox::Icon iconOf(int style)
{
    switch (style) {
    case Critical:
        return QMessageBox::Critical;
    case Exclamation:
        return QMessageBox::Warning;
    default:
        return QMessageBox::NoIcon;
    }
}

QStyle::StandardPixmap pixmapOf(int style)
{
    return style == Critical ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning;
}

QDialog* createLongMessageBox(const QString& text, int style, QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(texts::kApplicationTitle);
    dialog->setModal(true);

    auto* view = new QPlainTextEdit(dialog);
    view->setObjectName(QStringLiteral("MessageText"));
    view->setReadOnly(true);
    view->setPlainText(displayedMessage(text));
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

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

} // namespace

QString displayedMessage(const QString& text)
{
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

QDialog* createMessageBox(const QString& text, int style, QWidget* parent)
{
    if (text.size() > kLongMessageLength)
        return createLongMessageBox(text, style, parent);
    auto* box = new QMessageBox(iconOf(style), texts::kApplicationTitle, QString(),
                                QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setText(displayedMessage(text));
    box->setEscapeButton(QMessageBox::Ok);
    return box;
}

} // namespace velmora
