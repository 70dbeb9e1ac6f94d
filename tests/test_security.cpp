// The process token, accounts and SIDs, key access lists, and the services built on
// them: administrator check, user name, privileges, SID translation, access grants.

#include "hive/HiveFile.h"
#include "registry/KeyAccess.h"
#include "registry/OSInfo.h"
#include "registry/Privileges.h"
#include "registry/SIDTranslator.h"
#include "support/MachineFixture.h"
#include "win32/base/Handles.h"
#include "win32/base/LastError.h"
#include "win32/base/LocalMemory.h"
#include "win32/base/SecurityDescriptor.h"
#include "win32/machine/SystemShutdown.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/security/Accounts.h"
#include "win32/security/KeySecurity.h"
#include "win32/security/Token.h"
#include "win32/system/Modules.h"

#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

bool keyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The key's DACL as (SID text, type, flags, mask) lines.
std::vector<std::string> daclOf(const char* objectName) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD rc = GetNamedSecurityInfoA(objectName, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                           nullptr, nullptr, &dacl, nullptr, &sd);
    if (rc != ERROR_SUCCESS)
        return {"error " + std::to_string(rc)};
    std::vector<std::string> out;
    const auto* bytes = reinterpret_cast<const uint8_t*>(dacl);
    const auto list = win32::ParseAccessList(bytes, size_t(dacl->AclSize));
    for (const auto& ace : list->aces) {
        char line[160];
        std::snprintf(line, sizeof line, "%s type %d flags %d mask 0x%08X",
                      win32::SidToText(ace.sid).c_str(), ace.type, ace.flags, ace.mask);
        out.emplace_back(line);
    }
    LocalFree(sd);
    return out;
}

TEST(Token, AdministratorsUnlessTheIniSaysOtherwise) {
    TestMachine machine;
    InitOSInfo();
    EXPECT_TRUE(IsAdmin());
    machine.rebootWithIni("[Machine]\nAdministrator=no\n");
    EXPECT_FALSE(IsAdmin());
    // Outside the NT family every user is one.
    machine.rebootWithIni(
        "[Machine]\nAdministrator=no\n[Version]\nPlatform=9x\nVersion=4.10.2222\n");
    InitOSInfo();
    EXPECT_TRUE(IsAdmin());
}

TEST(Token, GroupsFollowTheBufferRule) {
    TestMachine machine;
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(size, 0u);
    std::vector<uint64_t> buffer(size / 8 + 1);
    DWORD small = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), size - 1, &small));
    EXPECT_EQ(small, size);
    ASSERT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    std::vector<std::string> sids;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        LPSTR text = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(groups->Groups[i].Sid, &text));
        sids.emplace_back(text);
        LocalFree(text);
    }
    EXPECT_NE(std::find(sids.begin(), sids.end(), "S-1-5-32-544"), sids.end());
    EXPECT_NE(std::find(sids.begin(), sids.end(), "S-1-1-0"), sids.end());
    // A handle opened for querying cannot adjust.
    TOKEN_PRIVILEGES none{};
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &none, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), size, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Token, EnablePrivilegeReportsTheStateBeforeAndDenials) {
    TestMachine machine;
    machine.rebootWithIni("[Privileges]\nSeShutdownPrivilege=disabled\nSeBackupPrivilege=denied\n");
    InitOSInfo();
    bool was = true;
    EXPECT_EQ(EnablePrivilege("SeShutdownPrivilege", true, was), 0u);
    EXPECT_FALSE(was);
    EXPECT_TRUE(win32::PrivilegeEnabled("SeShutdownPrivilege"));
    // Already enabled: the previous state lists nothing, and it was enabled.
    was = false;
    EXPECT_EQ(EnablePrivilege("SeShutdownPrivilege", true, was), 0u);
    EXPECT_TRUE(was);
    EXPECT_EQ(EnablePrivilege("SeShutdownPrivilege", false, was), 0u);
    EXPECT_TRUE(was);
    EXPECT_FALSE(win32::PrivilegeEnabled("SeShutdownPrivilege"));

    was = true;
    EXPECT_EQ(EnablePrivilege("SeBackupPrivilege", true, was), DWORD(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_FALSE(win32::PrivilegeEnabled("SeBackupPrivilege"));
    EXPECT_EQ(EnablePrivilege("SeNoSuchPrivilege", true, was), DWORD(ERROR_NO_SUCH_PRIVILEGE));

    // A denied privilege is what RegSaveKey needs.
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), 0);
    EXPECT_EQ(RegSaveKeyA(software, "C:\\saved", nullptr), ERROR_PRIVILEGE_NOT_HELD);
    RegCloseKey(software);
}

