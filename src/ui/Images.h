#pragma once
// The program's images, drawn for it as SVG in its resources and rendered at the size
// the windows show them (in logical pixels; sharp on high-density screens).

#include "scan/TRepairItem.h"

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace ui {

// The wizard's title image (72 x 72): "clean", "backup" or "compact". Throws
// std::runtime_error for another name, or when the image cannot be read.
QPixmap TitleImage(const QString& name);

// One image per scan category, no two alike (16 x 16).
QIcon CategoryImage(TRepairItem item);

// The key browser's images, by the tree's image index: 0 the top node, 1 and 2 a key
// without subkeys (2 while selected), 3 and 4 a key with subkeys (4 while selected).
// TreeNodeIcon gives the pair of a key as one icon: the selected image in the icon's
// Selected mode.
QPixmap TreeImage(int index);
QIcon TreeNodeIcon(bool hasSubKeys);
QIcon TreeTopIcon();

} // namespace ui
