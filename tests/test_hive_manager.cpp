// The hive manager: the hive list, its worker, compaction, backup profiles and their
// restore, on test machines.

#include "backup/ProfileConfig.h"
#include "backup/ProfileFolder.h"
#include "backup/ProfileProof.h"
#include "backup/RestoreChoice.h"
#include "compact/THiveManager.h"
#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "hive/HiveLogs.h"
#include "registry/OSInfo.h"
#include "support/HiveCompare.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/files/Drives.h"
#include "win32/files/Files.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/Registry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>

using namespace testing_support;

namespace {

const char* const kConfigHives[] = {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"};

std::string config(const std::string& name) {
    return "WINDOWS/system32/config/" + name;
}

QByteArray contentOf(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const std::string& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

std::string manyKeys(const char* root, int count) {
    std::string reg;
    for (int i = 0; i < count; ++i)
        reg += "[" + std::string(root) + "\\Bulk\\Key" + std::to_string(i) + "]\r\n\"text\"=\"" +
               std::string(60, char('a' + i % 26)) + "\"\r\n";
    return reg;
}

// Changes the base block of the hive file at `path` through `change`, with its checksum
// made right again.
void rewriteBaseBlock(const std::string& path, const std::function<void(uint8_t*)>& change) {
    QByteArray bytes = contentOf(path);
    ASSERT_GE(bytes.size(), 4096);
    auto* block = reinterpret_cast<uint8_t*>(bytes.data());
    change(block);
    hive::regf::Write32(block + hive::regf::base::kChecksum, hive::regf::BaseBlockChecksum(block));
    writeFile(path, bytes);
}

void swapFiles(const std::string& folder, const char* a, const char* b) {
    const QByteArray first = contentOf(folder + "/" + a);
    writeFile(folder + "/" + a, contentOf(folder + "/" + b));
    writeFile(folder + "/" + b, first);
}

void removeProof(const std::string& folder) {
    ASSERT_TRUE(QFile::remove(QString::fromStdString(folder + "/" + kProfileProofName)));
}

// Runs `work` as on a full disk: no file of this process grows past 64 KB.
void WithFilesOf64KBAtMost(const std::function<void()>& work) {
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &limit);
    work();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
}

// A booted test machine with its hive list read into a manager.
class HiveManagerTest : public ::testing::Test {
protected:
    void makeMachine(const std::string& reg = {}) {
        machine_.emplace(reg);
        InitOSInfo();
        manager_ = std::make_unique<THiveManager>(ui_);
        manager_->ScanHives();
        manager_->OnProgress = [this](THiveManager*, int percent) {
            std::lock_guard guard(lock_);
            percents_.push_back(percent);
        };
    }
    std::vector<int> percents() {
        std::lock_guard guard(lock_);
        return percents_;
    }
    std::string profile() const { return profileDir_.path().toStdString() + "/profile"; }
    std::vector<win32::PendingReplacement> pending() const {
        return win32::PendingReplacementsOf(win32::MachineFolder());
    }

    TestUiLoop ui_;
    std::optional<TestMachine> machine_;
    std::unique_ptr<THiveManager> manager_;
    QTemporaryDir profileDir_;
    std::mutex lock_;
    std::vector<int> percents_;
};

TEST_F(HiveManagerTest, ListsTheLoadedHivesWithTheirFilesOwnersAndSizes) {
    makeMachine();
    const auto& hives = manager_->Hives;
    ASSERT_EQ(hives.size(), 7u); // the volatile HARDWARE hive has no file and no entry
    EXPECT_EQ(hives[0]->KeyName, "\\REGISTRY\\MACHINE\\SYSTEM");
    EXPECT_EQ(hives[0]->FileName, "C:\\WINDOWS\\system32\\config\\SYSTEM");
    EXPECT_EQ(hives[0]->Owner, "SYSTEM");
    EXPECT_EQ(hives[4]->KeyName, "\\REGISTRY\\USER\\.DEFAULT");
    EXPECT_EQ(hives[4]->Owner, "DEFAULT");
    EXPECT_EQ(hives[5]->Owner, "Administrator");
    EXPECT_EQ(hives[6]->KeyName, "\\REGISTRY\\USER\\" + machine_->userSid() + "_Classes");
    EXPECT_EQ(hives[6]->Owner, "Administrator");
    for (const auto& hive : hives)
        EXPECT_EQ(hive->FileSize,
                  QFileInfo(QString::fromStdString(win32::HostPathOf(hive->FileName).value_or("")))
                      .size())
            << hive->KeyName;
    EXPECT_EQ(HiveFileSize("C:\\no such file"), kNoFileSize);

    // A key name under neither root: nothing is saved.
    THive stray("\\REGISTRY\\OTHER\\SOFTWARE", manager_->Mapper(),
                "\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\SOFTWARE");
    stray.Save({});
    EXPECT_FALSE(stray.Saved);
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp"),
              INVALID_FILE_ATTRIBUTES);
}

TEST_F(HiveManagerTest, CompactionSavesEveryHiveAndAsksForItsReplacement) {
    makeMachine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"1\"\r\n");
    // A backup left by an earlier compaction goes before the new replacement is asked for.
    writeFile(machine_->hostPath(config("SAM.rcbak")), "old");
    manager_->Compact();
    EXPECT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_EQ(percents(), (std::vector<int>{14, 28, 42, 57, 71, 85, 100}));
    const auto replacements = pending();
    ASSERT_EQ(replacements.size(), 7u);
    for (size_t i = 0; i < replacements.size(); ++i) {
        const THive& hive = *manager_->Hives[i];
        EXPECT_EQ(replacements[i].hive, hive.FileName);
        EXPECT_EQ(replacements[i].newFile, hive.FileName + ".rctemp");
        EXPECT_EQ(replacements[i].oldFile, hive.FileName + ".rcbak");
        EXPECT_FALSE(hive.Saved);
        EXPECT_EQ(hive.SavedSize, HiveFileSize(hive.FileName + ".rctemp"));
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(machine_->hostPath(config("SAM.rcbak")))));
}