// A privilege of the process token as GetTokenInformation reports it.
std::string privilegeState(const char* name) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "no token";
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<uint64_t> buffer(size / 8 + 1);
    const bool read = GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size);
    CloseHandle(token);
    LUID luid{};
    if (!read || !LookupPrivilegeValueA(nullptr, name, &luid))
        return "unreadable";
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
        if (privileges->Privileges[i].Luid.LowPart == luid.LowPart)
            return privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED ? "enabled"
                                                                               : "disabled";
    return "not held";
}

TEST(Token, PrivilegesStartAsWindowsStartsThem) {
    TestMachine machine;
    const struct {
        const char* ini;
        const char* privilege;
        const char* state;
    } cases[] = {
        {"", "SeBackupPrivilege", "disabled"},
        {"", "SeRestorePrivilege", "disabled"},
        {"", "SeShutdownPrivilege", "disabled"},
        {"", "SeDebugPrivilege", "disabled"},
        {"", "SeChangeNotifyPrivilege", "enabled"},
        {"[Machine]\nAdministrator=no\n", "SeShutdownPrivilege", "disabled"},
        {"[Machine]\nAdministrator=no\n", "SeBackupPrivilege", "not held"},
        {"[Privileges]\nSeBackupPrivilege=enabled\n", "SeBackupPrivilege", "enabled"},
        {"[Privileges]\nSeRestorePrivilege=denied\n", "SeRestorePrivilege", "not held"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ini) + c.privilege);
        machine.rebootWithIni(c.ini);
        EXPECT_EQ(privilegeState(c.privilege), c.state);
    }
    // A program that does not enable SeShutdownPrivilege cannot restart the machine.
    machine.rebootWithIni("");
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_TRUE(win32::IsMachineBooted());
    // Outside the NT family there are no privileges to enable, and none is checked.
    machine.rebootWithIni("[Version]\nPlatform=9x\nVersion=4.10.2222\n");
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), 0);
    EXPECT_EQ(RegSaveKeyA(software, "C:\\saved", nullptr), ERROR_SUCCESS);
    RegCloseKey(software);
}

TEST(Token, APreviousStateThatDoesNotFitChangesNothing) {
    TestMachine machine;
    machine.rebootWithIni("[Privileges]\nSeRestorePrivilege=disabled\n");
    HANDLE token = nullptr;
    ASSERT_TRUE(
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "serestoreprivilege", &wanted.Privileges[0].Luid));
    EXPECT_EQ(wanted.Privileges[0].Luid.LowPart, 18u);
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous{};
    DWORD needed = 0;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &wanted, 4, &previous, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, DWORD(sizeof(TOKEN_PRIVILEGES)));
    EXPECT_FALSE(win32::PrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &wanted, needed, &previous, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(previous.PrivilegeCount, 1u);
    EXPECT_EQ(previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED, 0u);
    EXPECT_TRUE(win32::PrivilegeEnabled("SeRestorePrivilege"));
    CloseHandle(token);
}

