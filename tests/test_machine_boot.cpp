// Booting a machine: bad hive files, hostile profile paths, the lock.

#include "support/MachineFixture.h"
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
        EXPECT_THROW(machine.boot(), win32::BootError);
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
    // A reader needs no lock.
    const auto reader = RunProcess(
        HW_CLI_PATH, {"--machine", machine.folder(), "reg", "query", "HKLM\\SOFTWARE\\Microsoft"});
    EXPECT_EQ(reader.exitCode, 0) << reader.err;
    machine.shutdown();
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
