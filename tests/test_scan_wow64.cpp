// A 64-bit installation's leftovers in its 32-bit view: found where they are stored,
// repaired there, and brought back there by the undo file.

#include "scan/TFixRegistry.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "support/Wow64Machine.h"
#include "win32/registry/RegImport.h"
#include "win32/registry/Registry.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

using namespace testing_support;

namespace {

const char kLeftovers[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"gone32"="C:\\Program Files (x86)\\Gone32\\gone.exe"
"nativeonly"="C:\\WINDOWS\\system32\\native.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\WINDOWS\\system32\\gone32.dll"=dword:00000002
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Gone32]
"UninstallString"="C:\\Program Files (x86)\\Gone32\\uninst.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Paths\gone32.exe]
@="C:\\Program Files (x86)\\Gone32\\gone.exe"
"Path"="C:\\Program Files (x86)\\Gone32"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{D1D1D1D1-0000-0000-0000-000000000032}\1.0\0\win32]
@="C:\\WINDOWS\\system32\\gone32.ocx"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\TypeLib\{E1E1E1E1-0000-0000-0000-000000000032}\1.0\0\win32]
@="C:\\WINDOWS\\gone32\\gone.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Abandoned32\Product\1.0]
)reg";

const std::string kRun32 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kCurrent32 =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
const std::string kTypeLib32 = "HKEY_CLASSES_ROOT\\Wow6432Node\\TypeLib\\{E1E1E1E1-0000-0000-0000-"
                               "000000000032}\\1.0\\0\\win32";

using Found = std::tuple<TRepairItem, std::string, std::string>;

std::set<Found> found(const std::vector<TInvalidRegData>& records) {
    std::set<Found> out;
    for (const TInvalidRegData& r : records)
        out.insert({r.Category, r.KeyLocation, r.ValueName});
    return out;
}

bool opens(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class ImmediateUi : public UiDispatcher {
public:
    void Post(std::function<void()> task) override { task(); }
    bool IsShuttingDown() const override { return false; }
};

TEST(ScanWow64, LeftoversOfThe32BitViewAreFoundWhereTheyAreStored) {
    TestMachine machine(std::string(kWow64Registry) + kLeftovers, Wow64Files(), kWindows10);
    Reboot(machine);
    const ScanOutcome outcome = ScanMachine(TRepairItems::All());
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    const std::set<Found> expected = {
        {riAutoRun, kRun32, "gone32"},
        // What only a 64-bit program finds is no start for a 32-bit one.
        {riAutoRun, kRun32, "nativeonly"},
        {riSharedDlls, kCurrent32 + "\\SharedDlls", "C:\\WINDOWS\\system32\\gone32.dll"},
        {riUninstallers, kCurrent32 + "\\Uninstall\\Gone32", "UninstallString"},
        {riAppPaths, kCurrent32 + "\\App Paths\\gone32.exe", "Path"},
        {riActiveX,
         "HKEY_CLASSES_ROOT\\TypeLib\\{D1D1D1D1-0000-0000-0000-000000000032}\\1.0\\0\\win32",
         "win32"},
        {riActiveX, kTypeLib32, "win32"},
        {riClasses, kTypeLib32, "Default"},
        {riSoftware, "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Abandoned32", "Abandoned32"},
    };
    EXPECT_EQ(found(outcome.records), expected);
    EXPECT_EQ(outcome.records.size(), expected.size());
}

TEST(ScanWow64, RepairsActOnTheStoredKeysAndTheUndoFileBringsThemBack) {
    TestMachine machine(std::string(kWow64Registry) + kLeftovers, Wow64Files(), kWindows10);
    Reboot(machine);
    const ScanOutcome outcome = ScanMachine(TRepairItems::All());
    ASSERT_TRUE(outcome.ended);
    ImmediateUi ui;
    TFixRegistry engine{ui};
    for (const TInvalidRegData& r : outcome.records)
        engine.AddInvalidData(r.Category, r.KeyLocation, r.Diagnosis, r.ValueData, r.ValueName);
    QTemporaryDir dir;
    const std::string undo = dir.path().toStdString() + "/undo.reg";
    for (const TInvalidRegData& r : outcome.records)
        EXPECT_TRUE(engine.FixItem(r.Category, undo, r.KeyLocation, r.ValueName))
            << r.KeyLocation << " / " << r.ValueName;

    const std::string current32 = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
    // Only the application's key goes, not the 32-bit App Paths key above it; only the
    // stale type library, not the 32-bit TypeLib key.
    EXPECT_FALSE(opens(HKEY_LOCAL_MACHINE, current32 + "\\App Paths\\gone32.exe"));
    EXPECT_TRUE(opens(HKEY_LOCAL_MACHINE, current32 + "\\App Paths\\tool.exe"));
    EXPECT_FALSE(
        opens(HKEY_CLASSES_ROOT, "Wow6432Node\\TypeLib\\{E1E1E1E1-0000-0000-0000-000000000032}"));
    EXPECT_TRUE(
        opens(HKEY_CLASSES_ROOT, "Wow6432Node\\TypeLib\\{C1C1C1C1-0000-0000-0000-000000000032}"));
    EXPECT_FALSE(opens(HKEY_LOCAL_MACHINE, current32 + "\\Uninstall\\Gone32"));
    EXPECT_TRUE(opens(HKEY_LOCAL_MACHINE, current32 + "\\Uninstall\\Tool32"));
    EXPECT_FALSE(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Abandoned32"));
    EXPECT_TRUE(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Vendor32"));
    // Nothing of the native view was touched.
    EXPECT_FALSE(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Abandoned32"));

    EXPECT_EQ(win32::RegImportFile(undo).skipped, 0u);
    const ScanOutcome again = ScanMachine(TRepairItems::All());
    EXPECT_EQ(found(again.records), found(outcome.records));
}

} // namespace
