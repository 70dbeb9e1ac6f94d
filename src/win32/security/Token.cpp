#include "win32/security/Token.h"

#include "win32/base/CodePage.h"
#include "win32/base/Handles.h"
#include "win32/base/LastError.h"
#include "win32/base/SecurityDescriptor.h"
#include "win32/registry/MachineRegistry.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace win32 {

namespace {

// The privileges and their LUIDs as Windows numbers them.
struct PrivilegeName {
    const char* name;
    uint32_t luid;
};
constexpr PrivilegeName kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},
    {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},
    {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},
    {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},
    {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},
    {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},
    {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14},
    {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},
    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},
    {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},
    {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},
    {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},
    {"SeUndockPrivilege", 25},
    {"SeSyncAgentPrivilege", 26},
    {"SeEnableDelegationPrivilege", 27},
    {"SeManageVolumePrivilege", 28},
    {"SeImpersonatePrivilege", 29},
    {"SeCreateGlobalPrivilege", 30},
};

// What Windows XP gives an administrator's token.
constexpr uint32_t kAdministratorPrivileges[] = {5,  8,  9,  10, 11, 12, 13, 14, 15, 17,
                                                 18, 19, 20, 22, 23, 24, 25, 28, 29, 30};
constexpr uint32_t kUserPrivileges[] = {19, 23, 25};
// The privileges Windows enables in a new token; every other one held starts disabled
// until the program enables it (SeChangeNotify, SeImpersonate, SeCreateGlobal).
constexpr uint32_t kEnabledByDefault[] = {23, 29, 30};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

std::optional<bool> parseYesNo(const std::string& text) {
    for (const char* yes : {"yes", "true", "1", "on"})
        if (equalsIgnoringCase(text, yes))
            return true;
    for (const char* no : {"no", "false", "0", "off"})
        if (equalsIgnoringCase(text, no))
            return false;
    return std::nullopt;
}

bool systemHivesWritable(const MachineRegistry& registry) {
    for (const auto& hive : registry.hives)
        if (hive->registryPath.rfind(u"\\REGISTRY\\MACHINE\\", 0) == 0 &&
            ::access(hive->hostPath.c_str(), W_OK) != 0)
            return false;
    return true;
}

class TokenObject : public KernelObject {
public:
    TokenObject(std::shared_ptr<ProcessToken> t, DWORD a) : token(std::move(t)), access(a) {}
    std::shared_ptr<ProcessToken> token;
    DWORD access;
};

std::shared_ptr<TokenObject> tokenOf(HANDLE handle, DWORD needed) {
    auto object = KernelObjectAs<TokenObject>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((object->access & needed) != needed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return object;
}

// Writes a binary SID into `out` at `at`; returns the pointer the caller hands out.
PSID placeSid(uint8_t* out, size_t at, const SidBytes& sid) {
    std::memcpy(out + at, sid.data(), sid.size());
    return out + at;
}

} // namespace

std::optional<uint32_t> PrivilegeLuid(std::string_view name) {
    for (const auto& p : kPrivileges)
        if (equalsIgnoringCase(name, p.name))
            return p.luid;
    return std::nullopt;
}

std::vector<std::string> ProcessToken::sids() const {
    std::vector<std::string> out{userSid};
    for (const Group& g : groups)
        if (g.attributes & SE_GROUP_ENABLED)
            out.push_back(g.sid);
    return out;
}

bool ProcessToken::isMember(const std::string& sid) const {
    const auto all = sids();
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& s) { return equalsIgnoringCase(s, sid); });
}

bool ProcessToken::privilegeEnabled(uint32_t luid) const {
    std::lock_guard guard(lock);
    for (const Privilege& p : held)
        if (p.luid == luid)
            return p.attributes & SE_PRIVILEGE_ENABLED;
    return false;
}

std::vector<ProcessToken::Privilege> ProcessToken::privileges() const {
    std::lock_guard guard(lock);
    return held;
}

