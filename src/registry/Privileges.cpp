#include "registry/Privileges.h"

#include "registry/OSInfo.h"
#include "win32/base/Handles.h"
#include "win32/base/LastError.h"
#include "win32/security/Accounts.h"
#include "win32/security/Token.h"

#include <cstddef>
#include <cstring>
#include <vector>

bool IsAdmin() {
    if (!IsWinNT())
        return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    // TOKEN_GROUPS holds pointers: the buffer is kept aligned for them.
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1);
    const bool read = size && GetTokenInformation(token, TokenGroups, buffer.data(),
                                                  DWORD(buffer.size() * sizeof(uint64_t)), &size);
    CloseHandle(token);
    if (!read)
        return false;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
        return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    bool member = false;
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i)
        member = EqualSid(groups->Groups[i].Sid, administrators);
    FreeSid(administrators);
    return member;
}

std::string CurrentUserName() {
    char name[260];
    DWORD size = sizeof name;
    if (!GetUserNameA(name, &size))
        return {};
    return name;
}

DWORD EnablePrivilege(const std::string& name, bool enable, bool& wasEnabled) {
    if (!IsWinNT())
        return 0;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), MAXIMUM_ALLOWED, &token))
        return GetLastError();
    DWORD result = ERROR_SUCCESS;
    TOKEN_PRIVILEGES wanted{};
    TOKEN_PRIVILEGES previous{};
    DWORD previousSize = 0;
    if (!LookupPrivilegeValueA(nullptr, name.c_str(), &wanted.Privileges[0].Luid)) {
        result = GetLastError();
    } else {
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
        if (!AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous,
                                   &previousSize))
            result = GetLastError();
        else if (GetLastError() == ERROR_NOT_ALL_ASSIGNED)
            // The call succeeds for a privilege the token does not hold; it was not set.
            result = ERROR_NOT_ALL_ASSIGNED;
        else
            // The previous state lists the privilege only when its state changed.
            wasEnabled = previous.PrivilegeCount
                             ? (previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0
                             : enable;
    }
    CloseHandle(token);
    return result;
}
