// A machine folder is data from anywhere (a stranger's disk image): what its hives say
// never leads the program to write, replace or remove a file outside the machine folder
// and the program folder.

#include "compact/THiveManager.h"
#include "hive/HiveFile.h"
#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/host/PlainFileName.h"
#include "win32/registry/HiveValues.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

constexpr uint32_t kRegSz = 1;
constexpr char kDecoyText[] = "the user's own file, which no backup may touch\n";

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a stored (not volatile) "hivelist" key into the machine's SYSTEM hive file, as a
// crafted installation carries it, with every hive's value naming `devicePath`.
void storeHiveList(const TestMachine& machine, const std::u16string& devicePath) {
    const std::string path = machine.hostPath("WINDOWS/system32/config/SYSTEM");
    hive::LoadedHive loaded = hive::LoadHiveFile(path);
    hive::HiveKey* control = win32::FindKey(loaded.root.get(), u"ControlSet001\\Control");
    ASSERT_TRUE(control);
    ASSERT_FALSE(control->findSubkey(u"hivelist"));
    auto list = std::make_shared<hive::HiveKey>();
    list->name = u"hivelist";
    list->setSecurity(hive::DefaultKeySecurity());
    list->lastWriteTime = hive::FileTimeNow();
    for (const char16_t* name : {u"\\REGISTRY\\MACHINE\\SYSTEM", u"\\REGISTRY\\MACHINE\\SOFTWARE",
                                 u"\\REGISTRY\\MACHINE\\SAM", u"\\REGISTRY\\MACHINE\\SECURITY",
                                 u"\\REGISTRY\\USER\\.DEFAULT", u"\\REGISTRY\\MACHINE\\EXTRA"})
        list->values().push_back({name, kRegSz, win32::StringData(devicePath)});
    control->insertSubkey(list);
    hive::HiveWriteOptions options;
    options.minorVersion = loaded.minorVersion;
    options.fileNameField = loaded.fileNameField;
    options.rootName = loaded.root->name;
    hive::ReplaceFileAtomically(path, hive::WriteHive(*loaded.root, options));
}

// "../" enough times to climb from any folder of the test to "/", then `hostPath`.
std::u16string climbingTo(const QString& hostPath) {
    std::u16string path = u"\\Device\\HarddiskVolume1\\";
    for (int i = 0; i < 24; ++i)
        path += u"../";
    return path + hostPath.mid(1).toStdU16String();
}

class HostileMachine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(programDir_.isValid() && decoyDir_.isValid());
        programFolder_ = programDir_.path().toStdString();
        decoy_ = decoyDir_.filePath("x");
        QFile file(decoy_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kDecoyText);
    }

    ProcessResult cli(const TestMachine& machine, std::vector<std::string> args,
                      const std::vector<std::string>& wrapper = {}) const {
        args.insert(args.begin(),
                    {"--machine", machine.folder(), "--program-folder", programFolder_});
        if (wrapper.empty())
            return RunProcess(HW_CLI_PATH, args, {{"HIVEWARDEN_MACHINE", ""}});
        std::vector<std::string> all(wrapper.begin() + 1, wrapper.end());
        all.push_back(HW_CLI_PATH);
        all.insert(all.end(), args.begin(), args.end());
        return RunProcess(wrapper.front(), all, {{"HIVEWARDEN_MACHINE", ""}});
    }

    QTemporaryDir programDir_;
    QTemporaryDir decoyDir_;
    std::string programFolder_;
    QString decoy_;
};

TEST_F(HostileMachine, AStoredHiveListNamesNoFileTheBackupWrites) {
    TestMachine machine;
    machine.shutdown();
    storeHiveList(machine, climbingTo(decoy_));
    const QByteArray before = contentOf(decoy_);

    const auto hives = cli(machine, {"hives"});
    ASSERT_EQ(hives.exitCode, 0) << hives.err;
    EXPECT_EQ(QString::fromStdString(hives.out).split('\n', Qt::SkipEmptyParts).size(), 7)
        << hives.out;
    EXPECT_EQ(hives.out.find(".."), std::string::npos) << hives.out;
    EXPECT_EQ(hives.out.find("EXTRA"), std::string::npos) << hives.out;

    const auto backup = cli(machine, {"backup", "Crafted"});
    EXPECT_EQ(backup.exitCode, 0) << backup.err;
    EXPECT_EQ(contentOf(decoy_), before);
    EXPECT_EQ(QDir(decoyDir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"x"});
    // The profile holds the machine's own five hives under their own names.
    const QStringList profiles =
        QDir(programDir_.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(profiles.size(), 1);
    const QDir profile(programDir_.path() + "/" + profiles[0] + "/Registry Backup/Crafted");
    EXPECT_EQ(profile.entryList(QDir::Files, QDir::Name),
              (QStringList{"DEFAULT", "SAM", "SECURITY", "SOFTWARE", "SYSTEM", "config.ini",
                           "hivewarden-profile.sha256"}));

    // The stored key stays in the file as the machine brought it.
    hive::LoadedHive system =
        hive::LoadHiveFile(machine.hostPath("WINDOWS/system32/config/SYSTEM"));
    const hive::HiveKey* stored =
        win32::FindKey(system.root.get(), u"ControlSet001\\Control\\hivelist");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->values().size(), 6u);
}

