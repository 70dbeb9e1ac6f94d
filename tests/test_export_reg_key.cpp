// Undo files: the bytes ExportRegKey writes, and that importing them brings back exactly
// what was exported.

#include "backup/ExportRegKey.h"
#include "registry/OSInfo.h"
#include "scan/ProblemDeletion.h"
#include "support/MachineFixture.h"
#include "win32/base/CodePage.h"
#include "win32/registry/RegImport.h"
#include "win32/registry/Registry.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>

using namespace testing_support;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LONG SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::string& bytes) {
    HKEY key = nullptr;
    LONG rc =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        DWORD(bytes.size()));
    RegCloseKey(key);
    return rc;
}

// UTF-16LE bytes of ASCII text, as the hive stores strings.
std::string Utf16(const std::string& ascii) {
    std::string out;
    for (const char c : ascii)
        out += std::string{c, '\0'};
    return out;
}

// Every key below root\path with every value's type and stored bytes, read through the
// wide functions so that nothing passes through the code page.
using Tree = std::map<std::u16string, std::map<std::u16string, std::pair<DWORD, std::string>>>;

void ReadTree(HKEY root, const std::u16string& path, Tree& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    auto& values = out[path];
    for (DWORD i = 0;; ++i) {
        char16_t name[16384];
        DWORD nameSize = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != 0)
            break;
        std::string data(size, '\0');
        nameSize = 16384;
        RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &size);
        values[std::u16string(name, nameSize)] = {type, data};
    }
    std::vector<std::u16string> subkeys;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        subkeys.emplace_back(name, size);
    }
    RegCloseKey(key);
    for (const auto& name : subkeys)
        ReadTree(root, path + u"\\" + name, out);
}

Tree TreeOf(HKEY root, const std::u16string& path) {
    Tree tree;
    ReadTree(root, path, tree);
    return tree;
}

class Export : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string file(const std::string& name) const {
        return dir.path().toStdString() + "/" + name;
    }
};

} // namespace

TEST_F(Export, BytesOfANewFileAndOfAnAppend) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n"
                        "@=\"C:\\\\A\"\n"
                        "\"a\\\\b\"=dword:000000ff\n"
                        "\"neg\"=dword:ffffffff\n"
                        "\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,"
                        "13,14,15,16,17,18,19,1a\n"
                        "\"empty\"=hex:\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub]\n"
                        "\"q\"=\"say \\\"hi\\\"\"\n");
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\", undo, "");
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n"
        "@=\"C:\\\\A\"\r\n"
        "\"a\\\\b\"=dword:000000FF\r\n"
        "\"neg\"=dword:FFFFFFFF\r\n"
        "\"bin\"=hex:00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,10,11,12,13,14,15,16,17,"
        "18,19,\\\r\n"
        "1A\r\n"
        "\"empty\"=hex:\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub]\r\n"
        "\"q\"=\"say \\\"hi\\\"\"\r\n";
    EXPECT_EQ(ReadText(undo), expected);

    // A second call appends a block, without a header; the trailing backslash makes no
    // difference.
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T\\Sub", undo, "");
    EXPECT_EQ(ReadText(undo), expected + "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\Sub]\r\n"
                                         "\"q\"=\"say \\\"hi\\\"\"\r\n");
}

TEST_F(Export, OtherFamilyGetsTheOldHeader) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"s\"=\"x\"\n");
    machine.rebootWithIni("[Version]\nPlatform=9x\nVersion=4.10.2222\nCSDVersion=A\n");
    InitOSInfo(); // read once per program; this test changes the machine under it
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", undo, "");
    EXPECT_EQ(ReadText(undo),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"s\"=\"x\"\r\n");
    machine.rebootWithIni("");
    InitOSInfo();
}

