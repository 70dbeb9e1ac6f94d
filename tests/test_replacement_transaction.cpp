// Hive replacements as one change: made when the program lets the machine go, all or none,
// whatever stops the program and wherever. The command-line program is stopped at every
// write, flush, rename and removal (HIVEWARDEN_FAULT_AT) of a restore, a compaction and a
// restart; the next command must find wholly the registry before or wholly the one after.

#include "support/MachineFixture.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/RegImport.h"
#include "win32/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

using namespace testing_support;

namespace {

// One marker value in each of the five hives a profile holds.
const char* const kMarkerKeys[] = {
    "HKEY_LOCAL_MACHINE\\SYSTEM\\HwMark", "HKEY_LOCAL_MACHINE\\SOFTWARE\\HwMark",
    "HKEY_LOCAL_MACHINE\\SAM\\HwMark", "HKEY_LOCAL_MACHINE\\SECURITY\\HwMark",
    "HKEY_USERS\\.DEFAULT\\HwMark"};

std::string markers(const std::string& state) {
    std::string reg;
    for (const char* key : kMarkerKeys)
        reg += "[" + std::string(key) + "]\r\n\"State\"=\"" + state + "\"\r\n";
    return reg;
}

void writeFile(const std::string& path, const std::string& text) {
    QFile out(QString::fromStdString(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(text.data(), qint64(text.size()));
}

void copyTree(const std::string& from, const std::string& to) {
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

class ReplacementTransaction : public ::testing::Test {
protected:
    void SetUp() override {
        work_ = workDir_.path().toStdString();
        empty_ = work_ + "/empty.reg";
        writeFile(empty_, "REGEDIT4\r\n\r\n");
    }

    ProcessResult cli(const std::string& machine, const std::string& program,
                      std::vector<std::string> args, const std::string& fault = {}) const {
        args.insert(args.begin(), {"--machine", machine, "--program-folder", program});
        return RunProcess(HW_CLI_PATH, args,
                          {{"HIVEWARDEN_MACHINE", ""}, {"HIVEWARDEN_FAULT_AT", fault}});
    }

    // The marker states of the machine's five hives, read through a read-only mount.
    std::vector<std::string> statesOf(const std::string& machine) const {
        std::vector<std::string> out;
        win32::BootOptions options;
        options.readOnly = true;
        win32::BootMachine(machine, options);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE,
                          HKEY_LOCAL_MACHINE, HKEY_USERS}) {
            const std::string sub =
                std::string(kMarkerKeys[out.size()])
                    .substr(std::string(kMarkerKeys[out.size()]).find('\\') + 1);
            char data[64] = {};
            DWORD size = sizeof data - 1;
            HKEY key = nullptr;
            LONG rc = RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key);
            if (rc == ERROR_SUCCESS) {
                rc = RegQueryValueExA(key, "State", nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                                      &size);
                RegCloseKey(key);
            }
            out.push_back(rc == ERROR_SUCCESS ? data : "(missing)");
        }
        win32::ShutdownMachine();
        return out;
    }

    // After a run stopped anywhere: the next command that mounts the machine for writing
    // completes what was made whole and releases it; then every hive checks clean and the
    // five markers are all one of `allowed`. Gives that state.
    std::string checkWhole(const std::string& machine, const std::string& program,
                           const std::set<std::string>& allowed, const std::string& where) {
        SCOPED_TRACE(where);
        const auto next = cli(machine, program, {"reg", "import", empty_});
        EXPECT_EQ(next.exitCode, 0) << next.err;
        EXPECT_FALSE(win32::HasUnfinishedReplacements(machine));
        const auto check = cli(machine, program, {"hive", "check"});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        const auto states = statesOf(machine);
        EXPECT_EQ(std::set<std::string>(states.begin(), states.end()).size(), 1u)
            << states[0] << " " << states[1] << " " << states[2] << " " << states[3] << " "
            << states[4];
        EXPECT_TRUE(allowed.count(states[0])) << states[0];
        return states[0];
    }

    // Runs `args` on a fresh copy of the machine and program folder, killed at every step
    // in turn, until a run goes through; checks each stopped run with checkWhole. Gives
    // the number of steps, and the states seen after the stopped runs.
    int killEverywhere(const std::string& machine, const std::string& program,
                       const std::vector<std::string>& args, const std::set<std::string>& allowed,
                       std::set<std::string>& seen) {
        for (int step = 1; step < 1000; ++step) {
            if (!stopAt(machine, program, args, allowed, seen, std::to_string(step), step))
                return step - 1;
            if (::testing::Test::HasFailure())
                return step;
        }
        ADD_FAILURE() << "the run never went through";
        return 0;
    }

    // The same with a full disk from each step on: the run ends with a message that says
    // so, until the step is past its last write and it goes through.
    void fillDiskEverywhere(const std::string& machine, const std::string& program,
                            const std::vector<std::string>& args,
                            const std::set<std::string>& allowed, std::set<std::string>& seen) {
        for (int step = 1; step < 1000 && !::testing::Test::HasFailure(); ++step)
            if (!stopAt(machine, program, args, allowed, seen, std::to_string(step) + ":enospc",
                        step))
                return;
        ADD_FAILURE() << "the run never went through";
    }

    // A machine whose profile "P" holds the markers "profile", and whose live hives hold
    // "live" since; gives the program folder.
    std::string backedUpThenChanged(const TestMachine& machine) {
        const std::string program = work_ + "/program";
        QDir().mkpath(QString::fromStdString(program));
        EXPECT_EQ(cli(machine.folder(), program, {"backup", "P"}).exitCode, 0);
        const std::string change = work_ + "/live.reg";
        writeFile(change, "REGEDIT4\r\n\r\n" + markers("live"));
        EXPECT_EQ(cli(machine.folder(), program, {"reg", "import", change}).exitCode, 0);
        return program;
    }

    // One run on a fresh copy with the fault `fault`; false when it went through.
    bool stopAt(const std::string& machine, const std::string& program,
                const std::vector<std::string>& args, const std::set<std::string>& allowed,
                std::set<std::string>& seen, const std::string& fault, int step) {
        const std::string copy = work_ + "/m" + std::to_string(step);
        const std::string copyProgram = work_ + "/p" + std::to_string(step);
        copyTree(machine, copy);
        copyTree(program, copyProgram);
        const auto run = cli(copy, copyProgram, args, fault);
        const bool diskFull = fault.find(':') != std::string::npos;
        const bool stopped = diskFull ? run.exitCode != 0 : run.exitCode == -1;
        if (diskFull && stopped) {
            EXPECT_NE(run.err.find("space"), std::string::npos)
                << "step " << step << ": a full disk is said: " << run.err;
        }
        if (stopped && win32::HasUnfinishedReplacements(copy)) {
            // Stopped between the journal and its end: a read-only command would see a mix,
            // so it is refused until a writable mount completes the change.
            ++unfinished_;
            const auto read = cli(copy, copyProgram, {"reg", "query", "HKLM\\SOFTWARE"});
            EXPECT_NE(read.exitCode, 0);
            EXPECT_NE(read.err.find("stopped while it replaced"), std::string::npos) << read.err;
        }
        if (stopped || diskFull)
            seen.insert(checkWhole(copy, copyProgram, allowed, "fault at " + fault));
        std::filesystem::remove_all(copy);
        std::filesystem::remove_all(copyProgram);
        return stopped;
    }

    QTemporaryDir workDir_;
    std::string work_, empty_;
    int unfinished_ = 0; // stopped runs that left a journal to complete
};

} // namespace

