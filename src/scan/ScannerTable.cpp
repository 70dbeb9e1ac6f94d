#include "scan/ScannerTable.h"

std::array<TFixRegistry::TScanner, kRepairItemCount> BuiltInScanners() {
    // Each category's scanner is entered here by its category, e.g.
    // scanners[riFonts] = ScanFonts. A category without an entry raises its status
    // and finds nothing.
    std::array<TFixRegistry::TScanner, kRepairItemCount> scanners;
    return scanners;
}
