// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QPushButton>

namespace velmora {

// A push button that is never the window's default button; Enter presses it while it has the
// focus, as Space does.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(QWidget* parent);

Q_SIGNALS:
    void Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace velmora
