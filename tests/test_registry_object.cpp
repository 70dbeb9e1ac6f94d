// The registry object over a booted test machine.

#include "registry/TRegistry.h"
#include "support/MachineFixture.h"
#include "win32/machine/Machine.h"
#include "win32/registry/Registry.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Names = std::vector<std::string>;

const char* kTree = "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\n"
                    "\"zeta\"=\"last letter\"\n"
                    "\"Alpha\"=\"first letter\"\n"
                    "@=\"default\"\n"
                    "\"expand\"=hex(2):25,00,57,00,49,00,4e,00,44,00,49,00,52,00,25,00,00,00\n"
                    "\"number\"=dword:fffffffe\n"
                    "\"bytes\"=hex:01,02,03\n"
                    "\"multi\"=hex(7):61,00,00,00,00,00\n"
                    "\"shortDword\"=hex(4):01,02\n"
                    "\"embeddedZero\"=hex(1):61,00,00,00,62,00,00,00\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\beta]\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Alpha\\Inner]\n"
                    "\"v\"=\"inner\"\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\_under]\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Zulu]\n";

TEST(RegistryObject, StartsAtTheCurrentUserWithFullAccess) {
    TestMachine machine("[HKEY_CURRENT_USER\\Software\\Mine]\n\"v\"=\"mine\"\n");
    TRegistry reg;
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    ASSERT_TRUE(reg.OpenKey("Software\\Mine", false));
    EXPECT_EQ(reg.ReadString("v"), "mine");
    // Full access: the key can be written.
    reg.WriteString("w", "written");
    EXPECT_EQ(reg.ReadString("w"), "written");
}

TEST(RegistryObject, PathRules) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    // No key open: a relative path starts at the root.
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    // A key open: a relative path starts at it.
    ASSERT_TRUE(reg.OpenKey("Alpha", false));
    EXPECT_FALSE(reg.ValueExists(""));
    ASSERT_TRUE(reg.OpenKey("Inner", false));
    EXPECT_EQ(reg.ReadString("v"), "inner");
    // A leading backslash starts at the root whatever is open.
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Test", false));
    EXPECT_EQ(reg.ReadString(""), "default");
    // A missing key fails and leaves the current key as it was.
    EXPECT_FALSE(reg.OpenKey("Missing", false));
    EXPECT_EQ(reg.ReadString("zeta"), "last letter");
    // Relative to the current key, "SOFTWARE\Test" does not exist.
    EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Test"));
    EXPECT_TRUE(reg.KeyExists("\\SOFTWARE\\Test"));
    EXPECT_TRUE(reg.KeyExists("Alpha\\Inner"));
    // KeyExists leaves the current key current.
    EXPECT_EQ(reg.ReadString("zeta"), "last letter");
    // Setting the root closes the current key.
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\Test"));
}

TEST(RegistryObject, WithoutARootNothingOpens) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(nullptr); // what an unknown root name gives
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Test", false));
    EXPECT_FALSE(reg.OpenKeyReadOnly("SOFTWARE\\Test"));
    EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Test"));
    EXPECT_FALSE(reg.DeleteKey("SOFTWARE\\Test"));
}

TEST(RegistryObject, OpenKeyCreatesOnlyWhenAsked) {
    TestMachine machine;
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\New\\Deeper", false));
    EXPECT_FALSE(reg.KeyExists("SOFTWARE\\New"));
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\New\\Deeper", true));
    reg.WriteString("v", "x");
    TRegistry other;
    other.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(other.OpenKeyReadOnly("SOFTWARE\\New\\Deeper"));
    EXPECT_EQ(other.ReadString("v"), "x");
}

TEST(RegistryObject, FullAccessFailsWhereOnlyReadingIsAllowed) {
    TestMachine machine(kTree);
    machine.shutdown();
    machine.boot(win32::BootOptions{.readOnly = true});
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey("SOFTWARE\\Test", false));
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\Test"));
    ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE\\Test"));
    EXPECT_EQ(reg.ReadString("Alpha"), "first letter");
    EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
    EXPECT_FALSE(reg.DeleteValue("Alpha"));
    EXPECT_FALSE(reg.DeleteKey("beta"));
}