// The room of the previous state is judged under the same hold of the token's lock as
// the change itself.
TEST(Token, AChangeThatOutgrowsItsRoomIsNotMade) {
    TestMachine machine;
    machine.rebootWithIni(
        "[Privileges]\nSeRestorePrivilege=disabled\nSeBackupPrivilege=disabled\n");
    const auto token = win32::CurrentToken();
    ASSERT_TRUE(token);
    using Privilege = win32::ProcessToken::Privilege;
    const std::vector<Privilege> both = {
        {*win32::PrivilegeLuid("SeRestorePrivilege"), SE_PRIVILEGE_ENABLED},
        {*win32::PrivilegeLuid("SeBackupPrivilege"), SE_PRIVILEGE_ENABLED}};
    std::vector<Privilege> changed;
    EXPECT_EQ(token->adjust(false, both, changed, 1), win32::ProcessToken::Adjusted::NoRoom);
    EXPECT_EQ(changed.size(), 2u);
    EXPECT_FALSE(win32::PrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_FALSE(win32::PrivilegeEnabled("SeBackupPrivilege"));
    EXPECT_EQ(token->adjust(false, both, changed, 2), win32::ProcessToken::Adjusted::AllAssigned);
    EXPECT_TRUE(win32::PrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_TRUE(win32::PrivilegeEnabled("SeBackupPrivilege"));
    // Nothing left to change fits any room.
    EXPECT_EQ(token->adjust(false, both, changed, 0), win32::ProcessToken::Adjusted::AllAssigned);
    EXPECT_TRUE(changed.empty());
}

TEST(Accounts, GetUserNameFollowsTheBufferRule) {
    win32::NewMachine options;
    options.user = "Margaret";
    TestMachine machine({}, {}, options);
    DWORD size = 0;
    EXPECT_FALSE(GetUserNameA(nullptr, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 9u); // with the zero
    char exact[9];
    size = 8;
    EXPECT_FALSE(GetUserNameA(exact, &size));
    EXPECT_EQ(size, 9u);
    EXPECT_TRUE(GetUserNameA(exact, &size));
    EXPECT_STREQ(exact, "Margaret");
    EXPECT_EQ(size, 9u);
    EXPECT_EQ(CurrentUserName(), "Margaret");
}

TEST(Accounts, LookupAccountSidNamesWellKnownAndProfileAccounts) {
    TestMachine machine(
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName]\n"
        "\"ComputerName\"=\"OLDBOX\"\n");
    const struct {
        std::string sid;
        const char* name;
        const char* domain;
        SID_NAME_USE use;
    } cases[] = {
        {"S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-5-19", "LOCAL SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-5-20", "NETWORK SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-5-32-544", "Administrators", "BUILTIN", SidTypeAlias},
        {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
        {machine.userSid(), "Administrator", "OLDBOX", SidTypeUser},
    };
    for (const auto& c : cases) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidA(c.sid.c_str(), &sid)) << c.sid;
        char name[64], domain[64];
        DWORD nameSize = sizeof name, domainSize = sizeof domain;
        SID_NAME_USE use = SidTypeUnknown;
        ASSERT_TRUE(LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
            << c.sid;
        EXPECT_STREQ(name, c.name);
        EXPECT_EQ(nameSize, std::strlen(c.name));
        EXPECT_STREQ(domain, c.domain);
        EXPECT_EQ(use, c.use);
        EXPECT_EQ(LocalFree(sid), nullptr);
    }
    PSID unknown = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-21-1-2-3-1000", &unknown));
    DWORD nameSize = 0, domainSize = 0;
    SID_NAME_USE use;
    EXPECT_FALSE(
        LookupAccountSidA(nullptr, unknown, nullptr, &nameSize, nullptr, &domainSize, &use));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NONE_MAPPED));
    EXPECT_EQ(LocalFree(unknown), nullptr);
    EXPECT_EQ(LocalFree(unknown), unknown); // freed already
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Accounts, ConvertStringSidRejectsWhatIsNoSid) {
    for (const char16_t* text :
         {u"", u"S-1", u"S-2-5-18", u"S-1-5-x", u"S-1-5-18-", u"X-1-5-18",
          u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", u"S-1-5-4294967296"}) {
        PSID sid = nullptr;
        EXPECT_FALSE(ConvertStringSidToSidW(text, &sid));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
        EXPECT_EQ(sid, nullptr);
    }
    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(u"BA", &sid));
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(sid, &text));
    EXPECT_STREQ(text, "S-1-5-32-544");
    LocalFree(text);
    LocalFree(sid);
}

