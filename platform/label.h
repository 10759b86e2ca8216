// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QLabel>

namespace velmora {

// A fixed caption, wrapped at word boundaries; optionally in the highlight colour, made
// readable on the window's (lighter in its own hue on a dark palette), again at each change of
// palette.
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget* parent);
    void setHighlighted(bool highlighted);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void recolour();

    bool m_highlighted = false;
    bool m_recolouring = false;
};

} // namespace velmora
