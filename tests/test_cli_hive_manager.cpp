// hivewarden-cli's hives, compact, backup, backups and restore, run as a user runs them,
// with the restart that puts compacted and restored hives in place.

#include "hive/HiveFile.h"
#include "support/MachineFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace testing_support;

namespace {

const auto& kHives = kMachineHives;
constexpr size_t kConfigHiveCount = 5; // the first five: what a profile holds

bool haveHivexregedit() {
    return !QStandardPaths::findExecutable("hivexregedit").isEmpty();
}

std::string exportOf(const std::string& hive) {
    const auto result = RunProcess("hivexregedit", {"--export", hive, "\\"});
    EXPECT_EQ(result.exitCode, 0) << hive << ": " << result.err;
    return result.out;
}

std::map<std::string, std::string> exportsOf(const TestMachine& machine, size_t count) {
    std::map<std::string, std::string> out;
    for (size_t i = 0; i < count; ++i)
        out[kHives[i]] = exportOf(machine.hostPath(kHives[i]));
    return out;
}

// Keys in every hive; half of them deleted again, so that the files have holes.
std::string fillAndThin(int count) {
    const char* roots[] = {"HKEY_LOCAL_MACHINE\\SYSTEM", "HKEY_LOCAL_MACHINE\\SOFTWARE",
                           "HKEY_LOCAL_MACHINE\\SAM",    "HKEY_LOCAL_MACHINE\\SECURITY",
                           "HKEY_USERS\\.DEFAULT",       "HKEY_CURRENT_USER\\Software",
                           "HKEY_CLASSES_ROOT\\.hwtest"};
    std::string reg;
    for (const char* root : roots)
        for (int i = 0; i < count; ++i)
            reg += "[" + std::string(root) + "\\Fill\\K" + std::to_string(i) + "]\r\n\"v\"=\"" +
                   std::string(50, char('a' + i % 26)) + "\"\r\n";
    for (const char* root : roots)
        for (int i = 0; i < count; i += 2)
            reg += "[-" + std::string(root) + "\\Fill\\K" + std::to_string(i) + "]\r\n";
    return reg;
}

class CliHiveManager : public ::testing::Test {
protected:
    void SetUp() override { programFolder_ = programDir_.path().toStdString(); }

