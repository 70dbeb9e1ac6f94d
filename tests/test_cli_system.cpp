// hivewarden-cli's info and restart commands, run as a user runs them.

#include "support/MachineFixture.h"
#include "win32/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

ProcessResult runCli(const std::string& machine, std::vector<std::string> args) {
    args.insert(args.begin(), {"--machine", machine});
    return RunProcess(HW_CLI_PATH, args, {{"HIVEWARDEN_MACHINE", ""}});
}

TEST(CliInfo, ShowsVersionUserRightsAndDrives) {
    win32::NewMachine options;
    options.user = "Alice";
    TestMachine machine({}, {}, options);
    machine.shutdown();
    const auto info = runCli(machine.folder(), {"info"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.out, "Windows:       Windows XP 5.1.2600\n"
                        "Service pack:  Service Pack 2\n"
                        "User:          Alice\n"
                        "Administrator: yes\n"
                        "Drives:\n"
                        "  C:  \\Device\\HarddiskVolume1\n");
    const auto wrong = runCli(machine.folder(), {"info", "extra"});
    EXPECT_NE(wrong.exitCode, 0);
}

// A machine with SOFTWARE saved and its replacement recorded, shut down.
void prepareReplacement(TestMachine& machine) {
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software), 0);
    ASSERT_EQ(RegSaveKeyA(software, "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp", nullptr), 0);
    RegCloseKey(software);
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak"),
              0);
    machine.shutdown();
}

TEST(CliRestart, MakesThePendingReplacements) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\InCopy]\n");
    prepareReplacement(machine);
    const auto restart = runCli(machine.folder(), {"restart"});
    ASSERT_EQ(restart.exitCode, 0) << restart.err;
    EXPECT_EQ(restart.out, "Replaced C:\\WINDOWS\\system32\\config\\SOFTWARE with "
                           "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp; the old hive is "
                           "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak\n");
    EXPECT_TRUE(QFile::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak"))));
    const auto again = runCli(machine.folder(), {"restart"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, "No hive replacements are pending.\n");
}

TEST(CliRestart, ReportsAReplacementThatCannotBeMade) {
    TestMachine machine;
    prepareReplacement(machine);
    ASSERT_TRUE(QFile::remove(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rctemp"))));
    const auto restart = runCli(machine.folder(), {"restart"});
    EXPECT_EQ(restart.exitCode, 1);
    EXPECT_EQ(restart.out, "");
    EXPECT_EQ(restart.err.rfind("Failed: C:\\WINDOWS\\system32\\config\\SOFTWARE from "
                                "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp: ",
                                0),
              0u)
        << restart.err;
    // The hive itself is untouched and still mounts.
    machine.boot();
}

} // namespace