TEST_F(HiveManagerTest, ACompactErrorEndsTheRunAsAFailure) {
    makeMachine();
    machine_->rebootWithIni("[Privileges]\nSeShutdownPrivilege=denied\n");
    manager_ = std::make_unique<THiveManager>(ui_);
    manager_->ScanHives();
    manager_->Compact();
    EXPECT_FALSE(manager_->Success());
    EXPECT_EQ(manager_->LastError(), "Compact error: \\REGISTRY\\MACHINE\\SYSTEM "
                                     "(C:\\WINDOWS\\system32\\config\\SYSTEM) cannot be "
                                     "replaced");
    EXPECT_TRUE(pending().empty());
    // Nothing waits for the copy it wrote: it is not left behind.
    EXPECT_FALSE(
        QFile::exists(QString::fromStdString(machine_->hostPath(config("SYSTEM.rctemp")))));
}

TEST_F(HiveManagerTest, AStopBeforeTheNextHiveLeavesTheOthersUntouched) {
    makeMachine();
    manager_->OnProgress = [](THiveManager* sender, int) { sender->Stop(); };
    manager_->Compact();
    EXPECT_TRUE(manager_->Success());
    EXPECT_EQ(pending().size(), 1u);
}

TEST_F(HiveManagerTest, RunsOneOperationAtATimeOnItsWorkerAndReportsOnTheUiThread) {
    makeMachine();
    const auto uiThread = std::this_thread::get_id();
    std::vector<bool> done;
    std::thread::id progressThread, doneThread;
    manager_->OnProgress = [&](THiveManager*, int) { progressThread = std::this_thread::get_id(); };
    manager_->OnDone = [&](THiveManager*, bool success) {
        doneThread = std::this_thread::get_id();
        done.push_back(success);
    };
    manager_->Start(hoCompact);
    EXPECT_TRUE(manager_->IsBusy());
    manager_->Start(hoBackup); // ignored while the compaction runs
    ASSERT_TRUE(ui_.RunUntil([&] { return !done.empty(); }));
    EXPECT_FALSE(manager_->IsBusy());
    EXPECT_EQ(done, std::vector<bool>{true});
    EXPECT_NE(progressThread, uiThread);
    EXPECT_EQ(doneThread, uiThread);
    EXPECT_EQ(pending().size(), 7u);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(profile())));
}

