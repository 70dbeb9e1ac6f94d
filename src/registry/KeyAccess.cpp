#include "registry/KeyAccess.h"

#include "registry/RootKeys.h"
#include "win32/base/LocalMemory.h"
#include "win32/security/Accounts.h"
#include "win32/security/KeySecurity.h"
#include "win32/system/Nls.h"

#include <string>

bool GrantKeyAccess(HKEY root, const std::string& keyPath) {
    const std::string objectName = SecurityObjectName(root, keyPath);
    PACL present = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(objectName.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &present, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool granted = false;
    char user[33];
    DWORD userSize = sizeof user;
    PACL access = nullptr;
    if (GetUserNameA(user, &userSize)) {
        EXPLICIT_ACCESS_A entry{};
        entry.grfAccessPermissions = GENERIC_ALL;
        entry.grfAccessMode = SET_ACCESS;
        entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        entry.Trustee.TrusteeType = TRUSTEE_IS_USER;
        entry.Trustee.ptstrName = user;
        if (SetEntriesInAclA(1, &entry, nullptr, &access) == ERROR_SUCCESS) {
            const int length = MultiByteToWideChar(CP_ACP, 0, objectName.c_str(), -1, nullptr, 0);
            std::u16string wide(size_t(length > 0 ? length : 1), u'\0');
            if (length > 0 &&
                MultiByteToWideChar(CP_ACP, 0, objectName.c_str(), -1, wide.data(), length) > 0)
                granted =
                    SetNamedSecurityInfoW(wide.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, access, nullptr) == ERROR_SUCCESS;
        }
    }
    LocalFree(access);
    LocalFree(descriptor);
    return granted;
}
