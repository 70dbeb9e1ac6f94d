// The program's settings in its settings file: where the file lives, restore records,
// the checked scan sections, and the last-run values.

#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/SelectionItems.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "support/StoreFiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

using namespace testing_support;

namespace {

class Settings : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path = dir.path().toStdString() + "/system.dat";

    std::vector<std::string> restoreKeys() {
        TfxRegFile store(path);
        std::vector<std::string> names;
        if (store.OpenKey(kRestoresKey, false))
            store.GetKeyNames(names);
        return names;
    }
};

// Computed on use: the date functions' own constants are not ready during static
// initialisation of another file.
TDateTime morning() {
    return EncodeDateTime(2024, 3, 5, 9, 15, 30);
}
TDateTime evening() {
    return EncodeDateTime(2024, 3, 5, 21, 0, 1);
}

} // namespace

TEST_F(Settings, ProgramFolderEndsWithASeparator) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(StoreFilePath(), folder + "system.dat");

    SetProgramFolder(dir.path().toStdString());
    EXPECT_EQ(ProgramFolder(), dir.path().toStdString() + "/");
    EXPECT_EQ(StoreFilePath(), path);
    SetProgramFolder({});
    EXPECT_EQ(ProgramFolder(), folder);
}

TEST_F(Settings, AddRestoreRecordWritesItsThreeValues) {
    EXPECT_TRUE(
        AddRestoreRecord(path, kBackupRegistryAction, "05-03-2024 09.15.30", morning(), morning()));
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Restores\\20240305091530", false));
    EXPECT_EQ(store.ReadString(kActionValue), "Backup Registry");
    EXPECT_EQ(store.ReadString(kBackupNameValue), "05-03-2024 09.15.30");
    EXPECT_EQ(store.ReadDateTime(kDateCreatedValue), morning());
}

TEST_F(Settings, RestoreRecordsAreListedOldestFirst) {
    AddRestoreRecord(path, "Undo", "late.reg", evening(), evening());
    AddRestoreRecord(path, "Undo", "early.reg", morning(), morning());
    EXPECT_EQ(restoreKeys(), (std::vector<std::string>{"20240305091530", "20240305210001"}));
}

TEST_F(Settings, ABackupNameIsRecordedOnceIgnoringCase) {
    EXPECT_TRUE(AddRestoreRecord(path, "Undo", "Profile \xE9t\xE9", morning(), morning()));
    EXPECT_FALSE(AddRestoreRecord(path, "Other", "PROFILE \xC9T\xC9", evening(), evening()));
    EXPECT_EQ(restoreKeys(), std::vector<std::string>{"20240305091530"});
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Restores\\20240305091530", false));
    EXPECT_EQ(store.ReadString(kActionValue), "Undo");
}

TEST_F(Settings, ARecordOfASecondTakenAlreadyTakesTheNextFreeSecond) {
    // A repair's undo file and a backup made within one second: both stay listed, in the
    // order they were added.
    AddRestoreRecord(path, "First", "one", morning(), morning());
    AddRestoreRecord(path, "Third", "three", evening(), morning() + 1.0 / 86400.0);
    AddRestoreRecord(path, "Second", "two", evening(), morning());
    EXPECT_EQ(restoreKeys(),
              (std::vector<std::string>{"20240305091530", "20240305091531", "20240305091532"}));
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey("\\Restores\\20240305091530", false));
    EXPECT_EQ(store.ReadString(kBackupNameValue), "one");
    store.CloseKey();
    ASSERT_TRUE(store.OpenKey("\\Restores\\20240305091532", false));
    EXPECT_EQ(store.ReadString(kActionValue), "Second");
    EXPECT_EQ(store.ReadString(kBackupNameValue), "two");
    EXPECT_EQ(store.ReadDateTime(kDateCreatedValue), evening());
    const auto records = ReadRestoreRecords(path);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].backupName, "two");
}