TEST_F(Export, ValueFilterAppliesAtEveryLevel) {
    TestMachine machine("[HKEY_CURRENT_USER\\Run]\n\"one\"=\"1\"\n\"two\"=\"2\"\n"
                        "[HKEY_CURRENT_USER\\Run\\Inner]\n\"two\"=\"i2\"\n\"three\"=\"3\"\n"
                        "[HKEY_CURRENT_USER\\Run\\Other]\n\"x\"=\"4\"\n");
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_CURRENT_USER, "Run", undo, "two");
    EXPECT_EQ(ReadText(undo), "Windows Registry Editor Version 5.00\r\n"
                              "\r\n[HKEY_CURRENT_USER\\Run]\r\n\"two\"=\"2\"\r\n"
                              "\r\n[HKEY_CURRENT_USER\\Run\\Inner]\r\n\"two\"=\"i2\"\r\n"
                              "\r\n[HKEY_CURRENT_USER\\Run\\Other]\r\n\"x\"=\"4\"\r\n");
    const std::string all = file("all.reg");
    ExportRegKey(HKEY_CURRENT_USER, "Run\\Other", all, "missing");
    EXPECT_NE(ReadText(all).find("\"x\"=\"4\""), std::string::npos);
}

TEST_F(Export, AKeyThatIsGoneGivesItsKeyLineAlone) {
    TestMachine machine;
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone", undo, "");
    EXPECT_EQ(
        ReadText(undo),
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n");
}

TEST_F(Export, ImportingTheFileBringsBackEveryTypeAndName) {
    TestMachine machine;
    const std::string key = "SOFTWARE\\Round";
    const std::string multi =
        Utf16("one") + std::string(2, '\0') + Utf16("two") + std::string(4, '\0');
    const struct {
        std::string name;
        DWORD type;
        std::string bytes;
    } values[] = {
        {"", REG_SZ, Utf16("default") + std::string(2, '\0')},
        {"plain", REG_SZ, Utf16("C:\\Program Files\\a.exe") + std::string(2, '\0')},
        {"quote \"and\" \\slash\\", REG_SZ, Utf16("say \"hi\" \\") + std::string(2, '\0')},
        {"caf\xe9", REG_SZ, std::string("caf\xe9\0\0\0", 8)},
        {"not in the code page", REG_SZ, std::string("\x16\x04\0\0", 4)},
        {"line break", REG_SZ, Utf16("a\r\nb") + std::string(2, '\0')},
        {"no terminator", REG_SZ, Utf16("abc")},
        {"odd length", REG_SZ, std::string("ab\0", 3)},
        {"empty string", REG_SZ, std::string(2, '\0')},
        {"expand", REG_EXPAND_SZ, Utf16("%SystemRoot%\\x") + std::string(2, '\0')},
        {"multi", REG_MULTI_SZ, multi},
        {"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"short dword", REG_DWORD, std::string("\x01\x02", 2)},
        {"big endian", REG_DWORD_BIG_ENDIAN, std::string("\x12\x34\x56\x78", 4)},
        {"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"none", REG_NONE, std::string("\x00\xff", 2)},
        {"empty none", REG_NONE, ""},
        {"resources", REG_RESOURCE_LIST, std::string(60, '\x5a')},
        {"odd type", 0x12345, "xyz"},
        {"binary", REG_BINARY, std::string(300, '\x7f')},
    };
    for (const auto& v : values)
        ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key, v.name, v.type, v.bytes), ERROR_SUCCESS)
            << v.name;
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key + "\\Sub\\Deeper", "leaf", REG_SZ,
                       Utf16("x") + std::string(2, '\0')),
              ERROR_SUCCESS);
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key + "\\Empty key", "", REG_BINARY, ""), ERROR_SUCCESS);
    const Tree before = TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Round");
    ASSERT_EQ(before.size(), 4u);
    ASSERT_EQ(before.at(u"SOFTWARE\\Round").size(), std::size(values));

    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, key, undo, "");
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_SUCCESS);
    const win32::RegImportResult result = win32::RegImportFile(undo);
    EXPECT_TRUE(result.problems.empty()) << result.problems.front().message;
    EXPECT_EQ(TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Round"), before);
}