ProcessToken::Adjusted ProcessToken::adjust(bool disableAll,
                                            const std::vector<Privilege>& requested,
                                            std::vector<Privilege>& changed, size_t room) {
    std::lock_guard guard(lock);
    changed.clear();
    bool allAssigned = true;
    std::vector<Privilege> next = held;
    auto record = [&](const Privilege& before) {
        const bool seen = std::any_of(changed.begin(), changed.end(),
                                      [&](const Privilege& c) { return c.luid == before.luid; });
        if (!seen)
            changed.push_back(before);
    };
    if (disableAll) {
        for (Privilege& p : next)
            if (p.attributes & SE_PRIVILEGE_ENABLED) {
                record(p);
                p.attributes &= ~SE_PRIVILEGE_ENABLED;
            }
    } else {
        for (const Privilege& want : requested) {
            auto it = std::find_if(next.begin(), next.end(),
                                   [&](const Privilege& p) { return p.luid == want.luid; });
            if (it == next.end()) {
                allAssigned = false;
                continue;
            }
            const auto original = std::find_if(
                held.begin(), held.end(), [&](const Privilege& p) { return p.luid == want.luid; });
            if (want.attributes & SE_PRIVILEGE_REMOVED) {
                record(*original);
                next.erase(it);
                continue;
            }
            const bool enable = want.attributes & SE_PRIVILEGE_ENABLED;
            if (bool(it->attributes & SE_PRIVILEGE_ENABLED) == enable)
                continue;
            record(*original);
            it->attributes = enable ? it->attributes | SE_PRIVILEGE_ENABLED
                                    : it->attributes & ~SE_PRIVILEGE_ENABLED;
        }
    }
    if (changed.size() > room)
        return Adjusted::NoRoom;
    held = std::move(next);
    return allAssigned ? Adjusted::AllAssigned : Adjusted::NotAllAssigned;
}

std::shared_ptr<ProcessToken> MakeProcessToken(const MachineRegistry& registry) {
    auto token = std::make_shared<ProcessToken>();
    token->userSid = Utf16ToUtf8(registry.userSid);
    bool administrator = systemHivesWritable(registry);
    if (const auto setting = registry.ini.value("Machine", "Administrator")) {
        const auto yes = parseYesNo(*setting);
        if (!yes)
            throw std::runtime_error(
                "hivewarden-machine.ini: [Machine] Administrator must be yes or no, not \"" +
                *setting + "\"");
        administrator = administrator && *yes;
    }
    constexpr DWORD kOn = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    token->groups.push_back({"S-1-1-0", kOn}); // Everyone
    if (administrator)
        token->groups.push_back({"S-1-5-32-544", kOn | SE_GROUP_OWNER});
    token->groups.push_back({"S-1-5-32-545", kOn}); // Users
    token->groups.push_back({"S-1-5-4", kOn});      // INTERACTIVE
    token->groups.push_back({"S-1-5-11", kOn});     // Authenticated Users
    token->groups.push_back({"S-1-2-0", kOn});      // LOCAL

    constexpr DWORD kEnabled = SE_PRIVILEGE_ENABLED_BY_DEFAULT | SE_PRIVILEGE_ENABLED;
    auto initial = [&](uint32_t luid) {
        const bool enabled = std::find(std::begin(kEnabledByDefault), std::end(kEnabledByDefault),
                                       luid) != std::end(kEnabledByDefault);
        return enabled ? kEnabled : DWORD(0);
    };
    if (administrator)
        for (const uint32_t luid : kAdministratorPrivileges)
            token->held.push_back({luid, initial(luid)});
    else
        for (const uint32_t luid : kUserPrivileges)
            token->held.push_back({luid, initial(luid)});
    for (const auto& [name, state] : registry.ini.entries("Privileges")) {
        const auto luid = PrivilegeLuid(name);
        if (!luid)
            throw std::runtime_error("hivewarden-machine.ini: [Privileges] " + name +
                                     " is not a privilege name");
        auto it = std::find_if(token->held.begin(), token->held.end(),
                               [&](const ProcessToken::Privilege& p) { return p.luid == *luid; });
        if (equalsIgnoringCase(state, "denied")) {
            if (it != token->held.end())
                token->held.erase(it);
            continue;
        }
        DWORD attributes = 0;
        if (equalsIgnoringCase(state, "enabled"))
            attributes = kEnabled;
        else if (!equalsIgnoringCase(state, "disabled"))
            throw std::runtime_error("hivewarden-machine.ini: [Privileges] " + name +
                                     " must be enabled, disabled or denied, not \"" + state + "\"");
        if (it != token->held.end())
            it->attributes = attributes;
        else
            token->held.push_back({*luid, attributes});
    }
    std::sort(token->held.begin(), token->held.end(),
              [](const auto& a, const auto& b) { return a.luid < b.luid; });
    return token;
}

