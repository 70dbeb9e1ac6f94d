// The machine's Windows version: GetVersionExA over the hives and the machine's ini, and
// the product codes, names and service-pack texts the program derives from it.

#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "win32/base/LastError.h"
#include "win32/registry/Registry.h"
#include "win32/system/Version.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct VersionCase {
    const char* what;
    const char* version;     // NewMachine version
    const char* servicePack; // NewMachine CSDVersion
    const char* ini;         // hivewarden-machine.ini, may be empty
    const char* reg;         // extra registry content, may be empty
    int product;
    const char* name;
    const char* pack;
};

// Names each case by what it shows, so that test names stay readable and stable.
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.what;
}

const VersionCase kVersions[] = {
    {"XP SP2", "5.1.2600", "Service Pack 2", "", "", 3, "Windows XP", "Service Pack 2"},
    {"2000", "5.0.2195", "Service Pack 4", "", "", 2, "Windows 2000", "Service Pack 4"},
    {"2003", "5.2.3790", "", "", "", 9, "Windows 2003", ""},
    {"Vista", "6.0.6000", "", "", "", 11, "Windows Vista", ""},
    {"Windows 7 by name, with no product code", "6.1.7601", "Service Pack 1", "", "", 0,
     "Windows 7", "Service Pack 1"},
    {"NT 4.0 SP6 without the hotfix", "4.0.1381", "Service Pack 6", "", "", 1, "Windows NT",
     "Service Pack 6"},
    {"NT 4.0 SP6a", "4.0.1381", "Service Pack 6", "",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009]\n", 1,
     "Windows NT", "Service Pack 6a"},
    {"SP6a needs the text Service Pack 6", "4.0.1381", "Service Pack 5", "",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009]\n", 1,
     "Windows NT", "Service Pack 5"},
    {"NT 3.51 has no name", "3.51.1057", "", "", "", 0, "", ""},
    {"95 OSR2 from a lower-case c", "5.1.2600", "",
     "[Version]\nPlatform=9x\nVersion=4.0.1111\nCSDVersion=c\n", "", 5, "Windows 95", "OSR2"},
    {"95 OSR2 as Windows 95 keeps it, after a blank", "5.1.2600", "",
     "[Version]\nPlatform=9x\nVersion=4.0.1212\n",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\n"
     "\"SubVersionNumber\"=\" B\"\n",
     5, "Windows 95", "OSR2"},
    {"95 with A is no OSR2", "5.1.2600", "",
     "[Version]\nPlatform=9x\nVersion=4.0.950\nCSDVersion=a\n", "", 5, "Windows 95", ""},
    {"98 SE", "5.1.2600", "", "[Version]\nPlatform=9x\nVersion=4.10.2222\nCSDVersion=A\n", "", 6,
     "Windows 98", "SE"},
    {"98 with C is no SE", "5.1.2600", "",
     "[Version]\nPlatform=9x\nVersion=4.10.1998\nCSDVersion=C\n", "", 6, "Windows 98", ""},
    {"Me", "5.1.2600", "", "[Version]\nPlatform=9x\nVersion=4.90.3000\n", "", 7, "Windows Me", ""},
    {"another 9x", "5.1.2600", "", "[Version]\nPlatform=9x\nVersion=4.3.1\nCSDVersion=B\n", "", 4,
     "", ""},
    {"Win32s", "5.1.2600", "", "[Version]\nPlatform=Win32s\nVersion=1.30.172\nCSDVersion=A\n", "",
     8, "", ""},
    {"the ini's version wins over the hives'", "5.1.2600", "Service Pack 2",
     "[Version]\nVersion=5.0.2195\nCSDVersion=Service Pack 3\n", "", 2, "Windows 2000",
     "Service Pack 3"},
};

class OSProductTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(OSProductTable, GivesCodeNameAndServicePack) {
    const VersionCase& c = GetParam();
    win32::NewMachine options;
    options.version = c.version;
    options.servicePack = c.servicePack;
    TestMachine machine(c.reg, {}, options);
    if (*c.ini)
        machine.rebootWithIni(c.ini);
    InitOSInfo();
    EXPECT_EQ(OSProduct(), c.product) << c.what;
    EXPECT_EQ(OSProductName(), c.name) << c.what;
    EXPECT_EQ(OSServicePack(), c.pack) << c.what;
    EXPECT_EQ(IsWinNT(), c.product < 4 || c.product == 9 || c.product == 11 || c.product == 0)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(Versions, OSProductTable, ::testing::ValuesIn(kVersions));

TEST(OSInfo, ProductNamesOutsideTheTableRaise) {
    for (const int code : {10, 12, -1, 100}) {
        try {
            OSProductName(code);
            ADD_FAILURE() << code;
        } catch (const ESysInfo& e) {
            EXPECT_STREQ(e.what(), "Unrecognised operating system product");
        }
    }
    EXPECT_EQ(OSProductName(11), "Windows Vista");
    EXPECT_EQ(OSProductName(0), "");
}

TEST(OSInfo, AnUnknownPlatformRaises) {
    TestMachine machine;
    machine.rebootWithIni("[Version]\nPlatform=3\n");
    try {
        ReadOSInfo();
        ADD_FAILURE() << "no error";
    } catch (const ESysInfo& e) {
        EXPECT_STREQ(e.what(), "Unrecognized operating system platform");
    }
}

TEST(OSInfo, IsReadOnceUntilReadAgain) {
    TestMachine machine;
    InitOSInfo();
    EXPECT_EQ(OSProduct(), 3);
    machine.rebootWithIni("[Version]\nVersion=5.2.3790\n");
    EXPECT_EQ(OSProduct(), 3); // the values read at start-up
    InitOSInfo();
    EXPECT_EQ(OSProduct(), 9);
}

TEST(GetVersionEx, TheStructureSizeDecides) {
    TestMachine machine;
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.dwMajorVersion, 5u);
    EXPECT_EQ(ex.dwMinorVersion, 1u);
    EXPECT_EQ(ex.dwBuildNumber, 2600u);
    EXPECT_EQ(ex.dwPlatformId, VER_PLATFORM_WIN32_NT);
    EXPECT_STREQ(ex.szCSDVersion, "Service Pack 2");
    EXPECT_EQ(ex.wServicePackMajor, 2);
    EXPECT_EQ(ex.wServicePackMinor, 0);
    EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);

    OSVERSIONINFOA plain{};
    plain.dwOSVersionInfoSize = sizeof plain;
    EXPECT_TRUE(GetVersionExA(&plain));
    for (const DWORD size : {0u, 100u, DWORD(sizeof plain + 1), DWORD(sizeof ex + 4)}) {
        OSVERSIONINFOEXA wrong{};
        wrong.dwOSVersionInfoSize = size;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&wrong))) << size;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER)) << size;
    }
}

