// Booting a machine: bad hive files, hostile profile paths, the lock.

#include "hive/HiveFile.h"
#include "support/MachineFixture.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/Registry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace testing_support;

namespace {

// Every file below a folder with a hash of its content.
std::map<QString, QByteArray> snapshot(const std::string& folder) {
    std::map<QString, QByteArray> files;
    QDirIterator it(QString::fromStdString(folder), QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        files[path] = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
    }
    return files;
}

void writeFile(const std::string& path, const QByteArray& content) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray readFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

struct BadHive {
    const char* file;           // relative to the machine folder
    const char* reasonFragment; // part of the error that says why
    std::function<void(const std::string& path)> damage;
};

} // namespace

TEST(MachineBoot, BadHiveStopsTheBootNamingTheFileAndWritesNothing) {
    const std::vector<BadHive> cases = {
        {"WINDOWS/system32/config/SOFTWARE", "does not exist",
         [](const std::string& p) { std::filesystem::remove(p); }},
        {"WINDOWS/system32/config/SAM", "truncated",
         [](const std::string& p) {
             const QByteArray data = readFile(p);
             writeFile(p, data.left(data.size() - 4096));
         }},
        {"WINDOWS/system32/config/SECURITY", "regf",
         [](const std::string& p) { writeFile(p, QByteArray(8192, 'x')); }},
        {"WINDOWS/system32/config/DEFAULT", "",
         [](const std::string& p) { writeFile(p, QByteArray()); }},
        {"Documents and Settings/Administrator/NTUSER.DAT", "",
         [](const std::string& p) {
             QByteArray data = readFile(p);
             data.replace(4096 + 32, 64, QByteArray(64, '\xFF')); // the first cells
             writeFile(p, data);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TestMachine machine;
        machine.shutdown();
        const std::string path = machine.hostPath(c.file);
        c.damage(path);
        const auto before = snapshot(machine.folder());
        try {
            machine.boot();
            ADD_FAILURE() << "booted";
            machine.shutdown();
        } catch (const win32::BootError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(std::filesystem::path(path).filename().string()),
                      std::string::npos)
                << message;
            EXPECT_NE(message.find(c.reasonFragment), std::string::npos) << message;
        }
        EXPECT_FALSE(win32::IsMachineBooted());
        EXPECT_EQ(snapshot(machine.folder()), before);
    }
}

TEST(MachineBoot, FolderThatIsNoWindowsInstallation) {
    QTemporaryDir empty;
    EXPECT_THROW(win32::BootMachine(empty.path().toStdString()), win32::BootError);
    EXPECT_THROW(win32::BootMachine(empty.path().toStdString() + "/absent"), win32::BootError);
}

TEST(MachineBoot, ProfilePathNeverLeadsOutsideTheMachine) {
    // A NTUSER.DAT outside the machine that a hostile ProfileList points at.
    TestMachine machine;
    const std::string outside =
        std::filesystem::path(machine.folder()).parent_path().string() + "/outside";
    std::filesystem::create_directories(outside);
    std::filesystem::copy_file(machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT"),
                               outside + "/NTUSER.DAT");
    const std::string key =
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + machine.userSid();
    for (const std::string& hostile :
         {std::string("%SystemDrive%\\..\\..\\outside"), std::string("C:\\..\\..\\outside"),
          std::string("%SystemDrive%\\link")}) {
        SCOPED_TRACE(hostile);
        HKEY profile = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &profile), 0);
        ASSERT_EQ(RegSetValueExA(profile, "ProfileImagePath", 0, REG_EXPAND_SZ,
                                 reinterpret_cast<const BYTE*>(hostile.c_str()),
                                 DWORD(hostile.size() + 1)),
                  0);
        RegCloseKey(profile);
        machine.shutdown();
        std::filesystem::remove(machine.hostPath("link"));
        std::filesystem::remove(machine.hostPath("outside"));
        std::filesystem::create_directory_symlink(outside, machine.hostPath("link"));
        // The profile outside is never mounted: the machine boots without the user's hives.
        const QByteArray outsideBefore = readFile(outside + "/NTUSER.DAT");
        machine.boot();
        EXPECT_EQ(win32::BootWarnings().size(), 1u);
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &profile),
                  ERROR_FILE_NOT_FOUND);
        machine.shutdown();
        EXPECT_EQ(readFile(outside + "/NTUSER.DAT"), outsideBefore);
        // The same paths resolved inside the machine find a profile there.
        const std::string inside = machine.hostPath("Documents and Settings/Administrator");
        std::filesystem::remove(machine.hostPath("link"));
        std::filesystem::create_directory_symlink(inside, machine.hostPath("link"));
        std::filesystem::create_directory_symlink(inside, machine.hostPath("outside"));
        machine.boot();
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &profile), 0);
        RegCloseKey(profile);
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &profile), 0);
        RegCloseKey(profile);
    }
}

