#include "scan/ScanUninstallers.h"

#include "registry/TRegistry.h"
#include "scan/CanStartProcess.h"
#include "scan/ValueWalk.h"

#include <string>
#include <vector>

void ScanUninstallers(TFixRegistry& engine) {
    static const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    static const std::string kLocation = "HKEY_LOCAL_MACHINE\\" + kUninstall;
    if (engine.IsExcluded(kLocation))
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(kUninstall, false))
        return;
    std::vector<std::string> names;
    reg.GetKeyNames(names);
    reg.CloseKey();
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.IsStopped())
            return;
        const std::string path = kUninstall + "\\" + names[i];
        if (!reg.OpenKey("\\" + path, false))
            continue;
        engine.RaiseKeyChange(path);
        if (reg.ValueExists("UninstallString")) {
            const std::string command = reg.ReadString("UninstallString");
            // Nothing is ever run, so there is no started program to wait for.
            if (!CanStartProcess(command))
                ReportProblem(engine, riUninstallers, kLocation + "\\" + names[i],
                              "UninstallString", command,
                              "Uninstall File Path \"" + command + "\" does not exist");
        }
        reg.CloseKey();
    }
}
