// The file functions over a booted test machine: case-insensitive paths, confinement
// to the drive, the listing cache, wildcards and short names.

#include "support/MachineFixture.h"
#include "win32/base/LastError.h"
#include "win32/files/Files.h"
#include "win32/host/FileLookupSession.h"
#include "win32/registry/Registry.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string readHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeHost(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Sets a folder's times an hour back, so that its listing may be kept.
void settle(const std::string& path) {
    const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0) << path;
}

std::vector<FixtureFile> standardFiles() {
    return {
        {"C:\\WINDOWS\\system32\\shell32.dll", MzImage()},
        {"C:\\WINDOWS\\system32\\drivers\\etc\\hosts", "127.0.0.1 localhost"},
        {"C:\\Program Files\\My App\\app.exe", MzImage()},
        {"C:\\Program Files\\My App\\readme.txt", "read me"},
    };
}

class FilesTest : public ::testing::Test {
protected:
    TestMachine machine{"", standardFiles()};
    std::string host(const std::string& relative) const { return machine.hostPath(relative); }
};

struct AttributeCase {
    const char* path;
    DWORD attributes; // INVALID_FILE_ATTRIBUTES: fails with `error`
    DWORD error;
};

TEST_F(FilesTest, GetFileAttributesMatchesEveryComponentWithoutCase) {
    ::chmod(host("Program Files/My App/readme.txt").c_str(), 0444);
    const AttributeCase cases[] = {
        {"C:\\WINDOWS\\System32\\SHELL32.DLL", FILE_ATTRIBUTE_NORMAL, 0},
        {"c:/windows/SYSTEM32/Drivers/ETC/Hosts", FILE_ATTRIBUTE_NORMAL, 0},
        {"C:\\program files\\MY APP", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\Windows\\System32\\", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\Program Files\\My App\\README.TXT", FILE_ATTRIBUTE_READONLY, 0},
        // trailing dots and spaces do not count, as on Windows
        {"C:\\Windows\\system32\\shell32.dll. ", FILE_ATTRIBUTE_NORMAL, 0},
        // short names are names too
        {"C:\\PROGRA~1\\myapp~1\\README.TXT", FILE_ATTRIBUTE_READONLY, 0},
        {"C:\\PROGRA~2", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        // relative paths start in the current folder, system32
        {"Shell32.dll", FILE_ATTRIBUTE_NORMAL, 0},
        {"drivers\\ETC\\hosts", FILE_ATTRIBUTE_NORMAL, 0},
        {"..\\SYSTEM32\\shell32.dll", FILE_ATTRIBUTE_NORMAL, 0},
        // ".." stops at the drive's root
        {"C:\\..\\..\\..\\Windows\\System32\\shell32.dll", FILE_ATTRIBUTE_NORMAL, 0},
        {"C:\\Windows\\..\\..\\Program Files", FILE_ATTRIBUTE_DIRECTORY, 0},
        // failures
        {"C:\\Windows\\System32\\missing.dll", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\Windows\\Missing\\shell32.dll", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"C:\\Windows\\System32\\shell32.dll\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"C:\\Windows\\System32\\shell32.dll\\", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
        {"C:\\Windows\\System32\\*.dll", INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
        {"Q:\\Windows", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"\\\\server\\share\\file", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0);
        const DWORD attributes = GetFileAttributesA(c.path);
        EXPECT_EQ(attributes, c.attributes);
        if (c.attributes == INVALID_FILE_ATTRIBUTES) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

// A link inside the machine that points out of it is never followed, by any function.
TEST_F(FilesTest, LinksOutOfTheMachineAreNeverFollowed) {
    const fs::path outside = fs::path(machine.folder()).parent_path() / "outside";
    writeHost((outside / "secret.txt").string(), "secret");
    fs::create_directory_symlink(outside, host("escape"));
    fs::create_symlink(outside / "secret.txt", host("WINDOWS/secret.txt"));
    fs::create_directory_symlink("../Program Files", host("WINDOWS/inside"));

    for (const char* path : {"C:\\escape\\secret.txt", "C:\\ESCAPE", "C:\\Windows\\Secret.txt"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    EXPECT_FALSE(CopyFileA("C:\\Windows\\System32\\shell32.dll", "C:\\escape\\secret.txt", FALSE));
    EXPECT_FALSE(CopyFileA("C:\\escape\\secret.txt", "C:\\stolen.txt", FALSE));
    EXPECT_FALSE(CreateDirectoryA("C:\\escape\\new", nullptr));
    EXPECT_FALSE(DeleteFileA("C:\\escape\\secret.txt"));
    EXPECT_EQ(readHost((outside / "secret.txt").string()), "secret");
    EXPECT_FALSE(fs::exists(outside / "new"));
    EXPECT_FALSE(fs::exists(host("stolen.txt")));

    // A listing shows neither link; a link that stays inside is followed.
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do
        EXPECT_STRNE(data.cFileName, "escape");
    while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\Inside\\MY APP\\app.exe"), FILE_ATTRIBUTE_NORMAL);

    // Deleting a link deletes the link, not what it points at.
    EXPECT_TRUE(DeleteFileA("C:\\Windows\\SECRET.TXT"));
    EXPECT_FALSE(fs::is_symlink(host("WINDOWS/secret.txt")));
    EXPECT_EQ(readHost((outside / "secret.txt").string()), "secret");
}

// The listing cache must never hide a change, whether the program made it or not.
TEST_F(FilesTest, CachedListingsFollowChanges) {
    settle(host("WINDOWS/system32"));
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\NEW.DLL"), INVALID_FILE_ATTRIBUTES);

    // Made behind the program's back.
    writeHost(host("WINDOWS/system32/new.dll"), "x");
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\NEW.DLL"), FILE_ATTRIBUTE_NORMAL);

    // Made and removed by the program, in a folder whose listing is kept.
    settle(host("WINDOWS/system32"));
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\Copy.dll"), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(
        CopyFileA("C:\\Windows\\System32\\shell32.dll", "C:\\Windows\\System32\\Copy.dll", TRUE));
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\SYSTEM32\\COPY.DLL"), FILE_ATTRIBUTE_NORMAL);
    settle(host("WINDOWS/system32"));
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\SYSTEM32\\COPY.DLL"), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileA("C:\\windows\\system32\\copy.dll"));
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\SYSTEM32\\COPY.DLL"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    settle(host("WINDOWS"));
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\Temp"), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(CreateDirectoryA("C:\\WINDOWS\\Temp", nullptr));
    EXPECT_EQ(GetFileAttributesA("C:\\windows\\TEMP"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(fs::is_directory(host("WINDOWS/Temp")));
    ASSERT_TRUE(RemoveDirectoryA("C:\\windows\\temp"));
    EXPECT_EQ(GetFileAttributesA("C:\\windows\\TEMP"), INVALID_FILE_ATTRIBUTES);

    // Renamed behind the program's back: the old spelling is gone, the new one found.
    settle(host("Program Files"));
    EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\My App"), FILE_ATTRIBUTE_DIRECTORY);
    fs::rename(host("Program Files/My App"), host("Program Files/Other"));
    EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\My App"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("C:\\Program Files\\OTHER\\APP.EXE"), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesTest, ALookupSessionKeepsWhatItSawUntilTheProgramChangesAFile) {
    settle(host("WINDOWS/system32"));
    {
        const win32::FileLookupSession session;
        EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\Late.dll"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\shell32.dll"), FILE_ATTRIBUTE_NORMAL);
        // Behind the program's back: the session keeps the folder as it first saw it,
        // errors included.
        writeHost(host("WINDOWS/system32/late.dll"), "x");
        fs::remove(host("WINDOWS/system32/shell32.dll"));
        EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\Late.dll"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\shell32.dll"), FILE_ATTRIBUTE_NORMAL);
        // The program's own change ends that: everything is looked at again.
        ASSERT_TRUE(CreateDirectoryA("C:\\WINDOWS\\Temp", nullptr));
        EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\Late.dll"), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\system32\\shell32.dll"),
                  INVALID_FILE_ATTRIBUTES);
    }
    // Other threads hold no session.
    writeHost(host("WINDOWS/system32/later.dll"), "x");
    const win32::FileLookupSession session;
    std::thread([] {
        EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\Later.dll"), FILE_ATTRIBUTE_NORMAL);
    }).join();
}

// A folder changed a moment ago (as a machine just copied or made is) is listed once per
// session all the same: a scan must not read the folder again for every file it names.
TEST_F(FilesTest, ALookupSessionKeepsAFolderItListedWhileItsTimesWereRecent) {
    writeHost(host("WINDOWS/system32/fresh.dll"), "x"); // the folder's times are now
    {
        const win32::FileLookupSession session;
        EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\Fresh.dll"), FILE_ATTRIBUTE_NORMAL);
        writeHost(host("WINDOWS/system32/late.dll"), "x");
        EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\SYSTEM32\\LATE.DLL"), INVALID_FILE_ATTRIBUTES);
        // The program's own change ends that trust.
        ASSERT_TRUE(CreateDirectoryA("C:\\WINDOWS\\Temp", nullptr));
        EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\late.dll"), FILE_ATTRIBUTE_NORMAL);
    }
    // Outside a session a listing of recent times is never trusted.
    writeHost(host("WINDOWS/system32/later.dll"), "x");
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\LATER.dll"), FILE_ATTRIBUTE_NORMAL);
}

// A session resolves each folder once, by its spelling: folders on disk that differ only
// in case stay apart (the exact spelling wins), and a spelling of neither finds the first.
TEST_F(FilesTest, ALookupSessionResolvesEachSpellingOfAFolderToItsOwnFolder) {
    writeHost(host("Twins/Upper.txt"), "x");
    writeHost(host("twins/lower.txt"), "x");
    const win32::FileLookupSession session;
    const AttributeCase cases[] = {
        {"C:\\Twins\\Upper.txt", FILE_ATTRIBUTE_NORMAL, 0},
        {"C:\\twins\\lower.txt", FILE_ATTRIBUTE_NORMAL, 0},
        {"C:\\Twins\\lower.txt", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\twins\\Upper.txt", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\TWINS\\UPPER.TXT", FILE_ATTRIBUTE_NORMAL, 0}, // "Twins" sorts first
        {"C:\\TWINS\\LOWER.TXT", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\Twins\\Missing\\x.txt", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (int round = 0; round < 2; ++round) // the second round from what the first resolved
        for (const auto& c : cases) {
            SCOPED_TRACE(c.path);
            SetLastError(0);
            EXPECT_EQ(GetFileAttributesA(c.path), c.attributes);
            if (c.attributes == INVALID_FILE_ATTRIBUTES) {
                EXPECT_EQ(GetLastError(), c.error);
            }
        }
}

TEST_F(FilesTest, CopyFileKeepsTheSpellingOnDiskAndHonoursFailIfExists) {
    const char* app = "C:\\Program Files\\My App\\app.exe";
    // A new file takes the name as given, in the folder as spelled on disk.
    ASSERT_TRUE(CopyFileA(app, "C:\\PROGRAM FILES\\my app\\Backup.EXE", TRUE));
    EXPECT_EQ(readHost(host("Program Files/My App/Backup.EXE")), MzImage());

    // An existing file in another case is that file: no twin appears.
    EXPECT_FALSE(CopyFileA("C:\\Windows\\System32\\drivers\\etc\\hosts",
                           "C:\\Program Files\\My App\\BACKUP.exe", TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_EQ(readHost(host("Program Files/My App/Backup.EXE")), MzImage());
    ASSERT_TRUE(CopyFileA("C:\\Windows\\System32\\drivers\\etc\\hosts",
                          "C:\\Program Files\\My App\\BACKUP.exe", FALSE));
    EXPECT_EQ(readHost(host("Program Files/My App/Backup.EXE")), "127.0.0.1 localhost");
    EXPECT_FALSE(fs::exists(host("Program Files/My App/BACKUP.exe")));

    struct Failure {
        const char* from;
        const char* to;
        DWORD error;
    };
    const Failure failures[] = {
        {"C:\\missing.txt", "C:\\x.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\missing\\x.txt", "C:\\x.txt", ERROR_PATH_NOT_FOUND},
        {app, "C:\\No Folder\\x.exe", ERROR_PATH_NOT_FOUND},
        {app, "C:\\Program Files\\My App", ERROR_ACCESS_DENIED},
        {"C:\\Program Files", "C:\\x", ERROR_ACCESS_DENIED},
        {app, "C:\\PROGRAM FILES\\MY APP\\APP.EXE", ERROR_SHARING_VIOLATION},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(std::string(f.from) + " -> " + f.to);
        SetLastError(0);
        EXPECT_FALSE(CopyFileA(f.from, f.to, FALSE));
        EXPECT_EQ(GetLastError(), f.error);
    }
    EXPECT_EQ(readHost(host("Program Files/My App/app.exe")), MzImage());

    ::chmod(host("Program Files/My App/readme.txt").c_str(), 0444);
    EXPECT_FALSE(CopyFileA(app, "C:\\Program Files\\My App\\README.TXT", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(readHost(host("Program Files/My App/readme.txt")), "read me");
}

TEST_F(FilesTest, DeleteCreateAndRemoveReportWindowsErrors) {
    EXPECT_FALSE(DeleteFileA("C:\\Program Files\\My App"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA("C:\\Program Files\\My App\\gone.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("C:\\No Folder\\gone.txt"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    ::chmod(host("Program Files/My App/readme.txt").c_str(), 0444);
    EXPECT_FALSE(DeleteFileA("C:\\Program Files\\My App\\README.TXT"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::exists(host("Program Files/My App/readme.txt")));

    EXPECT_FALSE(CreateDirectoryA("C:\\PROGRAM FILES\\my app", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\Program Files\\My App\\APP.EXE", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\No Folder\\Sub", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(fs::exists(host("No Folder")));

    EXPECT_FALSE(RemoveDirectoryA("C:\\program files\\MY APP"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA("C:\\program files\\MY APP\\app.exe"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
    EXPECT_TRUE(fs::exists(host("Program Files/My App/app.exe")));
}

TEST_F(FilesTest, AReadOnlyMachineRefusesEveryChange) {
    machine.shutdown();
    machine.boot({.readOnly = true});
    const char* app = "C:\\Program Files\\My App\\app.exe";
    EXPECT_FALSE(CopyFileA(app, "C:\\copy.exe", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(app));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CreateDirectoryA("C:\\New", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::exists(host("Program Files/My App/app.exe")));
    EXPECT_FALSE(fs::exists(host("copy.exe")));
    EXPECT_FALSE(fs::exists(host("New")));
    EXPECT_EQ(GetFileAttributesA(app), FILE_ATTRIBUTE_NORMAL);
}

std::vector<std::string> find(const char* pattern, DWORD* error = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
        if (error)
            *error = GetLastError();
        return names;
    }
    do
        names.push_back(data.cFileName);
    while (FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    return names;
}

using Names = std::vector<std::string>;

TEST(FindFiles, MatchesWildcardsAsWindowsDoes) {
    TestMachine machine("", {
                                {"C:\\Data\\a.txt", "a"},
                                {"C:\\Data\\b.TXT", "bb"},
                                {"C:\\Data\\c.html", ""},
                                {"C:\\Data\\noext", ""},
                                {"C:\\Data\\Long File Name.document", ""},
                                {"C:\\Data\\x.y.z", ""},
                                {"C:\\Data\\Sub\\inner.txt", ""},
                            });
    struct Case {
        const char* pattern;
        Names names;
    };
    const Names all = {".",     "..",  "a.txt", "b.TXT", "c.html", "Long File Name.document",
                       "noext", "Sub", "x.y.z"};
    const Case cases[] = {
        {"C:\\Data\\*", all},
        {"C:\\DATA\\*.*", all},
        {"c:/data/*.TXT", {"a.txt", "b.TXT"}},
        {"C:\\Data\\?.txt", {"a.txt", "b.TXT"}},
        // "?" matches nothing at the end of a name or before its period
        {"C:\\Data\\a?.txt", {"a.txt"}},
        {"C:\\Data\\noext??", {"noext"}},
        // "*." is the names without extension ("." and ".." among them)
        {"C:\\Data\\*.", {".", "..", "noext", "Sub"}},
        // the short name counts: c.html is C~1.HTM
        {"C:\\Data\\*.htm", {"c.html"}},
        {"C:\\Data\\LONG*", {"Long File Name.document"}},
        {"C:\\Data\\*.z", {"x.y.z"}},
        {"C:\\Data\\x*.y", {}},
        {"C:\\Data\\NOEXT", {"noext"}},
        {"C:\\Data\\sub", {"Sub"}},
        {"C:\\data", {"Data"}},
        // relative to the folder a drive letter names, or the current folder
        {"..\\..\\Data\\*.txt", {"a.txt", "b.TXT"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(find(c.pattern), c.names);
    }

    DWORD error = 0;
    EXPECT_EQ(find("C:\\Data\\*.doc2", &error), Names{});
    EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(find("C:\\Missing\\*", &error), Names{});
    EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(find("C:\\Data\\", &error), Names{});
    EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));

    // The root of a drive has no "." and "..".
    const Names root = find("C:\\*");
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "Data"), 1);
}

TEST(FindFiles, FillsTheFindData) {
    TestMachine machine(
        "", {{"C:\\Data\\Long File Name.document", "12345"}, {"C:\\Data\\short.txt", ""}});
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\data\\long file name.DOCUMENT", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "Long File Name.document");
    EXPECT_STREQ(data.cAlternateFileName, "LONGFI~1.DOC");
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    // 2000 or later, in 100-nanosecond units since 1601.
    const uint64_t written =
        uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    EXPECT_GT(written, 125911584000000000ull);
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    search = FindFirstFileA("C:\\Data\\SHORT.TXT", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cAlternateFileName, ""); // an 8.3 name has no other
    FindClose(search);
    search = FindFirstFileA("C:\\Data", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    FindClose(search);
}

std::string shortPath(const char* path, DWORD* error = nullptr) {
    char buffer[MAX_PATH];
    SetLastError(0);
    const DWORD length = GetShortPathNameA(path, buffer, sizeof buffer);
    if (error)
        *error = GetLastError();
    if (length == 0 || length >= sizeof buffer)
        return "<" + std::to_string(length) + ">";
    EXPECT_EQ(length, std::strlen(buffer));
    return buffer;
}

TEST(ShortPaths, GivesEightDotThreeNames) {
    TestMachine machine("", {{"C:\\Program Files\\My App\\app.exe", MzImage()},
                             {"C:\\Program Files\\My Application.data", ""},
                             {"C:\\WINDOWS\\system32\\shell32.dll", MzImage()}});
    // Made after "Program Files": the later name takes the next number. The host stamps
    // birth times from a coarse clock, and ext4 spreads top-level folders over inode
    // groups, so two folders made within one tick could come out in either order.
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    writeHost(machine.hostPath("Programs Extra/file.txt"), "");
    for (int i = 0; i < 5; ++i)
        writeHost(machine.hostPath("Program Files/Setup Part " + std::to_string(i) + ".cab"), "");

    struct Case {
        const char* path;
        std::string expected;
    };
    const Case cases[] = {
        {"C:\\Program Files\\My App\\app.exe", "C:\\PROGRA~1\\MYAPP~1\\app.exe"},
        {"c:\\program files\\my application.data", "c:\\PROGRA~1\\MYAPPL~1.DAT"},
        {"C:\\Programs Extra\\file.txt", "C:\\PROGRA~2\\file.txt"},
        // names that are 8.3 already stay as given
        {"C:\\windows\\SYSTEM32\\Shell32.DLL", "C:\\windows\\SYSTEM32\\Shell32.DLL"},
        {"C:/Windows/", "C:/Windows/"},
        {"shell32.dll", "shell32.dll"},
        // four of one stem get numbers, the fifth a hash
        {"C:\\Program Files\\Setup Part 3.cab", "C:\\PROGRA~1\\SETUPP~4.CAB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(shortPath(c.path), c.expected);
    }
    const std::string hashed = shortPath("C:\\Program Files\\Setup Part 4.cab");
    EXPECT_EQ(hashed.size(), std::string("C:\\PROGRA~1\\SE1234~1.CAB").size()) << hashed;
    EXPECT_EQ(hashed.rfind("C:\\PROGRA~1\\SE", 0), 0u) << hashed;
    EXPECT_EQ(hashed.substr(hashed.size() - 6), "~1.CAB") << hashed;
    // Short paths lead back to their files.
    for (const char* path : {"C:\\Programs Extra\\file.txt", "C:\\Program Files\\Setup Part 4.cab",
                             "C:\\Program Files\\My Application.data"}) {
        const std::string shortForm = shortPath(path);
        EXPECT_EQ(GetFileAttributesA(shortForm.c_str()), FILE_ATTRIBUTE_NORMAL) << shortForm;
    }

    DWORD error = 0;
    EXPECT_EQ(shortPath("C:\\Program Files\\Missing\\x.exe", &error), "<0>");
    EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(shortPath("C:\\Program Files\\Missing.exe", &error), "<0>");
    EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));

    // The buffer: too small gives the size needed with the zero; the same buffer may
    // hold the long path and receive the short one.
    const char* longPath = "C:\\Program Files\\My App\\app.exe";
    const std::string expected = "C:\\PROGRA~1\\MYAPP~1\\app.exe";
    char small[8] = "xxxxxxx";
    EXPECT_EQ(GetShortPathNameA(longPath, small, sizeof small), expected.size() + 1);
    EXPECT_STREQ(small, "xxxxxxx");
    EXPECT_EQ(GetShortPathNameA(longPath, nullptr, 0), expected.size() + 1);
    char exact[64];
    EXPECT_EQ(GetShortPathNameA(longPath, exact, DWORD(expected.size() + 1)), expected.size());
    EXPECT_EQ(exact, expected);
    char inPlace[64];
    std::strcpy(inPlace, longPath);
    EXPECT_EQ(GetShortPathNameA(inPlace, inPlace, sizeof inPlace), expected.size());
    EXPECT_EQ(inPlace, expected);
}

// A second drive from the machine's ini, with its own confinement.
TEST(Drives, FilesOnAnExtraDrive) {
    TestMachine machine;
    const fs::path data = fs::path(machine.folder()).parent_path() / "data-disk";
    writeHost((data / "Games" / "Game.exe").string(), MzImage());
    writeHost((fs::path(machine.folder()).parent_path() / "beside.txt").string(), "x");
    writeHost(machine.hostPath("hivewarden-machine.ini"), "[Drives]\nD = " + data.string() + "\n");
    machine.shutdown();
    machine.boot();

    EXPECT_EQ(GetFileAttributesA("d:\\GAMES\\game.EXE"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesA("D:\\..\\beside.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("D:\\..\\data-disk\\Games"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA("E:\\Games"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(CopyFileA("D:\\Games\\Game.exe", "C:\\Game.exe", TRUE));
    EXPECT_EQ(readHost(machine.hostPath("Game.exe")), MzImage());
    EXPECT_EQ(find("D:\\*"), Names{"Games"});
    EXPECT_EQ(shortPath("D:\\Games\\Game.exe"), "D:\\Games\\Game.exe");
}

// The machine's ini may come from a stranger's disk image: a drive it maps to a host
// folder outside the machine can be read but never changed, unless the user maps it.
TEST(MachineDrives, ADriveTheIniMapsOutsideTheMachineIsReadOnly) {
    TestMachine machine;
    const std::string outside = fs::path(machine.folder()).parent_path().string() + "/disk-d";
    for (const std::string& root : {outside, machine.hostPath("Data2")}) {
        writeHost(root + "/data/old.txt", "old");
        fs::create_directories(root + "/data/empty");
    }
    machine.rebootWithIni("[Drives]\nD=" + outside + "\nE=Data2\n");
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege"}));
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), 0);
    const struct {
        const char* what;
        std::function<bool(const std::string& drive)> write;
    } writes[] = {
        {"copy onto it",
         [](const std::string& d) {
             return CopyFileA((d + "\\data\\old.txt").c_str(), (d + "\\copy.txt").c_str(), TRUE) !=
                    0;
         }},
        {"delete a file",
         [](const std::string& d) { return DeleteFileA((d + "\\data\\old.txt").c_str()) != 0; }},
        {"create a folder",
         [](const std::string& d) {
             return CreateDirectoryA((d + "\\New").c_str(), nullptr) != 0;
         }},
        {"remove a folder",
         [](const std::string& d) { return RemoveDirectoryA((d + "\\data\\empty").c_str()) != 0; }},
        {"save a key",
         [software](const std::string& d) {
             const LONG rc = RegSaveKeyA(software, (d + "\\saved.hiv").c_str(), nullptr);
             SetLastError(DWORD(rc));
             return rc == ERROR_SUCCESS;
         }},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(w.what);
        EXPECT_FALSE(w.write("D:"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_WRITE_PROTECT));
        EXPECT_TRUE(w.write("E:")) << "a drive inside the machine folder is the machine's own";
    }
    // Reading it is as ever.
    EXPECT_EQ(GetFileAttributesA("D:\\DATA\\old.txt"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(CopyFileA("D:\\data\\old.txt", "C:\\from-d.txt", TRUE));
    EXPECT_EQ(readHost(outside + "/data/old.txt"), "old");
    EXPECT_TRUE(fs::exists(outside + "/data/empty"));
    EXPECT_FALSE(fs::exists(outside + "/copy.txt"));
    EXPECT_FALSE(fs::exists(outside + "/New"));
    EXPECT_FALSE(fs::exists(outside + "/saved.hiv"));
    RegCloseKey(software);

    // Mapped by the user, the same folder is writable.
    machine.shutdown();
    win32::BootOptions options;
    options.drives = {{'D', outside}};
    machine.boot(options);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege"}));
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), 0);
    for (const auto& w : writes) {
        SCOPED_TRACE(w.what);
        EXPECT_TRUE(w.write("D:"));
    }
    RegCloseKey(software);
    EXPECT_TRUE(fs::exists(outside + "/New"));
}

} // namespace