TEST_F(ReplacementTransaction, ARestoreStoppedAnywhereLeavesWhollyBeforeOrWhollyRestored) {
    TestMachine machine(markers("profile"));
    machine.shutdown();
    const std::string program = backedUpThenChanged(machine);

    std::set<std::string> seen;
    const int steps =
        killEverywhere(machine.folder(), program, {"restore", "P"}, {"live", "profile"}, seen);
    RecordProperty("kill_points", steps);
    std::printf("restore and its release: %d kill points\n", steps);
    EXPECT_GT(steps, 20);
    EXPECT_EQ(seen, (std::set<std::string>{"live", "profile"}));
    EXPECT_GT(unfinished_, 5);

    // Through, the restore is made when the command ends.
    const auto restore = cli(machine.folder(), program, {"restore", "P"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_NE(restore.out.find("Replaced C:\\WINDOWS\\system32\\config\\SYSTEM with"),
              std::string::npos)
        << restore.out;
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    const auto states = statesOf(machine.folder());
    EXPECT_EQ(std::set<std::string>(states.begin(), states.end()),
              std::set<std::string>{"profile"});
}

TEST_F(ReplacementTransaction, ARestoreOnAFullDiskFailsWhole) {
    TestMachine machine(markers("profile"));
    machine.shutdown();
    const std::string program = backedUpThenChanged(machine);
    std::set<std::string> seen;
    fillDiskEverywhere(machine.folder(), program, {"restore", "P"}, {"live", "profile"}, seen);
    EXPECT_TRUE(seen.count("live"));
}

TEST_F(ReplacementTransaction, ACompactionStoppedAnywhereLeavesEveryHiveWholeAndItsContent) {
    TestMachine machine(markers("live"));
    machine.shutdown();
    const std::string program = work_ + "/program";
    QDir().mkpath(QString::fromStdString(program));
    std::set<std::string> seen;
    const int steps = killEverywhere(machine.folder(), program, {"compact"}, {"live"}, seen);
    seen.clear();
    fillDiskEverywhere(machine.folder(), program, {"compact"}, {"live"}, seen);
    std::printf("compaction and its release: %d kill points\n", steps);
    EXPECT_GT(steps, 20);
}

// Replacements that a program asked for and could not make wait on disk for the next
// release: here five, made from copies of the hives with the markers "after".
class WaitingReplacements : public ReplacementTransaction {
protected:
    void prepare(TestMachine& machine) {
        const std::string change = work_ + "/after.reg";
        writeFile(change, "REGEDIT4\r\n\r\n" + markers("after"));
        ASSERT_EQ(RegImportFile(change), 0);
        ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}));
        std::string list;
        const char* names[] = {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"};
        const char* keys[] = {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", ".DEFAULT"};
        for (size_t i = 0; i < 5; ++i) {
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExA(i < 4 ? HKEY_LOCAL_MACHINE : HKEY_USERS, keys[i], 0,
                                    KEY_ALL_ACCESS, &key),
                      0);
            const std::string file = std::string("C:\\WINDOWS\\system32\\config\\") + names[i];
            ASSERT_EQ(RegSaveKeyA(key, (file + ".new").c_str(), nullptr), 0);
            RegCloseKey(key);
            list += file + "\t" + file + ".new\t" + file + ".old\n";
        }
        writeFile(work_ + "/before.reg", "REGEDIT4\r\n\r\n" + markers("before"));
        ASSERT_EQ(RegImportFile(work_ + "/before.reg"), 0);
        machine.shutdown();
        // As a release that could not make them left them.
        writeFile(machine.folder() + "/hivewarden-pending-replacements.txt", list);
    }
    static LONG RegImportFile(const std::string& file) {
        QFile in(QString::fromStdString(file));
        if (!in.open(QIODevice::ReadOnly))
            return ERROR_FILE_NOT_FOUND;
        const QByteArray text = in.readAll();
        const auto result = win32::RegImportData(hive::Bytes(text.begin(), text.end()));
        return result.problems.empty() ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
};

TEST_F(WaitingReplacements, ARestartStoppedAnywhereLeavesWhollyBeforeOrWhollyAfter) {
    TestMachine machine;
    prepare(machine);
    const std::string program = work_ + "/program";
    QDir().mkpath(QString::fromStdString(program));
    std::set<std::string> seen;
    const int steps =
        killEverywhere(machine.folder(), program, {"restart"}, {"before", "after"}, seen);
    std::printf("restart: %d kill points\n", steps);
    EXPECT_GT(steps, 10);
    EXPECT_TRUE(seen.count("after"));
}

namespace {

// SOFTWARE and SYSTEM saved beside their files, in a booted machine.
void saveTwo() {
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}));
    for (const char* name : {"SOFTWARE", "SYSTEM"}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_ALL_ACCESS, &key), 0);
        const std::string file = std::string("C:\\WINDOWS\\system32\\config\\") + name;
        ASSERT_EQ(RegSaveKeyA(key, (file + ".rctemp").c_str(), nullptr), 0);
        RegCloseKey(key);
    }
}