TEST_F(HiveManagerTest, AStopRightAfterStartIsNotLost) {
    makeMachine();
    bool done = false;
    manager_->OnDone = [&](THiveManager*, bool) { done = true; };
    manager_->Start(hoCompact);
    manager_->Stop();
    ASSERT_TRUE(ui_.RunUntil([&] { return done; }));
    EXPECT_TRUE(manager_->Success());
    // The worker saw the request before its first hive, or at the latest before its second.
    EXPECT_LE(pending().size(), 1u);
}

TEST_F(HiveManagerTest, DestroyingTheManagerStopsAndJoinsItsWorker) {
    makeMachine(manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 4000));
    bool doneCalled = false;
    manager_->OnDone = [&](THiveManager*, bool) { doneCalled = true; };
    manager_->Start(hoCompact);
    manager_.reset();
    ui_.RunPending();
    EXPECT_FALSE(doneCalled);
}

TEST_F(HiveManagerTest, BackupWritesTheFiveHivesAndConfigIni) {
    makeMachine();
    manager_->Folder = profile() + "/nested";
    manager_->Backup();
    EXPECT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_EQ(percents(), (std::vector<int>{20, 40, 60, 80, 100}));
    const QByteArray ini = contentOf(manager_->Folder + "/config.ini");
    const QList<QByteArray> lines = ini.split('\n');
    ASSERT_EQ(lines.size(), 24); // 3 + 5 * 4 lines, each ended by CR LF
    EXPECT_EQ(lines[0], "[Creation]\r");
    EXPECT_TRUE(
        QDateTime::fromString(QString(lines[1]).trimmed(), "yyyy-MM-dd HH:mm:ss").isValid());
    EXPECT_EQ(
        ini.mid(ini.indexOf("\r\n\r\n") + 4).toStdString(),
        "[SYSTEM]\r\n\"\\REGISTRY\\MACHINE\\SYSTEM\"\r\n"
        "\"C:\\WINDOWS\\system32\\config\\SYSTEM\"\r\n\r\n"
        "[SOFTWARE]\r\n\"\\REGISTRY\\MACHINE\\SOFTWARE\"\r\n"
        "\"C:\\WINDOWS\\system32\\config\\SOFTWARE\"\r\n\r\n"
        "[SAM]\r\n\"\\REGISTRY\\MACHINE\\SAM\"\r\n\"C:\\WINDOWS\\system32\\config\\SAM\"\r\n\r\n"
        "[SECURITY]\r\n\"\\REGISTRY\\MACHINE\\SECURITY\"\r\n"
        "\"C:\\WINDOWS\\system32\\config\\SECURITY\"\r\n\r\n"
        "[DEFAULT]\r\n\"\\REGISTRY\\USER\\.DEFAULT\"\r\n"
        "\"C:\\WINDOWS\\system32\\config\\DEFAULT\"\r\n\r\n");
    for (const char* name : kConfigHives)
        EXPECT_NO_THROW(hive::LoadHiveFile(manager_->Folder + "/" + name)) << name;
    std::vector<TProfileEntry> entries;
    ASSERT_TRUE(ReadProfileConfig(manager_->Folder, entries));
    EXPECT_EQ(entries[4].Root, HKEY_USERS);
    EXPECT_EQ(entries[4].KeyName, ".DEFAULT");
    EXPECT_EQ(entries[2].HiveFile, manager_->Folder + "/SAM");
    EXPECT_EQ(entries[2].FilePath, "C:\\WINDOWS\\system32\\config\\SAM");
    // Nothing was scheduled: a backup leaves the machine as it was.
    EXPECT_TRUE(pending().empty());

    // Again into the same folder: the files are overwritten.
    manager_->Backup();
    EXPECT_TRUE(manager_->Success()) << manager_->LastError();
}

