// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/checkbox.h"

#include "platform/controlsupport.h"

#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace velmora {

// A check box whose whole area answers a click, and says so to screen readers.
class WholeAreaStyle final : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget) const override {
        if (element == SE_CheckBoxClickRect && widget)
            return widget->rect();
        return QProxyStyle::subElementRect(element, option, widget);
    }
};

CheckBox::CheckBox(QWidget* parent)
    : QCheckBox(parent) {
    auto* style = new WholeAreaStyle;
    style->setParent(this);
    setStyle(style);
}

void CheckBox::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    update();
}

void CheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();

    QStyleOptionButton indicator = option;
    indicator.rect = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    indicator.rect.moveTop((height() - indicator.rect.height()) / 2);
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);
    drawBorder(painter, indicator.rect, palette());

    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
    const QRect captionRect = rect().adjusted(indicator.rect.right() + 1 + spacing, 0, 0, 0);
    constexpr int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
    QPalette colours = palette();
    if (m_highlighted)
        colours.setColor(QPalette::WindowText, readableHighlight(colours));
    painter.drawItemText(captionRect, flags, colours, isEnabled(), text(), QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = painter.boundingRect(captionRect, flags, text()).adjusted(-1, 0, 1, 0);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool CheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

} // namespace velmora