TEST_F(Export, ClassesKeyIsWrittenAsTheMachinesAndTheUsersParts) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both]\n@=\"machinefile\"\n"
                        "\"m\"=\"1\"\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both\\MachineOnly]\n"
                        "[HKEY_CURRENT_USER\\Software\\Classes\\.both]\n@=\"userfile\"\n"
                        "[HKEY_CURRENT_USER\\Software\\Classes\\.both\\UserOnly]\n\"u\"=\"2\"\n");
    const Tree machineBefore = TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.both");
    const Tree userBefore = TreeOf(HKEY_CURRENT_USER, u"Software\\Classes\\.both");
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_CLASSES_ROOT, ".both", undo, "");
    EXPECT_EQ(ReadText(undo), "Windows Registry Editor Version 5.00\r\n"
                              "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both]\r\n"
                              "@=\"machinefile\"\r\n\"m\"=\"1\"\r\n"
                              "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both\\MachineOnly]\r\n"
                              "\r\n[HKEY_CURRENT_USER\\Software\\Classes\\.both]\r\n"
                              "@=\"userfile\"\r\n"
                              "\r\n[HKEY_CURRENT_USER\\Software\\Classes\\.both\\UserOnly]\r\n"
                              "\"u\"=\"2\"\r\n");
    ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, ".both"), ERROR_SUCCESS);
    ASSERT_TRUE(TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.both").empty());
    win32::RegImportFile(undo);
    EXPECT_EQ(TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.both"), machineBefore);
    EXPECT_EQ(TreeOf(HKEY_CURRENT_USER, u"Software\\Classes\\.both"), userBefore);
}

TEST_F(Export, NamesAndStringsWithAnEscapeAtEveryPlace) {
    // Each character that is not plain printable ASCII, or that a quoted text escapes, at
    // every place of names and strings of 1 to 20 characters: the plain runs around it are
    // copied many characters at a time.
    TestMachine machine;
    const char specials[] = {'\\', '"', '\t', '\x1f', '\x7f', '\x80', '\xe9', ' ', '~'};
    const auto quoted = [](const std::string& text) {
        std::string out = "\"";
        for (const char c : text)
            out += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
        return out + "\"";
    };
    std::string expected = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Escapes]\r\n";
    int index = 0;
    for (const char special : specials)
        for (size_t length = 1; length <= 20; ++length)
            for (size_t at = 0; at < length; ++at) {
                std::string text;
                for (size_t i = 0; i < length; ++i)
                    text += i == at ? special : char('a' + (i + length) % 26);
                const std::string name = "v" + std::to_string(index++) + "_" + text;
                // Through the code page: stored as UTF-16
                ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Escapes", name, REG_SZ,
                                   text + std::string(1, '\0')),
                          ERROR_SUCCESS);
                expected += quoted(name) + "=" + quoted(text) + "\r\n";
            }
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Escapes", undo, "");
    EXPECT_EQ(ReadText(undo), expected);
}

TEST_F(Export, ANameTheCodePageCannotHoldRaises) {
    // Written as "?", it would come back as another name.
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"s\"=\"x\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", 0, KEY_ALL_ACCESS, &key), 0);
    const char16_t name[] = u"\u0416";
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>("a"), 1), 0);
    RegCloseKey(key);
    EXPECT_THROW(ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE", file("undo.reg"), ""), EExportError);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("undo.reg"))));
}

TEST_F(Export, FileErrorsRaise) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"s\"=\"x\"\n");
    EXPECT_THROW(ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", file("no/such/folder/u.reg"), ""),
                 EExportError);
    EXPECT_THROW(ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", dir.path().toStdString(), ""),
                 EExportError);
}

