#pragma once
// Where a window asks for Tahoma 8 pt, it gets Tahoma when the desktop has it, else the
// desktop's own font.

#include <QFont>

namespace ui {

QFont TahomaOrDesktopFont();

} // namespace ui
