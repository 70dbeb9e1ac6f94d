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
    // Each value is read once, with the list: the test's reads of it answer from there.
    std::vector<TRegValue> values;
    reg.GetValues(values);
    for (size_t i = 0; i < values.size(); ++i) {
        engine.RaiseProgress(i, values.size());
        if (engine.IsStopped())
            break;
        reg.ReadFrom(&values[i]);
        test(reg, values[i].Name);
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
