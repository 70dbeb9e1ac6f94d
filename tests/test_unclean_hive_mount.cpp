// Mounting hives as Windows leaves them: not finished (changes waiting in the logs) or
// damaged. A read-only mount shows the recovered or readable registry and changes no file;
// a writable one writes a clean hive first and keeps the originals beside it.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "hive/HiveSetAside.h"
#include "support/HiveCompare.h"
#include "support/MachineFixture.h"
#include "win32/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr char kUserHive[] = "Documents and Settings/Administrator/NTUSER.DAT";

QByteArray readFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool exists(const std::string& path) {
    return QFile::exists(QString::fromStdString(path));
}

// A test machine whose user hive is one of the shared test hives, with its logs.
class UncleanHive : public ::testing::Test {
protected:
    void SetUp() override { machine_.shutdown(); }

    // Puts the shared `hive` in the user hive's place and each of `logs` beside it under
    // the name given; false when the shared hives are absent.
    bool place(const std::string& hive,
               const std::vector<std::pair<std::string, std::string>>& logs = {}) {
        if (!SharedHiveAs(hive, userHive()))
            return false;
        for (const auto& [source, name] : logs)
            if (!SharedHiveAs(source, beside(name)))
                return false;
        return true;
    }
    std::string userHive() const { return machine_.hostPath(kUserHive); }
    std::string beside(const std::string& name) const {
        return machine_.hostPath("Documents and Settings/Administrator/" + name);
    }
    bool opens(const char* path) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    TestMachine machine_;
};

const win32::BootOptions kReadOnly{.readOnly = true};

} // namespace

TEST_F(UncleanHive, ReadOnlyMountShowsTheRecoveredHiveAndChangesNothing) {
    if (!place("recovery/OldDirtyHive/OldDirtyHive",
               {{"recovery/OldDirtyHive/OldDirtyHive.LOG1", "ntuser.dat.LOG1"}}))
        GTEST_SKIP() << "the shared test hives are absent";
    const QByteArray hiveBefore = readFile(userHive());
    const QByteArray logBefore = readFile(beside("ntuser.dat.LOG1"));

    machine_.boot(kReadOnly);
    EXPECT_TRUE(opens("key_with_many_subkeys\\5000\\find_me_in_log"));
    const auto conditions = win32::HiveConditions();
    ASSERT_EQ(conditions.size(), 1u);
    const win32::HiveCondition& c = conditions[0];
    EXPECT_EQ(c.state, win32::HiveCondition::State::Recovered);
    EXPECT_EQ(c.hostPath, userHive());
    EXPECT_EQ(c.registryPath, "\\REGISTRY\\USER\\" + machine_.userSid());
    EXPECT_GT(c.pagesApplied, 0u);
    EXPECT_EQ(c.logsUsed, std::vector<std::string>{beside("ntuser.dat.LOG1")});
    EXPECT_TRUE(c.keptFiles.empty());
    bool warned = false;
    for (const std::string& warning : win32::BootWarnings())
        warned = warned || warning == c.message;
    EXPECT_TRUE(warned);
    EXPECT_NE(c.message.find("dirty pages"), std::string::npos) << c.message;
    machine_.shutdown();

    EXPECT_EQ(readFile(userHive()), hiveBefore);
    EXPECT_EQ(readFile(beside("ntuser.dat.LOG1")), logBefore);
    EXPECT_FALSE(exists(hive::SetAsideFileOf(userHive())));
}

