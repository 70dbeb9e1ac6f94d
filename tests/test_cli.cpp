// hivewarden-cli, run as a user runs it.

#include "support/MachineFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class Cli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string machine = dir.path().toStdString() + "/xp";
    std::string programFolder = dir.path().toStdString() + "/program";

    ProcessResult run(std::vector<std::string> args, bool withMachine = true) {
        if (withMachine)
            args.insert(args.begin(), {"--machine", machine});
        return RunProcess(
            HW_CLI_PATH, args,
            {{"HIVEWARDEN_MACHINE", ""}, {"HIVEWARDEN_PROGRAM_FOLDER", programFolder}});
    }

    std::string file(const std::string& name, const std::string& content) {
        const std::string path = dir.path().toStdString() + "/" + name;
        QFile out(QString::fromStdString(path));
        out.open(QIODevice::WriteOnly);
        out.write(content.data(), qint64(content.size()));
        return path;
    }
};

} // namespace

TEST_F(Cli, CreateImportQueryDeleteSave) {
    auto created = run({"machine", "create", machine, "--user", "Alice", "--version", "5.2.3790",
                        "--service-pack", "Service Pack 1"},
                       false);
    ASSERT_EQ(created.exitCode, 0) << created.err;

    const std::string reg = file("in.reg", "REGEDIT4\r\n\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n"
                                           "@=\"default\"\r\n"
                                           "\"Path\"=\"C:\\\\Program Files\\\\App\"\r\n"
                                           "\"Count\"=dword:0000000a\r\n"
                                           "\"Blob\"=hex:de,ad,be,ef\r\n"
                                           "\"List\"=hex(7):61,00,62,00,00\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\Vendor\\Child]\r\n");
    auto imported = run({"reg", "import", reg});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;

    auto query = run({"reg", "query", "HKCU\\Software\\Vendor"});
    ASSERT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "\n"
                         "HKEY_CURRENT_USER\\Software\\Vendor\n"
                         "    (Default)    REG_SZ    default\n"
                         "    Path    REG_SZ    C:\\Program Files\\App\n"
                         "    Count    REG_DWORD    0xa\n"
                         "    Blob    REG_BINARY    DEADBEEF\n"
                         "    List    REG_MULTI_SZ    a\\0b\n"
                         "\n"
                         "HKEY_CURRENT_USER\\Software\\Vendor\\Child\n");

    auto version = run({"reg", "query",
                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\"
                        "CurrentVersion"});
    EXPECT_NE(version.out.find("    CurrentVersion    REG_SZ    5.2\n"), std::string::npos);
    EXPECT_NE(version.out.find("    CSDVersion    REG_SZ    Service Pack 1\n"), std::string::npos);
    EXPECT_NE(version.out.find("    CurrentBuildNumber    REG_SZ    3790\n"), std::string::npos);

    ASSERT_EQ(run({"reg", "delete", "HKCU\\Software\\Vendor", "--value", "Blob"}).exitCode, 0);
    ASSERT_EQ(run({"reg", "delete", "HKCU\\Software\\Vendor", "--value", ""}).exitCode, 0);
    ASSERT_EQ(run({"reg", "delete", "HKCU\\Software\\Vendor\\Child"}).exitCode, 0);
    auto recursive = run({"reg", "query", "HKCU\\Software\\Vendor", "--recursive"});
    EXPECT_EQ(recursive.out, "\n"
                             "HKEY_CURRENT_USER\\Software\\Vendor\n"
                             "    Path    REG_SZ    C:\\Program Files\\App\n"
                             "    Count    REG_DWORD    0xa\n"
                             "    List    REG_MULTI_SZ    a\\0b\n");

    const std::string saved = dir.path().toStdString() + "/vendor.hiv";
    ASSERT_EQ(run({"reg", "save", "HKCU\\Software\\Vendor", saved}).exitCode, 0);
    auto again = run({"reg", "save", "HKCU\\Software\\Vendor", saved});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("Cannot create a file when that file already exists."),
              std::string::npos)
        << again.err;
    // The saved hive holds exactly the subtree: its export is the source's export of it.
    auto exported = RunProcess("hivexregedit", {"--export", saved, "\\"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_NE(exported.out.find("\"Count\"=dword:0000000a"), std::string::npos) << exported.out;
    auto source = RunProcess(
        "hivexregedit",
        {"--export", machine + "/Documents and Settings/Alice/NTUSER.DAT", "\\Software\\Vendor"});
    ASSERT_EQ(source.exitCode, 0) << source.err;
    std::string relative = source.out;
    for (size_t at; (at = relative.find("[\\Software\\Vendor")) != std::string::npos;)
        relative.replace(at, 17, "[\\");
    for (size_t at; (at = relative.find("[\\\\")) != std::string::npos;)
        relative.replace(at, 3, "[\\");
    EXPECT_EQ(exported.out, relative);
    EXPECT_EQ(RunProcess("regfinfo", {saved}).exitCode, 0);
}

TEST_F(Cli, ErrorsGoToStderrWithANonZeroStatus) {
    ASSERT_EQ(run({"machine", "create", machine}, false).exitCode, 0);
    std::filesystem::create_directories(programFolder + "/Sandbox/mine");
    struct Case {
        std::vector<std::string> args;
        bool withMachine;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"reg", "query", "HKLM\\SOFTWARE\\Missing"}, true, "cannot find the file specified"},
        {{"reg", "query", "HKXX\\SOFTWARE"}, true, "Invalid key name"},
        {{"reg", "query"}, true, "Usage: reg query KEY"},
        {{"reg", "frobnicate"}, true, "unknown command"},
        // No machine named, and the sandbox's place taken by a folder that is no machine.
        {{"reg", "query", "HKLM"}, false, "is not a sandbox machine"},
        {{"machine", "create", machine}, false, "not empty"},
        {{"reg", "import", "/nonexistent.reg"}, true, "/nonexistent.reg"},
        {{"reg", "delete", "HKLM"}, true, "Cannot delete a root key"},
        {{"--machine", "/nonexistent", "reg", "query", "HKLM"}, false, "no such machine folder"},
    };
    for (const auto& c : cases) {
        const auto result = run(c.args, c.withMachine);
        EXPECT_NE(result.exitCode, 0) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "") << c.message;
    }
    const std::string bad = file("bad.reg", "this is not a registry file\r\n");
    const auto result = run({"reg", "import", bad});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("not a registry file"), std::string::npos) << result.err;
}

TEST_F(Cli, MachineFromTheEnvironment) {
    ASSERT_EQ(run({"machine", "create", machine}, false).exitCode, 0);
    const auto result = RunProcess(HW_CLI_PATH, {"reg", "query", "HKLM\\SYSTEM\\Select"},
                                   {{"HIVEWARDEN_MACHINE", machine}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("    Current    REG_DWORD    0x1\n"), std::string::npos);
}
