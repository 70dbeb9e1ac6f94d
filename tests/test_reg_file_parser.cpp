#include "win32/registry/RegFileParser.h"

#include "win32/base/CodePage.h"
#include "win32/base/WinTypes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>

using hive::Bytes;
using win32::ParsedRegFile;
using win32::RegFileOperation;
using Kind = win32::RegFileOperation::Kind;
using namespace std::literals;

namespace {

const win32::CodePage& Ansi() {
    static const win32::CodePage codePage(1252);
    return codePage;
}

Bytes BytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Utf16Le(std::u16string_view text) {
    Bytes out;
    for (const char16_t c : text) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

Bytes Utf16File(std::u16string_view text) {
    Bytes out{0xFF, 0xFE};
    const Bytes body = Utf16Le(text);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

ParsedRegFile Parse(std::string_view text) {
    return win32::ParseRegFile(BytesOf(text), Ansi());
}

std::string Problems(const ParsedRegFile& parsed) {
    std::string out;
    for (const auto& problem : parsed.problems)
        out += std::to_string(problem.line) + ": " + problem.message + "\n";
    return out;
}

constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00\r\n";
constexpr std::string_view kVersion4 = "REGEDIT4\r\n";

// Parses one value line inside a key section; the value is the second operation.
RegFileOperation ParseValue(std::string_view header, std::string_view valueLine) {
    const auto parsed =
        Parse(std::string(header) + "[HKEY_CURRENT_USER\\T]\r\n" + std::string(valueLine));
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    EXPECT_EQ(parsed.operations.size(), 2u);
    if (parsed.operations.size() != 2)
        return {};
    EXPECT_EQ(parsed.operations[1].key, u"HKEY_CURRENT_USER\\T");
    EXPECT_EQ(parsed.operations[1].line, 3);
    return parsed.operations[1];
}

TEST(RegFileParser, ValueForms) {
    struct Case {
        const char* line;
        uint32_t type;
        Bytes data;
    };
    const Case cases[] = {
        {R"("a"="x")", REG_SZ, Utf16Le(u"x\0"sv)},
        {R"("a"="")", REG_SZ, {0, 0}},
        {R"("a"="say \"hi\" \\ C:\\dir")", REG_SZ, Utf16Le(u"say \"hi\" \\ C:\\dir\0"sv)},
        {R"("a"="C:\dir\x")", REG_SZ, Utf16Le(u"C:\\dir\\x\0"sv)},
        {"\"a\" = \"x\"  \t", REG_SZ, Utf16Le(u"x\0"sv)},
        {"\"a\"=\"a=b;c\"", REG_SZ, Utf16Le(u"a=b;c\0"sv)},
        {"\"a\"=dword:0000002a", REG_DWORD, {0x2A, 0, 0, 0}},
        {"\"a\"=dword:FFFFfffe", REG_DWORD, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"\"a\"=dword:1", REG_DWORD, {1, 0, 0, 0}},
        {"\"a\"=dword:12345678", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {"\"a\"=DWORD:10", REG_DWORD, {0x10, 0, 0, 0}},
        {"\"a\"=hex:", REG_BINARY, {}},
        {"\"a\"=hex:de,ad,BE,ef", REG_BINARY, {0xDE, 0xAD, 0xBE, 0xEF}},
        {"\"a\"=hex: 1 , 2 ,\t3,", REG_BINARY, {1, 2, 3}},
        {"\"a\"=hex(0):", REG_NONE, {}},
        {"\"a\"=hex(2):25,00,41,00,00,00", REG_EXPAND_SZ, {0x25, 0, 0x41, 0, 0, 0}},
        {"\"a\"=hex(7):61,00,00,00,00,00", REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}},
        {"\"a\"=hex(b):01,02,03,04,05,06,07,08", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"\"a\"=hex(5):00,00,00,01", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
        {"\"a\"=hex(ffffffff):ff", 0xFFFFFFFFu, {0xFF}},
        {"\"a\"=HEX(A):00", REG_RESOURCE_REQUIREMENTS_LIST, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto operation = ParseValue(kVersion5, c.line);
        EXPECT_EQ(operation.kind, Kind::SetValue);
        EXPECT_EQ(operation.name, u"a");
        EXPECT_EQ(operation.type, c.type);
        EXPECT_EQ(operation.data, c.data);
    }
}

TEST(RegFileParser, ValueNames) {
    const std::pair<const char*, std::u16string> cases[] = {
        {R"(@="x")", u""},        {R"(@ = "x")", u""},
        {R"(""="x")", u""},       {R"("a\\b\"c"="x")", u"a\\b\"c"},
        {R"("a=b"="x")", u"a=b"}, {R"("[x]"="x")", u"[x]"},
    };
    for (const auto& [line, name] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(ParseValue(kVersion5, line).name, name);
    }
}

TEST(RegFileParser, KeyLinesAndDeletions) {
    const auto parsed = Parse(std::string(kVersion5) + "[HKEY_CURRENT_USER\\A]\r\n"
                                                       "\"x\"=-\r\n"
                                                       "@=-\r\n"
                                                       "[  HKEY_CURRENT_USER\\B c  ]  \r\n"
                                                       "[-HKEY_CURRENT_USER\\C]\r\n"
                                                       "[HKEY_CURRENT_USER\\D]e]\r\n");
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 6u);
    const auto& ops = parsed.operations;
    EXPECT_EQ(ops[0].kind, Kind::CreateKey);
    EXPECT_EQ(ops[0].key, u"HKEY_CURRENT_USER\\A");
    EXPECT_EQ(ops[1].kind, Kind::DeleteValue);
    EXPECT_EQ(ops[1].key, u"HKEY_CURRENT_USER\\A");
    EXPECT_EQ(ops[1].name, u"x");
    EXPECT_EQ(ops[2].kind, Kind::DeleteValue);
    EXPECT_EQ(ops[2].name, u"");
    EXPECT_EQ(ops[3].kind, Kind::CreateKey);
    EXPECT_EQ(ops[3].key, u"HKEY_CURRENT_USER\\B c");
    EXPECT_EQ(ops[4].kind, Kind::DeleteKey);
    EXPECT_EQ(ops[4].key, u"HKEY_CURRENT_USER\\C");
    EXPECT_EQ(ops[4].line, 6);
    EXPECT_EQ(ops[5].kind, Kind::CreateKey);
    EXPECT_EQ(ops[5].key, u"HKEY_CURRENT_USER\\D]e");
}

TEST(RegFileParser, Utf16FileWithTextOutsideAscii) {
    const auto parsed = win32::ParseRegFile(Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                                                      u"\r\n"
                                                      u"[HKEY_CURRENT_USER\\日本]\r\n"
                                                      u"\"Größe\"=\"日本\"\r\n"),
                                            Ansi());
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 2u);
    EXPECT_EQ(parsed.operations[0].key, u"HKEY_CURRENT_USER\\日本");
    EXPECT_EQ(parsed.operations[1].name, u"Größe");
    EXPECT_EQ(parsed.operations[1].data, Utf16Le(u"日本\0"sv));
    EXPECT_EQ(parsed.operations[1].line, 4);
}

