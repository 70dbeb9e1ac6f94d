// The shared DLL scan over small machines.

#include "scan/ScanSharedDlls.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kSharedDlls =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

} // namespace

TEST(ScanSharedDlls, EveryCountedFileMustExist) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\WINDOWS\\system32\\shared.dll"=dword:00000001
"c:\\windows\\SYSTEM32\\SHARED.DLL"=dword:00000002
"C:\\PROGRA~1\\COMMON~1\\Vendor\\common.ocx"=dword:00000001
"%SystemRoot%\\system32\\shared.dll"=dword:00000001
"C:\\Program Files\\Common Files\\Vendor\\"=dword:00000001
"C:\\Gone\\gone.dll"=dword:00000003
"C:\\Gone\\many.dll"=dword:0000002a
"C:\\Gone\\wrapped.dll"=dword:ffffffff
)reg",
                        {{"C:\\WINDOWS\\system32\\shared.dll", MzImage()},
                         {"C:\\Program Files\\Common Files\\Vendor\\common.ocx", MzImage()}});
    const ScanOutcome outcome = ScanMachine({riSharedDlls});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // The count as decimal text of the signed 32-bit value.
    const std::vector<TInvalidRegData> expected = {
        {riSharedDlls, kSharedDlls, "C:\\Gone\\gone.dll", "3",
         "File \"C:\\Gone\\gone.dll\" does not exist"},
        {riSharedDlls, kSharedDlls, "C:\\Gone\\many.dll", "42",
         "File \"C:\\Gone\\many.dll\" does not exist"},
        {riSharedDlls, kSharedDlls, "C:\\Gone\\wrapped.dll", "-1",
         "File \"C:\\Gone\\wrapped.dll\" does not exist"},
    };
    EXPECT_EQ(outcome.records, expected);
    EXPECT_EQ(outcome.keys, (std::vector<std::string>{
                                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"}));
}

TEST(ScanSharedDlls, ACountThatIsNoIntegerEndsTheScan) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\Gone\\first.dll"=dword:00000001
"C:\\Gone\\text.dll"="1"
"C:\\Gone\\later.dll"=dword:00000001
)reg");
    ScanOutcome outcome = ScanMachine({riSharedDlls, riStartMenu});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "Invalid data type for 'C:\\Gone\\text.dll'");
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].ValueName, "C:\\Gone\\first.dll");
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riSharedDlls}));

    // An excluded key is not read at all.
    outcome = ScanMachine({riSharedDlls}, {kSharedDlls});
    EXPECT_EQ(outcome.error, "");
    EXPECT_TRUE(outcome.records.empty());
    EXPECT_TRUE(outcome.keys.empty());
}
