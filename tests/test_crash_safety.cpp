// A process killed while it writes the hives leaves every hive loadable.

#include "hive/HiveFile.h"
#include "hive/HiveSetAside.h"
#include "support/HiveCompare.h"
#include "support/MachineFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

const auto& kHives = kMachineHives;

std::string manyKeys(const char* root, int count, int round) {
    std::string reg;
    for (int i = 0; i < count; ++i)
        reg += "[" + std::string(root) + "\\Bulk\\Key" + std::to_string(i) +
               "]\r\n\"round\"=dword:" + std::to_string(10000000 + round) + "\r\n\"text\"=\"" +
               std::string(40, 'a' + i % 26) + "\"\r\n";
    return reg;
}

} // namespace

TEST(CrashSafety, KillDuringFlushLeavesEveryHiveLoadable) {
    TestMachine machine(manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 20000, 0) +
                        manyKeys("HKEY_CURRENT_USER\\Software", 5000, 0));
    machine.shutdown();

    // Each run changes a few keys of three hives; writing them back is most of its work.
    const std::string regPath = machine.folder() + "/../change.reg";
    auto writeChange = [&](int round) {
        QFile out(QString::fromStdString(regPath));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const std::string text = "REGEDIT4\r\n\r\n" +
                                 manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 3, round) +
                                 manyKeys("HKEY_LOCAL_MACHINE\\SYSTEM", 3, round) +
                                 manyKeys("HKEY_CURRENT_USER\\Software", 3, round);
        out.write(text.data(), qint64(text.size()));
    };
    const QStringList args{"--machine", QString::fromStdString(machine.folder()), "reg", "import",
                           QString::fromStdString(regPath)};

    writeChange(1);
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(QProcess::execute(HW_CLI_PATH, args), 0);
    const qint64 fullRun = std::max<qint64>(timer.elapsed(), 20);

    const int rounds = 24;
    for (int round = 0; round < rounds; ++round) {
        writeChange(round + 2);
        QProcess cli;
        cli.start(HW_CLI_PATH, args);
        ASSERT_TRUE(cli.waitForStarted());
        // Kill points spread over the whole run, most of which is spent writing hives.
        QThread::msleep(unsigned(fullRun * round / rounds));
        cli.kill();
        cli.waitForFinished();
        for (const char* hive : kHives) {
            SCOPED_TRACE(std::string(hive) + " after a kill at round " + std::to_string(round));
            EXPECT_NO_THROW(hive::LoadHiveFile(machine.hostPath(hive)));
        }
    }
    // The machine still boots, with the lock of the killed process gone with it.
    EXPECT_NO_THROW(machine.boot());
}

TEST(CrashSafety, KilledReplacementLeavesTheOldFileOrTheNewOneWhole) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/hive";
    // Large enough that a kill lands inside the write or the flush most of the time.
    const size_t size = 48u << 20;
    const auto fileOf = [size](char fill) { return hive::Bytes(size, uint8_t(fill)); };
    hive::ReplaceFileAtomically(path, fileOf('a'));

    for (int round = 0; round < 8; ++round) {
        const char fill = char('b' + round);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            hive::ReplaceFileAtomically(path, fileOf(fill));
            _exit(0);
        }
        QThread::msleep(unsigned(20 + round * 40));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        ASSERT_EQ(size_t(content.size()), size) << "round " << round;
        const char first = content.at(0);
        EXPECT_TRUE(first == fill || first == char(fill - 1) || first == 'a') << "round " << round;
        EXPECT_EQ(content.count(first), content.size()) << "a torn file at round " << round;
        if (first != fill) // the kill came first: write the round's file for the next one
            hive::ReplaceFileAtomically(path, fileOf(fill));
    }
}

TEST(CrashSafety, KillDuringCompactionOrRestoreLeavesEveryHiveLoadableAfterTheRestart) {
    TestMachine machine(manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 20000, 0) +
                        manyKeys("HKEY_LOCAL_MACHINE\\SYSTEM", 5000, 0) +
                        manyKeys("HKEY_CURRENT_USER\\Software", 5000, 0));
    machine.shutdown();
    QTemporaryDir programFolder;
    auto argsOf = [&](const QStringList& command) {
        return QStringList{"--machine", QString::fromStdString(machine.folder()),
                           "--program-folder", programFolder.path()} +
               command;
    };
    ASSERT_EQ(QProcess::execute(HW_CLI_PATH, argsOf({"backup", "p"})), 0);

    // How long each whole run takes, for kill points spread over it.
    qint64 fullRun[2] = {};
    const QStringList operations[2] = {{"compact"}, {"restore", "p"}};
    for (int op = 0; op < 2; ++op) {
        QElapsedTimer timer;
        timer.start();
        ASSERT_EQ(QProcess::execute(HW_CLI_PATH, argsOf(operations[op])), 0);
        fullRun[op] = std::max<qint64>(timer.elapsed(), 20);
        ASSERT_EQ(QProcess::execute(HW_CLI_PATH, argsOf({"restart"})), 0);
    }

    const int rounds = 16;
    for (int round = 0; round < rounds; ++round) {
        const int op = round % 2;
        QProcess cli;
        cli.start(HW_CLI_PATH, argsOf(operations[op]));
        ASSERT_TRUE(cli.waitForStarted());
        QThread::msleep(unsigned(fullRun[op] * (round / 2) / (rounds / 2)));
        cli.kill();
        cli.waitForFinished();
        // What was asked for before the kill is made; what was not stays as it was.
        QProcess restart;
        restart.start(HW_CLI_PATH, argsOf({"restart"}));
        ASSERT_TRUE(restart.waitForFinished(120000));
        EXPECT_EQ(restart.exitCode(), 0) << restart.readAllStandardError().toStdString();
        for (const char* hive : kHives) {
            SCOPED_TRACE(std::string(hive) + " after a kill of " +
                         operations[op].join(' ').toStdString() + " at round " +
                         std::to_string(round));
            EXPECT_NO_THROW(hive::LoadHiveFile(machine.hostPath(hive)));
        }
    }
    EXPECT_NO_THROW(machine.boot());
}

