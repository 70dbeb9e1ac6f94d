// The start menu scan over small machines.

#include "scan/ScanStartMenu.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "support/ShortcutBytes.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kOrder = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                           "Explorer\\MenuOrder\\Start Menu2\\Programs";
const std::string kCommon = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\";
const std::string kUser = "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\";

std::string orderKeys(const std::string& base, std::initializer_list<const char*> names) {
    std::string text;
    for (const char* name : names)
        text += "[" + base + "\\" + name + "]\n\"Order\"=hex:08,00,00,00\n";
    return text;
}

std::vector<FixtureFile> menuFiles() {
    return {
        {"C:\\Program Files\\Live\\live.exe", MzImage()},
        {kCommon + "Mixed\\Live.lnk", text(localLink("C:\\Program Files\\Live\\live.exe"))},
        {kCommon + "Mixed\\Dead.LNK", text(localLink("C:\\Program Files\\Dead\\dead.exe"))},
        {kCommon + "AllDead\\Dead.lnk", text(localLink("C:\\Program Files\\Dead\\dead.exe"))},
        {kCommon + "Nested\\Tools\\Live.lnk", text(localLink("C:\\Program Files\\Live\\live.exe"))},
        {kCommon + "NoShortcuts\\readme.txt", "text"},
        {kUser + "Mine\\Live.lnk", text(localLink("C:\\Program Files\\Live\\live.exe"))},
    };
}

TEST(ScanStartMenu, FoldersThatAreGoneOrHoldOnlyDeadShortcuts) {
    TestMachine machine(
        orderKeys(kOrder, {"AllDead", "Mine", "Mixed", "Nested", "NoShortcuts", "Vanished"}),
        menuFiles());
    const ScanOutcome outcome = ScanMachine({riStartMenu});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    const std::vector<TInvalidRegData> expected = {
        {riStartMenu, kOrder, "AllDead", "", "Obsolete StartMenus \"AllDead\""},
        {riStartMenu, kOrder, "Vanished", "", "Obsolete StartMenus \"Vanished\""},
    };
    EXPECT_EQ(outcome.records, expected);
}

TEST(ScanStartMenu, TheOlderOrderKeyServesWhenTheNewOneIsMissing) {
    const std::string older = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                              "Explorer\\MenuOrder\\Start Menu\\Programs";
    TestMachine machine(orderKeys(older, {"Mixed", "Vanished"}), menuFiles());
    const ScanOutcome outcome = ScanMachine({riStartMenu}, {older + "\\Mixed"});
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].KeyLocation, older);
    EXPECT_EQ(outcome.records[0].ValueName, "Vanished");
}

TEST(ScanStartMenu, Windows98LooksInTheCommonFolderOnly) {
    TestMachine machine(orderKeys(kOrder, {"Mine", "Mixed"}), menuFiles());
    machine.rebootWithIni("[Version]\nPlatform=9x\nVersion=4.10.2222\n");
    const ScanOutcome outcome = ScanMachine({riStartMenu});
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].ValueName, "Mine");
}

TEST(FindFilesByExt, DepthFirstIgnoringCase) {
    TestMachine machine({}, menuFiles());
    std::vector<std::string> found;
    FindFilesByExt(kCommon + "Mixed", ".lnk", false, found);
    EXPECT_EQ(found.size(), 2u);
    found.clear();
    FindFilesByExt(kCommon.substr(0, kCommon.size() - 1), ".LNK", false, found);
    EXPECT_TRUE(found.empty());
    FindFilesByExt(kCommon.substr(0, kCommon.size() - 1), ".LNK", true, found);
    EXPECT_EQ(found.size(), 4u);
    EXPECT_NE(std::find(found.begin(), found.end(), kCommon + "Nested\\Tools\\Live.lnk"),
              found.end());
}

} // namespace