namespace {

// The values of every type, and the names, that an undo file carries exactly.
struct TypedValue {
    std::string name;
    DWORD type;
    std::string bytes;
};

std::vector<TypedValue> EveryType() {
    const std::string multi =
        Utf16("one") + std::string(2, '\0') + Utf16("two") + std::string(4, '\0');
    return {
        {"", REG_SZ, Utf16("default") + std::string(2, '\0')},
        {"plain", REG_SZ, Utf16("C:\\Program Files\\a.exe") + std::string(2, '\0')},
        {"quote \"and\" \\slash\\", REG_SZ, Utf16("say \"hi\" \\") + std::string(2, '\0')},
        {" blanks around ", REG_SZ, Utf16(" x ") + std::string(2, '\0')},
        {"caf\xe9", REG_SZ, std::string("caf\xe9\0\0\0", 8)},
        {"not in the code page", REG_SZ, std::string("\x16\x04\0\0", 4)},
        {"line break", REG_SZ, Utf16("a\r\nb") + std::string(2, '\0')},
        {"no terminator", REG_SZ, Utf16("abc")},
        {"odd length", REG_SZ, std::string("ab\0", 3)},
        {"empty string", REG_SZ, std::string(2, '\0')},
        {"nothing", REG_SZ, ""},
        {"expand", REG_EXPAND_SZ, Utf16("%SystemRoot%\\x") + std::string(2, '\0')},
        {"expand line break", REG_EXPAND_SZ, Utf16("%a%\nb") + std::string(2, '\0')},
        {"multi", REG_MULTI_SZ, multi},
        {"binary", REG_BINARY, std::string(300, '\x7f')},
        {"empty binary", REG_BINARY, ""},
        {"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"short dword", REG_DWORD, std::string("\x01\x02", 2)},
        {"long dword", REG_DWORD, std::string("\x01\x02\x03\x04\x05", 5)},
        {"big endian", REG_DWORD_BIG_ENDIAN, std::string("\x12\x34\x56\x78", 4)},
        {"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"none", REG_NONE, std::string("\x00\xff", 2)},
        {"empty none", REG_NONE, ""},
        {"link", REG_LINK, Utf16("\\Registry\\Machine\\SOFTWARE\\Target")},
        {"resources", REG_RESOURCE_LIST, std::string(60, '\x5a')},
        {"odd type", 0x12345, "xyz"},
        {"type ffffffff", 0xFFFFFFFF, std::string("\x00\x01", 2)},
    };
}

} // namespace

TEST_F(Export, TheValueFilteredExportBringsBackEveryTypeByteForByte) {
    // The export every value repair makes: one value of each key of the tree.
    TestMachine machine;
    const std::string key = "SOFTWARE\\Filtered";
    int index = 0;
    for (const TypedValue& v : EveryType()) {
        const std::string at = key + "\\" + std::to_string(index++);
        ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, at, v.name, v.type, v.bytes), ERROR_SUCCESS)
            << v.name;
        ASSERT_EQ(
            SetValue(HKEY_LOCAL_MACHINE, at, "other", REG_SZ, Utf16("o") + std::string(2, '\0')),
            ERROR_SUCCESS);
        ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, at + "\\Below", v.name, v.type, v.bytes),
                  ERROR_SUCCESS);
        const Tree before = TreeOf(HKEY_LOCAL_MACHINE, win32::Utf8ToUtf16(at));
        const std::string undo = file("undo" + std::to_string(index) + ".reg");
        ExportRegKey(HKEY_LOCAL_MACHINE, at, undo, v.name.empty() ? "" : v.name);
        for (const std::string& place : {at, at + "\\Below"}) {
            HKEY open = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, place.c_str(), 0, KEY_ALL_ACCESS, &open),
                      0);
            ASSERT_EQ(RegDeleteValueA(open, v.name.c_str()), ERROR_SUCCESS) << v.name;
            RegCloseKey(open);
        }
        const win32::RegImportResult result = win32::RegImportFile(undo);
        EXPECT_TRUE(result.problems.empty())
            << v.name << ": " << (result.problems.empty() ? "" : result.problems.front().message);
        EXPECT_EQ(TreeOf(HKEY_LOCAL_MACHINE, win32::Utf8ToUtf16(at)), before)
            << "value \"" << v.name << "\"\n"
            << ReadText(undo);
    }
}

