#include "registry/KeyBrowsing.h"

#include "registry/AnsiCharTable.h"
#include "registry/TRegistry.h"
#include "win32/registry/Registry.h"

#include <algorithm>

bool KeyHasSubKeys(HKEY root, const std::string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD subKeys = 0;
    const LONG rc = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && subKeys > 0;
}

std::vector<std::string> SortedSubKeyNames(HKEY root, const std::string& keyPath) {
    std::vector<std::string> names;
    TRegistry registry(KEY_READ);
    registry.SetRootKey(root);
    if (!registry.OpenKeyReadOnly("\\" + keyPath))
        return names;
    registry.GetKeyNames(names);
    registry.CloseKey();
    const auto table = CurrentAnsiCharTable();
    std::sort(names.begin(), names.end(), [&table](const std::string& a, const std::string& b) {
        return table->NameLess(a, b);
    });
    return names;
}
