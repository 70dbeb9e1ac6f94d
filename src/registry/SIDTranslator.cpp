#include "registry/SIDTranslator.h"

#include "win32/base/LocalMemory.h"
#include "win32/security/Accounts.h"
#include "win32/system/Modules.h"

#include <vector>

bool SidToAccountName(const std::string& sidText, std::string& accountName, SID_NAME_USE& use) {
    using ConvertFunction = BOOL (*)(LPCWSTR, PSID*);
    const HMODULE advapi = LoadLibraryA("advapi32.dll");
    if (!advapi)
        return false;
    const auto convert =
        reinterpret_cast<ConvertFunction>(GetProcAddress(advapi, "ConvertStringSidToSidW"));
    if (!convert) {
        FreeLibrary(advapi);
        return false;
    }
    const std::u16string wide(sidText.begin(), sidText.end()); // a SID is ASCII
    PSID sid = nullptr;
    const BOOL converted = convert(wide.c_str(), &sid);
    FreeLibrary(advapi);
    bool found = false;
    if (converted) {
        DWORD nameSize = 0, domainSize = 0;
        LookupAccountSidA(nullptr, sid, nullptr, &nameSize, nullptr, &domainSize, &use);
        if (nameSize) {
            std::vector<char> name(nameSize);
            domainSize = 0; // the name alone
            if (LookupAccountSidA(nullptr, sid, name.data(), &nameSize, nullptr, &domainSize,
                                  &use)) {
                accountName = name.data();
                found = true;
            }
        }
    }
    LocalFree(sid);
    return found;
}

std::string HiveOwnerName(const std::string& sidText) {
    if (sidText.empty())
        return "UNKNOWN";
    if (sidText == ".DEFAULT")
        return "DEFAULT";
    std::string sid = sidText;
    constexpr std::string_view kClasses = "_Classes";
    if (sid.size() >= kClasses.size() &&
        sid.compare(sid.size() - kClasses.size(), kClasses.size(), kClasses) == 0)
        sid.resize(sid.size() - kClasses.size());
    std::string account;
    SID_NAME_USE use = SidTypeUnknown;
    if (!SidToAccountName(sid, account, use) || account.empty())
        return "SYSTEM";
    return account;
}