TEST(RegistryObject, NamesInEnumerationOrder) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    Names names{"stale"};
    reg.GetKeyNames(names);
    EXPECT_TRUE(names.empty()) << "no key open";
    reg.GetValueNames(names);
    EXPECT_TRUE(names.empty());

    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    // Subkeys sorted as the registry sorts them (upper case: "_" after the letters);
    // values in the order they were made.
    reg.GetKeyNames(names);
    EXPECT_EQ(names, (Names{"Alpha", "beta", "Zulu", "_under"}));
    reg.GetValueNames(names);
    EXPECT_EQ(names, (Names{"zeta", "Alpha", "", "expand", "number", "bytes", "multi", "shortDword",
                            "embeddedZero"}));
    TRegKeyInfo info;
    ASSERT_TRUE(reg.GetKeyInfo(info));
    EXPECT_EQ(info.NumSubKeys, 4u);
    EXPECT_EQ(info.NumValues, 9u);
    reg.CloseKey();
    EXPECT_FALSE(reg.GetKeyInfo(info));
    EXPECT_EQ(info.NumSubKeys, 0u);
}

TEST(RegistryObject, DataTypesSizesAndReads) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    struct Case {
        const char* name;
        TRegDataType type;
        int size;
    } cases[] = {
        {"zeta", TRegDataType::rdString, 12},   {"expand", TRegDataType::rdExpandString, 9},
        {"number", TRegDataType::rdInteger, 4}, {"bytes", TRegDataType::rdBinary, 3},
        {"multi", TRegDataType::rdUnknown, 3},  {"missing", TRegDataType::rdUnknown, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reg.GetDataType(c.name), c.type) << c.name;
        EXPECT_EQ(reg.GetDataSize(c.name), c.size) << c.name;
        EXPECT_EQ(reg.ValueExists(c.name), c.size >= 0) << c.name;
    }
    EXPECT_EQ(reg.ReadString("expand"), "%WINDIR%"); // never expanded
    EXPECT_EQ(reg.ReadString("embeddedZero"), "a");
    // A missing value, like a key's unset default value, reads as the empty text.
    EXPECT_EQ(reg.ReadString("missing"), "");
    EXPECT_EQ(reg.ReadInteger("number"), -2);
    unsigned char bytes[8] = {};
    EXPECT_EQ(reg.ReadBinaryData("bytes", bytes, sizeof bytes), 3);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(reg.ReadBinaryData("multi", bytes, sizeof bytes), 3);
    EXPECT_EQ(bytes[0], 'a');
    ASSERT_TRUE(reg.OpenKey("beta", false));
    EXPECT_EQ(reg.ReadString(""), "");
}

TEST(RegistryObject, TextValuesInOnePassReadAsReadString) {
    // Strings of no data and of a lone byte occur in real hives.
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Texts]
"plain"="C:\\WINDOWS"
"none"=hex(1):
"odd"=hex(1):41
"expand"=hex(2):25,00,41,00,25,00,00,00
"cut"=hex(1):61,00,00,00,62,00,00,00
"number"=dword:00000001
"long"=")reg" + std::string(3000, 'x') +
                        R"reg("
)reg");
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Texts", false));
    std::vector<TRegTextValue> values;
    reg.GetTextValues(values);
    Names names;
    reg.GetValueNames(names);
    ASSERT_EQ(values.size(), names.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].Name, names[i]);
        const TRegDataType type = reg.GetDataType(names[i]);
        const bool text = type == TRegDataType::rdString || type == TRegDataType::rdExpandString;
        EXPECT_EQ(values[i].IsText, text) << names[i];
        EXPECT_EQ(values[i].Text, text ? reg.ReadString(names[i]) : "") << names[i];
    }
    EXPECT_EQ(values[1].Text, "");
    EXPECT_EQ(values[4].Text, "a");
    EXPECT_EQ(values[6].Text.size(), 3000u);
}

TEST(RegistryObject, ListsPassedAgainHoldOnlyTheNextKeysEntries) {
    TestMachine machine(std::string(kTree) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Second]\n"
                                             "\"n\"=dword:00000001\n"
                                             "\"s\"=\"x\"\n"
                                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Second\\only]\n");
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    std::vector<TRegTextValue> values;
    reg.GetTextValues(values);
    ASSERT_EQ(values.size(), 9u);
    ASSERT_TRUE(values[0].IsText);
    Names names;
    reg.GetKeyNames(names);
    ASSERT_EQ(names.size(), 4u);
    // The same lists for a key of fewer entries, whose first value is no string: nothing
    // of the first key's entries is left in them.
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Second", false));
    reg.GetTextValues(values);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].Name, "n");
    EXPECT_FALSE(values[0].IsText);
    EXPECT_EQ(values[0].Text, "");
    EXPECT_EQ(values[1].Name, "s");
    EXPECT_EQ(values[1].Text, "x");
    reg.GetKeyNames(names);
    EXPECT_EQ(names, (Names{"only"}));
}