TEST_F(Export, KeyNamesWithBlanksAndBracketsComeBackExactly) {
    TestMachine machine;
    const std::string key = "SOFTWARE\\Names";
    for (const char* name : {" leading", "in side", "a]b", "[a", "semi;colon", "-dash", "@at"})
        ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, key + "\\" + name + "\\" + name + "2", name, REG_SZ,
                           Utf16("x") + std::string(2, '\0')),
                  ERROR_SUCCESS)
            << name;
    const Tree before = TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Names");
    ASSERT_EQ(before.size(), 15u);
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, key, undo, "");
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()), ERROR_SUCCESS);
    const win32::RegImportResult result = win32::RegImportFile(undo);
    EXPECT_TRUE(result.problems.empty()) << result.problems.front().message;
    EXPECT_EQ(TreeOf(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Names"), before) << ReadText(undo);
}

TEST_F(Export, ANameAnUndoFileCannotCarryRaisesAndNothingIsDeleted) {
    struct Case {
        std::u16string key;   // below SOFTWARE\T
        std::u16string value; // a value of it; empty: its default value
        std::string filter;   // the value filter of the export
        const char* said;     // what the error names
    };
    const Case cases[] = {
        {u"", u"line\nbreak", "", "line\\nbreak"},
        {u"", u"carriage\rreturn", "", "carriage\\rreturn"},
        {u"", u"line\nbreak", "line\nbreak", "line\\nbreak"},
        {u"Inner\\sub\nkey", u"", "", "sub\\nkey"},
        {u"Inner\\sub\rkey", u"", "", "sub\\rkey"},
        {u"Inner\\trailing ", u"", "", "trailing \" cannot"},
        {u"Inner\\tab\t", u"", "", "tab\\x09"},
        {u"Inner\\trailing ", u"v", "v", "ends in a blank"},
    };
    for (const Case& c : cases) {
        TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"s\"=\"x\"\n");
        const std::u16string path = c.key.empty() ? u"SOFTWARE\\T" : u"SOFTWARE\\T\\" + c.key;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  0);
        ASSERT_EQ(
            RegSetValueExW(key, c.value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(u"1"), 4),
            0);
        RegCloseKey(key);
        const std::string undo = file("undo.reg");
        try {
            ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", undo, c.filter);
            ADD_FAILURE() << c.said << ": no error";
        } catch (const EExportError& e) {
            EXPECT_NE(std::string(e.what()).find(c.said), std::string::npos) << e.what();
        }
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(undo))) << c.said;
        // The repair that would delete it stops before anything is deleted.
        if (!c.filter.empty()) {
            const std::string location = "HKEY_LOCAL_MACHINE\\" + win32::Utf16ToUtf8(path);
            EXPECT_THROW(DeleteProblemValue(location, c.filter, undo), EExportError);
        } else {
            EXPECT_THROW(DeleteKeyAtDepth("HKEY_LOCAL_MACHINE\\SOFTWARE\\T", kFullDepth, undo),
                         EExportError);
        }
        EXPECT_FALSE(TreeOf(HKEY_LOCAL_MACHINE, path).empty()) << c.said;
        EXPECT_EQ(TreeOf(HKEY_LOCAL_MACHINE, path).begin()->second.count(c.value), 1u) << c.said;
    }
}

namespace {

// The "hex" form of `bytes` after its prefix, by the rule of the format: a comma after
// every byte but the last, and a backslash and a line end after the comma that follows
// byte i, when i > 0 and i is a multiple of 25.
std::string HexText(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        out += digits[byte >> 4];
        out += digits[byte & 15];
        if (i + 1 < bytes.size()) {
            out += ',';
            if (i > 0 && i % 25 == 0)
                out += "\\\r\n";
        }
    }
    return out;
}

