// The classes and file association scans over small machines.

#include "scan/ScanClasses.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kClasses[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.txt]
@="txtfile"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.TXT2]
@="TXTFILE"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.gone]
@="removedfile"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.old]
@="gonefile"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.empty]
@=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.com1]
@="CLSID\\{00000000-0000-0000-0000-000000000000}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.com2]
@="{x} clsid"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\nodot]
@="nothing"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\txtfile\shell\open\command]
@="C:\\WINDOWS\\system32\\NOTEPAD.EXE %1"
"size"=dword:00000010
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\txtfile\DefaultIcon]
@=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,73,79,73,74,65,6d,33,32,5c,73,68,\
  65,6c,6c,33,32,2e,64,6c,6c,2c,2d,31,35,32,00
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\gonefile\shell\open\command]
@="\"C:\\Program Files\\Gone App\\gone.exe\" \"%1\""
"Extra"="C:\\Vanished\\tool.exe /x"
"Fine"="C:\\WINDOWS\\"
)reg";

const std::vector<FixtureFile> kClassFiles = {{"C:\\WINDOWS\\system32\\notepad.exe", MzImage()}};

TEST(ScanClasses, EveryStringValueOfTheTreeMustNameAnExistingFolder) {
    TestMachine machine(kClasses, kClassFiles);
    const ScanOutcome outcome = ScanMachine({riClasses});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    const std::string command = "HKEY_CLASSES_ROOT\\gonefile\\shell\\open\\command";
    const std::vector<TInvalidRegData> expected = {
        {riClasses, command, "Default", "\"C:\\Program Files\\Gone App\\gone.exe\" \"%1\"",
         "File does not exist"},
        {riClasses, command, "Extra", "C:\\Vanished\\tool.exe /x", "File does not exist"},
    };
    EXPECT_EQ(outcome.records, expected);
    // Depth first, a key before its subkeys.
    const auto at = [&](const std::string& key) {
        return std::find(outcome.keys.begin(), outcome.keys.end(), key) - outcome.keys.begin();
    };
    EXPECT_LT(at("txtfile"), at("txtfile\\DefaultIcon"));
    EXPECT_LT(at("txtfile\\DefaultIcon"), at("txtfile\\shell"));
    EXPECT_LT(at("txtfile\\shell\\open\\command"), ptrdiff_t(outcome.keys.size()));
}

TEST(ScanClasses, AnExcludedKeySkipsItsWholeSubtree) {
    TestMachine machine(kClasses, kClassFiles);
    ScanOutcome outcome = ScanMachine({riClasses}, {"HKEY_CLASSES_ROOT\\gonefile(include subkey)"});
    EXPECT_TRUE(outcome.records.empty());
    EXPECT_EQ(std::count(outcome.keys.begin(), outcome.keys.end(), "gonefile\\shell"), 0);
    // The walk does not enter an excluded key, so a plain entry skips its subtree too;
    // an entry naming a key below it in another letter case as well.
    outcome = ScanMachine({riClasses}, {"hkey_classes_root\\GONEFILE\\shell"});
    EXPECT_TRUE(outcome.records.empty());
}

TEST(ScanClasses, StopsBeforeTheNextValueOrSubkey) {
    TestMachine machine(kClasses, kClassFiles);
    // Stopped at the first record: the key's second bad value is not judged.
    const ScanOutcome outcome = ScanMachine({riClasses}, {}, [](TFixRegistry& engine) {
        engine.OnFound = [](TFixRegistry* sender, TRepairItem) { sender->Stop(); };
    });
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.records.size(), 1u);
}

TEST(ScanFileAssociations, EachExtensionMustNameAClassKey) {
    TestMachine machine(kClasses, kClassFiles);
    const ScanOutcome outcome = ScanMachine({riFileAssociations});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // In ascending byte order of the names; .TXT2 names its class in another case, and a
    // value holding "CLSID" in any case is not judged.
    const std::vector<TInvalidRegData> expected = {
        {riFileAssociations, "HKEY_CLASSES_ROOT\\.empty", "Default", "",
         "The associations Application is not valid"},
        {riFileAssociations, "HKEY_CLASSES_ROOT\\.gone", "Default", "removedfile",
         "The associations Application is not valid"},
    };
    EXPECT_EQ(outcome.records, expected);
    EXPECT_EQ(outcome.percents.back(), 100);
}

// Extension keys as Windows 7 to 11 (and Wine) leave them: an empty default value beside a
// content type, a perceived type or the per-user handlers.
const char kModernExtensions[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.mp3]
@=""
"Content Type"="audio/mpeg"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.zip]
"PerceivedType"="compressed"
@=""
[HKEY_CURRENT_USER\Software\Classes\.jpg\OpenWithProgids]
"AppX43hnxtbyyps62jhe9sqpdzxn1790zetc"=hex(0):
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.new\ShellNew]
"NullFile"=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.bare]
@=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.typed]
@="removedclass"
"Content Type"="application/x-removed"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.alone]
@="removedclass"
)reg";

TEST(ScanFileAssociations, AnEmptyDefaultIsReportedOnlyInAKeyHoldingNothingElse) {
    TestMachine machine(kModernExtensions);
    const ScanOutcome outcome = ScanMachine({riFileAssociations});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // A default naming a missing class is stale whatever else the key holds.
    const std::vector<TInvalidRegData> expected = {
        {riFileAssociations, "HKEY_CLASSES_ROOT\\.alone", "Default", "removedclass",
         "The associations Application is not valid"},
        {riFileAssociations, "HKEY_CLASSES_ROOT\\.bare", "Default", "",
         "The associations Application is not valid"},
        {riFileAssociations, "HKEY_CLASSES_ROOT\\.typed", "Default", "removedclass",
         "The associations Application is not valid"},
    };
    EXPECT_EQ(outcome.records, expected);
}

} // namespace
