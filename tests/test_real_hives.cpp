// Real Windows hives mounted in a test machine.

#include "hive/HiveFile.h"
#include "support/HiveCompare.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/Registry.h"

#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>

using namespace testing_support;

namespace {

// Counts the keys below `key` through the registry functions.
size_t walk(HKEY key) {
    size_t count = 1;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD size = std::size(name);
        const LONG rc = RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        EXPECT_EQ(rc, ERROR_SUCCESS);
        if (rc != ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        EXPECT_EQ(RegOpenKeyExW(key, std::u16string(name, size).c_str(), 0, KEY_READ, &sub),
                  ERROR_SUCCESS)
            << "reopening a subkey by the name enumeration gave";
        if (!sub)
            continue;
        count += walk(sub);
        RegCloseKey(sub);
    }
    return count;
}

size_t countKeys(const hive::HiveKey& key) {
    size_t count = 1;
    for (const auto& sub : key.stableSubkeys())
        count += countKeys(*sub);
    return count;
}

std::string exportOf(const std::string& hive) {
    const auto result = RunProcess("hivexregedit", {"--export", hive, "\\"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

class RealHives : public ::testing::Test {
protected:
    void SetUp() override {
        machine_.emplace();
        machine_->shutdown();
        const std::string config = machine_->hostPath("WINDOWS/system32/config");
        const std::string profile = machine_->hostPath("Documents and Settings/Administrator");
        const std::string classes = profile + "/Local Settings/Application Data/Microsoft/Windows";
        const std::pair<const char*, std::string> hives[] = {{"SYSTEM", config},
                                                             {"SAM", config},
                                                             {"SECURITY", config},
                                                             {"NTUSER.DAT", profile},
                                                             {"UsrClass.dat", classes}};
        for (const auto& [name, folder] : hives) {
            if (!SharedHive(name, folder)) {
                GTEST_SKIP() << "the shared test hives are absent";
            }
        }
        machine_->boot();
    }

    std::optional<TestMachine> machine_;
};

} // namespace

TEST_F(RealHives, SavedCopyOfSystemIsSmallerAndExportsIdentically) {
    HKEY system = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system), ERROR_SUCCESS);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege"}));
    ASSERT_EQ(RegSaveKeyA(system, "C:\\system.copy", nullptr), ERROR_SUCCESS);
    RegCloseKey(system);
    const std::string original = machine_->hostPath("WINDOWS/system32/config/SYSTEM");
    const std::string copy = machine_->hostPath("system.copy");
    EXPECT_LT(QFileInfo(QString::fromStdString(copy)).size(),
              QFileInfo(QString::fromStdString(original)).size());
    const std::string before = exportOf(original);
    EXPECT_GT(before.size(), 1000000u);
    EXPECT_TRUE(before == exportOf(copy)) << "the exports differ";
    const auto regfinfo = RunProcess("regfinfo", {copy});
    EXPECT_EQ(regfinfo.exitCode, 0) << regfinfo.err;
    // Class names (the Lsa keys keep secrets in them), descriptors and times too.
    ExpectSameTree(*hive::LoadHiveFile(original).root, *hive::LoadHiveFile(copy).root);
}

TEST_F(RealHives, EveryKeyIsReachableThroughTheRegistryFunctions) {
    const std::string classes = machine_->userSid() + "_Classes";
    const struct {
        HKEY root;
        const char* path;
        std::string file;
    } mounted[] = {
        {HKEY_LOCAL_MACHINE, "SAM", "WINDOWS/system32/config/SAM"},
        {HKEY_LOCAL_MACHINE, "SECURITY", "WINDOWS/system32/config/SECURITY"},
        {HKEY_CURRENT_USER, "", "Documents and Settings/Administrator/NTUSER.DAT"},
        {HKEY_USERS, classes.c_str(),
         "Documents and Settings/Administrator/Local Settings/Application "
         "Data/Microsoft/Windows/UsrClass.dat"},
    };
    for (const auto& hive : mounted) {
        SCOPED_TRACE(hive.file);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(hive.root, hive.path, 0, KEY_READ, &key), ERROR_SUCCESS);
        const auto loaded = hive::LoadHiveFile(machine_->hostPath(hive.file));
        size_t expected = countKeys(*loaded.root);
        // HKCU\Software\Classes is the classes hive, linked in at mount when the user's
        // hive has no key of that name.
        if (hive.root == HKEY_CURRENT_USER &&
            !win32::FindKey(loaded.root.get(), u"Software\\Classes"))
            expected += countKeys(*hive::LoadHiveFile(machine_->hostPath(mounted[3].file)).root);
        EXPECT_EQ(walk(key), expected);
        RegCloseKey(key);
    }
}

TEST_F(RealHives, AWholeScanOfEverySectionEnds) {
    // None of the files these hives name exists here: what the scan reports is not
    // counted, only that every section runs through real data to its end.
    const ScanOutcome outcome = ScanMachine(TRepairItems::All());
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.statuses.size(), size_t(kRepairItemCount));
    size_t services = 0;
    for (const TInvalidRegData& record : outcome.records)
        services += record.Category == riServices;
    EXPECT_GT(services, 100u);
}

// A Windows 10 user's hives as Windows left them (the user hive dirty, with its logs):
// an extension key holding handlers or a content type beside an empty default is sound,
// and so is the store of low integrity programs.
TEST(RealWindows10Hives, NoAssociationOrSoftwareKeyWindowsMadeIsReported) {
    win32::NewMachine options;
    options.version = "10.0.19045";
    options.servicePack = "";
    TestMachine machine({}, {}, options);
    machine.shutdown();
    const std::string profile = "Documents and Settings/Administrator/";
    if (!SharedHiveAs("transactions_NTUSER.DAT", machine.hostPath(profile + "NTUSER.DAT")) ||
        !SharedHiveAs("transactions_ntuser.dat.log1",
                      machine.hostPath(profile + "ntuser.dat.LOG1")) ||
        !SharedHiveAs("transactions_ntuser.dat.log2",
                      machine.hostPath(profile + "ntuser.dat.LOG2")) ||
        !SharedHive(
            "UsrClass.dat",
            machine.hostPath(profile + "Local Settings/Application Data/Microsoft/Windows")))
        GTEST_SKIP() << "the shared test hives are absent";
    machine.boot({.readOnly = true});

    const ScanOutcome outcome = ScanMachine({riFileAssociations, riSoftware});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    size_t associations = 0;
    for (const TInvalidRegData& record : outcome.records) {
        EXPECT_NE(record.ValueName, "AppDataLow");
        if (record.Category != riFileAssociations)
            continue;
        ++associations;
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, record.KeyLocation.substr(18).c_str(), 0,
                                KEY_READ, &key),
                  ERROR_SUCCESS);
        DWORD subkeys = 0, values = 0;
        ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        // Only a default naming a missing class is reported in a key holding more.
        if (record.ValueData.empty()) {
            EXPECT_TRUE(subkeys == 0 && values <= 1) << record.KeyLocation;
        }
    }
    // The user's classes were walked: the extension keys Windows 10 left, most of them
    // with an empty default beside their handlers.
    const auto extensions =
        std::count_if(outcome.keys.begin(), outcome.keys.end(), [](const std::string& key) {
            return key.rfind("HKEY_CLASSES_ROOT\\.", 0) == 0;
        });
    EXPECT_GT(extensions, 100);
    std::cout << "extension keys judged: " << extensions
              << ", file association reports: " << associations
              << ", records in all: " << outcome.records.size() << "\n";
}
