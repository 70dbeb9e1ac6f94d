#include "scan/ScanHelpFiles.h"

#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "scan/PathExists.h"
#include "scan/ValueWalk.h"

void ScanHelpFiles(TFixRegistry& engine) {
    static const char* const kKeys[] = {"SOFTWARE\\Microsoft\\Windows\\Help",
                                        "SOFTWARE\\Microsoft\\Windows\\Html Help"};
    for (const char* key : kKeys)
        if (!engine.IsStopped())
            ScanHelpKey(engine, HKEY_LOCAL_MACHINE, key);
    if (!HasWow64View())
        return;
    for (const char* key : kKeys)
        if (!engine.IsStopped())
            ScanHelpKey(engine, HKEY_LOCAL_MACHINE, Wow64SoftwarePath(key), TRefView::Wow64);
}

void ScanHelpKey(TFixRegistry& engine, HKEY root, const std::string& keyPath, TRefView view) {
    const std::string location = RootKeyToName(root) + "\\" + keyPath;
    WalkKeyValues(engine, root, keyPath, location, [&](TRegistry& reg, const std::string& name) {
        const std::string folder = reg.ReadString(name);
        const std::string file = AddTrailingBackslash(folder) + name;
        if (!ValidInView(view, [&] { return ReferenceExists(file); }))
            ReportProblem(engine, riHelpFiles, location, name, folder, FileMissingText(file));
    });
}