std::shared_ptr<ProcessToken> CurrentToken() {
    const MachineRegistry* reg = MachineRegistry::current();
    return reg ? reg->token : nullptr;
}

bool PrivilegeEnabled(const char* name) {
    const auto token = CurrentToken();
    const auto luid = PrivilegeLuid(name ? name : "");
    if (!token || !luid)
        return !token; // no machine: nothing to check against
    if (!token->checksPrivileges)
        return true;
    return token->privilegeEnabled(*luid);
}

} // namespace win32

using namespace win32;

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (!TokenHandle) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (ProcessHandle != GetCurrentProcess()) {
        // Other processes of the machine never run: they have no token to open.
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto token = CurrentToken();
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The process's own token grants its owner every access.
    const DWORD granted = (DesiredAccess & MAXIMUM_ALLOWED) ? TOKEN_ALL_ACCESS : DesiredAccess;
    *TokenHandle = AddKernelHandle(std::make_shared<TokenObject>(std::move(token), granted));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         LPDWORD ReturnLength) {
    const auto object = tokenOf(TokenHandle, TOKEN_QUERY);
    if (!object)
        return FALSE;
    if (!ReturnLength) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const ProcessToken& token = *object->token;
    auto* out = static_cast<uint8_t*>(TokenInformation);
    auto fits = [&](size_t needed) {
        *ReturnLength = DWORD(needed);
        if (!out || TokenInformationLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        std::memset(out, 0, needed);
        return true;
    };
    switch (TokenInformationClass) {
    case TokenUser:
    case TokenOwner: {
        const auto user = SidFromText(token.userSid);
        if (!user) { // a profile key whose name is no SID
            SetLastError(ERROR_INVALID_SID);
            return FALSE;
        }
        const SidBytes sid = TokenInformationClass == TokenOwner && token.isMember("S-1-5-32-544")
                                 ? MakeSid(5, {32, 544})
                                 : *user;
        const size_t head = TokenInformationClass == TokenUser ? sizeof(TOKEN_USER) : sizeof(PSID);
        if (!fits(head + sid.size()))
            return FALSE;
        const PSID placed = placeSid(out, head, sid);
        std::memcpy(out, &placed, sizeof placed); // User.Sid or Owner, first in both
        return TRUE;
    }
    case TokenGroups: {
        const size_t head = offsetof(TOKEN_GROUPS, Groups) +
                            sizeof(SID_AND_ATTRIBUTES) * std::max<size_t>(token.groups.size(), 1);
        size_t needed = head;
        std::vector<SidBytes> sids;
        for (const auto& g : token.groups) {
            sids.push_back(*SidFromText(g.sid)); // the token's own well-known groups
            needed += sids.back().size();
        }
        if (!fits(needed))
            return FALSE;
        const DWORD count = DWORD(token.groups.size());
        std::memcpy(out, &count, sizeof count);
        size_t at = head;
        for (size_t i = 0; i < sids.size(); ++i) {
            SID_AND_ATTRIBUTES entry{placeSid(out, at, sids[i]), token.groups[i].attributes};
            std::memcpy(out + offsetof(TOKEN_GROUPS, Groups) + i * sizeof entry, &entry,
                        sizeof entry);
            at += sids[i].size();
        }
        return TRUE;
    }
    case TokenPrivileges: {
        const auto privileges = token.privileges();
        const size_t needed = offsetof(TOKEN_PRIVILEGES, Privileges) +
                              sizeof(LUID_AND_ATTRIBUTES) * std::max<size_t>(privileges.size(), 1);
        if (!fits(needed))
            return FALSE;
        const DWORD count = DWORD(privileges.size());
        std::memcpy(out, &count, sizeof count);
        for (size_t i = 0; i < privileges.size(); ++i) {
            LUID_AND_ATTRIBUTES entry{{privileges[i].luid, 0}, privileges[i].attributes};
            std::memcpy(out + offsetof(TOKEN_PRIVILEGES, Privileges) + i * sizeof entry, &entry,
                        sizeof entry);
        }
        return TRUE;
    }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState, LPDWORD ReturnLength) {
    const auto object =
        tokenOf(TokenHandle, TOKEN_ADJUST_PRIVILEGES | (PreviousState ? TOKEN_QUERY : 0));
    if (!object)
        return FALSE;
    if ((!DisableAllPrivileges && !NewState) || (PreviousState && !ReturnLength)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<ProcessToken::Privilege> requested;
    if (!DisableAllPrivileges) {
        DWORD count = 0;
        std::memcpy(&count, NewState, sizeof count);
        for (DWORD i = 0; i < count; ++i) {
            LUID_AND_ATTRIBUTES entry;
            std::memcpy(&entry,
                        reinterpret_cast<const uint8_t*>(NewState) +
                            offsetof(TOKEN_PRIVILEGES, Privileges) + i * sizeof entry,
                        sizeof entry);
            requested.push_back(
                {entry.Luid.HighPart == 0 ? entry.Luid.LowPart : 0u, entry.Attributes});
        }
    }
    ProcessToken& token = *object->token;
    constexpr size_t head = offsetof(TOKEN_PRIVILEGES, Privileges);
    // Nothing changes when the previous state does not fit: the token decides under its
    // lock, with the room the buffer has.
    size_t room = SIZE_MAX;
    if (PreviousState)
        room = BufferLength < head ? 0 : (BufferLength - head) / sizeof(LUID_AND_ATTRIBUTES);
    std::vector<ProcessToken::Privilege> changed;
    const ProcessToken::Adjusted outcome =
        token.adjust(DisableAllPrivileges, requested, changed, room);
    if (PreviousState) {
        const DWORD needed = DWORD(head + sizeof(LUID_AND_ATTRIBUTES) * changed.size());
        *ReturnLength = needed;
        if (outcome == ProcessToken::Adjusted::NoRoom || BufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        auto* out = reinterpret_cast<uint8_t*>(PreviousState);
        const DWORD count = DWORD(changed.size());
        std::memcpy(out, &count, sizeof count);
        for (size_t i = 0; i < changed.size(); ++i) {
            LUID_AND_ATTRIBUTES entry{{changed[i].luid, 0}, changed[i].attributes};
            std::memcpy(out + head + i * sizeof entry, &entry, sizeof entry);
        }
    }
    SetLastError(outcome == ProcessToken::Adjusted::AllAssigned ? ERROR_SUCCESS
                                                                : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

namespace {

bool localSystem(LPCSTR name) {
    return !name || !*name;
}

} // namespace

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (!localSystem(lpSystemName)) {
        SetLastError(ERROR_INVALID_PARAMETER); // no other machine is reachable offline
        return FALSE;
    }
    if (!lpName || !lpLuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto luid = PrivilegeLuid(lpName);
    if (!luid) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    lpLuid->LowPart = *luid;
    lpLuid->HighPart = 0;
    return TRUE;
}

BOOL LookupPrivilegeNameA(LPCSTR lpSystemName, PLUID lpLuid, LPSTR lpName, LPDWORD cchName) {
    if (!localSystem(lpSystemName) || !lpLuid || !cchName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const auto& p : kPrivileges) {
        if (lpLuid->HighPart != 0 || p.luid != lpLuid->LowPart)
            continue;
        const DWORD length = DWORD(std::strlen(p.name));
        if (!lpName || *cchName <= length) {
            *cchName = length + 1;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(lpName, p.name, length + 1);
        *cchName = length;
        return TRUE;
    }
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
}
