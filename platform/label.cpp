// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/label.h"

#include "platform/controlsupport.h"

#include <QApplication>
#include <QEvent>

namespace velmora {

Label::Label(QWidget* parent)
    : QLabel(parent) {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
}

void Label::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    // Its highlight is its own: a change of its parent's is heard there.
    if (parentWidget())
        parentWidget()->installEventFilter(this);
    recolour();
}

bool Label::event(QEvent* event) {
    const bool handled = QLabel::event(event);
    // The application's palette changed: a label with a palette of its own hears of it here.
    if (event->type() == QEvent::ApplicationPaletteChange && m_highlighted && !m_recolouring)
        recolour();
    return handled;
}

bool Label::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::PaletteChange && m_highlighted &&
        !m_recolouring)
        recolour();
    return QLabel::eventFilter(watched, event);
}

void Label::recolour() {
    m_recolouring = true;
    setForegroundRole(m_highlighted ? QPalette::Highlight : QPalette::WindowText);
    setPalette(QPalette()); // the parent's, whole
    if (m_highlighted) {
        // The parent's highlight made readable as text; the rest inherited.
        QPalette own;
        own.setColor(QPalette::Highlight,
                     readableHighlight(parentWidget() ? parentWidget()->palette()
                                                      : QApplication::palette(this)));
        setPalette(own);
    }
    m_recolouring = false;
}

} // namespace velmora
