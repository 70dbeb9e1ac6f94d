#include "scan/ScanClasses.h"

#include "registry/TRegistry.h"
#include "scan/FileRefChecks.h"
#include "scan/ValueWalk.h"

#include <vector>

namespace {

// Windows holds no deeper tree; a hive that does is not walked past it.
constexpr int kMaxDepth = 512;

void scanKey(TFixRegistry& engine, const std::string& path, int depth) {
    if (engine.IsExcluded("HKEY_CLASSES_ROOT\\" + path))
        return;
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    // A key that cannot be opened lists no values and no subkeys.
    reg.OpenKey(path, false);
    engine.RaiseKeyChange(path);
    std::vector<std::string> values, subKeys;
    reg.GetValueNames(values);
    reg.GetKeyNames(subKeys);
    for (const std::string& name : values) {
        if (engine.IsStopped())
            break;
        const TRegDataType type = reg.GetDataType(name);
        if (type != TRegDataType::rdString && type != TRegDataType::rdExpandString)
            continue;
        const std::string text = reg.ReadString(name);
        if (!PathListValid(text))
            ReportProblem(engine, riClasses, "HKEY_CLASSES_ROOT\\" + path,
                          name.empty() ? "Default" : name, text, "File does not exist");
    }
    reg.CloseKey();
    if (depth >= kMaxDepth)
        return;
    for (const std::string& name : subKeys) {
        if (engine.IsStopped())
            return;
        scanKey(engine, path + "\\" + name, depth + 1);
    }
}

} // namespace

void ScanClassKey(TFixRegistry& engine, const std::string& path) {
    scanKey(engine, path, 1);
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