// A writable mount of a hive Windows did not finish keeps the hive and its logs and writes
// the recovered hive in its place. Killed at any point, it leaves Windows either the hive
// with the logs it needs, or the recovered hive, clean, with its originals kept beside it.
TEST(CrashSafety, KillDuringRecoveryLeavesTheOriginalsOrTheRecoveredHive) {
    TestMachine machine;
    machine.shutdown();
    const std::string config = machine.hostPath("WINDOWS/system32/config");
    const std::string system = config + "/SYSTEM";
    const std::string logs[] = {config + "/SYSTEM.LOG1", config + "/system.log2"};
    if (!SharedHiveAs("SYSTEM_B", system) || !SharedHiveAs("SYSTEM_B.LOG1", logs[0]) ||
        !SharedHiveAs("SYSTEM_B.LOG2", logs[1]))
        GTEST_SKIP() << "the shared test hives are absent";
    const auto read = [](const std::string& path) {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto write = [](const std::string& path, const QByteArray& bytes) {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const QByteArray originalHive = read(system);
    const QByteArray originalLogs[] = {read(logs[0]), read(logs[1])};
    const hive::LoadedHive recovered = hive::LoadHiveFile(system);
    ASSERT_TRUE(recovered.recovery.applied);

    const std::string regPath = machine.folder() + "/../change.reg";
    write(regPath, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Changed]\r\n\"x\"=dword:1\r\n");
    const QStringList args{"--machine", QString::fromStdString(machine.folder()), "reg", "import",
                           QString::fromStdString(regPath)};
    const auto restore = [&] {
        write(system, originalHive);
        for (int i = 0; i < 2; ++i)
            write(logs[i], originalLogs[i]);
        for (const auto& entry : std::filesystem::directory_iterator(config))
            if (entry.path().filename().string().find(".hwpre") != std::string::npos)
                std::filesystem::remove(entry.path());
    };

    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(QProcess::execute(HW_CLI_PATH, args), 0);
    const qint64 fullRun = std::max<qint64>(timer.elapsed(), 20);

    // Kill points spread over the whole run and a little past it: the syncs of the copies
    // and of the recovered hive take most of it, and their time varies.
    const int rounds = 20;
    int originals = 0, recoveredHives = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("a kill at round " + std::to_string(round));
        restore();
        QProcess cli;
        cli.start(HW_CLI_PATH, args);
        ASSERT_TRUE(cli.waitForStarted());
        QThread::msleep(unsigned(fullRun * round * 6 / 5 / rounds));
        cli.kill();
        cli.waitForFinished();

        if (read(system) == originalHive) {
            // Untouched: the logs Windows needs are whole too.
            EXPECT_EQ(read(logs[0]), originalLogs[0]);
            EXPECT_EQ(read(logs[1]), originalLogs[1]);
            ++originals;
            continue;
        }
        // Replaced: by the recovered hive, clean, and the originals are kept whole.
        const hive::LoadedHive now = hive::LoadHiveFile(system, {.applyLogs = false});
        EXPECT_FALSE(now.dirty);
        ExpectSameTree(*recovered.root, *now.root);
        EXPECT_EQ(read(hive::SetAsideFileOf(system)), originalHive);
        EXPECT_EQ(read(hive::SetAsideFileOf(logs[0])), originalLogs[0]);
        EXPECT_EQ(read(hive::SetAsideFileOf(logs[1])), originalLogs[1]);
        ++recoveredHives;
    }
    EXPECT_GT(originals, 0);
    EXPECT_GT(recoveredHives, 0);
    // The machine still boots, and a killed run leaves no temporary copies behind it.
    EXPECT_NO_THROW(machine.boot());
    machine.shutdown();
    for (const auto& entry : std::filesystem::directory_iterator(config))
        EXPECT_NE(entry.path().extension(), ".hwnew") << entry.path();
}
