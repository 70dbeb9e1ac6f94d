#pragma once
// The wizard's picture of the scan categories: each has its own index in the wizard's
// image list, and a result row keeps its category only as that index.

#include "scan/TRepairItem.h"

#include <optional>

namespace ui {

int CategoryImageIndex(TRepairItem item);
// The category whose image index this is; none for an index no category uses.
std::optional<TRepairItem> CategoryFromImageIndex(int imageIndex);

} // namespace ui
