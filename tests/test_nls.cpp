#include "win32/base/LastError.h"
#include "win32/system/Nls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Nls, UpperCaseThroughTheAnsiCodePage) {
    // Without a booted machine the code page is 1252.
    ASSERT_EQ(GetACP(), 1252u);
    struct Case {
        std::string in, out;
    } cases[] = {
        {"abc xyz 123", "ABC XYZ 123"},
        {"\xE9t\xE9", "\xC9T\xC9"}, // é -> É
        {"\xFF", "\x9F"},           // ÿ -> Ÿ, which 1252 holds at 0x9F
        {"\xB5\xDF", "\xB5\xDF"},   // µ and ß have no single upper case in 1252
        {"\x9A", "\x8A"},           // š -> Š
    };
    for (Case& c : cases) {
        std::string text = c.in;
        CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
        EXPECT_EQ(text, c.out) << c.in;
    }
}

TEST(Nls, ConversionsReportTheSizeNeededAndRefuseShortBuffers) {
    const char* ansi = "caf\xE9";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0), 5);
    char16_t wide[5];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 5), 5);
    EXPECT_EQ(std::u16string(wide), u"caf\u00E9");

    char16_t tooSmall[2];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, -1, tooSmall, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    char back[8] = {};
    BOOL usedDefault = TRUE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"caf\u00E9", 4, back, 8, nullptr, &usedDefault), 4);
    EXPECT_EQ(std::string(back), ansi);
    EXPECT_FALSE(usedDefault);
    WideCharToMultiByte(CP_ACP, 0, u"\u4E2D", 1, back, 8, nullptr, &usedDefault);
    EXPECT_TRUE(usedDefault);
}

} // namespace
