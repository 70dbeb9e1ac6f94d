// The name sets the scanners test membership against.

#include "scan/TFixRegistry.h"

#include "registry/AsciiCase.h"
#include "registry/TRegistry.h"

bool TFixRegistry::CollectKeyNames(HKEY root, const std::string& keyPath, TNameSet& upperNames,
                                   TNameSet& names) {
    TRegistry reg;
    reg.SetRootKey(root);
    // Listing names needs read access only.
    if (!reg.OpenKeyReadOnly(keyPath))
        return false;
    std::vector<std::string> list;
    reg.GetKeyNames(list);
    // The registry lists names in the order of their upper case, which for ASCII names
    // is the order of the upper-case set: each one goes at its end without a search
    // (the hint is only a hint; a name out of that order still finds its place).
    for (std::string& name : list) {
        upperNames.emplace_hint(upperNames.end(), AsciiUpper(name));
        names.insert(std::move(name));
    }
    return true;
}
