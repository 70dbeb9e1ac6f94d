// The machine's environment: where its variables come from, and their expansion.

#include "support/MachineFixture.h"
#include "win32/base/LastError.h"
#include "win32/registry/Registry.h"
#include "win32/system/Environment.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

std::string expand(const std::string& text) {
    char buffer[1024];
    const DWORD size = ExpandEnvironmentStringsA(text.c_str(), buffer, sizeof buffer);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size, std::strlen(buffer) + 1) << text;
    return buffer;
}

// A REG_EXPAND_SZ value in REGEDIT4 form: the ANSI bytes and their zero.
std::string expandValue(const std::string& text) {
    std::string out = "hex(2):";
    char hex[4];
    for (const char c : text + std::string(1, '\0')) {
        std::snprintf(hex, sizeof hex, "%02x", unsigned(static_cast<unsigned char>(c)));
        out += hex;
        out += ',';
    }
    out.pop_back();
    return out;
}

const char kSystemEnvironment[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

TEST(Environment, TheMachinesOwnVariables) {
    TestMachine machine("", {}, {.user = "Jane"});
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"%SystemRoot%\\system32", "C:\\WINDOWS\\system32"},
        {"%SYSTEMROOT%", "C:\\WINDOWS"},
        {"%systemroot%", "C:\\WINDOWS"},
        {"%windir%", "C:\\WINDOWS"},
        {"%SystemDrive%", "C:"},
        {"%ProgramFiles%\\App", "C:\\Program Files\\App"},
        {"%CommonProgramFiles%", "C:\\Program Files\\Common Files"},
        {"%USERPROFILE%", "C:\\Documents and Settings\\Jane"},
        {"%UserName%", "Jane"},
        {"%HOMEDRIVE%%HOMEPATH%", "C:\\Documents and Settings\\Jane"},
        {"%APPDATA%", "C:\\Documents and Settings\\Jane\\Application Data"},
        {"%ALLUSERSPROFILE%", "C:\\Documents and Settings\\All Users"},
        // the user's TEMP, from HKCU\Environment, expanded
        {"%TEMP%", "C:\\Documents and Settings\\Jane\\Local Settings\\Temp"},
        {"%tmp%", "C:\\Documents and Settings\\Jane\\Local Settings\\Temp"},
        {"%ComSpec%", "C:\\WINDOWS\\system32\\cmd.exe"},
        // references to nothing stay as they are
        {"%NoSuchVariable%\\x", "%NoSuchVariable%\\x"},
        {"%NoSuchVariable%%windir%", "%NoSuchVariable%C:\\WINDOWS"},
        {"100%", "100%"},
        {"%%", "%%"},
        {"a%%b%windir%", "a%%bC:\\WINDOWS"},
        {"%windir", "%windir"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expand(c.text), c.expected) << c.text;
}

TEST(Environment, BufferRules) {
    TestMachine machine;
    const char* text = "%SystemRoot%\\x"; // C:\WINDOWS\x: 12 characters and the zero
    EXPECT_EQ(ExpandEnvironmentStringsA(text, nullptr, 0), 13u);
    char small[12];
    std::memset(small, '#', sizeof small);
    EXPECT_EQ(ExpandEnvironmentStringsA(text, small, sizeof small), 13u);
    EXPECT_EQ(small[0], '#'); // nothing written
    char exact[13];
    EXPECT_EQ(ExpandEnvironmentStringsA(text, exact, sizeof exact), 13u);
    EXPECT_STREQ(exact, "C:\\WINDOWS\\x");
    EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, exact, sizeof exact), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    char value[32];
    EXPECT_EQ(GetEnvironmentVariableA("windir", value, sizeof value), 10u);
    EXPECT_STREQ(value, "C:\\WINDOWS");
    EXPECT_EQ(GetEnvironmentVariableA("WINDIR", value, 10), 11u);
    EXPECT_EQ(GetEnvironmentVariableA("NotSet", value, sizeof value), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
}

// The user's variables win over the system's, except Path, which Windows appends.
TEST(Environment, UserVariablesOverrideAndPathAppends) {
    TestMachine machine(std::string("[") + kSystemEnvironment +
                        "]\n"
                        "\"TEMP\"=" +
                        expandValue("%SystemRoot%\\TEMP") +
                        "\n"
                        "\"Shared\"=\"system\"\n"
                        "\"SystemOnly\"=" +
                        expandValue("%windir%\\only") +
                        "\n"
                        "\"Raw\"=\"%windir% stays\"\n"
                        "\n[HKEY_CURRENT_USER\\Environment]\n"
                        "\"SHARED\"=\"user\"\n"
                        "\"path\"=" +
                        expandValue("%USERPROFILE%\\bin;C:\\Tools") +
                        "\n"
                        "\"Derived\"=" +
                        expandValue("[%SystemOnly%]") + "\n");
    EXPECT_EQ(expand("%shared%"), "user");
    EXPECT_EQ(expand("%TEMP%"), "C:\\Documents and Settings\\Administrator\\Local Settings\\Temp");
    EXPECT_EQ(expand("%SystemOnly%"), "C:\\WINDOWS\\only");
    EXPECT_EQ(expand("%Raw%"), "%windir% stays"); // REG_SZ is not expanded
    EXPECT_EQ(expand("%Derived%"), "[C:\\WINDOWS\\only]");
    EXPECT_EQ(expand("%PATH%"), "C:\\WINDOWS\\system32;C:\\WINDOWS;C:\\WINDOWS\\System32\\Wbem;"
                                "C:\\Documents and Settings\\Administrator\\bin;C:\\Tools");
}

// As a process's environment, it is taken once per boot.
TEST(Environment, TakenOncePerBoot) {
    TestMachine machine;
    EXPECT_EQ(expand("%Later%"), "%Later%");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Later", 0, REG_SZ, reinterpret_cast<const BYTE*>("set"), 4),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(expand("%Later%"), "%Later%");
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(expand("%Later%"), "set");
    machine.shutdown();
    EXPECT_EQ(expand("%windir%"), "%windir%"); // no machine, no environment
    machine.boot();
}

} // namespace