TEST_F(Settings, DeleteRestoreRecordRemovesTheFirstFullMatch) {
    AddRestoreRecord(path, "Backup Registry", "a", morning(), morning());
    AddRestoreRecord(path, "Backup Registry", "b", morning(), evening());
    // Wrong date, wrong action: no match.
    EXPECT_FALSE(DeleteRestoreRecord(path, "Backup Registry", "a", "2024-03-05 09:15:31"));
    EXPECT_FALSE(DeleteRestoreRecord(path, "Undo", "a", "2024-03-05 09:15:30"));
    EXPECT_EQ(restoreKeys().size(), 2u);
    EXPECT_TRUE(DeleteRestoreRecord(path, "BACKUP registry", "B", "2024-03-05 09:15:30"));
    EXPECT_EQ(restoreKeys(), std::vector<std::string>{"20240305091530"});
    EXPECT_EQ(StoreProblems(ReadFileBytes(path)), "");
}

TEST_F(Settings, DeleteRestoreRecordPassesOverIncompleteRecords) {
    AddRestoreRecord(path, "Undo", "x.reg", evening(), evening());
    {
        TfxRegFile store(path);
        ASSERT_TRUE(store.OpenKey("\\Restores\\20240101000000", true));
        store.WriteString(kActionValue, "Undo");
        store.WriteString(kBackupNameValue, "x.reg");
        store.WriteString(kDateCreatedValue, "2024-03-05 21:00:01"); // not a date-time
    }
    EXPECT_TRUE(DeleteRestoreRecord(path, "Undo", "x.reg", "2024-03-05 21:00:01"));
    EXPECT_EQ(restoreKeys(), std::vector<std::string>{"20240101000000"});
}

TEST_F(Settings, ReadersCreateNoFile) {
    EXPECT_FALSE(DeleteRestoreRecord(path, "Undo", "x", "2024-03-05 21:00:01"));
    ResetLastRunValues(path);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Settings, SelectionItemsText) {
    EXPECT_EQ(SelectionItemsText({}), "");
    EXPECT_EQ(SelectionItemsText({4}), "4");
    EXPECT_EQ(SelectionItemsText({0, 3, 7}), "0,3,7");
}

TEST_F(Settings, SelectionItemsReadBackOnlyValidRows) {
    struct Case {
        const char* text;
        int rows;
        std::vector<int> checked;
    };
    const Case cases[] = {
        {"0,3,word,99", 10, {0, 3}},
        {"", 10, {}},
        {"0,1,2,3,4,5,6,7,8,9,10,11", 12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {"-1,12,3x,,11", 12, {11}},
        {" 2 ,5", 6, {2, 5}},
        {"99999999999999999999,1", 3, {1}},
        {"1", 0, {}},
    };
    for (const Case& c : cases) {
        std::vector<bool> expected(size_t(c.rows), false);
        for (const int row : c.checked)
            expected[size_t(row)] = true;
        EXPECT_EQ(CheckedRowsFromText(c.text, c.rows), expected) << '"' << c.text << '"';
    }
}

TEST_F(Settings, SaveAndLoadSelection) {
    EXPECT_EQ(LoadSelection(path, 3), std::vector<bool>(3, false));
    SaveSelection(path, {0, 2});
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey(kOptionsKey, false));
    EXPECT_EQ(store.ReadString(kSelectionItemsValue), "0,2");
    EXPECT_EQ(LoadSelection(path, 3), (std::vector<bool>{true, false, true}));
}

TEST_F(Settings, WriteOptionStringCreatesTheKey) {
    WriteOptionString(path, kLastScanValue, "March 05,2024 9:15 am");
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey(kOptionsKey, false));
    EXPECT_EQ(store.ReadString(kLastScanValue), "March 05,2024 9:15 am");
}

TEST_F(Settings, ResetEmptiesTheLastRunValues) {
    WriteOptionString(path, kLastScanValue, "March 05,2024 9:15 am");
    ResetLastRunValues(path);
    TfxRegFile store(path);
    ASSERT_TRUE(store.OpenKey(kOptionsKey, false));
    for (const char* name : {kLastScanValue, kLastBackupValue, kLastCompactValue}) {
        EXPECT_TRUE(store.ValueExists(name)) << name;
        EXPECT_EQ(store.ReadString(name), "") << name;
    }
}

TEST_F(Settings, ResetWithoutOptionsWritesNothing) {
    { TfxRegFile store(path); }
    const std::string before = ReadFileBytes(path);
    ResetLastRunValues(path);
    EXPECT_EQ(ReadFileBytes(path), before);
}
