#pragma once
// The access token of the program's process on the booted machine: the current user,
// the groups, and the privileges, with the advapi32 functions that read and adjust it.
//
// The token is made at boot. The user is the owner of the mounted user hive. The user
// is a member of Administrators (S-1-5-32-544) unless hivewarden-machine.ini says
//
//     [Machine]
//     Administrator = no
//
// or this process cannot write the machine's system hive files. An administrator holds
// the privileges Windows XP gives one, a standard user SeChangeNotifyPrivilege,
// SeShutdownPrivilege and SeUndockPrivilege. As on Windows, only SeChangeNotifyPrivilege,
// SeImpersonatePrivilege and SeCreateGlobalPrivilege start enabled: every other one held
// (SeBackupPrivilege, SeRestorePrivilege, SeShutdownPrivilege, ...) is usable only once
// AdjustTokenPrivileges enables it. The ini changes any of them:
//
//     [Privileges]
//     SeShutdownPrivilege = disabled
//     SeBackupPrivilege = denied
//
// "disabled": held, usable once AdjustTokenPrivileges enables it; "denied": not held,
// AdjustTokenPrivileges cannot enable it; "enabled": held and enabled.

#include "win32/base/SecurityTypes.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
// TokenUser, TokenGroups, TokenPrivileges and TokenOwner. A buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER and *ReturnLength set to the size needed.
BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         LPDWORD ReturnLength);
// Succeeds also when some privileges are not held; GetLastError then gives
// ERROR_NOT_ALL_ASSIGNED (else ERROR_SUCCESS). PreviousState receives the privileges
// whose state the call changed, with their attributes before it.
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, LPDWORD ReturnLength);
// Privilege names ignoring case; only the local system (null or empty name).
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
BOOL LookupPrivilegeNameA(LPCSTR lpSystemName, PLUID lpLuid, LPSTR lpName, LPDWORD cchName);

namespace win32 {

class MachineRegistry;

class ProcessToken {
public:
    struct Group {
        std::string sid;
        DWORD attributes;
    };
    struct Privilege {
        uint32_t luid;
        DWORD attributes;
    };

    std::string userSid;
    std::vector<Group> groups;

    // The user's SID and the enabled groups' SIDs: what an access check matches.
    std::vector<std::string> sids() const;
    bool isMember(const std::string& sid) const;

    bool privilegeEnabled(uint32_t luid) const;
    std::vector<Privilege> privileges() const;

    enum class Adjusted { AllAssigned, NotAllAssigned, NoRoom };
    // AdjustTokenPrivileges on the state: `changed` receives the previous state of the
    // privileges that change. When more would change than `room` entries, nothing
    // changes (NoRoom). Checked and applied under one hold of the lock, so that no other
    // thread's change comes in between.
    Adjusted adjust(bool disableAll, const std::vector<Privilege>& requested,
                    std::vector<Privilege>& changed, size_t room = SIZE_MAX);

    mutable std::mutex lock;
    std::vector<Privilege> held;
    // False on a machine outside the NT family, which has no privileges to check.
    bool checksPrivileges = true;
};

// Made by the boot. Throws std::runtime_error naming the ini entry that is not valid.
std::shared_ptr<ProcessToken> MakeProcessToken(const MachineRegistry& registry);
// The token of the booted machine; null when none is booted.
std::shared_ptr<ProcessToken> CurrentToken();

// The LUID of a privilege name (ignoring case), nullopt for an unknown one.
std::optional<uint32_t> PrivilegeLuid(std::string_view name);

} // namespace win32
