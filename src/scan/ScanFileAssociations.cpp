#include "scan/ScanFileAssociations.h"

#include "registry/AsciiCase.h"
#include "registry/TRegistry.h"
#include "scan/ValueWalk.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// As the runtime's Trim: control characters and blanks at both ends.
std::string trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

bool ExtensionKeyHoldsMore(TRegistry& reg) {
    // One subkey is enough: the first name is read, not the whole list.
    std::string first;
    if (reg.GetKeyNameAt(0, first))
        return true;
    std::vector<std::string> names;
    reg.GetValueNames(names);
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& name) { return !name.empty(); });
}

void ScanFileAssociations(TFixRegistry& engine) {
    TFixRegistry::TNameSet classes, names;
    if (!TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "", classes, names))
        return;
    size_t v = 0;
    for (const std::string& listed : names) {
        ++v;
        if (engine.IsStopped())
            return;
        engine.RaiseProgress(v - 1, names.size());
        const std::string name = trimmed(listed);
        if (name.empty() || name.front() != '.')
            continue;
        const std::string location = "HKEY_CLASSES_ROOT\\" + name;
        if (engine.IsExcluded(location))
            continue;
        TRegistry reg(KEY_READ);
        reg.SetRootKey(HKEY_CLASSES_ROOT);
        if (!reg.OpenKey("\\" + name, false))
            continue;
        engine.RaiseKeyChange(location);
        const std::string value = reg.ReadString("");
        const bool holdsMore = ExtensionKeyHoldsMore(reg);
        reg.CloseKey();
        const std::string upper = AsciiUpper(value);
        if (upper.find("CLSID") != std::string::npos)
            continue;
        if (!value.empty() && classes.count(upper))
            continue;
        // An empty default is how Windows leaves an extension it knows only a content
        // type, a perceived type or its handlers for (OpenWithProgids): valid.
        if (value.empty() && holdsMore)
            continue;
        ReportProblem(engine, riFileAssociations, location, "Default", value,
                      "The associations Application is not valid");
    }
}
