#pragma once
// One problem a scan has found.

#include "scan/TRepairItem.h"

#include <string>

struct TInvalidRegData {
    TRepairItem Category = riActiveX;
    std::string KeyLocation; // long root name, "\", key path
    std::string ValueName;   // the value judged, or the label its category puts here
    std::string ValueData;   // the data judged; may be empty
    std::string Diagnosis;

    bool operator==(const TInvalidRegData&) const = default;
};
