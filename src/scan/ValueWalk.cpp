#include "scan/ValueWalk.h"

#include <vector>

void WalkKeyValues(TFixRegistry& engine, HKEY root, const std::string& keyPath,
                   const std::string& keyLocation, const TValueTest& test) {
    if (engine.IsExcluded(keyLocation))
        return;
    // Judging needs reading only; a machine mounted read-only is scanned all the same.
    TRegistry reg(KEY_READ);
    reg.SetRootKey(root);
    if (!reg.OpenKey(keyPath, false))
        return;
    engine.RaiseKeyChange(keyPath);
    std::vector<std::string> names;
    reg.GetValueNames(names);
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.IsStopped())
            break;
        test(reg, names[i]);
    }
    reg.CloseKey();
}

void ReportProblem(TFixRegistry& engine, TRepairItem category, const std::string& keyLocation,
                   const std::string& valueName, const std::string& valueData,
                   const std::string& diagnosis) {
    engine.AddInvalidData(category, keyLocation, diagnosis, valueData, valueName);
    engine.RaiseFound(category);
}

std::string FileMissingText(const std::string& path) {
    return "File \"" + path + "\" does not exist";
}
