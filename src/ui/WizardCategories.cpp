#include "ui/WizardCategories.h"

namespace ui {

namespace {

// By category, in category order; no two alike.
constexpr int kImageIndexes[kRepairItemCount] = {11, 4, 7, 14, 6, 5, 15, 3, 2, 16, 12, 17};

} // namespace

int CategoryImageIndex(TRepairItem item) {
    return item < kRepairItemCount ? kImageIndexes[item] : -1;
}

std::optional<TRepairItem> CategoryFromImageIndex(int imageIndex) {
    for (int i = 0; i < kRepairItemCount; ++i)
        if (kImageIndexes[i] == imageIndex)
            return TRepairItem(i);
    return std::nullopt;
}

} // namespace ui