TEST(GetVersionEx, NineXHasNoExtendedBlockAndPacksTheBuild) {
    TestMachine machine;
    machine.rebootWithIni("[Version]\nPlatform=9x\nVersion=4.10.2222\nCSDVersion=A\n");
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    OSVERSIONINFOA plain{};
    plain.dwOSVersionInfoSize = sizeof plain;
    ASSERT_TRUE(GetVersionExA(&plain));
    EXPECT_EQ(plain.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(plain.dwBuildNumber, 0x040A08AEu); // 4.10 in the high word, 2222 in the low
    InitOSInfo();
    EXPECT_FALSE(OSInfo().Extended);
    EXPECT_EQ(OSInfo().BuildNumber, 2222u);
}

TEST(GetVersionEx, ReadsServicePackProductTypeAndSuitesFromTheSystemHive) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Windows]\n"
                        "\"CSDVersion\"=dword:00000301\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions]\n"
                        "\"ProductType\"=\"ServerNT\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0, KEY_SET_VALUE,
                            &key),
              ERROR_SUCCESS);
    const char suites[] = "Enterprise\0Terminal Server\0";
    ASSERT_EQ(RegSetValueExA(key, "ProductSuite", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(suites), sizeof suites),
              ERROR_SUCCESS);
    RegCloseKey(key);
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
    EXPECT_EQ(ex.wServicePackMajor, 3);
    EXPECT_EQ(ex.wServicePackMinor, 1);
    EXPECT_EQ(ex.wProductType, VER_NT_SERVER);
    EXPECT_EQ(ex.wSuiteMask, VER_SUITE_ENTERPRISE | VER_SUITE_TERMINAL);
}

TEST(GetVersionEx, BadVersionSettingsStopTheBoot) {
    TestMachine machine;
    machine.shutdown();
    for (const char* ini :
         {"[Version]\nVersion=five\n", "[Version]\nPlatform=OS/2\n",
          "[Version]\nProductType=Mainframe\n", "[Version]\nSuiteMask=0x10000\n"}) {
        machine.writeIni(ini);
        try {
            machine.boot();
            ADD_FAILURE() << ini;
            machine.shutdown();
        } catch (const win32::BootError& e) {
            EXPECT_NE(std::string(e.what()).find("[Version]"), std::string::npos) << e.what();
        }
    }
}

} // namespace

namespace {

struct DisplayNameCase {
    const char* what;
    const char* version;
    const char* ini; // hivewarden-machine.ini, may be empty
    const char* name;
};

void PrintTo(const DisplayNameCase& c, std::ostream* os) {
    *os << c.what;
}

const DisplayNameCase kDisplayNames[] = {
    {"XP", "5.1.2600", "", "Windows XP"},
    {"Vista", "6.0.6002", "", "Windows Vista"},
    {"7", "6.1.7601", "", "Windows 7"},
    {"Server 2008 R2", "6.1.7601", "[Version]\nProductType=Server\n", "Windows Server 2008 R2"},
    {"8", "6.2.9200", "", "Windows 8"},
    {"8.1", "6.3.9600", "", "Windows 8.1"},
    {"10", "10.0.19045", "", "Windows 10"},
    {"11", "10.0.22631", "", "Windows 11"},
    {"Server 2016", "10.0.14393", "[Version]\nProductType=Server\n", "Windows Server 2016"},
    {"Server 2019 as a domain controller", "10.0.17763",
     "[Version]\nProductType=DomainController\n", "Windows Server 2019"},
    {"Server 2022", "10.0.20348", "[Version]\nProductType=Server\n", "Windows Server 2022"},
    {"NT 3.51", "3.51.1057", "", ""},
    {"an NT version Windows never had", "6.4.9841", "", ""},
    {"Win32s", "5.1.2600", "[Version]\nPlatform=Win32s\nVersion=1.30.172\n", ""},
    {"another 9x", "5.1.2600", "[Version]\nPlatform=9x\nVersion=4.3.1\n", ""},
};

class OSProductNames : public ::testing::TestWithParam<DisplayNameCase> {};

} // namespace

TEST_P(OSProductNames, NameTheVersionsTheProductCodesDoNot) {
    const DisplayNameCase& c = GetParam();
    win32::NewMachine options;
    options.version = c.version;
    options.servicePack = "";
    TestMachine machine({}, {}, options);
    if (*c.ini)
        machine.rebootWithIni(c.ini);
    InitOSInfo();
    EXPECT_EQ(OSProductName(), c.name);
}

INSTANTIATE_TEST_SUITE_P(Versions, OSProductNames, ::testing::ValuesIn(kDisplayNames));
