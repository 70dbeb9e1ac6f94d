// hivewarden-cli's backup, backups and restore with what a user's "Registry Backup" may
// hold besides whole profiles: backups killed or starved of disk, stray entries, links,
// and files that only look like undo files.

#include "support/MachineFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace testing_support;

namespace {

std::string manyKeys(int count) {
    std::string reg;
    for (int i = 0; i < count; ++i)
        reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bulk\\Key" + std::to_string(i) + "]\r\n\"text\"=\"" +
               std::string(60, char('a' + i % 26)) + "\"\r\n";
    return reg;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class CliBackupProfiles : public ::testing::Test {
protected:
    void SetUp() override {
        machine_.emplace(manyKeys(1500));
        machine_->shutdown();
        // The first backup makes the machine's program folder.
        const auto first = cli({"backup", "whole"});
        ASSERT_EQ(first.exitCode, 0) << first.err;
        const QStringList installations =
            QDir(programDir_.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        ASSERT_EQ(installations.size(), 1);
        backups_ = programDir_.path() + "/" + installations[0] + "/Registry Backup";
    }

    QStringList cliArguments(const std::vector<std::string>& args) const {
        QStringList all{"--machine", QString::fromStdString(machine_->folder()), "--program-folder",
                        programDir_.path()};
        for (const std::string& arg : args)
            all << QString::fromStdString(arg);
        return all;
    }
    ProcessResult cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--machine", machine_->folder(), "--program-folder",
                                   programDir_.path().toStdString()});
        return RunProcess(HW_CLI_PATH, args, {{"HIVEWARDEN_MACHINE", ""}});
    }
    // Every entry of "Registry Backup", hidden ones included.
    QStringList everything() const {
        return QDir(backups_).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // The names `backups` lists, in its order.
    QStringList listed() const {
        const auto result = cli({"backups"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        QStringList names;
        for (const QString& line :
             QString::fromStdString(result.out).split('\n', Qt::SkipEmptyParts))
            if (line.count('\t') == 2)
                names << line.section('\t', 2);
        return names;
    }

    QTemporaryDir programDir_;
    std::optional<TestMachine> machine_;
    QString backups_;
};

TEST_F(CliBackupProfiles, BackupsListsUndoFilesAndWholeProfilesOnly) {
    writeFile(backups_ + "/notes.txt", "not a backup");
    ASSERT_TRUE(QDir().mkpath(backups_ + "/empty"));
    ASSERT_TRUE(QDir().mkpath(backups_ + "/.half.partial"));
    // Even one that holds all a profile holds, before the backup gives it its name.
    ASSERT_TRUE(QDir().mkpath(backups_ + "/.done.partial"));
    for (const QString& file : QDir(backups_ + "/whole").entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(backups_ + "/whole/" + file, backups_ + "/.done.partial/" + file));
    writeFile(backups_ + "/08122026210500.reg", "Windows Registry Editor Version 5.00\r\n\r\n");
    // A profile that lost its last hive's entry, and one that lost a hive file.
    for (const char* name : {"four entries", "missing hive"}) {
        ASSERT_TRUE(QDir().mkpath(backups_ + "/" + name));
        for (const QString& file : QDir(backups_ + "/whole").entryList(QDir::Files))
            ASSERT_TRUE(
                QFile::copy(backups_ + "/whole/" + file, backups_ + "/" + name + "/" + file));
    }
    QFile ini(backups_ + "/four entries/config.ini");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    QByteArray text = ini.readAll();
    ini.close();
    writeFile(ini.fileName(), text.left(text.indexOf("[DEFAULT]")));
    ASSERT_TRUE(QFile::remove(backups_ + "/missing hive/SAM"));
    // A link to a profile elsewhere is none of this machine's.
    ASSERT_TRUE(QFile::link(backups_ + "/whole", backups_ + "/alias"));

    EXPECT_EQ(listed(), (QStringList{"08122026210500.reg", "whole"}));
}

TEST_F(CliBackupProfiles, ASymbolicLinkForRegistryBackupIsRefused) {
    QTemporaryDir outside;
    ASSERT_TRUE(QDir(backups_).removeRecursively());
    ASSERT_TRUE(QFile::link(outside.path(), backups_));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"backups"},
                                                 {"backup", "elsewhere"},
                                                 {"restore", "whole"},
                                                 {"restore", "x.reg"}}) {
        const auto result = cli(args);
        EXPECT_NE(result.exitCode, 0) << args[0];
        EXPECT_NE(result.err.find(backups_.toStdString() + " is a symbolic link"),
                  std::string::npos)
            << result.err;
    }
    EXPECT_TRUE(
        QDir(outside.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(CliBackupProfiles, RestoreOfAFileThatIsNoUndoFileShowsNothingOfIt) {
    writeFile(backups_ + "/secret.reg", "TOPSECRET=hunter2\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n");
    const auto result = cli({"restore", "secret.reg"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("is no undo file"), std::string::npos) << result.err;
    EXPECT_EQ((result.out + result.err).find("TOPSECRET"), std::string::npos) << result.err;

    // Nor is a link to a file of the host followed.
    QTemporaryDir host;
    writeFile(host.path() + "/passwd", "TOPSECRET:x:0:0\n");
    ASSERT_TRUE(QFile::link(host.path() + "/passwd", backups_ + "/linked.reg"));
    const auto linked = cli({"restore", "linked.reg"});
    EXPECT_NE(linked.exitCode, 0);
    EXPECT_NE(linked.err.find("is a symbolic link"), std::string::npos) << linked.err;
    EXPECT_EQ((linked.out + linked.err).find("TOPSECRET"), std::string::npos) << linked.err;
}

TEST_F(CliBackupProfiles, AKilledBackupLeavesNoProfileAndTheNextOneClearsItsRest) {
    // Killed while it writes its profile: as soon as the unfinished folder holds a file.
    bool killedInTime = false;
    for (int attempt = 0; attempt < 5 && !killedInTime; ++attempt) {
        QProcess backup;
        backup.start(HW_CLI_PATH, cliArguments({"backup", "killed"}));
        ASSERT_TRUE(backup.waitForStarted());
        QElapsedTimer timer;
        timer.start();
        while (!backup.waitForFinished(1) && timer.elapsed() < 60000) {
            if (!QDir(backups_ + "/.killed.partial").isEmpty(QDir::Files | QDir::Hidden)) {
                ::kill(pid_t(backup.processId()), SIGKILL);
                killedInTime = true;
                break;
            }
        }
        backup.waitForFinished();
        if (!killedInTime) {
            ASSERT_TRUE(QDir(backups_ + "/killed").removeRecursively());
        }
    }
    ASSERT_TRUE(killedInTime) << "the backup always ended before it could be killed";
    EXPECT_TRUE(everything().contains(".killed.partial"));
    EXPECT_EQ(listed(), QStringList{"whole"});

    const auto next = cli({"backup", "next"});
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(everything(), (QStringList{"next", "whole"}));
    EXPECT_EQ(listed(), (QStringList{"next", "whole"}));
}

TEST_F(CliBackupProfiles, ABackupOnAFullDiskLeavesNoProfile) {
    QProcess backup;
    // No file of the program grows past 64 KB: SOFTWARE's copy cannot be written.
    backup.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    backup.start(HW_CLI_PATH, cliArguments({"backup", "starved"}));
    ASSERT_TRUE(backup.waitForFinished(120000));
    EXPECT_NE(backup.exitCode(), 0);
    const std::string err = backup.readAllStandardError().toStdString();
    EXPECT_NE(err.find("nothing of it was kept"), std::string::npos) << err;
    EXPECT_EQ(everything(), QStringList{"whole"});

    const auto next = cli({"backup", "starved"});
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(everything(), (QStringList{"starved", "whole"}));
}

} // namespace
