#include "scan/ScanHelpFiles.h"

#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "scan/PathExists.h"
#include "scan/ValueWalk.h"

void ScanHelpFiles(TFixRegistry& engine) {
    ScanHelpKey(engine, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\Help");
    if (!engine.IsStopped())
        ScanHelpKey(engine, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\Html Help");
}

void ScanHelpKey(TFixRegistry& engine, HKEY root, const std::string& keyPath) {
    const std::string location = RootKeyToName(root) + "\\" + keyPath;
    WalkKeyValues(engine, root, keyPath, location, [&](TRegistry& reg, const std::string& name) {
        const std::string folder = reg.ReadString(name);
        const std::string file = AddTrailingBackslash(folder) + name;
        if (!ReferenceExists(file))
            ReportProblem(engine, riHelpFiles, location, name, folder, FileMissingText(file));
    });
}
