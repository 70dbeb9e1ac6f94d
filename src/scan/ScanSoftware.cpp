#include "scan/ScanSoftware.h"

#include "registry/AsciiCase.h"
#include "registry/RootKeys.h"
#include "registry/TRegistry.h"
#include "scan/ValueWalk.h"

#include <algorithm>
#include <vector>

const std::array<std::string_view, 12> SoftwareSkipList = {
    "Policies", "Secure", "Windows 3.1 Migration Status",
    // Keys Windows itself makes below Software, which may stay empty: the store of low
    // integrity programs, the 32-bit and ARM 32-bit views, the class store the user's
    // classes hive is mounted at, the client and registered application lists, and the
    // manufacturer's and setup's keys.
    "AppDataLow", "Wow6432Node", "WowAA32Node", "Classes", "Clients", "RegisteredApplications",
    "DefaultUserEnvironment", "OEM", "Partner"};

namespace {

// Windows holds no deeper tree; a deeper one is not judged empty.
constexpr int kMaxDepth = 512;

// False as soon as a value or an unreadable key is met; the rest of the tree is then
// not needed for the answer. `relative` opens the key from `parent`, which stays open
// while the key's subtree is walked; `path` is the key's path, grown and cut back as the
// walk goes down and up.
bool treeEmpty(TFixRegistry& engine, HKEY parent, const std::string& relative, std::string& path,
               int depth) {
    if (depth > kMaxDepth)
        return false;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(parent);
    if (!reg.OpenKey(relative, false))
        return false;
    engine.RaiseKeyChange(path);
    TRegKeyInfo info;
    if (!reg.GetKeyInfo(info) || info.NumValues > 0)
        return false;
    std::vector<std::string> subKeys;
    reg.GetKeyNames(subKeys);
    if (subKeys.size() != info.NumSubKeys)
        return false; // a subkey that could not be listed
    const size_t pathLength = path.size();
    for (const std::string& name : subKeys) {
        // A name that begins with a backslash names no key below this one: such a key
        // cannot be opened, so the tree is not known to be empty.
        if (!name.empty() && name.front() == '\\')
            return false;
        path.append(1, '\\').append(name);
        if (!treeEmpty(engine, reg.CurrentKey(), name, path, depth + 1))
            return false;
        path.resize(pathLength);
    }
    return true;
}

} // namespace

bool IsSkippedSoftware(const std::string& name) {
    return std::any_of(SoftwareSkipList.begin(), SoftwareSkipList.end(),
                       [&](std::string_view skip) { return SameTextAscii(skip, name); });
}

bool KeyTreeHasNoValues(TFixRegistry& engine, HKEY root, const std::string& keyPath) {
    std::string path = keyPath;
    return treeEmpty(engine, root, "\\" + keyPath, path, 1);
}

namespace {

// Judges the vendor keys below root\software (a key path without its root).
void scanSoftwareKey(TFixRegistry& engine, HKEY root, const std::string& software) {
    std::vector<std::string> names;
    {
        TRegistry reg(KEY_READ);
        reg.SetRootKey(root);
        if (reg.OpenKey(software, false))
            reg.GetKeyNames(names);
    }
    const std::string prefix = RootKeyToName(root) + "\\" + software + "\\";
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string location = prefix + names[i];
        if (engine.IsExcluded(location) || IsSkippedSoftware(names[i]))
            continue;
        engine.RaiseProgress(i, names.size());
        if (KeyTreeHasNoValues(engine, root, software + "\\" + names[i]))
            ReportProblem(engine, riSoftware, location, names[i], "", "Unused Software Entries");
    }
}

} // namespace

void ScanSoftware(TFixRegistry& engine) {
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        scanSoftwareKey(engine, root, "Software");
        // A 64-bit Windows keeps its 32-bit programs' vendor keys below Wow6432Node: they
        // are judged as those programs see them, each with its own location.
        scanSoftwareKey(engine, root, "Software\\Wow6432Node");
    }
}