// What is left beside a profile folder: its parent's entries.
QStringList entriesBeside(const std::string& folder) {
    return QDir(QFileInfo(QString::fromStdString(folder)).path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

TEST_F(HiveManagerTest, AStoppedBackupLeavesNothingBehind) {
    makeMachine();
    manager_->Folder = profile();
    // The wizard makes the profile folder before it starts the backup.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(profile())));
    manager_->OnProgress = [](THiveManager* sender, int) { sender->Stop(); };
    manager_->Backup();
    EXPECT_FALSE(manager_->Success());
    EXPECT_NE(manager_->LastError().find("stopped"), std::string::npos) << manager_->LastError();
    EXPECT_TRUE(entriesBeside(profile()).isEmpty())
        << entriesBeside(profile()).join(", ").toStdString();
}

TEST_F(HiveManagerTest, ABackupIntoAnExistingProfileReplacesItWholeOrNotAtAll) {
    makeMachine(manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 3000));
    manager_->Folder = profile();
    manager_->Backup();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    writeFile(profile() + "/stray.txt", "left by hand");
    const QByteArray system = contentOf(profile() + "/SYSTEM");

    // A failed backup leaves the old profile as it was.
    WithFilesOf64KBAtMost([&] { manager_->Backup(); });
    EXPECT_FALSE(manager_->Success());
    EXPECT_EQ(contentOf(profile() + "/SYSTEM"), system);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(profile() + "/stray.txt")));
    EXPECT_EQ(entriesBeside(profile()), QStringList{"profile"});

    // A whole one takes its place in one step: nothing of the old folder is left.
    manager_->Backup();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(profile() + "/stray.txt")));
    EXPECT_TRUE(IsWholeProfile(profile()));
    EXPECT_EQ(entriesBeside(profile()), QStringList{"profile"});

    // A folder that holds other files is left alone.
    const std::string other = profileDir_.path().toStdString() + "/letters";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(other)));
    writeFile(other + "/letter.txt", "dear");
    manager_->Folder = other;
    manager_->Backup();
    EXPECT_FALSE(manager_->Success());
    EXPECT_NE(manager_->LastError().find("no profile's"), std::string::npos)
        << manager_->LastError();
    EXPECT_EQ(contentOf(other + "/letter.txt"), "dear");
    EXPECT_EQ(QDir(QString::fromStdString(other)).entryList(QDir::Files),
              QStringList{"letter.txt"});
}