TEST_F(HostileMachine, TheHiveListOfAMachineWithAStoredOneIsWhatWasMounted) {
    TestMachine machine;
    machine.shutdown();
    storeHiveList(machine, climbingTo(decoy_));
    machine.boot();
    InitOSInfo();
    TestUiLoop ui;
    THiveManager manager(ui);
    manager.ScanHives();
    std::vector<std::string> files;
    for (const auto& hive : manager.Hives)
        files.push_back(hive->FileName);
    EXPECT_EQ(
        files,
        (std::vector<std::string>{
            "C:\\WINDOWS\\system32\\config\\SYSTEM", "C:\\WINDOWS\\system32\\config\\SOFTWARE",
            "C:\\WINDOWS\\system32\\config\\SAM", "C:\\WINDOWS\\system32\\config\\SECURITY",
            "C:\\WINDOWS\\system32\\config\\DEFAULT",
            "C:\\Documents and Settings\\Administrator\\NTUSER.DAT",
            "C:\\Documents and Settings\\Administrator\\Local Settings\\Application "
            "Data\\Microsoft\\Windows\\UsrClass.dat"}));
    // A backup into a profile finds only those files.
    manager.Folder = programFolder_ + "/profile";
    manager.Backup();
    EXPECT_TRUE(manager.Success()) << manager.LastError();
    EXPECT_EQ(contentOf(decoy_), QByteArray(kDecoyText));
}

// One system call of an strace log that creates, writes, renames or removes a file: the
// paths it names.
struct FileChange {
    std::string call;
    std::vector<std::string> paths;
};

