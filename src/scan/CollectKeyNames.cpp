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
    for (std::string& name : list) {
        upperNames.insert(AsciiUpper(name));
        names.insert(std::move(name));
    }
    return true;
}
