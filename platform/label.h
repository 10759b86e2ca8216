// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QLabel>

namespace velmora {

// A fixed caption, wrapped at word boundaries; optionally in the highlight colour, read from
// the palette each time it is drawn.
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget* parent);
    void setHighlighted(bool highlighted);
};

} // namespace velmora
