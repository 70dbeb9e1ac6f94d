// hivewarden-cli's info and restart commands, run as a user runs them.

#include "support/MachineFixture.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(CliInfo, SaysWhenTheInstallationIs64Bit) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"PROCESSOR_ARCHITECTURE"="AMD64"
)reg",
                        {}, {.version = "10.0.19045", .servicePack = ""});
    machine.shutdown();
    const auto info = runCli(machine.folder(), {"info"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.out.substr(0, info.out.find('\n') + 1),
              "Windows:       Windows 10 64-bit 10.0.19045\n");
}

// A machine with SOFTWARE saved and its replacement recorded, shut down with the
// replacement still waiting: its old-file name was taken when the machine was released,
// and is free again now.
void prepareReplacement(TestMachine& machine) {
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software), 0);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}));
    ASSERT_EQ(RegSaveKeyA(software, "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp", nullptr), 0);
    RegCloseKey(software);
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak"),
              0);
    const std::string blocker = machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak");
    QFile file(QString::fromStdString(blocker));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    machine.shutdown();
    ASSERT_EQ(win32::PendingReplacementsOf(machine.folder()).size(), 1u);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(blocker)));
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

QByteArray contentOf(const std::string& path) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void writeText(const std::string& path, const std::string& text) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), qint64(text.size()));
}

// A restart makes a replacement only where nothing is overwritten; the others stay pending.
TEST(CliRestart, NeverOverwritesAFileAndKeepsWhatItCouldNotDoPending) {
    const struct {
        const char* what;
        const char* oldFile; // relative to the machine folder
        bool recordByHand;   // a list that names a file RegReplaceKey would refuse
    } cases[] = {
        {"a file made after the request", "WINDOWS/system32/config/SOFTWARE.rcbak", false},
        {"the live SYSTEM hive", "WINDOWS/system32/config/SYSTEM", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\InCopy]\n");
        prepareReplacement(machine);
        const std::string old = machine.hostPath(c.oldFile);
        if (c.recordByHand)
            writeText(machine.hostPath("hivewarden-pending-replacements.txt"),
                      "C:\\WINDOWS\\system32\\config\\SOFTWARE\tC:\\WINDOWS\\system32\\config\\"
                      "SOFTWARE.rctemp\tC:\\WINDOWS\\system32\\config\\SYSTEM\n");
        else
            writeText(old, "someone's file");
        const QByteArray oldBefore = contentOf(old);
        const std::string software = machine.hostPath("WINDOWS/system32/config/SOFTWARE");
        const QByteArray softwareBefore = contentOf(software);

        const auto restart = runCli(machine.folder(), {"restart"});
        EXPECT_NE(restart.exitCode, 0);
        EXPECT_EQ(restart.out, "");
        EXPECT_NE(restart.err.find("is taken"), std::string::npos) << restart.err;
        EXPECT_NE(restart.err.find("replacement waits"), std::string::npos) << restart.err;
        EXPECT_EQ(contentOf(old), oldBefore);
        EXPECT_EQ(contentOf(software), softwareBefore);
        EXPECT_EQ(win32::PendingReplacementsOf(machine.folder()).size(), 1u);
        machine.boot(); // every hive still mounts
        machine.shutdown();
        if (c.recordByHand)
            continue;
        // Once the name is free again the replacement is made.
        std::filesystem::remove(old);
        const auto again = runCli(machine.folder(), {"restart"});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(again.out.rfind("Replaced ", 0), 0u) << again.out;
        EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    }
}

