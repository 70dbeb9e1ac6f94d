// The COM registration scan over small machines.

#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kInterface = "HKEY_CLASSES_ROOT\\Interface\\";
const std::string kTypeLib = "HKEY_CLASSES_ROOT\\TypeLib\\";

const char kComMachine[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{00000320-0000-0000-C000-000000000046}]
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{B8DA6310-E19B-11D0-933C-00A0C90DCAA9}]
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000001}\ProxyStubClsid32]
@="{b8da6310-e19b-11d0-933c-00a0c90dcaa9}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000002}\ProxyStubClsid]
@=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000003}]
@="INoProxy"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000004}\ProxyStubClsid]
@="{DEADBEEF-0000-0000-0000-000000000000}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000004}\ProxyStubClsid32]
@="{00000320-0000-0000-C000-000000000046}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000005}\ProxyStubClsid]
@="{DEADBEEF-0000-0000-0000-000000000001}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{11111111-0000-0000-0000-000000000005}\ProxyStubClsid32]
@="{DEADBEEF-0000-0000-0000-000000000002}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000001}\1.0\0\win32]
@="C:\\WINDOWS\\system32\\stdole2.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000002}\1.0\0\win32]
@="C:\\WINDOWS\\system32\\msvbvm60.dll\\3"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000003}\1.0\0\win32]
@="C:\\Program Files\\Gone\\gone.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000004}\1.0\0\win32]
@="C:\\Program Files\\Gone\\old.dll\\2"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000004}\2.0\0\win32]
@="%SystemRoot%\\system32\\stdole2.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000005}\1.0\0\win32]
@="C:\\WINDOWS\\system32\\stdole2.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000005}\2.0\0\win32]
@="C:\\Program Files\\Gone\\new.dll\\1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{22222222-0000-0000-0000-000000000006}\1.0\0\win64]
@="C:\\Program Files\\Gone\\x64.tlb"
)reg";

const std::vector<FixtureFile> kComFiles = {
    {"C:\\WINDOWS\\system32\\stdole2.tlb", "typelib"},
    {"C:\\WINDOWS\\system32\\msvbvm60.dll", MzImage()},
};

TEST(ScanComObjects, ProxyStubsAndTypeLibraries) {
    TestMachine machine(kComMachine, kComFiles);
    const ScanOutcome outcome = ScanMachine({riActiveX});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    const std::string i2 = kInterface + "{11111111-0000-0000-0000-000000000002}";
    const std::string i4 = kInterface + "{11111111-0000-0000-0000-000000000004}";
    const std::string i5 = kInterface + "{11111111-0000-0000-0000-000000000005}";
    const std::vector<TInvalidRegData> expected = {
        // A class named in another letter case is registered; an empty reference names
        // the interface.
        {riActiveX, i2 + "\\ProxyStubClsid", "ProxyStubClsid", "",
         "Missing CLSID \"{11111111-0000-0000-0000-000000000002}\" Empty Reference"},
        {riActiveX, i4 + "\\ProxyStubClsid", "ProxyStubClsid",
         "{DEADBEEF-0000-0000-0000-000000000000}",
         "Missing CLSID \"{DEADBEEF-0000-0000-0000-000000000000}\" Invalid Reference"},
        // One interface, two records.
        {riActiveX, i5 + "\\ProxyStubClsid", "ProxyStubClsid",
         "{DEADBEEF-0000-0000-0000-000000000001}",
         "Missing CLSID \"{DEADBEEF-0000-0000-0000-000000000001}\" Invalid Reference"},
        {riActiveX, i5 + "\\ProxyStubClsid32", "ProxyStubClsid32",
         "{DEADBEEF-0000-0000-0000-000000000002}",
         "Missing CLSID \"{DEADBEEF-0000-0000-0000-000000000002}\" Invalid Reference"},
        // A resource number after the file is no part of its path.
        {riActiveX, kTypeLib + "{22222222-0000-0000-0000-000000000003}\\1.0\\0\\win32", "win32",
         "C:\\Program Files\\Gone\\gone.tlb",
         "Missing or Invalid Path \"C:\\Program Files\\Gone\\gone.tlb\""},
        // Of two versions, the last "win32" key of the walk is judged.
        {riActiveX, kTypeLib + "{22222222-0000-0000-0000-000000000005}\\2.0\\0\\win32", "win32",
         "C:\\Program Files\\Gone\\new.dll\\1",
         "Missing or Invalid Path \"C:\\Program Files\\Gone\\new.dll\\1\""},
    };
    EXPECT_EQ(outcome.records, expected);
    // OnFound comes just before each record joins the list.
    ASSERT_EQ(outcome.found.size(), expected.size());
    for (size_t i = 0; i < outcome.found.size(); ++i)
        EXPECT_EQ(outcome.found[i], std::make_pair(i, riActiveX));
}

TEST(ScanComObjects, ExcludingTheInterfacesLeavesTheTypeLibrariesScanned) {
    TestMachine machine(kComMachine, kComFiles);
    const ScanOutcome outcome =
        ScanMachine({riActiveX}, {"HKEY_CLASSES_ROOT\\Interface(include subkey)"});
    ASSERT_TRUE(outcome.ended);
    ASSERT_EQ(outcome.records.size(), 2u);
    for (const TInvalidRegData& record : outcome.records)
        EXPECT_EQ(record.KeyLocation.rfind(kTypeLib, 0), 0u) << record.KeyLocation;
}

TEST(ScanComObjects, WithoutAClassKeyEveryReferenceIsInvalid) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{1}\ProxyStubClsid32]
@="{00000320-0000-0000-C000-000000000046}"
)reg");
    const ScanOutcome outcome = ScanMachine({riActiveX});
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].Diagnosis,
              "Missing CLSID \"{00000320-0000-0000-C000-000000000046}\" Invalid Reference");
}

TEST(ScanComObjects, AReferenceThatIsNoStringEndsTheScan) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{1}\ProxyStubClsid32]
@=dword:00000001
)reg");
    const ScanOutcome outcome = ScanMachine({riActiveX, riAppPaths});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "Invalid data type for ''");
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riActiveX}));
}

} // namespace
