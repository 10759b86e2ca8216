// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QCheckBox>

namespace velmora {

// A check box whose caption wraps at word boundaries and may take the highlight colour.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBox(QWidget* parent);

    // 1 when ticked, 0 when not.
    int Value() const { return isChecked() ? 1 : 0; }
    void setHighlighted(bool highlighted);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    bool m_highlighted = false;
};

} // namespace velmora