    ProcessResult cli(const TestMachine& machine, std::vector<std::string> args) const {
        args.insert(args.begin(),
                    {"--machine", machine.folder(), "--program-folder", programFolder_});
        return RunProcess(HW_CLI_PATH, args, {{"HIVEWARDEN_MACHINE", ""}});
    }
    // Imports .reg text into the shut-down machine.
    void import(const TestMachine& machine, const std::string& text) const {
        const std::string file = programFolder_ + "/change.reg";
        QFile out(QString::fromStdString(file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const std::string reg = "REGEDIT4\r\n\r\n" + text;
        out.write(reg.data(), qint64(reg.size()));
        out.close();
        const auto result = cli(machine, {"reg", "import", file});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        QFile::remove(QString::fromStdString(file));
    }

    QTemporaryDir programDir_;
    std::string programFolder_;
};

TEST_F(CliHiveManager, HivesListsEachHiveWithFileOwnerAndSize) {
    TestMachine machine;
    machine.shutdown();
    const auto hives = cli(machine, {"hives"});
    ASSERT_EQ(hives.exitCode, 0) << hives.err;
    const QStringList lines = QString::fromStdString(hives.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(
        lines[1],
        "\\REGISTRY\\MACHINE\\SOFTWARE\tC:\\WINDOWS\\system32\\config\\SOFTWARE\t"
        "SYSTEM\t" +
            QString::number(QFileInfo(QString::fromStdString(machine.hostPath(kHives[1]))).size()));
    EXPECT_TRUE(lines[4].startsWith("\\REGISTRY\\USER\\.DEFAULT\t")) << lines[4].toStdString();
    EXPECT_TRUE(lines[4].contains("\tDEFAULT\t"));
    EXPECT_TRUE(lines[5].contains("\tAdministrator\t"));
}

TEST_F(CliHiveManager, CompactThenRestartPutsDenseCopiesWithTheSameTreesInPlace) {
    if (!haveHivexregedit())
        GTEST_SKIP() << "hivexregedit is not installed";
    TestMachine machine(fillAndThin(400));
    machine.shutdown();
    const auto before = exportsOf(machine, std::size(kHives));
    std::map<std::string, QByteArray> files;
    for (const char* hive : kHives) {
        QFile file(QString::fromStdString(machine.hostPath(hive)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        files[hive] = file.readAll();
    }

    const auto compact = cli(machine, {"compact"});
    ASSERT_EQ(compact.exitCode, 0) << compact.err;
    EXPECT_NE(compact.out.find("Total keys compacted 7"), std::string::npos) << compact.out;
    EXPECT_NE(compact.err.find("Compacting: 100%"), std::string::npos) << compact.err;
    // The command lets the machine go, its next start: the copies take their places then.
    EXPECT_EQ(QString::fromStdString(compact.out).count("Replaced "), 7) << compact.out;
    const auto restart = cli(machine, {"restart"});
    ASSERT_EQ(restart.exitCode, 0) << restart.err;
    EXPECT_EQ(restart.out, "No hive replacements are pending.\n");

    EXPECT_EQ(exportsOf(machine, std::size(kHives)), before);
    for (const char* hive : kHives) {
        SCOPED_TRACE(hive);
        const std::string path = machine.hostPath(hive);
        QFile old(QString::fromStdString(path + ".rcbak"));
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), files[hive]);
        EXPECT_LE(QFileInfo(QString::fromStdString(path)).size(), files[hive].size());
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path + ".rctemp")));
    }
    // The machine takes commands with its compacted hives.
    EXPECT_EQ(cli(machine, {"hives"}).exitCode, 0);
}

TEST_F(CliHiveManager, RestoreOfAProfileBringsBackTheRegistryOfTheBackup) {
    if (!haveHivexregedit())
        GTEST_SKIP() << "hivexregedit is not installed";
    const char* const roots[] = {"HKEY_LOCAL_MACHINE\\SYSTEM", "HKEY_LOCAL_MACHINE\\SOFTWARE",
                                 "HKEY_LOCAL_MACHINE\\SAM", "HKEY_LOCAL_MACHINE\\SECURITY",
                                 "HKEY_USERS\\.DEFAULT"};
    std::string initial;
    for (const char* root : roots)
        initial += "[" + std::string(root) + "\\Doomed]\r\n\"v\"=\"gone\"\r\n[" +
                   std::string(root) + "\\Kept]\r\n\"v\"=\"before\"\r\n";
    TestMachine machine(initial);
    machine.shutdown();
    const auto backup = cli(machine, {"backup", "before the changes"});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_NE(backup.out.find("Backup is complete."), std::string::npos);
    EXPECT_NE(backup.err.find("Backing up: 20%\nBacking up: 40%\nBacking up: 60%\n"
                              "Backing up: 80%\nBacking up: 100%\n"),
              std::string::npos)
        << backup.err;
    const auto atBackup = exportsOf(machine, kConfigHiveCount);

    // Keys added, keys deleted and values changed in every hive of the profile.
    std::string change;
    for (const char* root : roots)
        change += "[-" + std::string(root) + "\\Doomed]\r\n[" + std::string(root) +
                  "\\Added]\r\n\"new\"=dword:00000001\r\n[" + std::string(root) +
                  "\\Kept]\r\n\"v\"=\"after\"\r\n";
    import(machine, change);
    const auto changed = exportsOf(machine, kConfigHiveCount);
    for (const auto& [hive, text] : changed)
        EXPECT_NE(text, atBackup.at(hive)) << hive << " did not change";

    const auto backups = cli(machine, {"backups"});
    ASSERT_EQ(backups.exitCode, 0) << backups.err;
    EXPECT_NE(backups.out.find("\tprofile\tbefore the changes\n"), std::string::npos)
        << backups.out;

    const auto restore = cli(machine, {"restore", "before the changes"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_NE(restore.out.find("You need to restart Windows to complete restoration."),
              std::string::npos);
    const auto restart = cli(machine, {"restart"});
    ASSERT_EQ(restart.exitCode, 0) << restart.err;
    EXPECT_EQ(exportsOf(machine, kConfigHiveCount), atBackup);
}

TEST_F(CliHiveManager, AnUndoFileIsImportedByTheRegistryEditor) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Undone]\r\n\"v\"=\"kept\"\r\n");
    machine.shutdown();
    ASSERT_EQ(cli(machine, {"backup"}).exitCode, 0); // makes the machine's folder
    const QStringList installations =
        QDir(QString::fromStdString(programFolder_)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(installations.size(), 1);
    const std::string undo = programFolder_ + "/" + installations[0].toStdString() +
                             "/Registry Backup/08122026210500.reg";
    ASSERT_EQ(cli(machine, {"export", "HKLM\\SOFTWARE\\Undone", undo}).exitCode, 0);
    ASSERT_EQ(cli(machine, {"reg", "delete", "HKLM\\SOFTWARE\\Undone"}).exitCode, 0);

    const auto restore = cli(machine, {"restore", "08122026210500.reg"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_NE(restore.out.find("Restore successfully"), std::string::npos) << restore.out;
    const auto query = cli(machine, {"reg", "query", "HKLM\\SOFTWARE\\Undone"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_NE(query.out.find("kept"), std::string::npos) << query.out;

    const auto missing = cli(machine, {"restore", "my.registry"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("does not exist, restore failed."), std::string::npos);
}

TEST_F(CliHiveManager, AProfileOfOneMachineIsNeverRestoredOntoAnother) {
    TestMachine first;
    first.shutdown();
    TestMachine second;
    second.shutdown();
    ASSERT_EQ(cli(first, {"backup", "first"}).exitCode, 0);

    const auto backups = cli(second, {"backups"});
    ASSERT_EQ(backups.exitCode, 0) << backups.err;
    EXPECT_EQ(backups.out.find("first"), std::string::npos) << backups.out;
    const auto restore = cli(second, {"restore", "first"});
    EXPECT_NE(restore.exitCode, 0);
    EXPECT_NE(restore.err.find("Backup folder not found, restore failed!"), std::string::npos)
        << restore.err;
    EXPECT_EQ(cli(second, {"restart"}).out, "No hive replacements are pending.\n");
}

TEST_F(CliHiveManager, AFailedRestoreSchedulesNothing) {
    TestMachine machine;
    machine.shutdown();
    ASSERT_EQ(cli(machine, {"backup", "p"}).exitCode, 0);
    const QStringList installations =
        QDir(QString::fromStdString(programFolder_)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(installations.size(), 1);
    const QString sam =
        QString::fromStdString(programFolder_) + "/" + installations[0] + "/Registry Backup/p/SAM";
    ASSERT_TRUE(QFile::remove(sam));
    const auto restore = cli(machine, {"restore", "p"});
    EXPECT_NE(restore.exitCode, 0);
    EXPECT_NE(restore.err.find("restore failed"), std::string::npos) << restore.err;
    EXPECT_EQ(cli(machine, {"restart"}).out, "No hive replacements are pending.\n");
}

} // namespace