TEST(MachineBoot, OneProcessAtATimeMountsAMachineForWriting) {
    TestMachine machine;
    EXPECT_THROW(win32::BootMachine(machine.folder()), win32::BootError);
    const auto second = RunProcess(
        HW_CLI_PATH, {"--machine", machine.folder(), "reg", "delete", "HKLM\\SOFTWARE\\Classes"});
    EXPECT_NE(second.exitCode, 0);
    EXPECT_NE(second.err.find(machine.folder() + "/" + win32::kMachineLockFileName),
              std::string::npos)
        << second.err;
    EXPECT_EQ(second.err.find("Traceback"), std::string::npos);
    // A reader shares the lock with other readers only: the machine is changing under it.
    const auto reader = RunProcess(
        HW_CLI_PATH, {"--machine", machine.folder(), "reg", "query", "HKLM\\SOFTWARE\\Microsoft"});
    EXPECT_NE(reader.exitCode, 0);
    EXPECT_NE(reader.err.find("is in use by another process (process " +
                              std::to_string(::getpid()) + ")"),
              std::string::npos)
        << reader.err;
    machine.shutdown();
    const auto alone = RunProcess(
        HW_CLI_PATH, {"--machine", machine.folder(), "reg", "query", "HKLM\\SOFTWARE\\Microsoft"});
    EXPECT_EQ(alone.exitCode, 0) << alone.err;
    EXPECT_FALSE(std::filesystem::exists(machine.hostPath(win32::kMachineLockFileName)));
    const auto after = RunProcess(
        HW_CLI_PATH, {"--machine", machine.folder(), "reg", "delete", "HKLM\\SOFTWARE\\Classes"});
    EXPECT_EQ(after.exitCode, 0) << after.err;
}

TEST(MachineBoot, ReadOnlyBootRefusesChanges) {
    TestMachine machine;
    machine.shutdown();
    const auto before = snapshot(machine.folder());
    win32::BootOptions options;
    options.readOnly = true;
    machine.boot(options);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\x", 0, nullptr, 0, KEY_READ, nullptr,
                              &key, nullptr),
              ERROR_ACCESS_DENIED);
    machine.shutdown();
    EXPECT_EQ(snapshot(machine.folder()), before);
}

TEST(MachineBoot, FixtureMachineHoldsItsFilesAndRegistry) {
    TestMachine machine(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Fixture]\n\"v\"=\"1\"\n",
        {{"C:\\Program Files\\App\\app.exe", MzImage()}, {"c:\\windows\\notes.txt", "text"}});
    EXPECT_EQ(readFile(machine.hostPath("Program Files/App/app.exe")).left(2), "MZ");
    // An existing folder is found whatever the spelling.
    EXPECT_EQ(readFile(machine.hostPath("WINDOWS/notes.txt")), "text");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Fixture", 0, KEY_READ, &key), 0);
    RegCloseKey(key);
}

TEST(MachineBoot, UserHivesInTheVistaLayout) {
    TestMachine machine("[HKEY_CURRENT_USER\\Software\\Marker]\n"
                        "[HKEY_CURRENT_USER\\Software\\Classes\\.marker]\n");
    const std::string key =
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + machine.userSid();
    HKEY profile = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &profile), 0);
    const std::string path = "C:\\Users\\Administrator";
    ASSERT_EQ(RegSetValueExA(profile, "ProfileImagePath", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(path.c_str()), DWORD(path.size() + 1)),
              0);
    RegCloseKey(profile);
    machine.shutdown();
    const std::string xp = machine.hostPath("Documents and Settings/Administrator");
    const std::string vista = machine.hostPath("users/administrator"); // spelled as on disk
    std::filesystem::create_directories(vista + "/AppData/Local/Microsoft/Windows");
    std::filesystem::rename(xp + "/NTUSER.DAT", vista + "/NTUSER.DAT");
    std::filesystem::rename(xp + "/Local Settings/Application Data/Microsoft/Windows/UsrClass.dat",
                            vista + "/AppData/Local/Microsoft/Windows/UsrClass.dat");
    machine.boot();
    HKEY key2 = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Marker", 0, KEY_READ, &key2), 0);
    RegCloseKey(key2);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".marker", 0, KEY_READ, &key2), 0);
    RegCloseKey(key2);
}

