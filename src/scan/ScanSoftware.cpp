#include "scan/ScanSoftware.h"

#include "registry/AsciiCase.h"
#include "registry/RootKeys.h"
#include "registry/TRegistry.h"
#include "scan/ValueWalk.h"

#include <algorithm>
#include <vector>

const std::array<std::string_view, 3> SoftwareSkipList = {"Policies", "Secure",
                                                          "Windows 3.1 Migration Status"};

namespace {

// Windows holds no deeper tree; a deeper one is not judged empty.
constexpr int kMaxDepth = 512;

// False as soon as a value or an unreadable key is met; the rest of the tree is then
// not needed for the answer.
bool treeEmpty(TFixRegistry& engine, TRegistry& reg, const std::string& path, int depth) {
    if (depth > kMaxDepth || !reg.OpenKey("\\" + path, false))
        return false;
    engine.RaiseKeyChange(path);
    TRegKeyInfo info;
    if (!reg.GetKeyInfo(info) || info.NumValues > 0)
        return false;
    std::vector<std::string> subKeys;
    reg.GetKeyNames(subKeys);
    if (subKeys.size() != info.NumSubKeys)
        return false; // a subkey that could not be listed
    reg.CloseKey();
    for (const std::string& name : subKeys)
        if (!treeEmpty(engine, reg, path + "\\" + name, depth + 1))
            return false;
    return true;
}

} // namespace

bool IsSkippedSoftware(const std::string& name) {
    return std::any_of(SoftwareSkipList.begin(), SoftwareSkipList.end(),
                       [&](std::string_view skip) { return SameTextAscii(skip, name); });
}

bool KeyTreeHasNoValues(TFixRegistry& engine, HKEY root, const std::string& keyPath) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(root);
    return treeEmpty(engine, reg, keyPath, 1);
}

void ScanSoftware(TFixRegistry& engine) {
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::vector<std::string> names;
        {
            TRegistry reg(KEY_READ);
            reg.SetRootKey(root);
            if (reg.OpenKey("Software", false))
                reg.GetKeyNames(names);
        }
        const std::string software = RootKeyToName(root) + "\\Software\\";
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string location = software + names[i];
            if (engine.IsExcluded(location) || IsSkippedSoftware(names[i]))
                continue;
            // The class store, which the user's classes hive is mounted at: the system's
            // own, and needed when it holds nothing yet.
            if (SameTextAscii(names[i], "Classes"))
                continue;
            engine.RaiseProgress(i, names.size());
            if (KeyTreeHasNoValues(engine, root, "Software\\" + names[i]))
                ReportProblem(engine, riSoftware, location, names[i], "",
                              "Unused Software Entries");
        }
    }
}
