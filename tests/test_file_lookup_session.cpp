// What a file lookup session (a scan) keeps of the files it looked at: one answer for
// each file whatever spelling names it, an image's first bytes read once, everything
// asked again after the program's own changes, and links off the machine refused.

#include "scan/CanStartProcess.h"
#include "support/MachineFixture.h"
#include "support/Wow64Machine.h"
#include "win32/base/FileSystemView.h"
#include "win32/base/LastError.h"
#include "win32/files/Files.h"
#include "win32/host/FileLookupSession.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

void writeHost(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

DWORD attributesElsewhere(const char* path) {
    DWORD attributes = 0;
    std::thread([&] { attributes = GetFileAttributesA(path); }).join();
    return attributes;
}

class FileLookupSession : public ::testing::Test {
protected:
    TestMachine machine{"",
                        {
                            {"C:\\Program Files\\My App\\app.exe", MzImage()},
                            {"C:\\Program Files\\My App\\readme.txt", "read me"},
                            {"C:\\Tools\\tool.exe", MzImage()},
                            {"C:\\Data\\in.txt", "in"},
                        }};
    std::string host(const std::string& relative) const { return machine.hostPath(relative); }
};

// Every spelling of one file is that file: once looked at, the session answers for it
// from what it saw, here after it was made read-only behind the program's back.
TEST_F(FileLookupSession, EverySpellingOfAFileSharesOneAnswer) {
    const win32::FileLookupSession session;
    ASSERT_EQ(GetFileAttributesA("C:\\Program Files\\My App\\app.exe"), FILE_ATTRIBUTE_NORMAL);
    fs::permissions(host("Program Files/My App/app.exe"), fs::perms::owner_read);
    for (const char* spelling : {
             "c:\\PROGRAM FILES\\my app\\APP.EXE", "C:/Program Files/My App/app.exe",
             "C:\\PROGRA~1\\MYAPP~1\\app.exe", "C:\\Program Files\\Other\\..\\My App\\.\\app.exe. ",
             "..\\..\\Program Files\\My App\\app.exe", // from the current folder, system32
         }) {
        SCOPED_TRACE(spelling);
        EXPECT_EQ(GetFileAttributesA(spelling), FILE_ATTRIBUTE_NORMAL);
    }
    // A thread without a session looks at the disk.
    EXPECT_EQ(attributesElsewhere("C:\\Program Files\\My App\\APP.EXE"), FILE_ATTRIBUTE_READONLY);
}

// CreateProcess reads an image's first bytes once for each file, whichever command line
// names it.
TEST_F(FileLookupSession, AnImageIsReadOnceWhateverCommandNamesIt) {
    const win32::FileLookupSession session;
    ASSERT_TRUE(CanStartProcess("\"C:\\Program Files\\My App\\app.exe\" /tray"));
    writeHost(host("Program Files/My App/app.exe"), "ZM not an image any more");
    EXPECT_TRUE(CanStartProcess("c:\\progra~1\\myapp~1\\APP.EXE /min"));
    EXPECT_TRUE(CanStartProcess("C:\\Program Files\\My App\\app"));
    // What the session never read is read as it is now.
    writeHost(host("Tools/tool.exe"), "ZM");
    EXPECT_FALSE(CanStartProcess("C:\\Tools\\tool.exe"));
}

TEST_F(FileLookupSession, AnAnswerChangesWhenTheProgramCreatesOrDeletesTheFile) {
    const win32::FileLookupSession session;
    const char* made = "C:\\Program Files\\My App\\new.exe";
    const char* command = "\"C:\\Program Files\\My App\\New.exe\" /s";
    EXPECT_EQ(GetFileAttributesA(made), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CanStartProcess(command));

    ASSERT_TRUE(CopyFileA("C:\\Tools\\tool.exe", "C:\\PROGRAM FILES\\MY APP\\NEW.EXE", TRUE));
    EXPECT_EQ(GetFileAttributesA(made), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(CanStartProcess(command));

    // A file replaced by the program is read again: it is no image now.
    ASSERT_TRUE(CopyFileA("C:\\Program Files\\My App\\readme.txt", made, FALSE));
    EXPECT_FALSE(CanStartProcess(command));

    ASSERT_TRUE(DeleteFileA("c:\\program files\\my app\\new.exe"));
    EXPECT_EQ(GetFileAttributesA(made), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CanStartProcess(command));

    const char* folder = "C:\\Program Files\\My App\\Plugins";
    EXPECT_EQ(GetFileAttributesA(folder), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(CreateDirectoryA("C:\\PROGRAM FILES\\my app\\plugins", nullptr));
    EXPECT_EQ(GetFileAttributesA(folder), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\My App\\Plugins\\x.dll"),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(RemoveDirectoryA(folder));
    EXPECT_EQ(GetFileAttributesA(folder), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\My App\\Plugins\\x.dll"),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

// What a session learnt of the folders on the way never carries a path past a link that
// leaves the machine, however often and however spelled it is asked for.
TEST_F(FileLookupSession, APathThroughALinkOffTheMachineIsRefusedEveryTime) {
    QTemporaryDir outside;
    const std::string far = outside.path().toStdString();
    writeHost(far + "/far.exe", MzImage());
    writeHost(far + "/sub/deep.txt", "x");
    fs::create_directory_symlink(far, host("Data/Out"));
    fs::create_directory_symlink(host("Tools"), host("Data/Near"));

    const win32::FileLookupSession session;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(GetFileAttributesA("C:\\Data\\in.txt"), FILE_ATTRIBUTE_NORMAL);
        for (const char* refused :
             {"C:\\Data\\Out", "C:\\Data\\Out\\far.exe", "C:\\DATA\\OUT\\FAR.EXE",
              "C:\\Data\\Out\\sub\\deep.txt", "C:\\Data\\Near\\..\\Out\\sub\\deep.txt"}) {
            SCOPED_TRACE(refused);
            SetLastError(0);
            EXPECT_EQ(GetFileAttributesA(refused), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        }
        EXPECT_FALSE(CanStartProcess("C:\\Data\\Out\\far.exe"));
        EXPECT_FALSE(CanStartProcess("\"C:\\data\\out\\far\" /x"));
        EXPECT_EQ(GetFileAttributesA("C:\\Data\\Near\\tool.exe"), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(CanStartProcess("C:\\Data\\Near\\tool.exe"));
    }
    // A link inside the machine leads to the file itself: one answer for both paths.
    fs::permissions(host("Tools/tool.exe"), fs::perms::owner_read);
    EXPECT_EQ(GetFileAttributesA("C:\\Tools\\tool.exe"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(attributesElsewhere("C:\\Tools\\tool.exe"), FILE_ATTRIBUTE_READONLY);
}

// The folders a session resolved are kept by their spelling: folders on disk that differ
// only in case stay apart at every depth.
TEST_F(FileLookupSession, FoldersDifferingInCaseStayApartBelowTheFirstLevel) {
    writeHost(host("Twins/Deep/upper.txt"), "x");
    if (fs::exists(host("twins")))
        GTEST_SKIP() << "the temporary folder ignores case";
    writeHost(host("twins/Deep/lower.txt"), "x");
    const win32::FileLookupSession session;
    struct Case {
        const char* path;
        DWORD attributes;
    } cases[] = {
        {"C:\\Twins\\Deep\\upper.txt", FILE_ATTRIBUTE_NORMAL},
        {"C:\\twins\\Deep\\lower.txt", FILE_ATTRIBUTE_NORMAL},
        {"C:\\Twins\\Deep\\lower.txt", INVALID_FILE_ATTRIBUTES},
        {"C:\\twins\\deep\\upper.txt", INVALID_FILE_ATTRIBUTES},
        {"C:\\TWINS\\DEEP\\UPPER.TXT", FILE_ATTRIBUTE_NORMAL}, // "Twins" sorts first
        {"C:\\TWINS\\DEEP\\LOWER.TXT", INVALID_FILE_ATTRIBUTES},
    };
    for (int round = 0; round < 2; ++round)
        for (const Case& c : cases)
            EXPECT_EQ(GetFileAttributesA(c.path), c.attributes) << c.path << ", round " << round;
}

// A 32-bit program that names the real System32 through Sysnative starts the image it
// names, not the one of the same name in SysWOW64.
TEST(FileLookupSessionWow64, A32BitCommandThroughSysnativeStartsTheNativeImage) {
    TestMachine machine(kWow64Registry,
                        {
                            {"C:\\WINDOWS\\system32\\native.exe", MzImage()},
                            {"C:\\WINDOWS\\SysWOW64\\native.exe", "ZM, no image"},
                            {"C:\\WINDOWS\\system32\\only64.exe", MzImage()},
                        },
                        kWindows10);
    Reboot(machine);
    for (const bool session : {false, true}) {
        SCOPED_TRACE(session ? "in a session" : "without a session");
        std::optional<win32::FileLookupSession> lookups;
        if (session)
            lookups.emplace();
        EXPECT_TRUE(CanStartProcess("C:\\WINDOWS\\system32\\native.exe"));
        EXPECT_TRUE(CanStartProcess("C:\\WINDOWS\\system32\\only64.exe"));
        const win32::ScopedFileSystemView view(win32::FileSystemView::Wow64);
        EXPECT_FALSE(CanStartProcess("C:\\WINDOWS\\system32\\native.exe"));
        EXPECT_FALSE(CanStartProcess("C:\\WINDOWS\\system32\\only64.exe"));
        EXPECT_TRUE(CanStartProcess("C:\\WINDOWS\\Sysnative\\native.exe"));
        EXPECT_TRUE(CanStartProcess("C:\\WINDOWS\\Sysnative\\only64.exe"));
    }
}

// What the file functions take from a machine's environment (the current folder, the
// folders a 32-bit program is redirected in) is the booted machine's: a machine booted
// next on the same thread, its Windows folder now WINNT, finds files in its own.
TEST(FileLookupBoots, TheSystemFoldersAreTheBootedMachines) {
    TestMachine machine(kWow64Registry,
                        {
                            {"C:\\WINDOWS\\system32\\tool.dll", "x"},
                            {"C:\\WINDOWS\\SysWOW64\\tool32.dll", "x"},
                        },
                        kWindows10);
    Reboot(machine);
    const auto expectFound = [](const char* windows) {
        SCOPED_TRACE(windows);
        EXPECT_EQ(GetFileAttributesA("tool.dll"), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetFileAttributesA((std::string(windows) + "\\system32\\tool.dll").c_str()),
                  FILE_ATTRIBUTE_NORMAL);
        const win32::ScopedFileSystemView view(win32::FileSystemView::Wow64);
        EXPECT_EQ(GetFileAttributesA("tool32.dll"), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetFileAttributesA((std::string(windows) + "\\system32\\tool32.dll").c_str()),
                  FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetFileAttributesA((std::string(windows) + "\\Sysnative\\tool.dll").c_str()),
                  FILE_ATTRIBUTE_NORMAL);
    };
    expectFound("C:\\WINDOWS");
    machine.shutdown();
    fs::rename(machine.hostPath("WINDOWS"), machine.hostPath("WINNT"));
    machine.boot();
    expectFound("C:\\WINNT");
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\tool.dll"), INVALID_FILE_ATTRIBUTES);
}

} // namespace
