// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/commandbutton.h"

#include "platform/controlsupport.h"

#include <QKeyEvent>

namespace velmora {

CommandButton::CommandButton(QWidget* parent)
    : QPushButton(parent) {
    setAutoDefault(false);
    setDefault(false);
    connect(this, &QPushButton::clicked, this, &CommandButton::Click);
}

void CommandButton::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event) && !event->isAutoRepeat()) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace velmora