TEST(RegFileParser, AnsiFileUsesTheCodePage) {
    const auto parsed = Parse("REGEDIT4\r\n[HKEY_CURRENT_USER\\Gr\xF6\xDF"
                              "e]\r\n\"Gr\xF6\xDF"
                              "e\"=\"Gr\xF6\xDF"
                              "e\"\r\n");
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 2u);
    EXPECT_EQ(parsed.operations[0].key, u"HKEY_CURRENT_USER\\Größe");
    EXPECT_EQ(parsed.operations[1].name, u"Größe");
    EXPECT_EQ(parsed.operations[1].data, Utf16Le(u"Größe\0"sv));
}

TEST(RegFileParser, Utf8FileWithByteOrderMark) {
    const auto parsed = Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
                              "[HKEY_CURRENT_USER\\A]\n"
                              "\"Gr\xC3\xB6\xC3\x9F"
                              "e\"=\"\xE6\x97\xA5\"\n");
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 2u);
    EXPECT_EQ(parsed.operations[1].name, u"Größe");
    EXPECT_EQ(parsed.operations[1].data, Utf16Le(u"日\0"sv));
}

// REGEDIT4 holds string types as ANSI bytes; version 5 holds them as stored.
TEST(RegFileParser, StringTypesInHexFollowTheVersion) {
    struct Case {
        const char* line;
        Bytes version4;
        Bytes version5;
    };
    const Case cases[] = {
        {"\"a\"=hex(2):25,53,59,53,25,00",
         Utf16Le(u"%SYS%\0"sv),
         {0x25, 0x53, 0x59, 0x53, 0x25, 0x00}},
        {"\"a\"=hex(7):61,00,f6,00,00", Utf16Le(u"a\0ö\0\0"sv), {0x61, 0x00, 0xF6, 0x00, 0x00}},
        {"\"a\"=hex(1):80,00", Utf16Le(u"€\0"sv), {0x80, 0x00}},
        {"\"a\"=hex(2):", {}, {}},
        {"\"a\"=hex:41,00", {0x41, 0x00}, {0x41, 0x00}},
        {"\"a\"=hex(0):41,00", {0x41, 0x00}, {0x41, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ParseValue(kVersion4, c.line).data, c.version4);
        EXPECT_EQ(ParseValue(kVersion5, c.line).data, c.version5);
    }
}

TEST(RegFileParser, ContinuationLines) {
    const auto parsed = Parse(std::string(kVersion5) + "[HKEY_CURRENT_USER\\A]\r\n"
                                                       "\"a\"=hex:01,02,\\\r\n"
                                                       "  03,04,\\\r\n"
                                                       "\t  05\r\n"
                                                       "\"b\"=hex(7):61,\\\n"
                                                       "  00,00\\  \n"
                                                       "  00\n"
                                                       "\"c\"=hex:01,\\\n"
                                                       "\n"
                                                       "\"d\"=dword:1\n");
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 5u);
    EXPECT_EQ(parsed.operations[1].data, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(parsed.operations[1].line, 3);
    EXPECT_EQ(parsed.operations[2].data, (Bytes{0x61, 0, 0, 0}));
    EXPECT_EQ(parsed.operations[2].line, 6);
    EXPECT_EQ(parsed.operations[3].data, (Bytes{1}));
    EXPECT_EQ(parsed.operations[4].name, u"d");
    EXPECT_EQ(parsed.operations[4].line, 11);
}

TEST(RegFileParser, LongContinuationChain) {
    constexpr int kLines = 100000;
    std::string file = std::string(kVersion5) + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:\\\n";
    for (int i = 0; i < kLines; ++i)
        file += "  ab,cd,\\\n";
    file += "  ef\n\"b\"=-\n";
    const auto parsed = Parse(file);
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 3u);
    EXPECT_EQ(parsed.operations[1].data.size(), size_t(kLines) * 2 + 1);
    EXPECT_EQ(parsed.operations[1].data.back(), 0xEF);
    EXPECT_EQ(parsed.operations[2].line, kLines + 5);
}

