#include "scan/ScannerTable.h"

#include "scan/ScanAppPaths.h"
#include "scan/ScanAutoRun.h"
#include "scan/ScanClasses.h"
#include "scan/ScanComObjects.h"
#include "scan/ScanFileAssociations.h"
#include "scan/ScanFonts.h"
#include "scan/ScanHelpFiles.h"
#include "scan/ScanServices.h"
#include "scan/ScanSharedDlls.h"
#include "scan/ScanSoftware.h"
#include "scan/ScanStartMenu.h"
#include "scan/ScanUninstallers.h"

std::array<TFixRegistry::TScanner, kRepairItemCount> BuiltInScanners() {
    std::array<TFixRegistry::TScanner, kRepairItemCount> scanners;
    scanners[riActiveX] = ScanComObjects;
    scanners[riAppPaths] = ScanAppPaths;
    scanners[riAutoRun] = ScanAutoRun;
    scanners[riClasses] = ScanClasses;
    scanners[riFileAssociations] = ScanFileAssociations;
    scanners[riFonts] = ScanFonts;
    scanners[riHelpFiles] = ScanHelpFiles;
    scanners[riSharedDlls] = ScanSharedDlls;
    scanners[riSoftware] = ScanSoftware;
    scanners[riServices] = ScanServices;
    scanners[riUninstallers] = ScanUninstallers;
    scanners[riStartMenu] = ScanStartMenu;
    return scanners;
}
