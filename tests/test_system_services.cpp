// Restarting Windows, the run-at-start-up entry, the registry editor, the date text and
// the memory status.

#include "registry/AutoRun.h"
#include "registry/DateTimeText.h"
#include "registry/OSInfo.h"
#include "registry/RegeditDriver.h"
#include "registry/SystemRestart.h"
#include "support/MachineFixture.h"
#include "support/NamedPipes.h"
#include "win32/base/LastError.h"
#include "win32/machine/Machine.h"
#include "win32/machine/SystemShutdown.h"
#include "win32/registry/RegImport.h"
#include "win32/registry/Registry.h"
#include "win32/shell/RegistryEditor.h"
#include "win32/shell/Shell.h"
#include "win32/system/MemoryStatus.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>

using namespace testing_support;

namespace {

std::optional<std::string> readString(HKEY root, const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char data[512];
    DWORD size = sizeof data, type = 0;
    const LONG rc =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(data);
}

// Records the flags ExitWindowsEx passes to the program.
class ExitHook {
public:
    ExitHook() {
        win32::SetExitWindowsHook([this](UINT flags) { calls.push_back(flags); });
    }
    ~ExitHook() { win32::SetExitWindowsHook({}); }
    std::vector<UINT> calls;
};

TEST(RestartWindows, PassesTheFlagsOfEachMode) {
    const struct {
        int mode;
        bool force;
        std::vector<UINT> flags;
    } cases[] = {{0, false, {1}}, {0, true, {5}}, {1, false, {3}}, {1, true, {7}},
                 {2, false, {0}}, {2, true, {4}}, {3, true, {}},   {-1, false, {}}};
    TestMachine machine;
    for (const auto& c : cases) {
        if (!win32::IsMachineBooted())
            machine.boot();
        InitOSInfo();
        ExitHook hook;
        RestartWindows(c.mode, c.force);
        EXPECT_EQ(hook.calls, c.flags) << c.mode << " " << c.force;
        // The session ended for every mode that did something.
        EXPECT_EQ(win32::IsMachineBooted(), c.flags.empty()) << c.mode;
    }
}

// SOFTWARE saved densely beside its file, as SOFTWARE.rctemp.
void saveSoftware() {
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software), 0);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}));
    ASSERT_EQ(RegSaveKeyA(software, "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp", nullptr), 0);
    RegCloseKey(software);
}

// Every end of the session lets the machine go, which is its next start: the replacements
// are made. A copy that is not a save of the hive itself (a restored profile's) is put in
// place as it is, and later changes go with the old file.
TEST(RestartWindows, EveryEndOfTheSessionMakesThePendingHiveReplacements) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Saved]\n\"v\"=\"in the copy\"\n");
    saveSoftware();
    std::filesystem::copy_file(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rctemp"),
                               machine.hostPath("WINDOWS/system32/config/SOFTWARE.profile"));
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved"), 0);
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.profile",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak"),
              0);
    InitOSInfo();
    ExitHook hook;
    EXPECT_TRUE(RestartWindows(2, true)); // a log-off
    EXPECT_TRUE(win32::LastExitWindowsProblems().empty());
    EXPECT_EQ(win32::LastRestartReplacements().outcomes.size(), 1u);
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    EXPECT_TRUE(QFile::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak"))));
    machine.boot();
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved", "v"), "in the copy");
    EXPECT_EQ(hook.calls, (std::vector<UINT>{4}));
}

