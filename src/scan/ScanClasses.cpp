#include "scan/ScanClasses.h"

#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/ScanViews.h"
#include "scan/ValueWalk.h"

#include <vector>

namespace {

// Windows holds no deeper tree; a hive that does is not walked past it.
constexpr int kMaxDepth = 512;

// `relative` opens the key from `parent`, which stays open while its subtree is walked.
void scanKey(TFixRegistry& engine, HKEY parent, const std::string& relative,
             const std::string& path, int depth) {
    if (engine.HasExclusions() && engine.IsExcluded("HKEY_CLASSES_ROOT\\" + path))
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(parent);
    // A key that cannot be opened lists no values and no subkeys.
    reg.OpenKey(relative, false);
    engine.RaiseKeyChange(path);
    std::vector<TRegTextValue> values;
    std::vector<std::string> subKeys;
    reg.GetTextValues(values);
    reg.GetKeyNames(subKeys);
    for (const TRegTextValue& value : values) {
        if (engine.IsStopped())
            break;
        // The classes are shared by 32-bit and 64-bit programs (their own classes too,
        // below Wow6432Node, name files either may see).
        if (value.IsText &&
            !ValidInView(TRefView::Shared, [&] { return PathListValid(value.Text); }))
            ReportProblem(engine, riClasses, "HKEY_CLASSES_ROOT\\" + path,
                          value.Name.empty() ? "Default" : value.Name, value.Text,
                          "File does not exist");
    }
    if (depth >= kMaxDepth)
        return;
    for (const std::string& name : subKeys) {
        if (engine.IsStopped())
            return;
        scanKey(engine, reg.CurrentKey(), name, path + "\\" + name, depth + 1);
    }
}

} // namespace

void ScanClassKey(TFixRegistry& engine, const std::string& path) {
    scanKey(engine, HKEY_CLASSES_ROOT, "\\" + path, path, 1);
}

void ScanClasses(TFixRegistry& engine) {
    std::vector<std::string> names;
    {
        TRegistry reg(KEY_READ);
        reg.SetRootKey(HKEY_CLASSES_ROOT);
        if (reg.OpenKey("\\", false))
            reg.GetKeyNames(names);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.IsStopped())
            return;
        ScanClassKey(engine, names[i]);
    }
}
