#include "scan/ScanFonts.h"

#include "registry/OSInfo.h"
#include "registry/RootKeys.h"
#include "registry/ShellServices.h"
#include "registry/SplitFns.h"
#include "scan/PathExists.h"
#include "scan/ValueWalk.h"

namespace {

constexpr int kFontsFolderId = 20;

} // namespace

void ScanFonts(TFixRegistry& engine) {
    switch (OSProduct()) {
    case 4:
    case 5:
    case 6:
    case 7:
        ScanFontKey(engine, HKEY_LOCAL_MACHINE,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts");
        break;
    case 1:
    case 2:
    case 3:
    case 8:
    case 9:
        ScanFontKey(engine, HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
        break;
    default:
        // Vista and later keep their fonts where the NT family always has.
        if (IsWinVistaOrLater())
            ScanFontKey(engine, HKEY_LOCAL_MACHINE,
                        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
        break;
    }
}

void ScanFontKey(TFixRegistry& engine, HKEY root, const std::string& keyPath) {
    const std::string location = RootKeyToName(root) + "\\" + keyPath;
    const std::string fontsFolder = AddTrailingBackslash(SpecialFolderPath(kFontsFolderId));
    WalkKeyValues(engine, root, keyPath, location, [&](TRegistry& reg, const std::string& name) {
        const std::string file = reg.ReadString(name);
        if (ReferenceExists(file) || ReferenceExists(fontsFolder + file))
            return;
        ReportProblem(engine, riFonts, location, name, file, FileMissingText(fontsFolder + file));
    });
}
