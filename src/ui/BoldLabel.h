#pragma once
// A heading of a window or page: a label in the window's font, bold.

#include <QString>

class QLabel;
class QWidget;

namespace ui {

QLabel* BoldLabel(const QString& text, QWidget* parent);

} // namespace ui
