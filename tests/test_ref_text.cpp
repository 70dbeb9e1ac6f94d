// Text operations on file references: environment references, folder lists run
// together, the last backslash and resource numbers.

#include "scan/RefText.h"
#include "support/MachineFixture.h"
#include "win32/system/Nls.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(ExpandEnvText, RemovesQuotesAndSemicolonsAndExpandsTheMachinesVariables) {
    TestMachine machine;
    struct Case {
        std::string text, expanded;
    } cases[] = {
        {R"("C:\Program Files\App\app.exe" /x)", R"(C:\Program Files\App\app.exe /x)"},
        {R"(C:\a;C:\b;)", R"(C:\aC:\b)"},
        {"100% sure", "100% sure"},
        {"%SystemRoot%\\system32", "C:\\WINDOWS\\system32"},
        {"%systemroot%\\x;%SYSTEMROOT%\\y", "C:\\WINDOWS\\xC:\\WINDOWS\\y"},
        {"%ProgramFiles%\\App", "C:\\Program Files\\App"},
        {"", ""},
        // Not set, or a stray pair: left as it stands, and the expansion goes on after it.
        {"%NoSuchVariable%\\x", "%NoSuchVariable%\\x"},
        {"%nosuch%%SystemRoot%", "%nosuch%C:\\WINDOWS"},
        {"50% of 20% and %SystemRoot%", "50% of 20% and C:\\WINDOWS"},
        {"%%SystemRoot%", "%%SystemRoot%"},
        {"%% %SystemRoot%", "%% C:\\WINDOWS"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandEnvText(c.text), c.expanded) << c.text;
}

TEST(ExpandEnvText, EndsForValuesThatHoldReferencesThemselves) {
    // A variable whose value names itself, and one whose value names another.
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Session "
                        "Manager\\Environment]\n"
                        "\"LOOP\"=\"a%LOOP%b\"\n"
                        "\"PCT\"=\"%\"\n");
    machine.shutdown();
    machine.boot(); // the environment is read at boot
    EXPECT_EQ(ExpandEnvText("%PCT%SystemRoot%"), "%SystemRoot%");
    EXPECT_EQ(ExpandEnvText("x%LOOP%y"), "xa%LOOP%by");
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "%LOOP%%";
    EXPECT_FALSE(ExpandEnvText(many).empty());
}

TEST(SplitAtDrives, CutsBeforeEachLaterDriveLetter) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {}},
        {"no drive here", {}},
        {"C:\\a", {"C:\\a"}},
        {"x C:\\a", {"x C:\\a"}},
        {"C:\\aD:\\b", {"C:\\a", "D:\\b"}},
        {"C:\\a D:\\b;E:\\c", {"C:\\a ", "D:\\b;", "E:\\c"}},
        {":\\a:\\b", {":\\", "a:\\b"}},
        {"C:\\:\\", {"C:", "\\:\\"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitAtDrives(c.text), c.pieces) << c.text;
}

TEST(LastBackslash, SkipsSecondBytesOfDoubleByteCharacters) {
    EXPECT_EQ(LastBackslash("C:\\a\\b"), 4u);
    EXPECT_EQ(LastBackslash("C:\\a\\b", 5), std::string::npos);
    EXPECT_EQ(LastBackslash("abc"), std::string::npos);
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage]\n"
                        "\"ACP\"=\"932\"\n");
    machine.shutdown();
    machine.boot();
    ASSERT_EQ(GetACP(), 932u);
    // 0x95 0x5C is one Shift-JIS character, whose second byte is the code of "\".
    EXPECT_EQ(LastBackslash("C:\\x\\\x95\x5C"), 4u);
}

TEST(IsWholeInteger, TheRuntimesIntegerConversion) {
    struct Case {
        const char* text;
        bool whole;
    } cases[] = {
        {"2", true},           {"+2", true},          {"-2", true},        {"007", true},
        {"$1F", true},         {"0x1f", true},        {"0X1F", true},      {"-$10", true},
        {"2147483647", true},  {"-2147483648", true}, {"$FFFFFFFF", true}, {"0xffffffff", true},
        {"2147483648", false}, {"$100000000", false}, {"", false},         {"-", false},
        {"$", false},          {"0x", false},         {"1a", false},       {"12 ", false},
        {" 12", false},        {"x10", false},        {"1.0", false},      {"tlb", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsWholeInteger(c.text), c.whole) << c.text;
}
