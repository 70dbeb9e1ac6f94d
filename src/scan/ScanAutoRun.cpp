#include "scan/ScanAutoRun.h"

#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "scan/CanStartProcess.h"
#include "scan/ValueWalk.h"

void ScanAutoRun(TFixRegistry& engine) {
    static const struct {
        HKEY root;
        const char* path;
    } kRunKeys[] = {
        {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices"},
        {HKEY_LOCAL_MACHINE,
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"},
        {HKEY_CURRENT_USER,
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"},
    };
    for (const auto& key : kRunKeys) {
        if (engine.IsStopped())
            return;
        ScanRunKey(engine, key.root, key.path);
    }
}

void ScanRunKey(TFixRegistry& engine, HKEY root, const std::string& keyPath) {
    const std::string location = RootKeyToName(root) + "\\" + keyPath;
    WalkKeyValues(engine, root, keyPath, location, [&](TRegistry& reg, const std::string& name) {
        const std::string command = reg.ReadString(name);
        // Windows' error reporting tool: it is never started to find out.
        if (FindTextFrom(command, "dumprep") > 0)
            return;
        if (!CanStartProcess(command))
            ReportProblem(engine, riAutoRun, location, name, command,
                          "File \"" + command + "\" does not execute");
    });
}
