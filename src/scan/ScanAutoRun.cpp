#include "scan/ScanAutoRun.h"

#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "scan/CanStartProcess.h"
#include "scan/ScanViews.h"
#include "scan/ValueWalk.h"

void ScanAutoRun(TFixRegistry& engine) {
    static const struct {
        HKEY root;
        const char* path;
        TRefView view;
    } kRunKeys[] = {
        // The user's keys and the policies' are shared by 32-bit and 64-bit programs.
        {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", TRefView::Shared},
        {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", TRefView::Native},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
         TRefView::Native},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
         TRefView::Native},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices",
         TRefView::Native},
        {HKEY_LOCAL_MACHINE,
         "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run", TRefView::Shared},
        {HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run",
         TRefView::Shared},
    };
    for (const auto& key : kRunKeys) {
        if (engine.IsStopped())
            return;
        ScanRunKey(engine, key.root, key.path, key.view);
    }
    if (!HasWow64View())
        return;
    // The 32-bit programs' run keys of the machine.
    for (const char* name : {"Run", "RunOnce", "RunOnceEx", "RunServices"}) {
        if (engine.IsStopped())
            return;
        ScanRunKey(
            engine, HKEY_LOCAL_MACHINE,
            Wow64SoftwarePath(std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\") + name),
            TRefView::Wow64);
    }
}

void ScanRunKey(TFixRegistry& engine, HKEY root, const std::string& keyPath, TRefView view) {
    const std::string location = RootKeyToName(root) + "\\" + keyPath;
    WalkKeyValues(engine, root, keyPath, location, [&](TRegistry& reg, const std::string& name) {
        const std::string command = reg.ReadString(name);
        // Windows' error reporting tool: it is never started to find out.
        if (FindTextFrom(command, "dumprep") > 0)
            return;
        if (!ValidInView(view, [&] { return CanStartProcess(command); }))
            ReportProblem(engine, riAutoRun, location, name, command,
                          "File \"" + command + "\" does not execute");
    });
}