TEST(CliRestart, RefusesAMachineAnotherProcessHolds) {
    TestMachine machine;
    prepareReplacement(machine);
    machine.boot(); // this process holds the machine now
    const std::string software = machine.hostPath("WINDOWS/system32/config/SOFTWARE");
    const QByteArray before = contentOf(software);
    const auto restart = runCli(machine.folder(), {"restart"});
    EXPECT_NE(restart.exitCode, 0);
    EXPECT_EQ(restart.out, "");
    EXPECT_NE(restart.err.find(machine.folder() + "/hivewarden.lock"), std::string::npos)
        << restart.err;
    EXPECT_NE(restart.err.find("process " + std::to_string(::getpid())), std::string::npos)
        << restart.err;
    EXPECT_EQ(contentOf(software), before);
    EXPECT_FALSE(QFile::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak"))));
    EXPECT_EQ(win32::PendingReplacementsOf(machine.folder()).size(), 1u);
}

TEST(CliRestart, NeedsTheShutdownPrivilege) {
    TestMachine machine;
    prepareReplacement(machine);
    machine.writeIni("[Privileges]\nSeShutdownPrivilege=denied\n");
    const auto restart = runCli(machine.folder(), {"restart"});
    EXPECT_NE(restart.exitCode, 0);
    EXPECT_NE(restart.err.find("privilege"), std::string::npos) << restart.err;
    // Windows was not restarted; but the command let the machine go, which is its next
    // start: what waited for it is made then.
    EXPECT_NE(restart.out.find("Replaced C:\\WINDOWS\\system32\\config\\SOFTWARE"),
              std::string::npos)
        << restart.out;
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
}

// One import that loses the user's profile must not lock the user out of the machine.
TEST(CliBoot, AMachineWithoutItsUserProfileStillTakesCommands) {
    TestMachine machine;
    machine.shutdown();
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                            "ProfileList\\" +
                            machine.userSid();
    QTemporaryDir dir;
    const std::string lose = dir.path().toStdString() + "/lose.reg";
    const std::string fix = dir.path().toStdString() + "/fix.reg";
    writeText(lose, "REGEDIT4\r\n\r\n[" + key + "]\r\n\"ProfileImagePath\"=\"C:\\\\Nowhere\"\r\n");
    writeText(
        fix, "REGEDIT4\r\n\r\n[" + key +
                 "]\r\n\"ProfileImagePath\"=\"C:\\\\Documents and Settings\\\\Administrator\"\r\n");
    auto result = runCli(machine.folder(), {"reg", "import", lose});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    result = runCli(machine.folder(), {"reg", "query", "HKLM\\SYSTEM\\Select"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Current"), std::string::npos);
    // Said once, naming what is missing.
    const size_t warning = result.err.find("warning: No user profile is mounted");
    EXPECT_NE(warning, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("warning:", warning + 1), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("C:\\Nowhere"), std::string::npos) << result.err;

    result = runCli(machine.folder(), {"reg", "query", "HKCU\\Software"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("cannot find the file specified"), std::string::npos) << result.err;

    result = runCli(machine.folder(), {"reg", "import", fix});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    result = runCli(machine.folder(), {"reg", "query", "HKCU\\Software"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

TEST(CliBoot, TheUserMakesADriveWritableWithDrive) {
    TestMachine machine;
    machine.shutdown();
    QTemporaryDir disk;
    const std::string folder = disk.path().toStdString();
    machine.writeIni("[Drives]\nD=" + folder + "\n");
    // The machine's own hivewarden-machine.ini maps D:; --drive adds E: and takes D: over.
    const auto info =
        runCli(machine.folder(), {"--drive", "E=" + folder, "--drive=d:=" + folder, "info"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("  D:  \\Device\\HarddiskVolume2\n  E:  \\Device\\HarddiskVolume3\n"),
              std::string::npos)
        << info.out;
    for (const char* wrong : {"C=/tmp", "D", "=/tmp", "DD=/tmp"}) {
        SCOPED_TRACE(wrong);
        const auto refused = runCli(machine.folder(), {"--drive", wrong, "info"});
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("rive"), std::string::npos) << refused.err;
    }

    // A profile on D: is written only when the user maps D: himself.
    std::filesystem::create_directories(folder + "/Profile");
    std::filesystem::copy_file(machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT"),
                               folder + "/Profile/NTUSER.DAT");
    machine.boot();
    HKEY profile = nullptr;
    const std::string key =
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + machine.userSid();
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &profile), 0);
    const std::string path = "D:\\Profile";
    ASSERT_EQ(RegSetValueExA(profile, "ProfileImagePath", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(path.c_str()), DWORD(path.size() + 1)),
              0);
    RegCloseKey(profile);
    machine.shutdown();
    const std::string reg = machine.hostPath("ond.reg");
    writeText(reg, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\OnD]\r\n");
    const auto without = runCli(machine.folder(), {"reg", "import", reg});
    EXPECT_NE(without.exitCode, 0);
    EXPECT_NE(without.err.find("--drive D="), std::string::npos) << without.err;
    const auto with = runCli(machine.folder(), {"--drive", "D=" + folder, "reg", "import", reg});
    EXPECT_EQ(with.exitCode, 0) << with.err;
    EXPECT_EQ(with.err, "");
    const auto query =
        runCli(machine.folder(), {"--drive", "D=" + folder, "reg", "query", "HKCU\\Software\\OnD"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
}

} // namespace
