// Conversions between the machine's ANSI code page and UTF-16, in both of their forms:
// a new string, or a buffer of the caller's that keeps its room.

#include "win32/base/CodePage.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using win32::CodePage;

namespace {

// Little-endian UTF-16 bytes of `text`, as value data lies in a hive.
std::string bytesOf(std::u16string_view text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes.push_back(char(unit & 0xFF));
        bytes.push_back(char(unit >> 8));
    }
    return bytes;
}

struct Conversion {
    unsigned codePage;
    std::u16string text;
    std::string ansi; // what the text becomes in the code page
};

class CodePageConversion : public testing::TestWithParam<Conversion> {};

TEST_P(CodePageConversion, EveryFormGivesTheSameBytes) {
    const Conversion& c = GetParam();
    std::unique_ptr<CodePage> page;
    try {
        page = std::make_unique<CodePage>(c.codePage);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no converter for code page " << c.codePage;
    }
    EXPECT_EQ(page->fromUnicode(c.text), c.ansi);
    // A buffer that held longer text before is replaced, not appended to.
    std::string out(300, 'x');
    page->fromUnicode(c.text, out);
    EXPECT_EQ(out, c.ansi);
    out.assign(300, 'y');
    page->fromUnicodeBytes(bytesOf(c.text), out);
    EXPECT_EQ(out, c.ansi);
    // A byte left over after the last whole unit is dropped.
    page->fromUnicodeBytes(bytesOf(c.text) + '\x41', out);
    EXPECT_EQ(out, c.ansi);
}

TEST_P(CodePageConversion, TextWithoutUnmappedCharactersComesBack) {
    const Conversion& c = GetParam();
    if (c.ansi.find('?') != std::string::npos && c.text.find(u'?') == std::u16string::npos)
        GTEST_SKIP() << "the text holds a character the code page lacks";
    std::unique_ptr<CodePage> page;
    try {
        page = std::make_unique<CodePage>(c.codePage);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no converter for code page " << c.codePage;
    }
    EXPECT_EQ(page->toUnicode(c.ansi), c.text);
    std::u16string out(300, u'z');
    page->toUnicode(c.ansi, out);
    EXPECT_EQ(out, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CodePageConversion,
    testing::Values(Conversion{1252, u"", ""}, Conversion{1252, u"CLSID\\{0000}", "CLSID\\{0000}"},
                    Conversion{1252, u"Caf\u00e9 \u20ac", "Caf\xe9 \x80"},
                    // A character the code page lacks becomes '?', after ASCII and before it.
                    Conversion{1252, u"ab\u4e2dcd", "ab?cd"},
                    Conversion{437, u"\u00e9t\u00e9", "\x82t\x82"},
                    Conversion{932, u"Setup", "Setup"},
                    Conversion{932, u"A\u3042B",
                               "A\x82\xa0"
                               "B"},
                    Conversion{936, u"x\u4e2dy", "x\xd6\xd0y"},
                    // UTF-8 as the ANSI code page: characters of two, three and four bytes.
                    Conversion{65001, u"na\u00efve", "na\xc3\xafve"},
                    Conversion{65001, u"x\u4e2dy", "x\xe4\xb8\xady"},
                    Conversion{65001, u"\U0001F600!", "\xf0\x9f\x98\x80!"},
                    // EBCDIC: not even ASCII text is its own bytes there.
                    Conversion{1026, u"AZ az", "\xc1\xe9\x40\x81\xa9"},
                    Conversion{1026, u"a\u00e9b", "\x81\x51\x82"}),
    // Named by their place and code page: the text itself is no test name.
    [](const testing::TestParamInfo<Conversion>& info) {
        return "case" + std::to_string(info.index) + "_cp" + std::to_string(info.param.codePage);
    });

} // namespace