TEST(MachineBoot, OneFileIsNeverMountedAsTwoHives) {
    // A hostile profile whose NTUSER.DAT is the machine's SOFTWARE hive.
    TestMachine machine;
    machine.shutdown();
    const std::string ntuser = machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT");
    std::filesystem::remove(ntuser);
    std::filesystem::create_symlink(machine.hostPath("WINDOWS/system32/config/SOFTWARE"), ntuser);
    try {
        machine.boot();
        ADD_FAILURE() << "booted";
    } catch (const win32::BootError& e) {
        EXPECT_NE(std::string(e.what()).find("same file"), std::string::npos) << e.what();
    }
}

TEST(MachineBoot, HiveWithChangesLeftInItsTransactionLog) {
    TestMachine machine;
    machine.shutdown();
    // A SYSTEM hive whose writing Windows did not finish: the sequence numbers differ.
    const std::string system = machine.hostPath("WINDOWS/system32/config/SYSTEM");
    QByteArray data = readFile(system);
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = char(v >> (8 * i));
    };
    auto get32 = [&](int at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | uint8_t(data[at + i]);
        return v;
    };
    put32(4, get32(8) + 1);
    uint32_t sum = 0;
    for (int at = 0; at < 0x1FC; at += 4)
        sum ^= get32(at);
    put32(0x1FC, sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum);
    writeFile(system, data);

    // Without a log there is nothing to lose.
    machine.boot();
    machine.shutdown();
    writeFile(machine.hostPath("WINDOWS/system32/config/system.LOG"), QByteArray(512, 'L'));
    try {
        machine.boot();
        ADD_FAILURE() << "booted";
    } catch (const win32::BootError& e) {
        EXPECT_NE(std::string(e.what()).find("system.LOG"), std::string::npos) << e.what();
    }
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_NO_THROW(machine.boot(readOnly));
    machine.shutdown();
    std::filesystem::remove(machine.hostPath("WINDOWS/system32/config/system.LOG"));
    EXPECT_NO_THROW(machine.boot());
}

namespace {

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

void setProfilePath(const std::string& sid, const std::string& path) {
    HKEY profile = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProfileList) + "\\" + sid).c_str(), 0,
                            KEY_ALL_ACCESS, &profile),
              0);
    ASSERT_EQ(RegSetValueExA(profile, "ProfileImagePath", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(path.c_str()), DWORD(path.size() + 1)),
              0);
    RegCloseKey(profile);
}

bool opens(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace

TEST(MachineBoot, AMachineWhoseUserProfileCannotBeFoundBootsWithoutIt) {
    struct Case {
        const char* name;
        std::function<void(TestMachine&)> breakProfile; // on the booted machine
        const char* ini;
        const char* warning; // part of the warning
    };
    const std::vector<Case> cases = {
        {"a profile folder without NTUSER.DAT",
         [](TestMachine& m) { setProfilePath(m.userSid(), "C:\\Nowhere"); }, "", "C:\\Nowhere"},
        {"no ProfileList",
         [](TestMachine&) { ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProfileList), 0); }, "",
         "no ProfileList"},
        {"the ini names a user without a profile", [](TestMachine&) {}, "[Machine]\nUser=Nobody\n",
         "Nobody"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestMachine machine;
        c.breakProfile(machine);
        machine.shutdown();
        machine.writeIni(c.ini);
        ASSERT_NO_THROW(machine.boot());
        const auto warnings = win32::BootWarnings();
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("HKEY_CURRENT_USER"), std::string::npos) << warnings[0];
        // The user's hives are absent; the machine's own work as ever.
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(opens(HKEY_USERS, machine.userSid().c_str()));
        EXPECT_TRUE(opens(HKEY_USERS, ".DEFAULT"));
        EXPECT_TRUE(opens(HKEY_LOCAL_MACHINE, "SYSTEM\\Select"));
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\StillWritable", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  0);
        RegCloseKey(key);
        machine.shutdown();
        machine.writeIni("");
        machine.boot();
        EXPECT_TRUE(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\StillWritable"));
    }
}

