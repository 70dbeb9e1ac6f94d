#include "scan/ScanAppPaths.h"

#include "registry/AsciiCase.h"
#include "registry/SplitFns.h"
#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/RefText.h"
#include "scan/ScanViews.h"
#include "scan/ValueWalk.h"

#include <algorithm>
#include <vector>

const std::array<std::string_view, 5> AppPathSkipList = {"install.exe", "setup.exe", "MsoHtmEd.exe",
                                                         "table30.exe", "winnt32.exe"};

namespace {

const std::string kAppPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

bool skipped(const std::string& name) {
    return std::any_of(AppPathSkipList.begin(), AppPathSkipList.end(),
                       [&](std::string_view skip) { return SameTextAscii(skip, name); });
}

std::string trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// Each folder of the list on its own: run together, a folder such as "bin" would join
// the end of the one before it and name a folder that nobody wrote.
bool foldersValid(const std::string& raw) {
    std::vector<std::string> folders;
    SplitByChar(raw, ';', folders);
    return std::all_of(folders.begin(), folders.end(), [](const std::string& folder) {
        return DirListValid(ExpandEnvText(trimmed(folder)));
    });
}

} // namespace

namespace {

// False when the scan was stopped.
bool scanKey(TFixRegistry& engine, const std::string& appPaths, TRefView view) {
    TFixRegistry::TNameSet upperNames, names;
    TFixRegistry::CollectKeyNames(HKEY_LOCAL_MACHINE, appPaths, upperNames, names);
    // Kept open: each program's key opens from it.
    TRegistry programs(KEY_READ);
    programs.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!programs.OpenKey(appPaths, false))
        return true;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(programs.CurrentKey());
    std::string path, location;
    size_t index = 0;
    for (const std::string& name : names) {
        engine.RaiseProgress(index++, names.size());
        if (engine.IsStopped())
            return false;
        // A name that begins with a backslash would open from the top of the program
        // list: it names no key below it.
        if (skipped(name) || (!name.empty() && name.front() == '\\'))
            continue;
        path.assign(appPaths).append(1, '\\').append(name);
        location.assign("HKEY_LOCAL_MACHINE\\").append(path);
        if (engine.HasExclusions() && engine.IsExcluded(location))
            continue;
        if (!reg.OpenKey(name, false))
            continue;
        engine.RaiseKeyChange(path);
        if (reg.ReadString("").empty())
            ReportProblem(engine, riAppPaths, location, "Default", "", "Default value is Empty");
        if (reg.ValueExists("Path")) {
            const std::string raw = reg.ReadString("Path");
            if (!ValidInView(view, [&] { return foldersValid(raw); }))
                ReportProblem(engine, riAppPaths, location, "Path", raw,
                              "Application directory \"" + raw + "\"  does not exist");
        }
        reg.CloseKey();
    }
    return true;
}

} // namespace

void ScanAppPaths(TFixRegistry& engine) {
    // Windows 7 and later share the key between 32-bit and 64-bit programs; Vista's
    // 32-bit installers wrote below Wow6432Node.
    if (scanKey(engine, kAppPaths, TRefView::Shared) && HasWow64View())
        scanKey(engine, Wow64SoftwarePath(kAppPaths), TRefView::Wow64);
}