TEST(RegFileParser, LineEndsCommentsAndBlankLines) {
    const std::string_view lines[] = {
        "",
        "Windows Registry Editor Version 5.00   ",
        "; a comment",
        "   ;indented comment \"x\"=dword:1",
        "",
        "  \t ",
        "[HKEY_CURRENT_USER\\A]",
        "  \"a\"=hex:01,\\",
        "   02",
        "; [HKEY_CURRENT_USER\\NotAKey]",
        "@=\"v\"",
    };
    for (const std::string_view end : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(end)));
        std::string file;
        for (const auto line : lines)
            file += std::string(line) + std::string(end);
        const auto parsed = Parse(file);
        EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
        ASSERT_EQ(parsed.operations.size(), 3u);
        EXPECT_EQ(parsed.operations[0].line, 7);
        EXPECT_EQ(parsed.operations[1].line, 8);
        EXPECT_EQ(parsed.operations[1].data, (Bytes{1, 2}));
        EXPECT_EQ(parsed.operations[2].line, 11);
        EXPECT_EQ(parsed.operations[2].key, u"HKEY_CURRENT_USER\\A");
    }
}

// Each bad line becomes one problem on its own line number and the next entry still arrives.
TEST(RegFileParser, MalformedValueLines) {
    const char* cases[] = {
        "\"a\"=hex:0g",
        "\"a\"=hex:123",
        "\"a\"=hex:01,,02",
        "\"a\"=hex:01 02",
        "\"a\"=hex:01,02 ; comment",
        "\"a\"=hex(zz):01",
        "\"a\"=hex():01",
        "\"a\"=hex(123456789):01",
        "\"a\"=hex(2)01",
        "\"a\"=hex(2:01",
        "\"a\"=hexa:01",
        "\"a\"=dword:",
        "\"a\"=dword:123456789",
        "\"a\"=dword:12g",
        "\"a\"=dword:1 2",
        "\"a\"=qword:1",
        "\"a\"=",
        "\"a\"=-x",
        "\"a\"",
        "\"a\"\"x\"",
        "@\"x\"",
        "\"a=dword:1",
        "\"a\"=\"x",
        "\"a\"=\"x\\\"",
        "\"a\"=\"x\" y",
        "\"a\"=x",
        "garbage",
        "REGEDIT4",
    };
    for (const char* line : cases) {
        SCOPED_TRACE(line);
        const auto parsed = Parse(std::string(kVersion5) + "[HKEY_CURRENT_USER\\A]\r\n" + line +
                                  "\r\n\"ok\"=dword:1\r\n");
        ASSERT_EQ(parsed.problems.size(), 1u) << Problems(parsed);
        EXPECT_EQ(parsed.problems[0].line, 3);
        EXPECT_FALSE(parsed.problems[0].message.empty());
        ASSERT_EQ(parsed.operations.size(), 2u);
        EXPECT_EQ(parsed.operations[1].name, u"ok");
        EXPECT_EQ(parsed.operations[1].line, 4);
    }
}

