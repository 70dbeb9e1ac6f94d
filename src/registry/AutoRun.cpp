#include "registry/AutoRun.h"

#include "win32/registry/Registry.h"

void SetAutoRun(const std::string& valueName, const std::string& command, bool enable) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (enable)
        RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(command.c_str()), DWORD(command.size() + 1));
    else if (RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS)
        RegDeleteValueA(key, valueName.c_str());
    RegCloseKey(key);
}
