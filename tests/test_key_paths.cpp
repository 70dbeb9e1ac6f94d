// Root names and the text operations on key paths.

#include "registry/FindSubKeyPath.h"
#include "registry/RootKeys.h"
#include "registry/SplitFns.h"
#include "support/MachineFixture.h"
#include "win32/registry/Registry.h"
#include "win32/system/Nls.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace testing_support;

namespace {

using Pieces = std::vector<std::string>;

Pieces split(std::string_view text, char separator = '\\') {
    Pieces pieces;
    SplitByChar(text, separator, pieces);
    return pieces;
}

// A machine whose ANSI code page is `codePage`; the code page is read at boot.
std::unique_ptr<TestMachine> machineWithCodePage(int codePage) {
    auto machine = std::make_unique<TestMachine>(
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage]\n\"ACP\"=\"" +
        std::to_string(codePage) + "\"\n");
    machine->shutdown();
    machine->boot();
    return machine;
}

TEST(RootKeys, NamesAndHandlesByTable) {
    struct Row {
        const char* name;
        HKEY handle;
        uint32_t value;
        bool inProblemText;
        const char* securityName; // of key path "A\B"
    } rows[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, 0x80000000, true, "CLASSES_ROOT\\A\\B"},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, 0x80000001, true, "CURRENT_USER\\A\\B"},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, 0x80000002, true, "MACHINE\\A\\B"},
        {"HKEY_USERS", HKEY_USERS, 0x80000003, true, "USERS\\A\\B"},
        {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA, 0x80000004, false, "A\\B"},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, 0x80000005, true, "A\\B"},
        {"HKEY_DYN_DATA", HKEY_DYN_DATA, 0x80000006, false, "A\\B"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RootKeyValue(row.handle), row.value);
        EXPECT_EQ(RootKeyFromValue(row.value), row.handle);
        EXPECT_EQ(RootKeyFromName(row.name), row.handle);
        EXPECT_EQ(ExportRootName(row.handle), row.name);
        EXPECT_EQ(RootKeyToName(row.handle), row.inProblemText ? row.name : "");
        if (row.inProblemText)
            EXPECT_EQ(BrowseRootFromName(row.name), row.handle);
        else
            EXPECT_THROW(BrowseRootFromName(row.name), EInvalidRootName);
        EXPECT_EQ(SecurityObjectName(row.handle, "A\\B"), row.securityName);
    }
    EXPECT_EQ(RootKeyFromValue(0), nullptr);
    EXPECT_EQ(ExportRootName(nullptr), "");
    EXPECT_EQ(RootKeyToName(HW_PREDEFINED_KEY(0x80000007)), "");
    EXPECT_EQ(SecurityObjectName(nullptr, "X"), "X");
}