TEST(RegFileParser, BadHexListConsumesItsContinuationLines) {
    const auto parsed = Parse(std::string(kVersion5) + "[HKEY_CURRENT_USER\\A]\n"
                                                       "\"a\"=hex:01,zz,\\\n"
                                                       "  02,\\\n"
                                                       "  03\n"
                                                       "\"b\"=hex(q):01,\\\n"
                                                       "  02\n"
                                                       "\"ok\"=dword:1\n");
    ASSERT_EQ(parsed.problems.size(), 2u) << Problems(parsed);
    EXPECT_EQ(parsed.problems[0].line, 3);
    EXPECT_EQ(parsed.problems[1].line, 6);
    ASSERT_EQ(parsed.operations.size(), 2u);
    EXPECT_EQ(parsed.operations[1].line, 8);
}

TEST(RegFileParser, ProblemsOutsideSoundKeySections) {
    const auto parsed = Parse(std::string(kVersion5) +       // line 1
                              "\"early\"=dword:1\r\n"        // 2: before any key
                              "[HKEY_CURRENT_USER\\A\r\n"    // 3: no ']'
                              "\"x\"=dword:1\r\n"            // 4: skipped quietly
                              "\"y\"=hex:zz,\\\r\n"          // 5: skipped quietly
                              "  01\r\n"                     // 6
                              "junk\r\n"                     // 7: skipped quietly
                              "[HKEY_CURRENT_USER\\B]\r\n"   // 8
                              "\"b\"=dword:2\r\n"            // 9
                              "[]\r\n"                       // 10: names no key
                              "\"z\"=dword:1\r\n"            // 11: skipped quietly
                              "[HKEY_CURRENT_USER\\C] x\r\n" // 12: text after ']'
                              "[-HKEY_CURRENT_USER\\D]\r\n"  // 13
                              "\"d\"=dword:1\r\n"            // 14: its key is being deleted
                              "[-]\r\n"                      // 15: names no key
                              "[HKEY_CURRENT_USER\\E]\r\n"   // 16
                              "\"e\"=\"\"\r\n");             // 17
    const std::vector<int> problemLines{2, 3, 10, 12, 14, 15};
    std::vector<int> lines;
    for (const auto& problem : parsed.problems)
        lines.push_back(problem.line);
    EXPECT_EQ(lines, problemLines) << Problems(parsed);

    lines.clear();
    for (const auto& operation : parsed.operations)
        lines.push_back(operation.line);
    EXPECT_EQ(lines, (std::vector<int>{8, 9, 13, 16, 17}));
    EXPECT_EQ(parsed.operations[4].key, u"HKEY_CURRENT_USER\\E");
}