TEST(Modules, AdvapiExportsTheSidFunctions) {
    const HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    ASSERT_NE(advapi, nullptr);
    EXPECT_EQ(GetProcAddress(advapi, "ConvertStringSidToSidW"),
              reinterpret_cast<FARPROC>(&ConvertStringSidToSidW));
    EXPECT_EQ(GetProcAddress(advapi, "convertstringsidtosidw"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(advapi));
    EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(SidTranslation, HiveOwnerNames) {
    TestMachine machine;
    const std::string user = machine.userSid();
    const std::pair<std::string, std::string> cases[] = {
        {"", "UNKNOWN"},
        {".DEFAULT", "DEFAULT"},
        {user, "Administrator"},
        {user + "_Classes", "Administrator"},
        {user + "_classes", "SYSTEM"}, // the suffix is matched exactly
        {"S-1-5-18", "SYSTEM"},
        {"S-1-5-19", "LOCAL SERVICE"},
        {"S-1-5-21-1-2-3-1000_Classes", "SYSTEM"},
        {"not a sid", "SYSTEM"},
    };
    for (const auto& [sid, owner] : cases)
        EXPECT_EQ(HiveOwnerName(sid), owner) << sid;
    std::string name;
    SID_NAME_USE use = SidTypeUnknown;
    EXPECT_TRUE(SidToAccountName("S-1-5-32-544", name, use));
    EXPECT_EQ(name, "Administrators");
    EXPECT_EQ(use, SidTypeAlias);
}

constexpr char kGuarded[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Inner]\n\"v\"=\"1\"\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Other]\n\"w\"=\"2\"\n";
constexpr char kGuardedIni[] = "[ProtectedKeys]\n"
                               "1=HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Inner\n"
                               "2=HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Other\n";

TEST(KeyAccess, AProtectedKeyDeletesOnlyAfterTheGrantWhichSurvivesAReboot) {
    TestMachine machine(kGuarded);
    machine.rebootWithIni(kGuardedIni);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Inner"), ERROR_ACCESS_DENIED);
    // The standard descriptor's grant to Administrators does not lift the protection.
    EXPECT_EQ(daclOf("MACHINE\\SOFTWARE\\Guarded\\Inner").size(), 4u);

    ASSERT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Inner"));
    const std::vector<std::string> granted = {machine.userSid() +
                                              " type 0 flags 3 mask 0x10000000"};
    EXPECT_EQ(daclOf("MACHINE\\SOFTWARE\\Guarded\\Inner"), granted);
    // Only that key: its sibling stays protected.
    EXPECT_EQ(daclOf("MACHINE\\SOFTWARE\\Guarded\\Other").size(), 4u);

    machine.shutdown(); // writes the hive
    machine.boot();
    EXPECT_EQ(daclOf("MACHINE\\SOFTWARE\\Guarded\\Inner"), granted);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Other"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Inner"), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Inner"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Other"));
}

