#include "scan/TRepairItem.h"

namespace {

struct ItemRow {
    const char* displayName;
    bool fixDeletesKey;
};

const ItemRow kItems[kRepairItemCount] = {
    {"Invalid Activex,OLE,COM Sections", true},
    {"Invalid Application Folders", true},
    {"Invalid Auto Run Section", false},
    {"Invalid Classes Section", true},
    {"Invalid File Associations", true},
    {"Invalid Fonts", false},
    {"Invalid Help Files", false},
    {"Invalid Shared Dynamic Link Libraries", false},
    {"Invalid Software Settings", true},
    {"Invalid System Services", true},
    {"Invalid Uninstallers", true},
    {"Obsolete Start Menu Items", true},
};

} // namespace

const char* RepairItemDisplayName(TRepairItem item) {
    return item < kRepairItemCount ? kItems[item].displayName : "";
}

bool RepairItemFixDeletesKey(TRepairItem item) {
    return item < kRepairItemCount && kItems[item].fixDeletesKey;
}

const char* RepairItemRepairText(TRepairItem item) {
    return RepairItemFixDeletesKey(item) ? "Delete erroneous key entry (recommended)"
                                         : "Delete erroneous value entry (recommended)";
}