TEST(MachineBoot, TheIniNamesTheProfileToMountBySid) {
    TestMachine machine("[HKEY_CURRENT_USER\\Software\\Administrator's]\n");
    const std::string sid = machine.userSid();
    // A second profile, a copy of the first with a mark of its own.
    const std::string other = "S-1-5-21-1-2-3-1004";
    ASSERT_EQ(RegFlushKey(HKEY_CURRENT_USER), 0);
    const std::string copy = machine.hostPath("Documents and Settings/Bob");
    std::filesystem::create_directories(copy);
    std::filesystem::copy_file(machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT"),
                               copy + "/NTUSER.DAT");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                              (std::string(kProfileList) + "\\" + other).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    RegCloseKey(key);
    setProfilePath(other, "%SystemDrive%\\Documents and Settings\\Bob");
    machine.rebootWithIni("[Machine]\nSid=" + other + "\n");
    EXPECT_TRUE(win32::BootWarnings().empty());
    EXPECT_TRUE(opens(HKEY_USERS, other.c_str()));
    EXPECT_FALSE(opens(HKEY_USERS, sid.c_str()));
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Bob's", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              0);
    RegCloseKey(key);

    // Without ProfileList, Sid and User together still find the profile folder.
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProfileList), 0);
    machine.rebootWithIni("[Machine]\nSid=" + other + "\nUser=bob\n");
    EXPECT_TRUE(win32::BootWarnings().empty());
    EXPECT_TRUE(opens(HKEY_CURRENT_USER, "Software\\Bob's"));
    machine.rebootWithIni("[Machine]\nSid=" + sid + "\nUser=Administrator\n");
    EXPECT_TRUE(win32::BootWarnings().empty());
    EXPECT_TRUE(opens(HKEY_CURRENT_USER, "Software\\Administrator's"));
    EXPECT_FALSE(opens(HKEY_CURRENT_USER, "Software\\Bob's"));
}

TEST(MachineBoot, AWritableMountRemovesTheUnfinishedWritesOfItsHives) {
    TestMachine machine;
    machine.shutdown();
    const std::string config = machine.hostPath("WINDOWS/system32/config/");
    const std::string profile = machine.hostPath("Documents and Settings/Administrator/");
    // What a process killed in the middle of a flush leaves beside the hives.
    const std::vector<std::string> unfinished = {config + "SYSTEM.hwnew", config + "SOFTWARE.hwnew",
                                                 profile + "NTUSER.DAT.hwnew"};
    // Files of other names, or beside no hive, are someone else's.
    const std::vector<std::string> others = {config + "SYSTEM.hwnew.keep",
                                             config + "notes.txt.hwnew", profile + "NTUSER.hwnew",
                                             machine.hostPath("SYSTEM.hwnew")};
    for (const auto& path : unfinished)
        writeFile(path, QByteArray(1 << 20, 'x'));
    for (const auto& path : others)
        writeFile(path, "kept");
    // A link of that name is no file a flush wrote.
    std::filesystem::create_symlink(config + "notes.txt.hwnew", config + "SAM.hwnew");

    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    machine.boot(readOnly);
    machine.shutdown();
    for (const auto& path : unfinished)
        EXPECT_TRUE(std::filesystem::exists(path)) << "a read-only mount writes nothing: " << path;

    machine.boot();
    for (const auto& path : unfinished)
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    for (const auto& path : others)
        EXPECT_EQ(readFile(path), "kept") << path;
    EXPECT_TRUE(std::filesystem::is_symlink(config + "SAM.hwnew"));
}

TEST(MachineBoot, AHiveOnADriveTheIniMapsOutsideIsNeverWritten) {
    // The ini of a hostile image puts the user's profile on a drive it maps to a host folder.
    TestMachine machine;
    const std::string outside =
        std::filesystem::path(machine.folder()).parent_path().string() + "/outside-drive";
    std::filesystem::create_directories(outside + "/Profile");
    std::filesystem::copy_file(machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT"),
                               outside + "/Profile/NTUSER.DAT");
    setProfilePath(machine.userSid(), "D:\\Profile");
    machine.rebootWithIni("[Drives]\nD=" + outside + "\n");
    ASSERT_EQ(win32::BootWarnings().size(), 1u);
    EXPECT_NE(win32::BootWarnings()[0].find("D:"), std::string::npos) << win32::BootWarnings()[0];
    EXPECT_FALSE(opens(HKEY_CURRENT_USER, "Software"));
    machine.shutdown();

    // The user names the drive: it is writable, and the profile on it is mounted.
    win32::BootOptions options;
    options.drives = {{'D', outside}};
    machine.boot(options);
    EXPECT_TRUE(win32::BootWarnings().empty());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\OnD", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              0);
    RegCloseKey(key);
    machine.shutdown();
    EXPECT_TRUE(win32::FindKey(hive::LoadHiveFile(outside + "/Profile/NTUSER.DAT").root.get(),
                               u"Software\\OnD"));
}