// A compaction's copy is a save of the hive itself: a change made after it (a repair) is
// not undone by the replacement, the copy is made again first.
TEST(RestartWindows, ACompactCopyIsMadeAgainWhenItsHiveChangedSince) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Saved]\n\"v\"=\"in the copy\"\n");
    saveSoftware();
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak"),
              0);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved"), 0);
    InitOSInfo();
    EXPECT_TRUE(RestartWindows(1, true));
    EXPECT_TRUE(win32::LastExitWindowsProblems().empty());
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    EXPECT_FALSE(QFile::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rctemp"))));
    machine.boot();
    EXPECT_FALSE(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved", "v"));
}

// A file that no longer holds the bytes of the save made under its identity (written over
// in place, or a later file given the save's freed inode, as a profile's copy may be) is
// no save of the hive: it is put in place as it is, never made again from the live hive.
TEST(RestartWindows, AFileNoLongerHoldingItsSaveIsPutInPlaceAsItIs) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Saved]\n\"v\"=\"in the copy\"\n");
    saveSoftware();
    HKEY saved = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved", 0, KEY_ALL_ACCESS, &saved), 0);
    const char text[] = "only in the other copy";
    ASSERT_EQ(
        RegSetValueExA(saved, "w", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), 0);
    RegCloseKey(saved);
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software), 0);
    ASSERT_EQ(RegSaveKeyA(software, "C:\\WINDOWS\\system32\\config\\SOFTWARE.other", nullptr), 0);
    RegCloseKey(software);
    const std::string save = machine.hostPath("WINDOWS/system32/config/SOFTWARE.rctemp");
    const std::string other = machine.hostPath("WINDOWS/system32/config/SOFTWARE.other");
    const auto inode = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const auto saveInode = inode(save);
    {
        std::ifstream in(other, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(save, std::ios::binary | std::ios::trunc) << bytes;
    }
    ASSERT_EQ(inode(save), saveInode);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved"), 0);
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak"),
              0);
    machine.shutdown();
    EXPECT_TRUE(win32::LastReleaseReplacements().allMade());
    machine.boot();
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved", "w"), "only in the other copy");
}

// A machine mounted read-only cannot have its hives replaced: its restart says so, and
// the replacement keeps waiting.
TEST(RestartWindows, AReadOnlyMountSaysItReplacedNothing) {
    TestMachine machine;
    saveSoftware();
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp",
                             "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak"),
              0);
    // Its old-file name is taken when the machine is let go: the replacement waits.
    const std::string blocker = machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak");
    std::filesystem::copy_file(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rctemp"),
                               blocker);
    machine.shutdown();
    std::filesystem::remove(blocker);
    ASSERT_EQ(win32::PendingReplacementsOf(machine.folder()).size(), 1u);

    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    machine.boot(readOnly);
    InitOSInfo();
    ExitHook hook;
    EXPECT_TRUE(RestartWindows(1, true));
    const auto problems = win32::LastExitWindowsProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("was mounted read-only: no hive was replaced"), std::string::npos)
        << problems[0];
    EXPECT_EQ(win32::PendingReplacementsOf(machine.folder()).size(), 1u);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(blocker)));
}

TEST(RestartWindows, NeedsTheShutdownPrivilege) {
    TestMachine machine;
    machine.shutdown();
    machine.writeIni("[Privileges]\nSeShutdownPrivilege=disabled\n");
    machine.boot();
    InitOSInfo();
    ExitHook hook;
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_TRUE(win32::IsMachineBooted());
    EXPECT_FALSE(ExitWindowsEx(0x100, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    // RestartWindows enables it first.
    EXPECT_TRUE(RestartWindows(0, false));
    EXPECT_EQ(hook.calls, std::vector<UINT>{1});

    machine.writeIni("[Privileges]\nSeShutdownPrivilege=denied\n");
    machine.boot();
    EXPECT_FALSE(RestartWindows(1, true));
    EXPECT_TRUE(win32::IsMachineBooted());
    // Logging off needs no privilege.
    EXPECT_TRUE(RestartWindows(2, false));
    EXPECT_EQ(hook.calls, (std::vector<UINT>{1, 0}));
}

TEST(AutoRun, SetsAndRemovesTheRunValue) {
    TestMachine machine;
    constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    SetAutoRun("Hivekeeper", "C:\\Program Files\\Hivewarden\\hivewarden.exe", true);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, kRun, "Hivekeeper"),
              "C:\\Program Files\\Hivewarden\\hivewarden.exe");
    SetAutoRun("Hivekeeper", "", false);
    EXPECT_FALSE(readString(HKEY_LOCAL_MACHINE, kRun, "Hivekeeper"));
    SetAutoRun("Hivekeeper", "", false); // nothing to delete
    // The key is never created.
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRun), 0);
    SetAutoRun("Hivekeeper", "x", true);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST(DateTimeToText, HoursAndMinutesWithoutLeadingZeros) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(DateTimeToText(EncodeDateTime(2026, 12, 8, 21, 5, 0)), "December 08,2026 9:5 pm");
    EXPECT_EQ(DateTimeToText(EncodeDateTime(2027, 1, 1, 9, 30, 59)), "January 01,2027 9:30 am");
    QLocale::setDefault(QLocale::system());
}