LONG replace(const char* name) {
    const std::string file = std::string("C:\\WINDOWS\\system32\\config\\") + name;
    return RegReplaceKeyA(HKEY_LOCAL_MACHINE, name, (file + ".rctemp").c_str(),
                          (file + ".rcbak").c_str());
}

} // namespace

// A batch that is not committed (its program failed half-way, or was stopped) leaves what
// waited as it was; a committed one records all of its replacements at once.
TEST(ReplacementBatch, RecordsAllOrNothing) {
    TestMachine machine;
    saveTwo();
    {
        win32::ReplacementBatch batch;
        ASSERT_EQ(replace("SOFTWARE"), ERROR_SUCCESS);
        ASSERT_EQ(replace("SYSTEM"), ERROR_SUCCESS);
        EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    }
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    {
        win32::ReplacementBatch batch;
        ASSERT_EQ(replace("SOFTWARE"), ERROR_SUCCESS);
        ASSERT_EQ(replace("SYSTEM"), ERROR_SUCCESS);
        EXPECT_EQ(batch.Commit(), ERROR_SUCCESS);
    }
    const auto pending = win32::PendingReplacementsOf(machine.folder());
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_TRUE(pending[0].denseSave && pending[1].denseSave);
}

// The replacements that wait are one change: one that cannot be made keeps all waiting.
TEST(ReplacementRelease, OneThatCannotBeMadeKeepsAllWaiting) {
    TestMachine machine;
    saveTwo();
    ASSERT_EQ(replace("SOFTWARE"), ERROR_SUCCESS);
    ASSERT_EQ(replace("SYSTEM"), ERROR_SUCCESS);
    // Someone's file takes SYSTEM's old-file name after the request.
    writeFile(machine.hostPath("WINDOWS/system32/config/SYSTEM.rcbak"), "someone's file");
    machine.shutdown();
    const auto run = win32::LastReleaseReplacements();
    ASSERT_EQ(run.outcomes.size(), 2u);
    EXPECT_NE(run.outcomes[0].error.find("one change"), std::string::npos) << run.outcomes[0].error;
    EXPECT_NE(run.outcomes[1].error.find("is taken"), std::string::npos) << run.outcomes[1].error;
    EXPECT_EQ(win32::PendingReplacementsOf(machine.folder()).size(), 2u);
    EXPECT_FALSE(QFileInfo::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak"))));
    // Once the name is free, the next release makes both.
    std::filesystem::remove(machine.hostPath("WINDOWS/system32/config/SYSTEM.rcbak"));
    EXPECT_TRUE(win32::PerformPendingReplacements(machine.folder()).empty());
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    for (const char* name : {"SOFTWARE", "SYSTEM"})
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(
            machine.hostPath(std::string("WINDOWS/system32/config/") + name + ".rcbak"))));
    machine.boot();
}