TEST(RegistryObject, KeyNameAtFollowsTheEnumeration) {
    TestMachine machine(kTree);
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    std::string name = "stale";
    EXPECT_FALSE(reg.GetKeyNameAt(0, name)) << "no key open";
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    Names listed, one;
    reg.GetKeyNames(listed);
    for (DWORD i = 0; reg.GetKeyNameAt(i, name); ++i)
        one.push_back(name);
    EXPECT_EQ(one, listed);
}

TEST(RegistryObject, ReadErrorsNameTheValue) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    unsigned char buffer[2];
    struct Case {
        std::function<void()> read;
        std::string message;
    } cases[] = {
        {[&] { reg.ReadString("number"); }, "Invalid data type for 'number'"},
        {[&] { reg.ReadString("bytes"); }, "Invalid data type for 'bytes'"},
        {[&] { reg.ReadInteger("zeta"); }, "Invalid data type for 'zeta'"},
        {[&] { reg.ReadBinaryData("zeta", buffer, 2); }, "Invalid data type for 'zeta'"},
        {[&] { reg.ReadInteger("missing"); }, "Failed to get data for 'missing'"},
        {[&] { reg.ReadInteger("shortDword"); }, "Failed to get data for 'shortDword'"},
        {[&] { reg.ReadBinaryData("bytes", buffer, 2); }, "Failed to get data for 'bytes'"},
    };
    for (const Case& c : cases) {
        try {
            c.read();
            ADD_FAILURE() << "no error: " << c.message;
        } catch (const ERegistryException& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
    reg.CloseKey();
    EXPECT_THROW(reg.ReadString("zeta"), ERegistryException);
    EXPECT_FALSE(reg.ValueExists("zeta"));
}

TEST(RegistryObject, WriteAndDeleteValues) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\Test", false));
    reg.WriteString("number", "now text \xE9");
    EXPECT_EQ(reg.GetDataType("number"), TRegDataType::rdString);
    EXPECT_EQ(reg.ReadString("number"), "now text \xE9");
    reg.WriteString("empty", "");
    EXPECT_EQ(reg.ReadString("empty"), "");
    EXPECT_TRUE(reg.DeleteValue("number"));
    EXPECT_FALSE(reg.DeleteValue("number"));
    EXPECT_FALSE(reg.ValueExists("number"));
}

TEST(RegistryObject, DeleteKeyRemovesTheWholeTree) {
    TestMachine machine(kTree);
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE", false));
    EXPECT_TRUE(reg.DeleteKey("Test\\Alpha"));
    EXPECT_FALSE(reg.KeyExists("Test\\Alpha"));
    EXPECT_TRUE(reg.KeyExists("Test\\beta"));
    EXPECT_TRUE(reg.DeleteKey("\\SOFTWARE\\Test\\"));
    EXPECT_FALSE(reg.KeyExists("Test"));
    EXPECT_FALSE(reg.DeleteKey("Test"));
    // An empty path would be the current key itself: refused.
    EXPECT_FALSE(reg.DeleteKey(""));
    EXPECT_FALSE(reg.DeleteKey("\\"));
    EXPECT_TRUE(reg.KeyExists("\\SOFTWARE"));
}

TEST(RegistryObject, DeleteKeyRemovesNothingWhenAKeyOfTheTreeRefuses) {
    TestMachine machine(kTree);
    machine.rebootWithIni(
        "[ProtectedKeys]\nguard=HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Alpha\\Inner\n");
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.DeleteKey("SOFTWARE\\Test"));
    // The siblings walked before the refusing key are still there.
    for (const char* key : {"SOFTWARE\\Test\\Alpha\\Inner", "SOFTWARE\\Test\\beta",
                            "SOFTWARE\\Test\\Zulu", "SOFTWARE\\Test\\_under"})
        EXPECT_TRUE(reg.KeyExists(key)) << key;
}

} // namespace
