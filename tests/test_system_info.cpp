// The machine's processor architecture: from its environment key and its files.

#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "support/Wow64Machine.h"
#include "win32/system/SystemInfo.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

struct ArchitectureCase {
    const char* what;
    const char* variable; // PROCESSOR_ARCHITECTURE, null for none
    bool sysWow64;        // a SysWOW64 folder beside system32
    WORD architecture;
    bool win64;
};

void PrintTo(const ArchitectureCase& c, std::ostream* os) {
    *os << c.what;
}

const ArchitectureCase kArchitectures[] = {
    {"x86", "x86", false, PROCESSOR_ARCHITECTURE_INTEL, false},
    {"no variable and no 32-bit folder", nullptr, false, PROCESSOR_ARCHITECTURE_INTEL, false},
    {"AMD64", "AMD64", true, PROCESSOR_ARCHITECTURE_AMD64, true},
    {"AMD64 in another letter case, without the folder", "amd64", false,
     PROCESSOR_ARCHITECTURE_AMD64, true},
    {"ARM64", "ARM64", true, PROCESSOR_ARCHITECTURE_ARM64, true},
    {"the folder alone", nullptr, true, PROCESSOR_ARCHITECTURE_AMD64, true},
    {"a variable that says x86 beside the folder", "x86", true, PROCESSOR_ARCHITECTURE_AMD64, true},
};

class Architectures : public ::testing::TestWithParam<ArchitectureCase> {};

TEST_P(Architectures, FromTheEnvironmentKeyOrTheSysWow64Folder) {
    const ArchitectureCase& c = GetParam();
    std::string reg;
    if (c.variable)
        reg = std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                          "Manager\\Environment]\n\"PROCESSOR_ARCHITECTURE\"=\"") +
              c.variable +
              "\"\n\"NUMBER_OF_PROCESSORS\"=\"4\"\n\"PROCESSOR_LEVEL\"=\"6\"\n"
              "\"PROCESSOR_REVISION\"=\"9e0a\"\n";
    std::vector<FixtureFile> files;
    if (c.sysWow64)
        files.push_back({"C:\\WINDOWS\\SysWOW64\\kernel32.dll", MzImage()});
    TestMachine machine(reg, files, {.version = "6.1.7601"});
    Reboot(machine);
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, c.architecture);
    EXPECT_EQ(win32::MachineIs64Bit(), c.win64);
    EXPECT_EQ(IsWin64(), c.win64);
    if (c.variable) {
        EXPECT_EQ(info.dwNumberOfProcessors, 4u);
        EXPECT_EQ(info.dwActiveProcessorMask, 15u);
        EXPECT_EQ(info.wProcessorLevel, 6);
        EXPECT_EQ(info.wProcessorRevision, 0x9e0a);
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, Architectures, ::testing::ValuesIn(kArchitectures));

TEST(Architecture, IsReadForEachBootedMachine) {
    {
        TestMachine wide("", {{"C:\\WINDOWS\\SysWOW64\\kernel32.dll", MzImage()}});
        EXPECT_TRUE(win32::MachineIs64Bit());
    }
    TestMachine narrow;
    EXPECT_FALSE(win32::MachineIs64Bit());
    narrow.shutdown();
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_UNKNOWN);
    EXPECT_FALSE(win32::MachineIs64Bit());
}

} // namespace