TEST(KeyAccess, AProtectedValueDeletesAfterTheGrant) {
    TestMachine machine(kGuarded);
    machine.rebootWithIni(kGuardedIni);
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Other", 0, KEY_ALL_ACCESS, &key), 0);
    EXPECT_EQ(RegDeleteValueA(key, "w"), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Other"));
    EXPECT_EQ(RegDeleteValueA(key, "w"), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(KeyAccess, FailsWhereNoAccessListCanBeSet) {
    TestMachine machine;
    EXPECT_FALSE(GrantKeyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\NoSuchKey"));
    // HKEY_CURRENT_CONFIG has no security object name of its own.
    EXPECT_FALSE(GrantKeyAccess(HKEY_CURRENT_CONFIG, "Software"));
    // Keys above the hives belong to no hive file.
    EXPECT_FALSE(GrantKeyAccess(HKEY_LOCAL_MACHINE, ""));
    // A standard user may read the standard descriptor but not change it.
    machine.rebootWithIni("[Machine]\nAdministrator=no\n");
    EXPECT_EQ(daclOf("MACHINE\\SOFTWARE\\Microsoft").size(), 4u);
    EXPECT_FALSE(GrantKeyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"));
    // A read-only machine changes nothing.
    machine.shutdown();
    QFile::remove(QString::fromStdString(machine.hostPath(win32::kMachineIniFileName)));
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    machine.boot(readOnly);
    EXPECT_FALSE(GrantKeyAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"));
}

TEST(KeyAccess, SetEntriesInAclMergesInCanonicalOrder) {
    TestMachine machine;
    auto entry = [](ACCESS_MODE mode, DWORD mask, const char* name) {
        EXPLICIT_ACCESS_A e{};
        e.grfAccessPermissions = mask;
        e.grfAccessMode = mode;
        e.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        e.Trustee.ptstrName = const_cast<char*>(name);
        return e;
    };
    EXPLICIT_ACCESS_A first[] = {entry(GRANT_ACCESS, KEY_READ, "Users"),
                                 entry(GRANT_ACCESS, KEY_SET_VALUE, "BUILTIN\\Users"),
                                 entry(DENY_ACCESS, DELETE, "Everyone")};
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(3, first, nullptr, &acl), 0u);
    auto list = win32::ParseAccessList(reinterpret_cast<uint8_t*>(acl), acl->AclSize);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->aces.size(), 2u);
    EXPECT_EQ(list->aces[0].type, ACCESS_DENIED_ACE_TYPE);
    EXPECT_EQ(win32::SidToText(list->aces[1].sid), "S-1-5-32-545");
    EXPECT_EQ(list->aces[1].mask, KEY_READ | KEY_SET_VALUE);
    EXPLICIT_ACCESS_A revoke[] = {entry(REVOKE_ACCESS, 0, "Everyone")};
    PACL revoked = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, revoke, acl, &revoked), 0u);
    EXPECT_EQ(revoked->AceCount, 1);
    EXPLICIT_ACCESS_A nobody[] = {entry(GRANT_ACCESS, KEY_READ, "Nobody At All")};
    PACL none = nullptr;
    EXPECT_EQ(SetEntriesInAclA(1, nobody, nullptr, &none), DWORD(ERROR_NONE_MAPPED));
    LocalFree(acl);
    LocalFree(revoked);
}

TEST(SecurityDescriptor, DamagedDescriptorsAreRejected) {
    const auto good = *hive::DefaultKeySecurity();
    ASSERT_TRUE(win32::ParseSecurityDescriptor(good));
    // Every cut of a sound descriptor is refused, never read past its end.
    for (size_t size = 0; size < good.size(); ++size) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + long(size));
        EXPECT_FALSE(win32::ParseSecurityDescriptor(cut)) << size;
    }
    auto broken = good;
    broken[16] = 0xF0; // the DACL offset beyond the end
    EXPECT_FALSE(win32::ParseSecurityDescriptor(broken));
    broken = good;
    const uint32_t dacl = broken[16] | broken[17] << 8;
    broken[dacl + 2] = 0xFF; // an ACL larger than what holds it
    broken[dacl + 3] = 0xFF;
    EXPECT_FALSE(win32::ParseSecurityDescriptor(broken));
    broken = good;
    broken[dacl + 8 + 2] = 0; // an ACE of size 0
    broken[dacl + 8 + 3] = 0;
    EXPECT_FALSE(win32::ParseSecurityDescriptor(broken));
}

} // namespace