TEST(RootKeys, NameFromTextIgnoresAsciiCaseOnly) {
    EXPECT_EQ(RootKeyFromName("hkey_local_machine"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RootKeyFromName("Hkey_Users"), HKEY_USERS);
    for (const char* unknown :
         {"", "HKLM", "HKEY_LOCAL_MACHINE\\", "HKEY_LOCAL_MACHIN", " HKEY_USERS", "HKEY_USERS\xA0"})
        EXPECT_EQ(RootKeyFromName(unknown), nullptr) << unknown;
}

TEST(RootKeys, BrowseRootIsCaseSensitiveAndNamesTheBadText) {
    try {
        BrowseRootFromName("hkey_local_machine");
        FAIL() << "no error";
    } catch (const EInvalidRootName& e) {
        EXPECT_STREQ(e.what(), "hkey_local_machine - Invalid HKEY description");
    }
    EXPECT_THROW(BrowseRootFromName(""), EInvalidRootName);
}

TEST(SplitFns, SplitByCharDropsEmptyPieces) {
    struct Case {
        std::string text;
        Pieces pieces;
    } cases[] = {
        {"\\a\\\\b\\\\", {"a", "b"}},
        {"REGISTRY\\MACHINE\\SAM", {"REGISTRY", "MACHINE", "SAM"}},
        {"", {}},
        {"\\", {}},
        {"\\\\\\", {}},
        {"abc", {"abc"}},
        {"HKEY_CLASSES_ROOT\\.txt\\", {"HKEY_CLASSES_ROOT", ".txt"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(split(c.text), c.pieces) << c.text;
    EXPECT_EQ(split("a,,b,c", ','), (Pieces{"a", "b", "c"}));
}

TEST(SplitFns, SplitByCharClearsTheList) {
    Pieces pieces{"old"};
    SplitByChar("", '\\', pieces);
    EXPECT_TRUE(pieces.empty());
}

TEST(SplitFns, NextTokenLeavesThePositionPastTheSeparator) {
    const std::string text = "\\\\ab\\c\\";
    size_t position = 1;
    EXPECT_EQ(NextToken(text, '\\', position), "ab");
    EXPECT_EQ(position, 6u); // just past the backslash at 5
    EXPECT_EQ(NextToken(text, '\\', position), "c");
    EXPECT_EQ(position, 8u); // just past the last character
    EXPECT_EQ(NextToken(text, '\\', position), "");
    EXPECT_EQ(position, 8u);
    position = 4;
    EXPECT_EQ(NextToken(text, '\\', position), "b");
    position = 20; // past the end: a caller that loops once too often
    EXPECT_EQ(NextToken(text, '\\', position), "");
    EXPECT_EQ(position, 8u);
}

TEST(SplitFns, AddTrailingBackslash) {
    EXPECT_EQ(AddTrailingBackslash(""), "\\");
    EXPECT_EQ(AddTrailingBackslash("C:"), "C:\\");
    EXPECT_EQ(AddTrailingBackslash("C:\\"), "C:\\");
    EXPECT_EQ(AddTrailingBackslash("C:\\Program Files"), "C:\\Program Files\\");
}

TEST(SplitFns, DoubleByteCharactersEndingInABackslashByteStayWhole) {
    // In code page 932 the character 0x95 0x5C ends in the byte of a backslash.
    auto machine = machineWithCodePage(932);
    ASSERT_EQ(GetACP(), 932u);
    const std::string folder = "C:\\\x95\x5C";
    EXPECT_EQ(AddTrailingBackslash(folder), folder + "\\");
    EXPECT_EQ(AddTrailingBackslash(folder + "\\"), folder + "\\");
    EXPECT_EQ(split("A\\\x95\x5C\\B"), (Pieces{"A", "\x95\x5C", "B"}));
    // A lead byte at the very end takes no byte beyond the text.
    EXPECT_EQ(split("A\\\x95"), (Pieces{"A", "\x95"}));
}

TEST(SplitFns, FindTextFromIgnoresCaseThroughTheCodePage) {
    const std::string text = "C:\\WINDOWS\\regedit.EXE";
    ASSERT_EQ(text.size(), 22u);
    struct Case {
        std::string text, pattern;
        size_t start, found;
    } cases[] = {
        {text, ".exe", 1, 19},
        {text, ".exe", 19, 19},
        {text, ".exe", 20, 0},
        {text, "c:\\windows", 1, 1},
        {text, "WINDOWS\\REGEDIT.exe", 1, 4},
        {text, "", 1, 0},
        {text, text + "x", 1, 0},
        {text, "e", 30, 0},
        {"abab", "ab", 2, 3},
        {"aXbab", "ab", 1, 4},
        // 1252: é and É are one letter in two cases.
        {"Caf\xE9", "CAF\xC9", 1, 1},
        {"Z\xC9Z", "\xE9z", 1, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindTextFrom(c.text, c.pattern, c.start), c.found)
            << c.text << " / " << c.pattern << " from " << c.start;
}

TEST(SplitFns, FindTextFromFollowsTheBootedMachinesCodePage) {
    // 0xE0 is à in 1252 (upper case 0xC0) and а in 1251 (upper case 0xC0 too), but
    // 0xB3 is ³ in 1252 (no case) and і in 1251 (upper case 0xB2).
    EXPECT_EQ(FindTextFrom("\xB2", "\xB3"), 0u);
    {
        auto machine = machineWithCodePage(1251);
        ASSERT_EQ(GetACP(), 1251u);
        EXPECT_EQ(FindTextFrom("\xB2", "\xB3"), 1u);
    }
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(FindTextFrom("\xB2", "\xB3"), 0u);
}

TEST(SplitFns, FindTextFromFromManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                if (FindTextFrom("HKEY_CLASSES_ROOT\\.txtfile", "\\.TXT") != 18)
                    ++wrong;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

#ifndef NDEBUG
TEST(SplitFnsDeathTest, FindTextFromAssertsOnAStartBelowOne) {
    EXPECT_DEATH(FindTextFrom("abc", "b", 0), "1-based");
}
#endif

// The tree below HKCR\TypeLib\{T}: keys are listed in the registry's sorted order.
//   {T}\1.0\0\win32            hit 1 (below "1.0")
//   {T}\1.0\win32              hit 2, set at every step until "win32" itself is passed
//   {T}\1.0\win32\x\WIN32      hit 3, deeper, found while descending into "win32"
//   {T}\2.0\0\Win32            hit 4, in a later sibling: the last one met
const char* kTypeLibTree = "[HKEY_CLASSES_ROOT\\TypeLib\\{T}\\1.0\\0\\win32]\n"
                           "[HKEY_CLASSES_ROOT\\TypeLib\\{T}\\1.0\\win32\\x\\WIN32]\n"
                           "[HKEY_CLASSES_ROOT\\TypeLib\\{T}\\1.0\\FLAGS]\n"
                           "[HKEY_CLASSES_ROOT\\TypeLib\\{T}\\2.0\\0\\Win32]\n"
                           "[HKEY_CLASSES_ROOT\\TypeLib\\{U}\\1.0\\0\\win32]\n"
                           "[HKEY_CLASSES_ROOT\\TypeLib\\{U}\\1.0\\win32]\n"
                           "[HKEY_CLASSES_ROOT\\TypeLib\\{V}\\1.0\\0]\n";

TEST(FindSubKeyPath, TheLastHitOfTheDepthFirstWalkWins) {
    TestMachine machine(kTypeLibTree);
    std::string found;
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\{T}", "win32", found);
    EXPECT_EQ(found, "TypeLib\\{T}\\2.0\\0\\Win32");

    // Within one key: the hit of the key's own "win32" is set again after the walk
    // through the earlier sibling "0", so it overrides the hit found there.
    found.clear();
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\{U}", "WIN32", found);
    EXPECT_EQ(found, "TypeLib\\{U}\\1.0\\win32");

    // A hit below the matching key comes after it, and wins.
    found.clear();
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\{T}\\1.0", "win32", found);
    EXPECT_EQ(found, "TypeLib\\{T}\\1.0\\win32\\x\\WIN32");
}

TEST(FindSubKeyPath, WithoutAHitTheFoundPathStays) {
    TestMachine machine(kTypeLibTree);
    std::string found = "as set";
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\{V}", "win32", found);
    EXPECT_EQ(found, "as set");
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\{missing}", "win32", found);
    EXPECT_EQ(found, "as set");
    // The key itself is not below itself.
    FindSubKeyPath(HKEY_CLASSES_ROOT, "TypeLib\\{T}\\1.0\\win32\\x\\WIN32", "win32", found);
    EXPECT_EQ(found, "as set");
}

} // namespace