std::string Bytes(size_t count) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = char((i * 37 + 11) & 0xFF);
    return bytes;
}

} // namespace

TEST_F(Export, HexLinesOfEveryLengthAndType) {
    EXPECT_EQ(HexText(Bytes(27)), "0B,30,55,7A,9F,C4,E9,0E,33,58,7D,A2,C7,EC,11,36,5B,80,A5,CA,"
                                  "EF,14,39,5E,83,A8,\\\r\nCD");
    const struct {
        DWORD type;
        const char* prefix;
    } types[] = {{REG_BINARY, "hex:"},          {REG_NONE, "hex(0):"},
                 {REG_QWORD, "hex(b):"},        {0x10, "hex(10):"},
                 {0x12345, "hex(12345):"},      {0xFFFFFFFF, "hex(ffffffff):"},
                 {REG_RESOURCE_LIST, "hex(8):"}};
    const size_t lengths[] = {0, 1, 2, 25, 26, 27, 50, 51, 52, 53, 76, 77, 1000};
    TestMachine machine;
    std::string expected = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hex]\r\n";
    for (const auto& type : types)
        for (const size_t length : lengths) {
            const std::string name = std::string(type.prefix) + std::to_string(length);
            ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hex", name, type.type, Bytes(length)),
                      ERROR_SUCCESS);
            expected += "\"" + name + "\"=" + type.prefix + HexText(Bytes(length)) + "\r\n";
        }
    const std::string undo = file("undo.reg");
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Hex", undo, "");
    EXPECT_EQ(ReadText(undo), expected);
}

TEST_F(Export, AnExportOfManyBlocksArrivesWholeOrNotAtAll) {
    // Text of several of the blocks the export writes at a time, and one value larger than
    // a block.
    TestMachine machine;
    std::string expected = "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Many]\r\n"
                           "\"big\"=hex:" +
                           HexText(Bytes(700000)) + "\r\n";
    ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many", "big", REG_BINARY, Bytes(700000)),
              ERROR_SUCCESS);
    const std::string text(300, 'x');
    for (int i = 0; i < 3000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "k%04d", i);
        ASSERT_EQ(SetValue(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Many\\") + name, "s\\\"",
                           REG_SZ, text + name + '\0'), // text in the code page
                  ERROR_SUCCESS);
        expected += std::string("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Many\\") + name + "]\r\n" +
                    "\"s\\\\\\\"\"=\"" + text + name + "\"\r\n";
    }
    const std::string undo = file("undo.reg");
    const std::string before =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER]\r\n";
    {
        std::ofstream out(undo, std::ios::binary);
        out << before;
    }
    ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many", undo, "");
    ASSERT_GT(expected.size(), 3u << 20);
    EXPECT_TRUE(ReadText(undo) == before + expected) << "the file differs";

    // A write the file system refuses midway (here past a limit on the size of files)
    // raises, and the file keeps what it held before.
    const std::string limited = file("limited.reg");
    {
        std::ofstream out(limited, std::ios::binary);
        out << before;
    }
    rlimit sizes{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &sizes), 0);
    rlimit smaller = sizes;
    smaller.rlim_cur = 2u << 20;
    const auto signalWas = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &smaller), 0);
    try {
        ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many", limited, "");
        ADD_FAILURE() << "no error";
    } catch (const EExportError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot write to file"), std::string::npos)
            << e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &sizes);
    std::signal(SIGXFSZ, signalWas);
    EXPECT_EQ(ReadText(limited), before);

    // A name the file cannot carry, met after most of the text went to the file, leaves the
    // file as it was before the export.
    ASSERT_EQ(
        SetValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many\\zz\nlast", "", REG_SZ, std::string("x", 2)),
        ERROR_SUCCESS);
    EXPECT_THROW(ExportRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Many", undo, ""), EExportError);
    EXPECT_TRUE(ReadText(undo) == before + expected) << "the file differs";
}
