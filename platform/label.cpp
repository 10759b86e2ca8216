// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/label.h"

namespace velmora {

Label::Label(QWidget* parent)
    : QLabel(parent) {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
}

void Label::setHighlighted(bool highlighted) {
    setForegroundRole(highlighted ? QPalette::Highlight : QPalette::WindowText);
}

} // namespace velmora
