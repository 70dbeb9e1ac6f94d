#include "ui/ProgramFont.h"

#include <QApplication>
#include <QFontDatabase>

namespace ui {

QFont TahomaOrDesktopFont() {
    if (QFontDatabase::families().contains("Tahoma", Qt::CaseInsensitive))
        return QFont("Tahoma", 8);
    return QApplication::font();
}

} // namespace ui
