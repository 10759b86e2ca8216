// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QPlainTextEdit>
#include <QString>

class QDialog;
class QWidget;

namespace velmora {

inline constexpr int kLongMessageLength = 2000;

// The text as the box shows it: a run of carriage returns ending in a line feed breaks the line
// once per carriage return (CR LF: a new line; CR CR LF: an empty line between). The text
// handed to the box is kept as it is; only its display changes.
QString displayedMessage(const QString& text);

// Shows a very long text at once: the text is cut into display lines at blanks (a view lays
// out a line at a time, never one line of millions of characters), and copying gives back the
// text without the cuts.
class LongTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    LongTextView(const QString& text, QWidget* parent);
    // The text shown, as it was given.
    QString text() const { return textBetween(0, document()->characterCount() - 1); }

protected:
    QMimeData* createMimeDataFromSelection() const override;

private:
    QString textBetween(int start, int end) const;
};

// A modal message box with the title given (the application's): the standard box for ordinary
// texts, a scrolling box that fits the screen for very long ones (a command line of thousands
// of files). The caller runs it with exec().
QDialog* createMessageBox(const QString& text, MessageStyle style, const QString& title,
                          QWidget* parent);

} // namespace velmora