TEST_F(HiveManagerTest, ABackupLeadsNowhereThroughASymbolicLink) {
    makeMachine();
    QTemporaryDir outside;
    const std::string link = profileDir_.path().toStdString() + "/Registry Backup";
    ASSERT_TRUE(QFile::link(outside.path(), QString::fromStdString(link)));
    manager_->Folder = link + "/profile";
    manager_->Backup();
    EXPECT_FALSE(manager_->Success());
    EXPECT_NE(manager_->LastError().find(link + " is a symbolic link"), std::string::npos)
        << manager_->LastError();
    EXPECT_TRUE(
        QDir(outside.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    // Nor does a restore read a profile through one.
    const std::string real = profileDir_.path().toStdString() + "/real";
    manager_->Folder = real;
    manager_->Backup();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    const std::string linked = profileDir_.path().toStdString() + "/linked";
    ASSERT_TRUE(QFile::link(QString::fromStdString(real), QString::fromStdString(linked)));
    manager_->Folder = linked;
    manager_->Restore();
    EXPECT_FALSE(manager_->Success());
    EXPECT_NE(manager_->LastError().find(linked + " is a symbolic link"), std::string::npos)
        << manager_->LastError();
    EXPECT_TRUE(pending().empty());
}

TEST_F(HiveManagerTest, RestoreCopiesEveryHiveOfTheProfileAndAsksForTheirReplacement) {
    makeMachine();
    manager_->Folder = profile();
    manager_->Backup();
    ASSERT_TRUE(manager_->Success());
    percents_.clear();
    manager_->Restore();
    EXPECT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_EQ(percents(), (std::vector<int>{20, 40, 60, 80, 100}));
    const auto replacements = pending();
    ASSERT_EQ(replacements.size(), 5u);
    for (const char* name : kConfigHives) {
        EXPECT_EQ(contentOf(machine_->hostPath(config(name) + ".rcrestore")),
                  contentOf(profile() + "/" + name))
            << name;
        // The saves that opened the hives' keys are not waited for.
        EXPECT_FALSE(
            QFile::exists(QString::fromStdString(machine_->hostPath(config(name) + ".rctemp"))))
            << name;
    }
}

TEST_F(HiveManagerTest, ACompactionLeavesAWaitingRestoreAlone) {
    makeMachine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"before\"\r\n");
    manager_->Folder = profile();
    manager_->Backup();
    ASSERT_TRUE(manager_->Success());
    manager_->Restore();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    manager_->Compact();
    EXPECT_TRUE(manager_->Success()) << manager_->LastError();
    const auto replacements = pending();
    ASSERT_EQ(replacements.size(), 7u);
    for (const THive* hive : {manager_->Hives[0].get(), manager_->Hives[1].get()}) {
        SCOPED_TRACE(hive->KeyName);
        const auto found =
            std::find_if(replacements.begin(), replacements.end(), [&](const auto& r) {
                return QString::fromStdString(r.hive).compare(
                           QString::fromStdString(hive->FileName), Qt::CaseInsensitive) == 0;
            });
        ASSERT_NE(found, replacements.end());
        EXPECT_EQ(QString::fromStdString(found->newFile).toUpper(),
                  QString::fromStdString(hive->FileName + ".rcrestore").toUpper());
        EXPECT_EQ(hive->SavedSize, HiveFileSize(hive->FileName + ".rcrestore"));
    }
    // The user's hives are compacted as ever.
    EXPECT_EQ(QString::fromStdString(replacements.back().newFile).toUpper(),
              QString::fromStdString(manager_->Hives.back()->FileName + ".rctemp").toUpper());
}

TEST_F(HiveManagerTest, AProfileHiveIsCopiedAsFarAsItsBaseBlockDeclares) {
    makeMachine();
    manager_->Folder = profile();
    manager_->Backup();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    const QByteArray software = contentOf(profile() + "/SOFTWARE");
    // Made by hand, without the proof: only the content speaks for it.
    removeProof(profile());
    ASSERT_TRUE(QFile::resize(QString::fromStdString(profile() + "/SOFTWARE"), qint64(3) << 30));
    manager_->Restore();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_EQ(contentOf(machine_->hostPath(config("SOFTWARE") + ".rcrestore")), software);
}

TEST_F(HiveManagerTest, AnUnfinishedProfileHiveIsTakenOnlyAsItsLogsBringItUpToDate) {
    makeMachine();
    manager_->Folder = profile();
    manager_->Backup();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    removeProof(profile());
    // A real SYSTEM hive that Windows left unfinished, with its two logs.
    const std::string system = profile() + "/SYSTEM";
    if (!SharedHiveAs("SYSTEM_B", system) || !SharedHiveAs("SYSTEM_B.LOG1", system + ".LOG1") ||
        !SharedHiveAs("SYSTEM_B.LOG2", system + ".LOG2"))
        GTEST_SKIP() << "the shared hives are not available";
    const auto recovered = hive::LoadHiveFile(system);
    ASSERT_TRUE(recovered.recovery.applied);
    manager_->Restore();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    const std::string copy = machine_->hostPath(config("SYSTEM") + ".rcrestore");
    const QByteArray head = contentOf(copy).left(4096);
    EXPECT_FALSE(hive::HiveNeedsRecovery(reinterpret_cast<const uint8_t*>(head.data()),
                                         size_t(head.size())));
    ExpectSameTree(*recovered.root, *hive::LoadHiveFile(copy).root);
}

// Two profiles of one machine, "first" made while SOFTWARE\Kept\v was "first" and
// SOFTWARE held 3,000 more keys, "second" after both changed.
class TwoProfiles : public HiveManagerTest {
protected:
    void SetUp() override {
        makeMachine(manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 3000) +
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"first\"\r\n");
        backup(first());
        HKEY software = nullptr, kept = nullptr;
        ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software), 0);
        ASSERT_EQ(RegDeleteTreeA(software, "Bulk"), 0);
        ASSERT_EQ(RegOpenKeyA(software, "Kept", &kept), 0);
        ASSERT_EQ(RegSetValueExA(kept, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("second"), 7),
                  0);
        RegCloseKey(kept);
        RegCloseKey(software);
        backup(second());
    }
    void backup(const std::string& folder) {
        manager_->Folder = folder;
        manager_->Backup();
        ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    }
    void restore(const std::string& folder) {
        manager_->Folder = folder;
        manager_->Restore();
    }
    std::string first() const { return profile() + "-first"; }
    std::string second() const { return profile() + "-second"; }
    // The restored copy each waiting replacement of the five hives puts in place.
    std::map<std::string, QByteArray> waitingCopies() {
        std::map<std::string, QByteArray> copies;
        for (const auto& r : pending()) {
            const auto host = win32::HostPathOf(r.newFile);
            copies[r.hive] = host ? contentOf(*host) : QByteArray();
        }
        return copies;
    }
    std::map<std::string, QByteArray> profileHives(const std::string& folder) {
        std::map<std::string, QByteArray> hives;
        for (const char* name : kConfigHives)
            hives["C:\\WINDOWS\\system32\\config\\" + std::string(name)] =
                contentOf(folder + "/" + name);
        return hives;
    }
    int restoredCopiesOnDisk() {
        return int(QDir(QString::fromStdString(machine_->hostPath("WINDOWS/system32/config")))
                       .entryList({"*.rcrestore*"}, QDir::Files)
                       .size());
    }
};