// The calls of the log (strace -f -y) that change files and did not fail: those that
// create, rename or remove a name, open a file for writing, or write to a file. Paths
// given relative to a folder are made whole with it (`cwd` for the current one).
std::vector<FileChange> fileChanges(const QString& log, const QString& cwd) {
    // "PID call(args) = result", or a call that another thread interrupted:
    // "PID call(args <unfinished ...>"; its result is not known, so it counts.
    static const QRegularExpression line(
        R"(^(?:\[pid\s+)?\d*\]?\s*(\w+)\((.*?)(?:\)\s+=\s+(-?\d+)|\s*<unfinished \.\.\.>))");
    static const QRegularExpression quoted(
        R"(((?:AT_FDCWD(?:<([^>]*)>)?|\d+<([^>]*)>)\s*,\s*)?"((?:[^"\\]|\\.)*)\")");
    static const QRegularExpression writtenFd(R"(^\d+<([^>]*)>)");
    static const QStringList changing = {
        "creat",   "rename", "renameat", "renameat2", "unlink",    "unlinkat", "rmdir", "mkdir",
        "mkdirat", "link",   "linkat",   "symlink",   "symlinkat", "truncate", "mknod", "mknodat"};
    std::vector<FileChange> changes;
    for (const QString& text : log.split('\n')) {
        const auto match = line.match(text.trimmed());
        if (!match.hasMatch() ||
            (!match.captured(3).isEmpty() && match.captured(3).toLongLong() < 0))
            continue;
        const QString call = match.captured(1);
        const QString args = match.captured(2);
        FileChange change{call.toStdString(), {}};
        if (call == "write" || call == "pwrite64" || call == "writev") {
            const auto fd = writtenFd.match(args);
            // Pipes, sockets and the like have no path.
            if (fd.hasMatch() && fd.captured(1).startsWith('/'))
                change.paths.push_back(fd.captured(1).toStdString());
            if (!change.paths.empty())
                changes.push_back(change);
            continue;
        }
        const bool opens = call == "open" || call == "openat" || call == "openat2";
        const bool writes = args.contains("O_WRONLY") || args.contains("O_RDWR") ||
                            args.contains("O_CREAT") || args.contains("O_TRUNC");
        if (!(opens && writes) && !changing.contains(call))
            continue;
        auto it = quoted.globalMatch(args);
        while (it.hasNext()) {
            const auto part = it.next();
            QString path = part.captured(4);
            if (!path.startsWith('/')) {
                const QString folder = !part.captured(3).isEmpty()   ? part.captured(3)
                                       : !part.captured(2).isEmpty() ? part.captured(2)
                                                                     : cwd;
                path = folder + "/" + path;
            }
            change.paths.push_back(QDir::cleanPath(path).toStdString());
        }
        changes.push_back(change);
    }
    return changes;
}

bool isInside(const std::string& path, const std::string& folder) {
    return path == folder || path.starts_with(folder + "/");
}

TEST_F(HostileMachine, AStracedBackupChangesNoFileOutsideTheMachineAndProgramFolders) {
    if (QStandardPaths::findExecutable("strace").isEmpty())
        GTEST_SKIP() << "strace is not installed";
    TestMachine machine;
    machine.shutdown();
    storeHiveList(machine, climbingTo(decoy_));
    QTemporaryDir logDir;
    const QString log = logDir.filePath("strace.log");
    // The leak checker cannot run under a tracer.
    const QByteArray asan = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
    const auto backup =
        cli(machine, {"backup", "Traced"},
            {"strace", "-f", "-y", "-e", "trace=%file,write", "-o", log.toStdString()});
    qputenv("ASAN_OPTIONS", asan);
    const QString trace = QString::fromUtf8(contentOf(log));
    if (backup.exitCode != 0 && (trace.isEmpty() || backup.err.find("PTRACE") != std::string::npos))
        GTEST_SKIP() << "strace cannot trace here: " << backup.err;
    ASSERT_EQ(backup.exitCode, 0) << backup.err;

    const std::string machineFolder =
        QFileInfo(QString::fromStdString(machine.folder())).canonicalFilePath().toStdString();
    const std::string programFolder =
        QFileInfo(programDir_.path()).canonicalFilePath().toStdString();
    const auto changes = fileChanges(trace, QDir::currentPath());
    int inside = 0;
    for (const FileChange& change : changes)
        for (const std::string& path : change.paths) {
            if (isInside(path, machineFolder) || isInside(path, programFolder)) {
                ++inside;
                continue;
            }
            // The terminal and the null device take output; they are no files.
            if (path == "/dev/null" || path == "/dev/tty" || path.starts_with("/dev/pts/"))
                continue;
            ADD_FAILURE() << change.call << " changes " << path;
        }
    // The trace did see the backup write its profile.
    EXPECT_GT(inside, 5);
    EXPECT_EQ(contentOf(decoy_), QByteArray(kDecoyText));
}

TEST_F(HostileMachine, ASaveReplacesItsTargetOnlyWithAWholeCopy) {
    TestMachine machine;
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege"}));
    TestUiLoop ui;
    THiveManager manager(ui);
    const QString target = programDir_.filePath("SOFTWARE");
    const auto write = [&](const QByteArray& bytes) {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    write("an earlier copy\n");
    // A hive whose key cannot be opened saves nothing, and the file stays.
    THive stray("\\REGISTRY\\OTHER\\SOFTWARE", manager.Mapper(),
                "\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\SOFTWARE");
    stray.Save(target.toStdString());
    EXPECT_FALSE(stray.Saved);
    EXPECT_EQ(contentOf(target), QByteArray("an earlier copy\n"));

    // A save that succeeds puts a whole hive in its place, and nothing beside it.
    THive software("\\REGISTRY\\MACHINE\\SOFTWARE", manager.Mapper(),
                   "\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\SOFTWARE");
    software.Save(target.toStdString());
    EXPECT_TRUE(software.Saved);
    EXPECT_NO_THROW(hive::LoadHiveFile(target.toStdString()));
    EXPECT_EQ(software.SavedSize, uint32_t(QFileInfo(target).size()));
    EXPECT_EQ(QDir(programDir_.path()).entryList(QDir::Files), QStringList{"SOFTWARE"});
}

TEST(PlainFileName, RefusesEveryNameThatLeavesItsFolder) {
    for (const char* name : {"SYSTEM", "NTUSER.DAT", "a b", ".hidden", "x..y", "\xE9t\xE9"})
        EXPECT_TRUE(win32::IsPlainFileName(name)) << name;
    const struct {
        std::string name;
        const char* fault;
    } refused[] = {
        {"", "is empty"},
        {".", "dots"},
        {"..", "dots"},
        {"...", "dots"},
        {"../x", "\"/\""},
        {"a/b", "\"/\""},
        {"..\\x", "\"\\\""},
        {"C:x", "\":\""},
        {"SYSTEM:stream", "\":\""},
        {std::string("a\0b", 3), "0x00"},
        {"a\nb", "0x0A"},
        {"a\x7F", "0x7F"},
    };
    for (const auto& [name, fault] : refused) {
        const std::string why = win32::PlainFileNameFault(name);
        EXPECT_NE(why.find(fault), std::string::npos) << name << ": " << why;
    }
}

} // namespace