TEST_F(UncleanHive, WritableMountWritesTheRecoveredHiveAndKeepsTheOriginals) {
    if (!place("recovery/NewDirtyHive1/NewDirtyHive",
               {{"recovery/NewDirtyHive1/NewDirtyHive.LOG1", "NTUSER.DAT.LOG1"},
                {"recovery/NewDirtyHive1/NewDirtyHive.LOG2", "ntuser.dat.log2"}}))
        GTEST_SKIP() << "the shared test hives are absent";
    const std::string windows = beside("windows");
    ASSERT_TRUE(SharedHiveAs("recovery/NewDirtyHive1/RecoveredHive_Windows10", windows));
    const QByteArray hiveBefore = readFile(userHive());
    const QByteArray log1Before = readFile(beside("NTUSER.DAT.LOG1"));
    const QByteArray log2Before = readFile(beside("ntuser.dat.log2"));

    machine_.boot();
    const auto conditions = win32::HiveConditions();
    ASSERT_EQ(conditions.size(), 1u);
    EXPECT_EQ(conditions[0].entriesApplied, 4u);
    EXPECT_EQ(conditions[0].keptFiles,
              (std::vector<std::string>{userHive() + ".hwpre", beside("NTUSER.DAT.LOG1.hwpre"),
                                        beside("ntuser.dat.log2.hwpre")}));
    EXPECT_NE(conditions[0].message.find("kept as"), std::string::npos);
    // Before anything is written through the registry, the files are as described.
    EXPECT_EQ(readFile(userHive() + ".hwpre"), hiveBefore);
    EXPECT_EQ(readFile(beside("NTUSER.DAT.LOG1.hwpre")), log1Before);
    EXPECT_EQ(readFile(beside("ntuser.dat.log2.hwpre")), log2Before);
    EXPECT_TRUE(readFile(beside("NTUSER.DAT.LOG1")).isEmpty());
    EXPECT_TRUE(readFile(beside("ntuser.dat.log2")).isEmpty());
    const auto clean = hive::LoadHiveFile(userHive(), {.applyLogs = false});
    EXPECT_FALSE(clean.dirty);
    ExpectSameTree(*hive::LoadHiveFile(windows).root, *clean.root);

    // Changes count on from the last entry applied.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Added", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    machine_.shutdown();
    const auto written = hive::LoadHiveFile(userHive());
    EXPECT_GT(written.sequence, 5u);
    EXPECT_TRUE(written.root->findSubkey(u"Added"));

    // The next mount finds nothing to recover.
    machine_.boot();
    EXPECT_TRUE(win32::HiveConditions().empty());
    machine_.shutdown();
}

