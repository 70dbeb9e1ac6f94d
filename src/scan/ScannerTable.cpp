#include "scan/ScannerTable.h"

#include "scan/ScanAppPaths.h"
#include "scan/ScanAutoRun.h"
#include "scan/ScanFonts.h"
#include "scan/ScanHelpFiles.h"
#include "scan/ScanSharedDlls.h"

std::array<TFixRegistry::TScanner, kRepairItemCount> BuiltInScanners() {
    // A category without an entry raises its status and finds nothing.
    std::array<TFixRegistry::TScanner, kRepairItemCount> scanners;
    scanners[riAppPaths] = ScanAppPaths;
    scanners[riAutoRun] = ScanAutoRun;
    scanners[riFonts] = ScanFonts;
    scanners[riHelpFiles] = ScanHelpFiles;
    scanners[riSharedDlls] = ScanSharedDlls;
    return scanners;
}
