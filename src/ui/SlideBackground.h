#pragma once
// The ground of a slide in the program's slide lists: the base colour, or the highlight
// when the row is selected, with a line under it.

#include <QColor>

class QPainter;
class QStyleOptionViewItem;

namespace ui {

// Paints the ground of `option.rect`; returns the colour for the slide's text.
QColor PaintSlideBackground(QPainter* painter, const QStyleOptionViewItem& option);

} // namespace ui