TEST_F(UncleanHive, DamagedHiveIsReadOnlyUnlessRepairIsAskedFor) {
    if (!place("recovery/BadListHive"))
        GTEST_SKIP() << "the shared test hives are absent";
    const QByteArray before = readFile(userHive());
    const auto salvaged = hive::LoadHiveFile(userHive(), {.salvage = true});
    ASSERT_GT(salvaged.damageCount, 0u);

    machine_.boot(kReadOnly);
    auto conditions = win32::HiveConditions();
    ASSERT_EQ(conditions.size(), 1u);
    EXPECT_EQ(conditions[0].state, win32::HiveCondition::State::Damaged);
    EXPECT_EQ(conditions[0].damage, salvaged.damage);
    EXPECT_NE(conditions[0].message.find("damaged"), std::string::npos);
    machine_.shutdown();

    try {
        machine_.boot();
        ADD_FAILURE() << "a damaged hive was mounted for writing";
    } catch (const win32::BootError& e) {
        EXPECT_NE(std::string(e.what()).find("--repair-damaged"), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(userHive()), before);

    machine_.boot({.repairDamagedHives = true});
    conditions = win32::HiveConditions();
    ASSERT_EQ(conditions.size(), 1u);
    EXPECT_EQ(conditions[0].keptFiles, std::vector<std::string>{userHive() + ".hwpre"});
    machine_.shutdown();
    EXPECT_EQ(readFile(userHive() + ".hwpre"), before);
    const auto repaired = hive::LoadHiveFile(userHive()); // a sound hive now
    ExpectSameTree(*salvaged.root, *repaired.root);
    EXPECT_EQ(RunProcess("regfinfo", {userHive()}).exitCode, 0);
}

TEST_F(UncleanHive, TruncatedHiveMountsReadOnly) {
    if (!place("recovery/TruncatedHive"))
        GTEST_SKIP() << "the shared test hives are absent";
    EXPECT_THROW(hive::LoadHiveFile(userHive()), hive::HiveFileError);
    machine_.boot(kReadOnly);
    const auto conditions = win32::HiveConditions();
    ASSERT_EQ(conditions.size(), 1u);
    EXPECT_NE(conditions[0].damage.front().find("truncated"), std::string::npos);
    machine_.shutdown();
}

TEST_F(UncleanHive, CliNamesTheHiveChecksAndRecoversIt) {
    if (!place("recovery/OldDirtyHive/OldDirtyHive",
               {{"recovery/OldDirtyHive/OldDirtyHive.LOG1", "NTUSER.DAT.LOG1"}}))
        GTEST_SKIP() << "the shared test hives are absent";
    const std::string cli = HW_CLI_PATH;
    const std::vector<std::pair<std::string, std::string>> env{{"HIVEWARDEN_MACHINE", ""}};
    const auto query = RunProcess(
        cli, {"--machine", machine_.folder(), "reg", "query", "HKCU\\key_with_many_subkeys\\5000"},
        env);
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_NE(query.out.find("find_me_in_log"), std::string::npos);
    EXPECT_NE(query.err.find("warning: The hive " + userHive() + " was not finished by Windows"),
              std::string::npos)
        << query.err;

    auto check = RunProcess(cli, {"hive", "check", "--machine", machine_.folder()}, env);
    EXPECT_EQ(check.exitCode, 3) << check.err;
    EXPECT_NE(
        check.out.find(userHive() + ": not finished by Windows; its logs bring it up to date"),
        std::string::npos)
        << check.out;
    EXPECT_NE(check.out.find("SOFTWARE: clean"), std::string::npos) << check.out;

    const std::string out = machine_.hostPath("recovered");
    auto recover = RunProcess(cli, {"hive", "recover", userHive(), out}, env);
    EXPECT_EQ(recover.exitCode, 0) << recover.err;
    EXPECT_NE(recover.out.find("dirty pages from NTUSER.DAT.LOG1"), std::string::npos)
        << recover.out;
    check = RunProcess(cli, {"hive", "check", out}, env);
    EXPECT_EQ(check.exitCode, 0) << check.out;
    // An existing file is never overwritten.
    recover = RunProcess(cli, {"hive", "recover", userHive(), out}, env);
    EXPECT_EQ(recover.exitCode, 1);
    EXPECT_NE(recover.err.find("exists already"), std::string::npos) << recover.err;
    // Nothing of the machine changed.
    EXPECT_FALSE(exists(hive::SetAsideFileOf(userHive())));
}

TEST_F(UncleanHive, WritableMountRemovesWhatAKilledRecoveryLeft) {
    const auto make = [&](const std::string& name) {
        QFile file(QString::fromStdString(beside(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left");
    };
    const char* unfinished[] = {"NTUSER.DAT.hwpre.a1B2c3.hwnew", "ntuser.dat.LOG1.hwnew",
                                "NTUSER.DAT.LOG2.hwpre.Zz9yX8.hwnew", "NTUSER.DAT.hwnew"};
    const char* kept[] = {"NTUSER.DAT.hwpre", "NTUSER.DAT.LOG1.hwpre", "notes.hwnew",
                          "NTUSER.DATA.hwnew"};
    for (const char* name : unfinished)
        make(name);
    for (const char* name : kept)
        make(name);
    machine_.boot(kReadOnly); // a read-only mount removes nothing
    machine_.shutdown();
    for (const char* name : unfinished)
        EXPECT_TRUE(exists(beside(name))) << name;
    machine_.boot();
    machine_.shutdown();
    for (const char* name : unfinished)
        EXPECT_FALSE(exists(beside(name))) << name;
    for (const char* name : kept)
        EXPECT_TRUE(exists(beside(name))) << name;
}

TEST(HiveCheck, ExitStatusSaysWhatIsWrong) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const struct {
        const char* shared;
        const char* name;
        int status;
        const char* says;
    } cases[] = {
        {"SAM", "SAM", 0, ": clean"},
        {"recovery/NewDirtyHive1/NewDirtyHive", "NewDirtyHive", 4,
         "no log brings it up to date (it has none)"},
        {"recovery/BadListHive", "BadListHive", 5, "damaged: 1 part cannot be read soundly"},
        {"recovery/TruncatedHive", "TruncatedHive", 5, "the file is truncated"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder + "/" + c.name;
        if (!SharedHiveAs(c.shared, path))
            GTEST_SKIP() << "the shared test hives are absent";
        const auto check = RunProcess(HW_CLI_PATH, {"hive", "check", path});
        EXPECT_EQ(check.exitCode, c.status) << check.out << check.err;
        EXPECT_NE(check.out.find(c.says), std::string::npos) << check.out;
    }
    // What can be read of a damaged hive, written as a sound one.
    const auto recover =
        RunProcess(HW_CLI_PATH, {"hive", "recover", folder + "/BadListHive", folder + "/salvaged"});
    EXPECT_EQ(recover.exitCode, 0) << recover.err;
    EXPECT_NE(recover.out.find("salvaged: 1 damaged part left out"), std::string::npos)
        << recover.out;
    EXPECT_EQ(RunProcess(HW_CLI_PATH, {"hive", "check", folder + "/salvaged"}).exitCode, 0);
    EXPECT_EQ(RunProcess("regfinfo", {folder + "/salvaged"}).exitCode, 0);

    QFile junk(QString::fromStdString(folder + "/junk"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a hive");
    junk.close();
    const auto check = RunProcess(HW_CLI_PATH, {"hive", "check", folder + "/junk"});
    EXPECT_EQ(check.exitCode, 6);
    EXPECT_NE(check.out.find("unreadable"), std::string::npos) << check.out;
}

TEST_F(UncleanHive, DamageFoundAfterTheMountKeepsTheHiveFromBeingWritten) {
    machine_.boot();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Deep\\One\\Two\\Three", &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    machine_.shutdown();
    // Where the subkey list of Two lies in the file, a branch the boot does not read.
    uint64_t list = 0;
    {
        const auto mounted = hive::MountHiveFile(userHive());
        const hive::HiveKey* two = mounted.root->findSubkey(u"Software");
        for (const char16_t* name : {u"Deep", u"One", u"Two"})
            two = two ? two->findSubkey(name) : nullptr;
        ASSERT_TRUE(two);
        const QByteArray bytes = readFile(userHive());
        const uint64_t nk = hive::regf::kBaseBlockSize + two->cell() + 4;
        list = hive::regf::kBaseBlockSize +
               hive::regf::Read32(reinterpret_cast<const uint8_t*>(bytes.constData()) + nk +
                                  hive::regf::nk::kSubkeyList);
    }

    machine_.boot();
    ASSERT_TRUE(opens("Software\\Deep\\One"));
    // Another program writes over the list while the machine is mounted.
    {
        QFile file(QString::fromStdString(userHive()));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek(qint64(list + 4)));
        ASSERT_EQ(file.write("xx", 2), 2);
    }
    const QByteArray before = readFile(userHive());
    EXPECT_FALSE(opens("Software\\Deep\\One\\Two\\Three"));
    EXPECT_TRUE(opens("Software\\Deep\\One\\Two"));
    const auto conditions = win32::HiveConditions();
    ASSERT_EQ(conditions.size(), 1u);
    EXPECT_EQ(conditions[0].hostPath, userHive());
    EXPECT_EQ(conditions[0].state, win32::HiveCondition::State::Damaged);
    ASSERT_EQ(conditions[0].damage.size(), 1u);
    EXPECT_NE(conditions[0].damage[0].find("is not a list of subkeys"), std::string::npos)
        << conditions[0].damage[0];
    EXPECT_NE(conditions[0].message.find("--repair-damaged"), std::string::npos)
        << conditions[0].message;

    // A change of the hive is not written back: the part left out would be lost.
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Added", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    try {
        win32::FlushMachine();
        ADD_FAILURE() << "a hive with a part left out was written";
    } catch (const std::exception& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(userHive()), std::string::npos) << message;
        EXPECT_NE(message.find(conditions[0].damage[0]), std::string::npos) << message;
    }
    try {
        machine_.shutdown();
    } catch (const std::exception&) {
        // The same refusal, reported again by the shutdown.
    }
    EXPECT_EQ(readFile(userHive()), before);
}