TEST_F(TwoProfiles, ASecondRestoreBeforeTheRestartTakesThePlaceOfTheFirst) {
    restore(first());
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    restore(second());
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_EQ(waitingCopies(), profileHives(second()));
    EXPECT_EQ(restoredCopiesOnDisk(), 5); // the first restore's copies are gone
    // A compaction knows the second restore's copies too, and a third restore takes the
    // name the first one had.
    manager_->Compact();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    EXPECT_EQ(pending().size(), 7u);
    restore(first());
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    std::map<std::string, QByteArray> waiting = waitingCopies();
    std::erase_if(waiting,
                  [](const auto& copy) { return copy.first.find("config") == std::string::npos; });
    EXPECT_EQ(waiting, profileHives(first()));
    EXPECT_EQ(restoredCopiesOnDisk(), 5);
}

TEST_F(TwoProfiles, ASecondRestoreThatFailsLeavesTheFirstWaitingWhole) {
    restore(second());
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    const auto asked = pending();
    // Room for the small hives' copies, none for the first profile's SOFTWARE: SYSTEM's
    // copy is made before the restore fails.
    WithFilesOf64KBAtMost([&] { restore(first()); });
    EXPECT_FALSE(manager_->Success());
    EXPECT_NE(manager_->LastError().find("Cannot copy"), std::string::npos)
        << manager_->LastError();
    ASSERT_EQ(pending().size(), asked.size());
    for (size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(pending()[i].newFile, asked[i].newFile);
    EXPECT_EQ(waitingCopies(), profileHives(second()));
    EXPECT_EQ(restoredCopiesOnDisk(), 5);
}

TEST_F(HiveManagerTest, ASecondCompactionRefreshesTheCopiesTheFirstOneAskedFor) {
    makeMachine();
    manager_->Compact();
    ASSERT_TRUE(manager_->Success()) << manager_->LastError();
    const auto asked = pending();
    // A change after the first compaction would be lost to its older copy.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\AddedLater", &key), 0);
    RegCloseKey(key);
    win32::FlushMachine();
    manager_->Compact();
    EXPECT_TRUE(manager_->Success()) << manager_->LastError();
    ASSERT_EQ(pending().size(), asked.size());
    for (size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(pending()[i].newFile, asked[i].newFile);
    const auto copy = hive::LoadHiveFile(machine_->hostPath(config("SOFTWARE.rctemp")));
    const auto live = hive::LoadHiveFile(machine_->hostPath(config("SOFTWARE")));
    ExpectSameTree(*live.root, *copy.root);
    const auto& subkeys = copy.root->stableSubkeys();
    EXPECT_TRUE(std::any_of(subkeys.begin(), subkeys.end(),
                            [](const auto& child) { return child->name == u"AddedLater"; }));
}

// Each way a restore can fail before its replacements are asked for.
struct RestoreFault {
    const char* name;
    std::function<void(const std::string& profile)> spoil;
    const char* why; // in the error the restore reports
    bool fullDisk = false;
    bool compactFirst = false; // a compaction waits for the restart
    friend void PrintTo(const RestoreFault& fault, std::ostream* os) { *os << fault.name; }
};

class RestoreFaults : public HiveManagerTest, public ::testing::WithParamInterface<RestoreFault> {};

TEST_P(RestoreFaults, FailBeforeAnyReplacementAndLeaveEveryLiveHiveAlone) {
    // SOFTWARE is large when the profile is made and small when it is restored.
    makeMachine(manyKeys("HKEY_LOCAL_MACHINE\\SOFTWARE", 3000));
    manager_->Folder = profile();
    manager_->Backup();
    ASSERT_TRUE(manager_->Success());
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software), 0);
    ASSERT_EQ(RegDeleteTreeA(software, "Bulk"), 0);
    RegCloseKey(software);
    win32::FlushMachine();
    if (GetParam().compactFirst) {
        manager_->Compact();
        ASSERT_TRUE(manager_->Success());
    }
    GetParam().spoil(profile());

    std::map<std::string, QByteArray> before;
    for (const char* name : kConfigHives)
        before[name] = contentOf(machine_->hostPath(config(name)));
    if (GetParam().fullDisk) {
        // Room for the small live hives' copies, none for the profile's SOFTWARE.
        WithFilesOf64KBAtMost([&] { manager_->Restore(); });
    } else {
        manager_->Restore();
    }
    EXPECT_FALSE(manager_->Success());
    EXPECT_NE(manager_->LastError().find(GetParam().why), std::string::npos)
        << manager_->LastError();
    EXPECT_EQ(pending().size(), GetParam().compactFirst ? 7u : 0u);
    for (const char* name : kConfigHives) {
        const std::string live = machine_->hostPath(config(name));
        EXPECT_EQ(contentOf(live), before[name]) << name;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(live + ".rcrestore"))) << name;
        if (!GetParam().compactFirst) {
            EXPECT_FALSE(QFile::exists(QString::fromStdString(live + ".rctemp"))) << name;
            continue;
        }
        // The compaction still puts the live hive's own dense copy in place.
        SCOPED_TRACE(name);
        ExpectSameTree(*hive::LoadHiveFile(live).root, *hive::LoadHiveFile(live + ".rctemp").root);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , RestoreFaults,
    ::testing::Values(
        RestoreFault{
            "DeletedHiveFile",
            [](const std::string& p) { QFile::remove(QString::fromStdString(p + "/SAM")); },
            "is incomplete"},
        RestoreFault{"UnsoundHive",
                     [](const std::string& p) {
                         QByteArray bytes = contentOf(p + "/DEFAULT");
                         bytes.truncate(bytes.size() / 2);
                         writeFile(p + "/DEFAULT", bytes);
                     },
                     "not sound"},
        RestoreFault{
            "NotAHive",
            [](const std::string& p) { writeFile(p + "/SECURITY", QByteArray(8192, 'x')); },
            "not sound"},
        RestoreFault{"KeyLineOfTwoPieces",
                     [](const std::string& p) {
                         QByteArray ini = contentOf(p + "/config.ini");
                         ini.replace("\"\\REGISTRY\\MACHINE\\SAM\"", "\"\\REGISTRY\\SAM\"");
                         writeFile(p + "/config.ini", ini);
                     },
                     "is incomplete"},
        RestoreFault{"FourEntries",
                     [](const std::string& p) {
                         QByteArray ini = contentOf(p + "/config.ini");
                         ini.truncate(ini.indexOf("[DEFAULT]"));
                         writeFile(p + "/config.ini", ini);
                     },
                     "is incomplete"},
        RestoreFault{"NoSuchLiveHive",
                     [](const std::string& p) {
                         QByteArray ini = contentOf(p + "/config.ini");
                         ini.replace("MACHINE\\SECURITY", "MACHINE\\ELSEWHERE");
                         writeFile(p + "/config.ini", ini);
                     },
                     "No loaded hive"},
        RestoreFault{"SwappedSystemAndSam",
                     [](const std::string& p) { swapFiles(p, "SYSTEM", "SAM"); },
                     "holds a SAM hive, not a SYSTEM hive"},
        RestoreFault{"SwappedSystemAndSamWithoutProof",
                     [](const std::string& p) {
                         swapFiles(p, "SYSTEM", "SAM");
                         removeProof(p);
                     },
                     "holds a SAM hive, not a SYSTEM hive"},
        RestoreFault{"HiveOfAnotherKind",
                     [](const std::string& p) {
                         writeFile(p + "/SECURITY", contentOf(p + "/DEFAULT"));
                         removeProof(p);
                     },
                     "holds a user hive, not a SECURITY hive"},
        RestoreFault{"EmptyHiveAsSoftware",
                     [](const std::string& p) {
                         const auto empty = std::make_shared<hive::HiveKey>();
                         empty->name = u"ROOT";
                         hive::ReplaceFileAtomically(p + "/SOFTWARE", hive::WriteHive(*empty, {}));
                         removeProof(p);
                     },
                     "holds no system hive, not a SOFTWARE hive"},
        RestoreFault{"UnfinishedHiveWithoutLogs",
                     [](const std::string& p) {
                         rewriteBaseBlock(p + "/SYSTEM", [](uint8_t* block) {
                             namespace base = hive::regf::base;
                             hive::regf::Write32(
                                 block + base::kPrimarySequence,
                                 hive::regf::Read32(block + base::kSecondarySequence) + 1);
                         });
                         removeProof(p);
                     },
                     "left unfinished by Windows"},
        RestoreFault{"ChangedAfterTheBackup",
                     [](const std::string& p) {
                         // Still a sound SAM hive, only its time differs.
                         rewriteBaseBlock(p + "/SAM", [](uint8_t* block) {
                             block[hive::regf::base::kTimestamp] ^= 1;
                         });
                     },
                     "has changed since the backup"},
        RestoreFault{"ConfigChangedAfterTheBackup",
                     [](const std::string& p) {
                         QByteArray ini = contentOf(p + "/config.ini");
                         ini.replace("[Creation]\r\n2", "[Creation]\r\n1");
                         writeFile(p + "/config.ini", ini);
                     },
                     "config.ini has changed since the backup"},
        RestoreFault{"SparselyExtendedHive",
                     [](const std::string& p) {
                         ASSERT_TRUE(QFile::resize(QString::fromStdString(p + "/SOFTWARE"),
                                                   qint64(3) << 30));
                     },
                     "the backup wrote"},
        RestoreFault{"DeclaresMoreThanItHolds",
                     [](const std::string& p) {
                         rewriteBaseBlock(p + "/SOFTWARE", [](uint8_t* block) {
                             hive::regf::Write32(block + hive::regf::base::kBinsSize, 1u << 30);
                         });
                         removeProof(p);
                     },
                     "but holds only"},
        RestoreFault{"FullDisk", [](const std::string&) {}, "Cannot copy", true},
        RestoreFault{"FullDiskAfterACompaction", [](const std::string&) {}, "Cannot copy", true,
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileConfig, KeepsFiveEntriesAndNeedsThreePiecesInAKeyLine) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    TProfileConfig config(EncodeDateTime(2026, 12, 8, 21, 5, 0));
    const char* names[] = {"SAM", "SECURITY", "software", "system", "default", "SAM2"};
    for (const char* name : names) {
        writeFile(folder + "/" + name, "x");
        config.AddHive(name, std::string("\\REGISTRY\\MACHINE\\") + name,
                       std::string("C:\\WINDOWS\\system32\\config\\") + name);
    }
    config.Write(folder);
    EXPECT_EQ(contentOf(folder + "/config.ini").left(52).toStdString(),
              "[Creation]\r\n2026-12-08 21:05:00\r\n\r\n[SAM]\r\n\"\\REGISTRY");
    std::vector<TProfileEntry> entries;
    ASSERT_TRUE(ReadProfileConfig(folder, entries));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].KeyName, "SAM");
    EXPECT_EQ(entries[0].Root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(entries[4].KeyName, "default");

    // A hive file named outside the profile is no entry of it.
    QByteArray ini = contentOf(folder + "/config.ini");
    ini.replace("[SAM]", "[../SAM]");
    writeFile(folder + "/config.ini", ini);
    EXPECT_FALSE(ReadProfileConfig(folder, entries));
    EXPECT_FALSE(ReadProfileConfig(folder + "/missing", entries));
}

TEST(RestoreChoice, ANameHoldingRegIsAnUndoFile) {
    EXPECT_TRUE(IsUndoFileName("08122026210500.reg"));
    EXPECT_TRUE(IsUndoFileName("my.registry"));
    EXPECT_TRUE(IsUndoFileName("X.REG"));
    EXPECT_FALSE(IsUndoFileName("08-12-2026 21.05.00"));
    EXPECT_EQ(DefaultProfileName(EncodeDateTime(2026, 12, 8, 9, 5, 7)), "08-12-2026 09.05.07");
}

} // namespace
