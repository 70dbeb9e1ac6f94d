// The software scan over small machines.

#include "scan/ScanSoftware.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kSoftware[] = R"reg(
[HKEY_CURRENT_USER\Software\Leftover\Settings\Window]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer]
"ShellState"=hex:24,00
[HKEY_CURRENT_USER\Software\DeepValue\One\Two\Three]
"Last"="1"
[HKEY_CURRENT_USER\Software\policies]
[HKEY_CURRENT_USER\Software\SECURE]
[HKEY_CURRENT_USER\Software\Windows 3.1 Migration Status]
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Product]
"Version"="2.0"
[HKEY_LOCAL_MACHINE\SOFTWARE\Abandoned\Product\1.0]
[HKEY_LOCAL_MACHINE\SOFTWARE\Guarded\Open]
[HKEY_LOCAL_MACHINE\SOFTWARE\Guarded\Private]
"Key"="secret"
)reg";

TEST(ScanSoftware, AKeyWithoutAValueAnywhereInItsTreeIsUnused) {
    TestMachine machine(kSoftware);
    const ScanOutcome outcome = ScanMachine({riSoftware});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // A default value never set is no value; one value three levels down is; the
    // skipped names are never judged, in any letter case.
    std::vector<std::string> locations;
    for (const TInvalidRegData& record : outcome.records) {
        EXPECT_EQ(record.Diagnosis, "Unused Software Entries");
        EXPECT_EQ(record.ValueData, "");
        locations.push_back(record.KeyLocation + " / " + record.ValueName);
    }
    EXPECT_EQ(locations, (std::vector<std::string>{
                             "HKEY_CURRENT_USER\\Software\\Leftover / Leftover",
                             "HKEY_LOCAL_MACHINE\\Software\\Abandoned / Abandoned",
                         }));
}

TEST(ScanSoftware, ATreeWithAKeyTheUserMayNotReadIsNotJudgedEmpty) {
    TestMachine machine(kSoftware);
    machine.rebootWithIni("[UnreadableKeys]\n1=HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Private\n");
    const ScanOutcome outcome =
        ScanMachine({riSoftware}, {"HKEY_CURRENT_USER\\Software\\Leftover"});
    for (const TInvalidRegData& record : outcome.records)
        EXPECT_NE(record.ValueName, "Guarded");
    EXPECT_EQ(outcome.records.size(), 1u);
}

// The keys Windows 7 to 11 make below Software and may leave empty, and the 32-bit
// programs' vendor keys of a 64-bit Windows.
const char kModernSoftware[] = R"reg(
[HKEY_CURRENT_USER\Software\AppDataLow\Software\Microsoft]
[HKEY_CURRENT_USER\Software\RegisteredApplications]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer]
"ShellState"=hex:24,00
[HKEY_LOCAL_MACHINE\SOFTWARE\Clients\Mail]
[HKEY_LOCAL_MACHINE\SOFTWARE\RegisteredApplications]
[HKEY_LOCAL_MACHINE\SOFTWARE\Partner]
[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Clients\Media]
[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Policies]
[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Vendor32\Product]
"Version"="1.0"
[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Abandoned32\Product\1.0]
)reg";

TEST(ScanSoftware, TheKeysWindowsMakesAreNeverJudgedAndThe32BitVendorsAre) {
    TestMachine machine(kModernSoftware);
    const ScanOutcome outcome = ScanMachine({riSoftware});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    const std::vector<TInvalidRegData> expected = {
        {riSoftware, "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Abandoned32", "Abandoned32", "",
         "Unused Software Entries"},
    };
    EXPECT_EQ(outcome.records, expected);
}

TEST(ScanSoftware, SkipListIgnoresCase) {
    for (const char* name :
         {"Policies", "policies", "SECURE", "windows 3.1 migration status", "appdatalow",
          "WOW6432NODE", "Classes", "Clients", "RegisteredApplications"})
        EXPECT_TRUE(IsSkippedSoftware(name)) << name;
    for (const char* name : {"Policy", "Secure ", "Classes2"})
        EXPECT_FALSE(IsSkippedSoftware(name)) << name;
}

} // namespace
