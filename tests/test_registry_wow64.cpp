// The two registry views of a 64-bit installation: KEY_WOW64_32KEY and KEY_WOW64_64KEY.

#include "support/MachineFixture.h"
#include "support/Wow64Machine.h"
#include "win32/registry/Registry.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Each key holds "where": the path it is stored at.
const char kStoredKeys[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"where"="native run"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"where"="32-bit run"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"where"="shared fonts"
[HKEY_LOCAL_MACHINE\SOFTWARE\Clients\Mail]
"where"="shared clients"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{11111111-2222-3333-4444-555555555555}]
"where"="native class"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\CLSID\{11111111-2222-3333-4444-555555555555}]
"where"="32-bit class"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.txt]
"where"="native extension"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\.txt]
"where"="32-bit extension"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{11111111-0000-0000-0000-000000000000}]
"where"="native type library"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\TypeLib\{11111111-0000-0000-0000-000000000000}]
"where"="32-bit type library"
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"where"="system"
)reg";

const char k64Bit[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                      "Manager\\Environment]\n\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n";

// The "where" of the key `path` below `root` opened with `sam`; empty when it does not open.
std::string whereOf(HKEY root, const char* path, REGSAM sam) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | sam, &key) != ERROR_SUCCESS)
        return {};
    char data[64] = {};
    DWORD size = sizeof data - 1;
    RegQueryValueExA(key, "where", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return data;
}

struct ViewCase {
    const char* what;
    const char* version;
    HKEY root;
    const char* path;
    const char* native; // with no flag and with KEY_WOW64_64KEY
    const char* wow64;  // with KEY_WOW64_32KEY
};

void PrintTo(const ViewCase& c, std::ostream* os) {
    *os << c.what;
}

const ViewCase kViews[] = {
    {"a key below SOFTWARE is redirected", "6.1.7601", HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "native run", "32-bit run"},
    {"in any letter case", "10.0.19045", HKEY_LOCAL_MACHINE,
     "software\\MICROSOFT\\windows\\currentversion\\run", "native run", "32-bit run"},
    {"the fonts are shared", "6.1.7601", HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", "shared fonts", "shared fonts"},
    {"the clients are shared", "10.0.19045", HKEY_LOCAL_MACHINE, "SOFTWARE\\Clients\\Mail",
     "shared clients", "shared clients"},
    {"a named Wow6432Node is where it is", "6.1.7601", HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", "32-bit run", "32-bit run"},
    {"CLSID is redirected", "6.1.7601", HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Classes\\CLSID\\{11111111-2222-3333-4444-555555555555}", "native class",
     "32-bit class"},
    {"CLSID through the merged classes", "10.0.19045", HKEY_CLASSES_ROOT,
     "CLSID\\{11111111-2222-3333-4444-555555555555}", "native class", "32-bit class"},
    {"extensions are shared from Windows 7 on", "6.1.7601", HKEY_CLASSES_ROOT, ".txt",
     "native extension", "native extension"},
    {"type libraries are shared from Windows 7 on", "10.0.19045", HKEY_CLASSES_ROOT,
     "TypeLib\\{11111111-0000-0000-0000-000000000000}", "native type library",
     "native type library"},
    {"Vista redirects extensions", "6.0.6002", HKEY_CLASSES_ROOT, ".txt", "native extension",
     "32-bit extension"},
    {"Vista redirects type libraries", "6.0.6002", HKEY_LOCAL_MACHINE,
     "SOFTWARE\\Classes\\TypeLib\\{11111111-0000-0000-0000-000000000000}", "native type library",
     "32-bit type library"},
    {"SYSTEM is shared", "6.1.7601", HKEY_LOCAL_MACHINE,
     "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "system", "system"},
};

class RegistryViews : public ::testing::TestWithParam<ViewCase> {};

TEST_P(RegistryViews, EachViewOpensTheKeyWindowsStoresItAt) {
    const ViewCase& c = GetParam();
    TestMachine machine(std::string(kStoredKeys) + k64Bit, {}, {.version = c.version});
    Reboot(machine);
    EXPECT_EQ(whereOf(c.root, c.path, 0), c.native);
    EXPECT_EQ(whereOf(c.root, c.path, KEY_WOW64_64KEY), c.native);
    EXPECT_EQ(whereOf(c.root, c.path, KEY_WOW64_32KEY), c.wow64);
}

INSTANTIATE_TEST_SUITE_P(Keys, RegistryViews, ::testing::ValuesIn(kViews));

TEST(RegistryViews, AKeyOpenedInOneViewOpensItsSubkeysInTheViewAsked) {
    TestMachine machine(std::string(kStoredKeys) + k64Bit, {}, {.version = "10.0.19045"});
    Reboot(machine);
    HKEY software = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WOW64_32KEY, &software),
        ERROR_SUCCESS);
    const char* run = "Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_EQ(whereOf(software, run, KEY_WOW64_32KEY), "32-bit run");
    EXPECT_EQ(whereOf(software, run, KEY_WOW64_64KEY), "native run");
    // Without a flag the subkey is taken below the key as it is stored.
    EXPECT_EQ(whereOf(software, run, 0), "32-bit run");
    RegCloseKey(software);
}

TEST(RegistryViews, AKeyCreatedInThe32BitViewIsStoredBelowWow6432Node) {
    TestMachine machine(k64Bit, {}, {.version = "6.1.7601"});
    Reboot(machine);
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor32\\Product", 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Vendor32\\Product", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor32", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST(RegistryViews, A32BitInstallationHasOneView) {
    TestMachine machine(kStoredKeys, {}, {.version = "6.1.7601"});
    Reboot(machine);
    const char* run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_EQ(whereOf(HKEY_LOCAL_MACHINE, run, KEY_WOW64_32KEY), "native run");
    EXPECT_EQ(whereOf(HKEY_LOCAL_MACHINE, run, KEY_WOW64_64KEY), "native run");
}

TEST(RegistryViews, BothViewsAtOnceAreRefused) {
    TestMachine machine(k64Bit);
    Reboot(machine);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0,
                            KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, &key),
              ERROR_INVALID_PARAMETER);
}

} // namespace