// --- the registry editor ---

void writeFile(const std::string& path, const std::string& content) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content.data(), qint64(content.size()));
}

INT_PTR shellExecute(const char* file, const char* parameters, const char* verb = nullptr) {
    return reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, verb, file, parameters, nullptr, SW_HIDE));
}

TEST(RegistryEditor, ImportsAFileInTheBackgroundAndMergesWithSlashC) {
    TestMachine machine("[HKEY_CURRENT_USER\\Software\\Kept]\n\"k\"=\"stays\"\n");
    writeFile(machine.hostPath("undo.reg"),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Restored]\r\n\"v\"=\"back\"\r\n");
    EXPECT_GT(shellExecute("REGEDIT", "/SC /C C:\\UNDO.REG"), 32);
    const auto outcomes = win32::WaitForRegistryImports();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].imported) << outcomes[0].error;
    EXPECT_EQ(outcomes[0].applied, 2);
    EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\Restored", "v"), "back");
    // "/C" would replace the whole registry on Windows 95: here it merges.
    EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\Kept", "k"), "stays");
    EXPECT_TRUE(win32::WaitForRegistryImports().empty()); // each outcome once
}

TEST(RegistryEditor, TakesHostPathsAndReportsWhatItCannotStart) {
    TestMachine machine;
    QTemporaryDir program;
    const std::string folder = program.path().toStdString() + "/Registry Backup";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    writeFile(folder + "/01012027000000.reg",
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\FromHost]\r\n\"v\"=\"1\"\r\n");
    writeFile(folder + "/notes.reg", "this is no registry file");
    // The program's folder in its own notation: "\" joins the name.
    EXPECT_GT(
        shellExecute("regedit.exe", ("/S \"" + folder + "\\01012027000000.reg\"").c_str(), "open"),
        32);
    EXPECT_GT(shellExecute("regedit.exe", ("/S " + folder + "/notes.reg").c_str()), 32);
    const auto outcomes = win32::WaitForRegistryImports();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_TRUE(outcomes[0].imported);
    EXPECT_FALSE(outcomes[1].imported);
    EXPECT_FALSE(outcomes[1].error.empty());
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\FromHost", "v"), "1");

    EXPECT_EQ(shellExecute("REGEDIT", "/SC /C C:\\nothere.reg"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(shellExecute("REGEDIT", "/SC /C C:\\NoFolder\\x.reg"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(shellExecute("REGEDIT", "/E C:\\out.reg HKEY_CURRENT_USER"), ERROR_BAD_FORMAT);
    EXPECT_EQ(shellExecute("REGEDIT", "/S C:\\x.reg", "print"), SE_ERR_NOASSOC);
    EXPECT_EQ(shellExecute("notepad.exe", "C:\\x.txt"), SE_ERR_NOASSOC);
    EXPECT_TRUE(win32::WaitForRegistryImports().empty());
}

TEST(RegistryEditor, ANamedPipeIsNoRegistryFile) {
    TestMachine machine;
    const std::string pipe = machine.hostPath("pipe.reg");
    MakePipe(pipe);
    const auto error = CallPastPipe(pipe, [&pipe] {
        try {
            win32::RegImportFile(pipe);
            return std::string("imported");
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
    });
    EXPECT_EQ(error, pipe + ": not a regular file");
    EXPECT_EQ(shellExecute("REGEDIT", "/S C:\\pipe.reg"), ERROR_FILE_NOT_FOUND);
}

// What the machine's start reads from its folder: a pipe in a file's place fails the
// start, or is no request, at once.
TEST(RestartWindows, NamedPipesInPlaceOfTheMachinesFiles) {
    TestMachine machine;
    machine.shutdown();
    const std::string pending = machine.hostPath("hivewarden-pending-replacements.txt");
    MakePipe(pending);
    const auto requests = CallPastPipe(
        pending, [&machine] { return win32::PendingReplacementsOf(machine.folder()); });
    EXPECT_TRUE(requests && requests->empty());
    std::filesystem::remove(pending);

    for (const std::string file :
         {win32::kMachineIniFileName, "WINDOWS/system32/config/SOFTWARE"}) {
        SCOPED_TRACE(file);
        const std::string host = machine.hostPath(file);
        const std::string kept = host + ".kept";
        std::filesystem::remove(kept);
        if (std::filesystem::exists(host))
            std::filesystem::rename(host, kept);
        MakePipe(host);
        const auto error = CallPastPipe(host, [&machine] {
            try {
                machine.boot();
                return std::string("booted");
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
        });
        EXPECT_NE(error.value_or("").find("not a regular file"), std::string::npos)
            << error.value_or("(waited)");
        if (win32::IsMachineBooted()) {
            ADD_FAILURE() << "booted with a pipe in its place";
            machine.shutdown();
        }
        std::filesystem::remove(host);
        if (std::filesystem::exists(kept))
            std::filesystem::rename(kept, host);
    }
    machine.boot();
    EXPECT_TRUE(win32::IsMachineBooted());
}

TEST(RegistryEditor, ShutdownWaitsForImports) {
    TestMachine machine;
    std::string big = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 2000; ++i)
        big += "[HKEY_CURRENT_USER\\Software\\Many\\K" + std::to_string(i) + "]\r\n\"v\"=\"" +
               std::to_string(i) + "\"\r\n";
    writeFile(machine.hostPath("big.reg"), big);
    ASSERT_GT(shellExecute("REGEDIT", "/S C:\\big.reg"), 32);
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\Many\\K1999", "v"), "1999");
    EXPECT_EQ(win32::WaitForRegistryImports().size(), 1u);
}

TEST(ShellExecute, OtherProgramsGoToTheProgramsHandler) {
    std::vector<std::string> opened;
    win32::SetShellOpenHandler([&](const std::string& verb, const std::string& file,
                                   const std::string& parameters, int show) -> INT_PTR {
        opened.push_back(verb + "|" + file + "|" + parameters + "|" + std::to_string(show));
        return 42;
    });
    EXPECT_EQ(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", "Notepad.exe ",
                                                      "C:\\undo.reg", nullptr, SW_SHOWNORMAL)),
              42);
    EXPECT_EQ(opened, std::vector<std::string>{"open|Notepad.exe |C:\\undo.reg|1"});
    win32::SetShellOpenHandler({});
    EXPECT_EQ(shellExecute("IEXPLORE.EXE", "http://example.com"), SE_ERR_NOASSOC);
}

class TestEditor : public win32::RegistryEditorWindow {
public:
    bool isOpen() const override { return open_; }
    void open() override {
        open_ = true;
        calls.push_back("open");
    }
    void show() override { calls.push_back("show"); }
    void selectKey(const std::string& key) override { calls.push_back("key " + key); }
    void selectValue(const std::string& name) override { calls.push_back("value " + name); }
    std::vector<std::string> calls;

private:
    bool open_ = false;
};

TEST(OpenRegeditAt, FindsNoEditorWithoutAViewer) {
    TestMachine machine;
    win32::SetRegistryEditorWindow(nullptr);
    EXPECT_FALSE(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE", ""));
    EXPECT_EQ(shellExecute("regedit.exe", nullptr, "open"), SE_ERR_NOASSOC);
}

TEST(OpenRegeditAt, StartsTheViewerAndSelectsTheKeyAndValue) {
    TestMachine machine;
    TestEditor editor;
    win32::SetRegistryEditorWindow(&editor);
    EXPECT_TRUE(OpenRegeditAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft", "Version"));
    EXPECT_EQ(editor.calls, (std::vector<std::string>{"open", "show",
                                                      "key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft",
                                                      "value Version", "show"}));
    editor.calls.clear();
    // Open already: found at once; no value name, no value selected.
    EXPECT_TRUE(OpenRegeditAt("HKEY_CURRENT_USER\\Software", ""));
    EXPECT_EQ(editor.calls,
              (std::vector<std::string>{"show", "key HKEY_CURRENT_USER\\Software", "show"}));
    win32::SetRegistryEditorWindow(nullptr);
}

TEST(GlobalMemoryStatus, DescribesTheHostsMemory) {
    MEMORYSTATUS status{};
    GlobalMemoryStatus(&status);
    EXPECT_EQ(status.dwLength, sizeof status);
    EXPECT_GT(status.dwTotalPhys, 0u);
    EXPECT_LE(status.dwAvailPhys, status.dwTotalPhys);
    EXPECT_LE(status.dwMemoryLoad, 100u);
    EXPECT_GE(status.dwTotalPageFile, status.dwTotalPhys);
    EXPECT_LE(status.dwAvailVirtual, status.dwTotalVirtual);
}

} // namespace
