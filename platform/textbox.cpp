// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/textbox.h"

#include "platform/controlsupport.h"

#include <QMouseEvent>
#include <QPainter>

namespace velmora {

TextBox::TextBox(QWidget* parent)
    : QLineEdit(parent) {}

void TextBox::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    drawBorder(painter, rect(), palette());
}

void TextBox::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT Click();
}

} // namespace velmora
