// A .reg file imported through the command line, checked in the hive file with
// libhivex's own exporter.

#include "hive/HiveFile.h"
#include "support/MachineFixture.h"
#include "win32/base/CodePage.h"
#include "win32/registry/HiveValues.h"

#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>

using namespace testing_support;

namespace {

std::string hexList(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (const unsigned char b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x", b);
        out += (out.empty() ? "" : ",") + std::string(buffer);
    }
    return out;
}

// hivexregedit's line for a string value: UTF-16LE bytes with the terminator.
std::string stringLine(const std::string& nameLatin1, const std::u16string& text, int type = 1) {
    std::string bytes;
    for (const char16_t c : text + u'\0') {
        bytes.push_back(char(c & 0xFF));
        bytes.push_back(char(c >> 8));
    }
    return (nameLatin1.empty() ? "@" : "\"" + nameLatin1 + "\"") + "=hex(" + std::to_string(type) +
           "):" + hexList(bytes);
}

void writeFile(const std::string& path, const std::string& content) {
    QFile out(QString::fromStdString(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(content.data(), qint64(content.size()));
}

} // namespace

TEST(ImportExport, EveryValueFormNonAsciiAndManySubkeysReachTheHive) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Accept\\Deleted\\Deep]\n");
    machine.shutdown();

    std::string big;
    for (int i = 0; i < 20000; ++i)
        big.push_back(char(i * 7));
    std::string bigHex;
    for (size_t i = 0; i < big.size(); ++i)
        bigHex += hexList(big.substr(i, 1)) +
                  (i + 1 < big.size() ? (i % 25 == 24 ? ",\\\r\n  " : ",") : "");

    // Code page 1252: "Größe", "Café €".
    std::string reg = "REGEDIT4\r\n\r\n; a comment\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Accept]\r\n"
                      "@=\"default text\"\r\n"
                      "\"sz\"=\"a \\\"quoted\\\" \\\\ backslash\"\r\n"
                      "\"Gr\xF6\xDF"
                      "e\"=\"Caf\xE9 \x80\"\r\n"
                      "\"dw\"=dword:deadbeef\r\n"
                      "\"bin\"=hex:00,01,02,ff\r\n"
                      "\"empty\"=hex:\r\n"
                      "\"exp\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,00\r\n"
                      "\"multi\"=hex(7):6f,6e,65,00,74,77,6f,00,00\r\n"
                      "\"qw\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                      "\"none\"=hex(0):\r\n"
                      "\"cont\"=hex:01,02,\\\r\n  03,04\r\n"
                      "\"big\"=hex:" +
                      bigHex +
                      "\r\n"
                      "\"gone\"=\"x\"\r\n"
                      "\"gone\"=-\r\n"
                      "this line is malformed\r\n"
                      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Accept\\Deleted]\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Accept\\Caf\xE9]\r\n";
    for (int i = 0; i < 5000; ++i) {
        char line[128];
        std::snprintf(
            line, sizeof line,
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Accept\\Many\\Key%04d]\r\n\"v\"=dword:%08x\r\n",
            (i * 7919) % 5000, i);
        reg += line;
    }
    const std::string regPath = machine.folder() + "/../accept.reg";
    writeFile(regPath, reg);

    const auto imported =
        RunProcess(HW_CLI_PATH, {"--machine", machine.folder(), "reg", "import", regPath});
    EXPECT_EQ(imported.exitCode, 1) << "one malformed line";
    const auto malformed =
        std::count(reg.begin(), reg.begin() + long(reg.find("this line")), '\n') + 1;
    EXPECT_NE(imported.err.find("accept.reg:" + std::to_string(malformed) + ":"), std::string::npos)
        << imported.err;

    const auto exported =
        RunProcess("hivexregedit",
                   {"--export", machine.hostPath("WINDOWS/system32/config/SOFTWARE"), "\\Accept"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    std::set<std::string> lines;
    std::string line;
    for (const char c : exported.out) {
        if (c == '\n') {
            lines.insert(line);
            line.clear();
        } else if (c != '\r') {
            line.push_back(c);
        }
    }
    const std::string expected[] = {
        "[\\Accept]",
        stringLine("", u"default text"),
        stringLine("sz", u"a \"quoted\" \\ backslash"),
        stringLine("Gr\xF6\xDF"
                   "e",
                   u"Café €"),
        "\"dw\"=dword:deadbeef",
        "\"bin\"=hex(3):00,01,02,ff",
        "\"empty\"=hex(3):",
        stringLine("exp", u"%SystemRoot%", 2),
        "\"multi\"=hex(7):" + hexList(std::string("o\0n\0e\0\0\0t\0w\0o\0\0\0\0\0", 18)),
        "\"qw\"=hex(b):01,02,03,04,05,06,07,08",
        "\"none\"=hex(0):",
        "\"cont\"=hex(3):01,02,03,04",
        "\"big\"=hex(3):" + hexList(big),
        "[\\Accept\\Caf\xE9]",
    };
    for (const auto& e : expected)
        EXPECT_TRUE(lines.count(e)) << e.substr(0, 200);
    for (int i = 0; i < 5000; ++i) {
        char key[64], value[64];
        std::snprintf(key, sizeof key, "[\\Accept\\Many\\Key%04d]", (i * 7919) % 5000);
        std::snprintf(value, sizeof value, "\"v\"=dword:%08x", i);
        ASSERT_TRUE(lines.count(key)) << key;
        ASSERT_TRUE(lines.count(value)) << value;
    }
    for (const auto& l : lines) {
        EXPECT_EQ(l.find("gone"), std::string::npos);
        EXPECT_EQ(l.find("Deleted"), std::string::npos);
    }
    const auto regfinfo =
        RunProcess("regfinfo", {machine.hostPath("WINDOWS/system32/config/SOFTWARE")});
    EXPECT_EQ(regfinfo.exitCode, 0) << regfinfo.err;
}

TEST(ImportExport, UnicodeFileKeepsNamesTheCodePageCannotHold) {
    TestMachine machine;
    machine.shutdown();
    const std::u16string text = u"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\Software\\日本]\r\n"
                                u"\"Ωmega\"=\"кириллица\"\r\n";
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    const std::string regPath = machine.folder() + "/../unicode.reg";
    writeFile(regPath, bytes);
    const auto imported =
        RunProcess(HW_CLI_PATH, {"--machine", machine.folder(), "reg", "import", regPath});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    const auto hive =
        hive::LoadHiveFile(machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT"));
    const hive::HiveKey* key = win32::FindKey(hive.root.get(), u"Software\\日本");
    ASSERT_TRUE(key);
    EXPECT_EQ(win32::StringValue(*key, u"Ωmega"), u"кириллица");
}
