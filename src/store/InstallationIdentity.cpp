#include "store/InstallationIdentity.h"

#include "registry/TRegistry.h"
#include "win32/machine/Machine.h"

#include <algorithm>
#include <vector>

namespace {

std::string readString(const char* key, const char* value) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(key))
        return {};
    try {
        return reg.GetDataType(value) == TRegDataType::rdString ? reg.ReadString(value)
                                                                : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

std::string installDate() {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"))
        return {};
    try {
        if (reg.GetDataType("InstallDate") == TRegDataType::rdInteger)
            return std::to_string(uint32_t(reg.ReadInteger("InstallDate")));
    } catch (const std::exception&) {
    }
    return {};
}

// "S-1-5-21-a-b-c" of the first profile of a local account.
std::string accountDomain() {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"))
        return {};
    std::vector<std::string> sids;
    reg.GetKeyNames(sids);
    for (const std::string& sid : sids) {
        if (!sid.starts_with("S-1-5-21-"))
            continue;
        const size_t rid = sid.rfind('-');
        if (std::count(sid.begin(), sid.end(), '-') == 7)
            return sid.substr(0, rid);
    }
    return {};
}

std::string folderNameOf(const std::string& text) {
    std::string name;
    for (const char c : text) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '{' || c == '}' ||
                          c == ' ' || c == '.';
        name.push_back(safe ? c : '_');
    }
    // A name of dots alone would be a folder of its own meaning.
    if (name.find_first_not_of(". ") == std::string::npos)
        name = "_" + name;
    return "Installation " + name;
}

} // namespace

std::string InstallationFolderName() {
    if (!win32::IsMachineBooted())
        return {};
    if (const std::string guid = readString("SOFTWARE\\Microsoft\\Cryptography", "MachineGuid");
        !guid.empty())
        return folderNameOf(guid);
    const std::string computer = readString(
        "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName");
    const std::string date = installDate();
    if (!computer.empty() || !date.empty())
        return folderNameOf(computer.empty() || date.empty() ? computer + date
                                                             : computer + " " + date);
    if (const std::string domain = accountDomain(); !domain.empty())
        return folderNameOf(domain);
    return "Installation unidentified";
}
