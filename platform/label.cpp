// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/label.h"

#include "platform/controlsupport.h"

#include <QEvent>

namespace velmora {

Label::Label(QWidget* parent)
    : QLabel(parent) {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
}

void Label::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    recolour();
}

bool Label::event(QEvent* event) {
    const bool handled = QLabel::event(event);
    // The application's palette changed (a label with a palette of its own hears of it here
    // alone), or its parent's.
    if ((event->type() == QEvent::PaletteChange ||
         event->type() == QEvent::ApplicationPaletteChange) &&
        m_highlighted && !m_recolouring)
        recolour();
    return handled;
}

void Label::recolour() {
    m_recolouring = true;
    setPalette(QPalette()); // the parent's, whole
    if (m_highlighted) {    // its text made readable on it
        QPalette own = palette();
        own.setColor(QPalette::WindowText, readableHighlight(own));
        setPalette(own);
    }
    m_recolouring = false;
}

} // namespace velmora
