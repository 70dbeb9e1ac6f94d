#include "scan/ScanUninstallers.h"

#include "registry/TRegistry.h"
#include "scan/CanStartProcess.h"
#include "scan/ScanViews.h"
#include "scan/ValueWalk.h"

#include <string>
#include <vector>

namespace {

// False when the scan was stopped.
bool scanKey(TFixRegistry& engine, const std::string& uninstall, TRefView view) {
    const std::string location = "HKEY_LOCAL_MACHINE\\" + uninstall;
    if (engine.IsExcluded(location))
        return true;
    // Kept open: each entry's key opens from it.
    TRegistry entries(KEY_READ);
    entries.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!entries.OpenKey(uninstall, false))
        return true;
    std::vector<std::string> names;
    entries.GetKeyNames(names);
    TRegistry reg(KEY_READ);
    reg.SetRootKey(entries.CurrentKey());
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.IsStopped())
            return false;
        const std::string path = uninstall + "\\" + names[i];
        if (!reg.OpenKey(names[i], false))
            continue;
        engine.RaiseKeyChange(path);
        if (reg.ValueExists("UninstallString")) {
            const std::string command = reg.ReadString("UninstallString");
            // Nothing is ever run, so there is no started program to wait for.
            if (!ValidInView(view, [&] { return CanStartProcess(command); }))
                ReportProblem(engine, riUninstallers, location + "\\" + names[i], "UninstallString",
                              command, "Uninstall File Path \"" + command + "\" does not exist");
        }
        reg.CloseKey();
    }
    return true;
}

} // namespace

void ScanUninstallers(TFixRegistry& engine) {
    static const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    if (scanKey(engine, kUninstall, TRefView::Native) && HasWow64View())
        scanKey(engine, Wow64SoftwarePath(kUninstall), TRefView::Wow64);
}