TEST(RegFileParser, EndlessJunkKeepsTheProblemListShort) {
    constexpr int kJunkLines = 50000;
    std::string file = std::string(kVersion5);
    for (int i = 0; i < kJunkLines; ++i)
        file += "junk\n";
    file += "[HKEY_CURRENT_USER\\A]\n";
    const auto parsed = Parse(file);
    ASSERT_LE(parsed.problems.size(), 1001u);
    EXPECT_EQ(parsed.problems.front().line, 2);
    // The last entry still says how many more there were and where they start.
    const auto& summary = parsed.problems.back();
    EXPECT_EQ(summary.line, int(parsed.problems.size()) + 1);
    EXPECT_NE(summary.message.find(std::to_string(kJunkLines - parsed.problems.size() + 1)),
              std::string::npos)
        << summary.message;
    ASSERT_EQ(parsed.operations.size(), 1u);
    EXPECT_EQ(parsed.operations[0].line, kJunkLines + 2);
}

TEST(RegFileParser, MissingHeaderThrows) {
    const std::pair<Bytes, std::string> cases[] = {
        {BytesOf(""), "empty"},
        {BytesOf("\r\n  \r\n"), "empty"},
        {BytesOf("REGEDIT5\r\n[HKEY_CURRENT_USER\\A]\r\n"), "REGEDIT5"},
        {BytesOf("Windows Registry Editor Version 5.0\n"), "Version 5.0"},
        {BytesOf("[HKEY_CURRENT_USER\\A]\n\"a\"=dword:1\n"), "HKEY_CURRENT_USER"},
        // Big-endian UTF-16 is not an encoding the editor writes.
        {Bytes{0xFE, 0xFF, 0, 'R', 0, 'E'}, "not a registry file"},
    };
    for (const auto& [file, found] : cases) {
        SCOPED_TRACE(found);
        try {
            win32::ParseRegFile(file, Ansi());
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("not a registry file"), std::string::npos) << message;
            EXPECT_NE(message.find(found), std::string::npos) << message;
        }
    }
}

TEST(RegFileParser, HeaderMayFollowBlankLinesAndHaveTrailingSpaces) {
    const auto parsed = Parse("\r\n\r\nREGEDIT4  \t\r\n[HKEY_CURRENT_USER\\A]\r\n");
    EXPECT_TRUE(parsed.problems.empty()) << Problems(parsed);
    ASSERT_EQ(parsed.operations.size(), 1u);
    EXPECT_EQ(parsed.operations[0].line, 4);
}

TEST(RegFileParser, ManyKeySections) {
    constexpr int kKeys = 5000;
    std::u16string file = u"Windows Registry Editor Version 5.00\r\n";
    for (int i = 0; i < kKeys; ++i) {
        const auto number = std::to_string(i);
        file += u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\K" +
                std::u16string(number.begin(), number.end()) + u"]\r\n\"v\"=dword:" +
                std::u16string(number.begin(), number.end()) + u"\r\n";
    }
    const auto parsed = win32::ParseRegFile(Utf16File(file), Ansi());
    EXPECT_TRUE(parsed.problems.empty());
    ASSERT_EQ(parsed.operations.size(), size_t(kKeys) * 2);
    const auto& last = parsed.operations.back();
    EXPECT_EQ(last.key, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K4999");
    EXPECT_EQ(last.data, (Bytes{0x99, 0x49, 0, 0}));
    EXPECT_EQ(last.line, 1 + kKeys * 3);
}

// A file cut off anywhere parses or throws; a cut inside an entry never imports it whole.
TEST(RegFileParser, TruncatedFilesAreHandled) {
    const Bytes file = Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                                 u"[HKEY_CURRENT_USER\\A]\r\n"
                                 u"\"s\"=\"text\"\r\n"
                                 u"\"h\"=hex:01,02,\\\r\n"
                                 u"  03\r\n");
    for (size_t size = 0; size <= file.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes cut(file.begin(), file.begin() + ptrdiff_t(size));
        try {
            const auto parsed = win32::ParseRegFile(cut, Ansi());
            for (const auto& operation : parsed.operations) {
                if (operation.name == u"s") {
                    EXPECT_EQ(operation.data, Utf16Le(u"text\0"sv));
                }
            }
        } catch (const std::runtime_error&) {
        }
    }
}

} // namespace
