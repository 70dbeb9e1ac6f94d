// What the key browser reads of the registry: the has-subkeys test, the sorted names of
// one level, and the path object that splits a browser path at its root.

#include "registry/KeyBrowsing.h"
#include "registry/RootKeys.h"
#include "registry/TRegPathManager.h"
#include "support/MachineFixture.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char* const kKeys = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\beta]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Alpha\\Inner]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\gamma]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Delta]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\_under]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\\xc9t\xe9]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Browse\\Zulu]\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Leaf]\n";

} // namespace

TEST(KeyBrowsing, HasSubKeysCountsOnlySubkeysAndFailuresAsNone) {
    TestMachine machine(kKeys);
    EXPECT_TRUE(KeyHasSubKeys(HKEY_LOCAL_MACHINE, ""));
    EXPECT_TRUE(KeyHasSubKeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Browse"));
    EXPECT_TRUE(KeyHasSubKeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Browse\\Alpha"));
    EXPECT_FALSE(KeyHasSubKeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Leaf"));
    EXPECT_FALSE(KeyHasSubKeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing"));
    EXPECT_FALSE(KeyHasSubKeys(nullptr, "SOFTWARE"));
}

TEST(KeyBrowsing, NamesAreSortedWithoutRegardToCase) {
    TestMachine machine(kKeys);
    // The code page's upper case puts the accented letter (0xC9) after the ASCII letters.
    const std::vector<std::string> expected = {"Alpha", "beta",   "Delta",    "gamma",
                                               "Zulu",  "_under", "\xc9t\xe9"};
    EXPECT_EQ(SortedSubKeyNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Browse"), expected);
    EXPECT_TRUE(SortedSubKeyNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Leaf").empty());
    EXPECT_TRUE(SortedSubKeyNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing").empty());
    const auto roots = SortedSubKeyNames(HKEY_LOCAL_MACHINE, "");
    EXPECT_NE(std::find(roots.begin(), roots.end(), "SOFTWARE"), roots.end());
}

TEST(TRegPathManager, SplitsAtTheFirstBackslash) {
    TRegPathManager path;
    path.SetPath("HKEY_CURRENT_USER\\Software\\A\\B");
    EXPECT_EQ(path.RootName(), "HKEY_CURRENT_USER");
    EXPECT_EQ(path.RootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(path.SubKey(), "Software\\A\\B");
    path.SetPath("HKEY_CURRENT_CONFIG");
    EXPECT_EQ(path.RootKey(), HKEY_CURRENT_CONFIG);
    EXPECT_EQ(path.SubKey(), "");
    EXPECT_EQ(path.Path(), "HKEY_CURRENT_CONFIG");
}

TEST(TRegPathManager, AnUnknownRootRaisesAndChangesNothing) {
    TRegPathManager path;
    path.SetPath("HKEY_USERS\\.DEFAULT");
    for (const char* bad :
         {"HKEY_PERFORMANCE_DATA\\x", "hkey_users\\.DEFAULT", "My Registry", ""}) {
        try {
            path.SetPath(bad);
            ADD_FAILURE() << bad;
        } catch (const EInvalidRootName& e) {
            const std::string name = std::string(bad).substr(0, std::string(bad).find('\\'));
            EXPECT_EQ(std::string(e.what()), name + " - Invalid HKEY description");
        }
        EXPECT_EQ(path.Path(), "HKEY_USERS\\.DEFAULT");
        EXPECT_EQ(path.RootKey(), HKEY_USERS);
    }
}
