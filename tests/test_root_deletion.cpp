// Deleting a root or a link: the predefined roots, the root of every mounted hive and
// the system's links refuse deletion by every path, and nothing changes.

#include "registry/TRegistry.h"
#include "support/MachineFixture.h"
#include "win32/registry/RegImport.h"
#include "win32/registry/Registry.h"

#include <functional>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Keys and values of a whole tree, counted through the registry functions.
size_t countTree(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD subkeys = 0, values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    size_t count = 1 + values;
    for (DWORD i = 0; i < subkeys; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == 0)
            count += countTree(key, name);
    }
    RegCloseKey(key);
    return count;
}

const char* kMachineText = "[HKEY_CURRENT_USER\\Software\\Vendor\\App]\n\"v\"=\"1\"\n"
                           "[HKEY_CURRENT_USER\\Software\\Classes\\.user]\n@=\"u\"\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\n@=\"txtfile\"\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Svc]\n"
                           "\"ImagePath\"=\"svc.exe\"\n"
                           "[HKEY_CURRENT_CONFIG\\Software\\Fonts]\n\"LogPixels\"=dword:00000060\n";

struct Snapshot {
    size_t user, userClasses, classes, system, software, config;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot() {
    return {countTree(HKEY_CURRENT_USER, ""),
            countTree(HKEY_CURRENT_USER, "Software\\Classes"),
            countTree(HKEY_CLASSES_ROOT, ""),
            countTree(HKEY_LOCAL_MACHINE, "SYSTEM"),
            countTree(HKEY_LOCAL_MACHINE, "SOFTWARE"),
            countTree(HKEY_CURRENT_CONFIG, "")};
}

LONG deleteTreeOfOpenKey(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (const LONG rc = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key); rc != ERROR_SUCCESS)
        return rc;
    const LONG rc = RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    return rc;
}

} // namespace

TEST(RootDeletion, EveryRootHiveRootAndSystemLinkRefusesAndNothingChanges) {
    TestMachine machine(kMachineText);
    const std::string sid = machine.userSid();
    const Snapshot before = snapshot();
    ASSERT_GT(before.user, 3u);
    ASSERT_GT(before.config, 1u);

    const struct {
        const char* what;
        std::function<LONG()> call;
    } cases[] = {
        {"tree of HKCU", [] { return RegDeleteTreeA(HKEY_CURRENT_USER, nullptr); }},
        {"tree of HKCU, empty path", [] { return RegDeleteTreeA(HKEY_CURRENT_USER, ""); }},
        {"tree of HKCU, backslash", [] { return RegDeleteTreeA(HKEY_CURRENT_USER, "\\"); }},
        {"tree of HKCR", [] { return RegDeleteTreeA(HKEY_CLASSES_ROOT, nullptr); }},
        {"tree of HKLM", [] { return RegDeleteTreeA(HKEY_LOCAL_MACHINE, nullptr); }},
        {"tree of HKU", [] { return RegDeleteTreeA(HKEY_USERS, nullptr); }},
        {"tree of HKCC", [] { return RegDeleteTreeA(HKEY_CURRENT_CONFIG, nullptr); }},
        {"key HKCC", [] { return RegDeleteKeyA(HKEY_CURRENT_CONFIG, ""); }},
        {"hive root SOFTWARE", [] { return RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE"); }},
        {"hive root of the user", [&] { return RegDeleteTreeA(HKEY_USERS, sid.c_str()); }},
        {"user's classes hive",
         [&] { return RegDeleteTreeA(HKEY_USERS, (sid + "_Classes").c_str()); }},
        {"open handle of a hive root",
         [] { return deleteTreeOfOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE"); }},
        {"CurrentControlSet",
         [] { return RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"); }},
        {"CurrentControlSet, trailing backslash",
         [] { return RegDeleteTreeA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\"); }},
        {"CurrentControlSet, one key",
         [] { return RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet"); }},
        {"the current hardware profile",
         [] {
             return RegDeleteTreeA(HKEY_LOCAL_MACHINE,
                                   "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current");
         }},
        {"the user's classes link",
         [] { return RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes"); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), ERROR_ACCESS_DENIED) << c.what;
        EXPECT_EQ(snapshot(), before) << c.what;
    }
}

TEST(RootDeletion, KeysBelowALinkAndInsideAnOpenKeyStillDelete) {
    TestMachine machine(kMachineText);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Svc"),
              ERROR_SUCCESS);
    EXPECT_EQ(countTree(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\Svc"), 0u);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\.user"), ERROR_SUCCESS);
    EXPECT_EQ(deleteTreeOfOpenKey(HKEY_CURRENT_USER, "Software\\Vendor"), ERROR_SUCCESS);
    EXPECT_EQ(countTree(HKEY_CURRENT_USER, "Software\\Vendor"), 1u);
}

TEST(RootDeletion, ImportReportsEachRefusedLineAndChangesNothing) {
    TestMachine machine(kMachineText);
    const Snapshot before = snapshot();
    const std::string text = "REGEDIT4\n\n"
                             "[-HKEY_CURRENT_USER]\n"                             // line 3
                             "[-HKEY_CLASSES_ROOT]\n"                             // line 4
                             "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\n" // line 5
                             "[-HKEY_CURRENT_CONFIG]\n"                           // line 6
                             "[-HKEY_USERS\\" +
                             machine.userSid() +
                             "]\n"                     // line 7
                             "[-HKEY_LOCAL_MACHINE]\n" // line 8
                             "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Svc]\n";
    const win32::RegImportResult result =
        win32::RegImportData(win32::Bytes(text.begin(), text.end()));
    std::vector<int> lines;
    for (const auto& problem : result.problems)
        lines.push_back(problem.line);
    EXPECT_EQ(lines, (std::vector<int>{3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(result.applied, 1);
    // Only the service went (the count sees it twice: once through the link).
    Snapshot after = snapshot();
    EXPECT_EQ(after.system + 4, before.system);
    after.system = before.system;
    EXPECT_EQ(after, before);
}

TEST(RootDeletion, RegistryObjectCannotDeleteAHiveOrALink) {
    TestMachine machine(kMachineText);
    const Snapshot before = snapshot();
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(registry.DeleteKey("SYSTEM\\CurrentControlSet"));
    EXPECT_FALSE(registry.DeleteKey("\\SOFTWARE"));
    registry.SetRootKey(HKEY_USERS);
    EXPECT_FALSE(registry.DeleteKey(machine.userSid()));
    EXPECT_EQ(snapshot(), before);
}

TEST(RootDeletion, CommandLineRefusesTheLink) {
    TestMachine machine(kMachineText);
    machine.shutdown();
    const ProcessResult result =
        RunProcess(HW_CLI_PATH, {"--machine", machine.folder(), "reg", "delete",
                                 "HKLM\\SYSTEM\\CurrentControlSet"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("CurrentControlSet"), std::string::npos) << result.err;
    machine.boot();
    EXPECT_GT(countTree(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services"), 1u);
}
