#include "ui/SlideBackground.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace ui {

QColor PaintSlideBackground(QPainter* painter, const QStyleOptionViewItem& option) {
    const QRect slide = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->fillRect(slide, selected ? palette.highlight() : palette.base());
    painter->setPen(palette.mid().color());
    painter->drawLine(slide.bottomLeft(), slide.bottomRight());
    return selected ? palette.highlightedText().color() : palette.text().color();
}

} // namespace ui
