// The shell over a test machine: special folders, shortcut files, environment
// variables, and deleting to the recycle bin.

#include "registry/ShellServices.h"
#include "support/MachineFixture.h"
#include "support/NamedPipes.h"
#include "support/ShortcutBytes.h"
#include "win32/base/CodePage.h"
#include "win32/base/LastError.h"
#include "win32/files/Files.h"
#include "win32/registry/Registry.h"
#include "win32/shell/Shell.h"
#include "win32/shell/ShellLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

constexpr char kProfile[] = "C:\\Documents and Settings\\Administrator";

// --- special folders ---

TEST(SpecialFolders, WindowsDefaultsWithoutShellFolderKeys) {
    TestMachine machine;
    const std::pair<int, std::string> cases[] = {
        {CSIDL_PROGRAMS, std::string(kProfile) + "\\Start Menu\\Programs"},
        {CSIDL_FONTS, "C:\\WINDOWS\\Fonts"},
        {CSIDL_COMMON_PROGRAMS, "C:\\Documents and Settings\\All Users\\Start Menu\\Programs"},
        {CSIDL_DESKTOP, std::string(kProfile) + "\\Desktop"},
        {CSIDL_STARTMENU, std::string(kProfile) + "\\Start Menu"},
        {CSIDL_COMMON_STARTMENU, "C:\\Documents and Settings\\All Users\\Start Menu"},
        {CSIDL_APPDATA, std::string(kProfile) + "\\Application Data"},
        {CSIDL_WINDOWS, "C:\\WINDOWS"},
        {CSIDL_SYSTEM, "C:\\WINDOWS\\system32"},
        {CSIDL_PROGRAM_FILES, "C:\\Program Files"},
        {0x63, ""},
    };
    for (const auto& [id, path] : cases)
        EXPECT_EQ(SpecialFolderPath(id), path) << id;
}

TEST(SpecialFolders, UserShellFoldersComeBeforeShellFolders) {
    TestMachine machine(
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
        "Folders]\n"
        "\"Programs\"=\"C:\\\\Stale\\\\Programs\"\n"
        "\"Fonts\"=\"C:\\\\WINNT\\\\Fonts\"\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell "
        "Folders]\n"
        "\"Programs\"=hex(2):25,55,53,45,52,50,52,4f,46,49,4c,45,25,5c,4d,65,6e,75,00\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
        "Folders]\n"
        "\"Common Programs\"=\"D:\\\\Shared\\\\Programs\"\n");
    EXPECT_EQ(SpecialFolderPath(CSIDL_PROGRAMS), std::string(kProfile) + "\\Menu");
    EXPECT_EQ(SpecialFolderPath(CSIDL_FONTS), "C:\\WINNT\\Fonts");
    EXPECT_EQ(SpecialFolderPath(CSIDL_COMMON_PROGRAMS), "D:\\Shared\\Programs");
}

TEST(SpecialFolders, APathLongerThanMaxPathIsNoPath) {
    const std::string deep = "C:\\" + std::string(300, 'x');
    TestMachine machine("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                        "Explorer\\Shell Folders]\n\"Fonts\"=\"C:\\\\" +
                        std::string(300, 'x') + "\"\n");
    LPITEMIDLIST list = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_FONTS, &list), S_OK);
    char path[MAX_PATH];
    EXPECT_FALSE(SHGetPathFromIDListA(list, path));
    ILFree(list);
    EXPECT_EQ(SpecialFolderPath(CSIDL_FONTS), "");
    EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 0x63, &list), E_INVALIDARG);
}

// --- environment ---

TEST(ExpandEnvVar, UpperCasesTheNameAndKeepsUnsetReferences) {
    const std::string longValue(150, 'v');
    TestMachine machine("[HKEY_CURRENT_USER\\Environment]\n\"LongOne\"=\"" + longValue + "\"\n");
    machine.shutdown(); // the environment is taken at boot
    machine.boot();
    EXPECT_EQ(ExpandEnvVar("systemroot"), "C:\\WINDOWS");
    EXPECT_EQ(ExpandEnvVar("nosuchvariable"), "%NOSUCHVARIABLE%");
    // Longer than the first buffer: the whole value, not a cut one.
    EXPECT_EQ(ExpandEnvVar("longone"), longValue);
}

// --- shortcut files ---

void stringData(std::vector<uint8_t>& out, const std::string& text) {
    put16(out, uint16_t(text.size()));
    for (const char c : text)
        put16(out, uint16_t(uint8_t(c)));
}

// A file entry of an ID list: the 8.3 name and the long name in its 0xBEEF0004 block.
std::vector<uint8_t> fileItem(uint8_t type, const std::string& shortName,
                              const std::string& longName) {
    std::vector<uint8_t> data;
    data.push_back(type);
    data.push_back(0);
    put32(data, 0);    // size
    put32(data, 0);    // DOS time
    put16(data, 0x10); // attributes
    putText(data, shortName);
    if ((data.size() + 2) % 2)
        data.push_back(0);
    std::vector<uint8_t> ext;
    put16(ext, 0); // size, set below
    put16(ext, 3);
    put32(ext, 0xBEEF0004);
    put32(ext, 0);
    put32(ext, 0);
    put16(ext, 0x14);
    put16(ext, 0); // long string size
    putWide(ext, longName);
    put16(ext, 0x14);
    ext[0] = uint8_t(ext.size());
    data.insert(data.end(), ext.begin(), ext.end());
    std::vector<uint8_t> item;
    put16(item, uint16_t(data.size() + 2));
    item.insert(item.end(), data.begin(), data.end());
    return item;
}

std::vector<uint8_t> idListOfAppExe() {
    std::vector<uint8_t> items;
    const uint8_t computer[] = {0x14, 0,    0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A,
                                0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
    items.insert(items.end(), computer, computer + sizeof computer);
    std::vector<uint8_t> volume = {0x19, 0, 0x2F, 'C', ':', '\\'};
    volume.resize(0x19, 0);
    items.insert(items.end(), volume.begin(), volume.end());
    for (const auto& item : {fileItem(0x31, "PROGRA~1", "Program Files"),
                             fileItem(0x31, "APP", "App"), fileItem(0x32, "APP.EXE", "app.exe")})
        items.insert(items.end(), item.begin(), item.end());
    put16(items, 0);
    std::vector<uint8_t> out;
    put16(out, uint16_t(items.size()));
    out.insert(out.end(), items.begin(), items.end());
    return out;
}

constexpr char kLinkFolder[] = "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\";

TEST(Shortcuts, ResolveToTheLocalPathOfTheirLinkInfo) {
    TestMachine machine({}, {{"C:\\Program Files\\App\\app.exe", MzImage()},
                             {std::string(kLinkFolder) + "App.lnk",
                              text(localLink("C:\\Program Files\\App\\app.exe"))},
                             {std::string(kLinkFolder) + "Gone.lnk",
                              text(localLink("C:\\Program Files\\Gone\\gone.exe"))}});
    EXPECT_EQ(ResolveShortcut(std::string(kLinkFolder) + "App.lnk"),
              "C:\\Program Files\\App\\app.exe");
    // A target that is not there cannot be resolved.
    EXPECT_EQ(ResolveShortcut(std::string(kLinkFolder) + "Gone.lnk"), "unable to resolve link");
    EXPECT_EQ(ResolveShortcut(std::string(kLinkFolder) + "Missing.lnk"), "unable to resolve link");
}

TEST(Shortcuts, ResolveThroughTheIdListEnvironmentBlockAndRelativePath) {
    auto idList = header(kHasIdList);
    const auto list = idListOfAppExe();
    idList.insert(idList.end(), list.begin(), list.end());
    put32(idList, 0);

    auto environment = header(kHasExpString | kIsUnicode);
    put32(environment, 0x314);
    put32(environment, 0xA0000001);
    std::vector<uint8_t> ansi(260, 0), wide(520, 0);
    const std::string target = "%SystemRoot%\\notepad.exe";
    std::memcpy(ansi.data(), target.data(), target.size());
    for (size_t i = 0; i < target.size(); ++i)
        wide[2 * i] = uint8_t(target[i]);
    environment.insert(environment.end(), ansi.begin(), ansi.end());
    environment.insert(environment.end(), wide.begin(), wide.end());
    put32(environment, 0);

    auto moved = header(kHasLinkInfo | kHasRelativePath | kIsUnicode);
    linkInfo(moved, "E:\\Old\\", "tool.exe");
    stringData(moved, ".\\tool.exe");
    put32(moved, 0);

    TestMachine machine({}, {{"C:\\Program Files\\App\\app.exe", MzImage()},
                             {"C:\\WINDOWS\\notepad.exe", MzImage()},
                             {std::string(kLinkFolder) + "tool.exe", MzImage()},
                             {std::string(kLinkFolder) + "IdList.lnk", text(idList)},
                             {std::string(kLinkFolder) + "Environment.lnk", text(environment)},
                             {std::string(kLinkFolder) + "Moved.lnk", text(moved)}});
    EXPECT_EQ(ResolveShortcut(std::string(kLinkFolder) + "IdList.lnk"),
              "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(ResolveShortcut(std::string(kLinkFolder) + "Environment.lnk"),
              "C:\\WINDOWS\\notepad.exe");
    EXPECT_EQ(ResolveShortcut(std::string(kLinkFolder) + "Moved.lnk"),
              std::string(kLinkFolder) + "tool.exe");
}

TEST(Shortcuts, DamagedFilesAreNotResolved) {
    const auto good = localLink("C:\\Program Files\\App\\app.exe");
    auto badHeader = good;
    badHeader[0] = 0x4D;
    auto badClsid = good;
    badClsid[5] ^= 0xFF;
    auto cut = std::vector<uint8_t>(good.begin(), good.begin() + 0x4C + 20);
    auto farOffset = good;
    farOffset[0x4C + 16] = 0xFF; // the local base path offset beyond the LinkInfo
    auto hugeInfo = good;
    hugeInfo[0x4C + 3] = 0x7F;
    TestMachine machine({}, {{"C:\\Program Files\\App\\app.exe", MzImage()},
                             {"C:\\links\\header.lnk", text(badHeader)},
                             {"C:\\links\\clsid.lnk", text(badClsid)},
                             {"C:\\links\\cut.lnk", text(cut)},
                             {"C:\\links\\offset.lnk", text(farOffset)},
                             {"C:\\links\\huge.lnk", text(hugeInfo)},
                             {"C:\\links\\empty.lnk", ""},
                             {"C:\\links\\good.lnk", text(good)}});
    for (const char* name : {"header", "clsid", "cut", "offset", "huge", "empty"})
        EXPECT_EQ(ResolveShortcut(std::string("C:\\links\\") + name + ".lnk"),
                  "unable to resolve link")
            << name;
    EXPECT_EQ(ResolveShortcut("C:\\links\\good.lnk"), "C:\\Program Files\\App\\app.exe");
}

TEST(Shortcuts, EveryCutOfASoundFileIsRejectedOrReadWithinItsBounds) {
    auto link = header(kHasIdList | kHasLinkInfo | kHasRelativePath | kIsUnicode);
    const auto list = idListOfAppExe();
    link.insert(link.end(), list.begin(), list.end());
    linkInfo(link, "C:\\Program Files\\", "App\\app.exe", "\\\\server\\share");
    stringData(link, ".\\app.exe");
    put32(link, 0);
    const win32::CodePage ansi(1252);
    const auto whole = win32::ParseShellLink(link, ansi);
    EXPECT_EQ(whole.localPath, "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(whole.networkPath, "\\\\server\\share\\App\\app.exe");
    EXPECT_EQ(whole.idListPath, "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(whole.relativePath, ".\\app.exe");
    for (size_t size = 0; size < link.size(); ++size) {
        const std::vector<uint8_t> cut(link.begin(), link.begin() + long(size));
        try {
            win32::ParseShellLink(cut, ansi);
            // Only the terminal block may be missing.
            EXPECT_GE(size, link.size() - 4) << size;
        } catch (const win32::ShellLinkError&) {
        }
    }
}

TEST(Shortcuts, ANamedPipeIsNoLinkFile) {
    TestMachine machine(
        {}, {{"C:\\Program Files\\App\\app.exe", MzImage()},
             {"C:\\links\\good.lnk", text(localLink("C:\\Program Files\\App\\app.exe"))}});
    const std::string pipe = machine.hostPath("links/pipe.lnk");
    MakePipe(pipe);
    // Reached through a link too, as a shortcut folder may hold it.
    std::filesystem::create_symlink("pipe.lnk", machine.hostPath("links/to-pipe.lnk"));
    for (const char* name : {"C:\\links\\pipe.lnk", "C:\\links\\to-pipe.lnk"}) {
        SCOPED_TRACE(name);
        const auto resolved = CallPastPipe(pipe, [name] { return ResolveShortcut(name); });
        EXPECT_EQ(resolved, "unable to resolve link");
    }
    EXPECT_EQ(ResolveShortcut("C:\\links\\good.lnk"), "C:\\Program Files\\App\\app.exe");
}

TEST(Shortcuts, TheLinkObjectNeedsTheComLibrary) {
    TestMachine machine;
    HSHELLLINK link = nullptr;
    EXPECT_EQ(ShellLinkCreate(&link), CO_E_NOTINITIALIZED);
    EXPECT_EQ(link, nullptr);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(ShellLinkCreate(&link), S_OK);
    char path[MAX_PATH];
    EXPECT_EQ(ShellLinkGetPath(link, path, MAX_PATH, nullptr, 0), E_FAIL); // nothing loaded
    EXPECT_EQ(ShellLinkRelease(link), 0u);
    CoUninitialize();
}

// --- deleting ---

class RecycleBin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        // The desktop's trash of a home of the test's own, on the machine's file system.
        oldHome_ = qgetenv("HOME");
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + "/share").toUtf8());
    }
    void TearDown() override {
        qputenv("HOME", oldHome_);
        qunsetenv("XDG_DATA_HOME");
    }
    QTemporaryDir home_;
    QByteArray oldHome_;
};

TEST_F(RecycleBin, DeleteToRecycleBinMovesToTheTrash) {
    TestMachine machine({}, {{"C:\\Old\\stale.txt", "x"}, {"C:\\Old\\Folder\\inner.txt", "y"}});
    const QString trashFiles = home_.path() + "/share/Trash/files";
    ASSERT_TRUE(DeleteToRecycleBin("C:\\old\\STALE.TXT")); // any letter case
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(machine.hostPath("Old/stale.txt"))));
    EXPECT_TRUE(QFileInfo::exists(trashFiles + "/stale.txt"));
    // Folders go too, in spite of FOF_FILESONLY: it limits wildcards only.
    EXPECT_TRUE(DeleteToRecycleBin("C:\\Old\\Folder"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(machine.hostPath("Old/Folder"))));
    EXPECT_FALSE(DeleteToRecycleBin("C:\\Old\\not-there.txt"));
}

TEST_F(RecycleBin, RefusesWhatItMustNotDelete) {
    TestMachine machine({}, {{"C:\\Keep\\file.txt", "x"}});
    const std::string longPath = "C:\\Keep\\" + std::string(250, 'a');
    EXPECT_FALSE(DeleteToRecycleBin(longPath));
    EXPECT_FALSE(DeleteToRecycleBin("C:\\"));
    EXPECT_FALSE(DeleteToRecycleBin("Keep\\file.txt")); // taken from system32: not there
    EXPECT_FALSE(DeleteToRecycleBin("C:\\Keep\\..\\.."));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(machine.hostPath("Keep/file.txt"))));
}

bool entryExists(const std::string& host) {
    struct stat info {};
    return ::lstat(host.c_str(), &info) == 0;
}

int deleteFiles(const std::string& path, FILEOP_FLAGS flags) {
    std::string from = path;
    from.push_back('\0'); // the list ends in two zeros
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = flags;
    return SHFileOperationA(&operation);
}

TEST_F(RecycleBin, NothingLeavesADriveTheIniMapsOutsideTheMachine) {
    TestMachine machine;
    const std::string outside =
        std::filesystem::path(machine.folder()).parent_path().string() + "/disk-d";
    std::filesystem::create_directories(outside);
    for (const char* name : {"/a.txt", "/b.txt"})
        std::ofstream(outside + name) << "x";
    machine.rebootWithIni("[Drives]\nD=" + outside + "\n");
    EXPECT_FALSE(DeleteToRecycleBin("D:\\a.txt"));
    EXPECT_EQ(deleteFiles("D:\\a.txt", FOF_NOCONFIRMATION), ERROR_WRITE_PROTECT);
    EXPECT_EQ(deleteFiles("D:\\*.txt", FOF_NOCONFIRMATION | FOF_FILESONLY), ERROR_WRITE_PROTECT);
    EXPECT_TRUE(entryExists(outside + "/a.txt"));
    EXPECT_TRUE(entryExists(outside + "/b.txt"));
    EXPECT_FALSE(QFileInfo::exists(home_.path() + "/share/Trash/files/a.txt"));
    // Nor from a machine mounted read-only.
    machine.shutdown();
    machine.writeIni("");
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    machine.boot(readOnly);
    std::ofstream(machine.hostPath("c.txt")) << "x";
    EXPECT_EQ(deleteFiles("C:\\c.txt", FOF_NOCONFIRMATION), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(entryExists(machine.hostPath("c.txt")));
    // Mapped by the user, the drive is the user's to clean.
    machine.shutdown();
    machine.writeIni("[Drives]\nD=" + outside + "\n");
    win32::BootOptions granted;
    granted.drives = {{'D', outside}};
    machine.boot(granted);
    EXPECT_TRUE(DeleteToRecycleBin("D:\\a.txt"));
    EXPECT_FALSE(entryExists(outside + "/a.txt"));
}

TEST_F(RecycleBin, ALinkIsDeletedItselfNeverWhatItLeadsTo) {
    TestMachine machine({}, {{"C:\\dir\\other\\victim.txt", "the link's target"},
                             {"C:\\dir\\victim.txt", "a file of the same name"}});
    namespace fs = std::filesystem;
    fs::create_symlink("other/victim.txt", machine.hostPath("dir/link.txt"));
    fs::create_symlink("other/victim.txt", machine.hostPath("dir/Second.txt"));
    fs::create_symlink("other", machine.hostPath("dir/folder-link"));
    fs::create_symlink("gone.txt", machine.hostPath("dir/dangling.txt"));
    const QString trash = home_.path() + "/share/Trash/files/";

    EXPECT_TRUE(DeleteToRecycleBin("C:\\dir\\link.txt"));
    EXPECT_FALSE(entryExists(machine.hostPath("dir/link.txt")));
    EXPECT_TRUE(QFileInfo(trash + "link.txt").isSymLink());
    // Without undo, and named in another letter case.
    EXPECT_EQ(deleteFiles("C:\\DIR\\second.TXT", FOF_NOCONFIRMATION), 0);
    EXPECT_FALSE(entryExists(machine.hostPath("dir/Second.txt")));
    EXPECT_TRUE(DeleteToRecycleBin("C:\\dir\\folder-link"));
    EXPECT_FALSE(entryExists(machine.hostPath("dir/folder-link")));
    EXPECT_TRUE(QFileInfo(trash + "folder-link").isSymLink());
    EXPECT_EQ(deleteFiles("C:\\dir\\dangling.txt", FOF_NOCONFIRMATION), 0);
    EXPECT_FALSE(entryExists(machine.hostPath("dir/dangling.txt")));

    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(machine.hostPath("dir/victim.txt"))));
    EXPECT_TRUE(
        QFileInfo::exists(QString::fromStdString(machine.hostPath("dir/other/victim.txt"))));
}

TEST_F(RecycleBin, ASlashSeparatesAsABackslashDoes) {
    TestMachine machine({}, {{"C:\\a.txt", "root"},
                             {"C:\\sub\\a.txt", "1"},
                             {"C:\\b.txt", "root"},
                             {"C:\\sub\\b.txt", "2"},
                             {"C:\\sub\\c.tmp", "3"}});
    EXPECT_EQ(deleteFiles("C:\\sub/a.txt", FOF_NOCONFIRMATION), 0);
    EXPECT_EQ(deleteFiles("C:/sub/b.txt", FOF_NOCONFIRMATION), 0);
    EXPECT_EQ(deleteFiles("C:\\sub/*.tmp", FOF_NOCONFIRMATION | FOF_FILESONLY), 0);
    const QDir sub(QString::fromStdString(machine.hostPath("sub")));
    EXPECT_TRUE(sub.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(machine.hostPath("a.txt"))));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(machine.hostPath("b.txt"))));
    EXPECT_EQ(deleteFiles("C:/sub/a.txt", FOF_NOCONFIRMATION), ERROR_FILE_NOT_FOUND);
}

// The full path a deletion is given, made from the text alone.
TEST(FullPaths, AreMadeFromTheCurrentFolderAndTheText) {
    TestMachine machine;
    const std::pair<const char*, const char*> cases[] = {
        {"old.log", "C:\\WINDOWS\\system32\\old.log"},
        {"..\\stale.ini", "C:\\WINDOWS\\stale.ini"},
        {"\\Keep\\file.txt", "C:\\Keep\\file.txt"},
        {"c:/a/./b/../c.txt", "C:\\a\\c.txt"},
        {"C:\\..\\..\\x", "C:\\x"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:\\name. . ", "C:\\name"},
        {"D:x", "D:\\x"},
        {"\\\\server\\share\\x", "\\\\server\\share\\x"},
    };
    for (const auto& [given, full] : cases) {
        SCOPED_TRACE(given);
        char buffer[MAX_PATH];
        LPSTR part = nullptr;
        const DWORD length = GetFullPathNameA(given, sizeof buffer, buffer, &part);
        ASSERT_EQ(length, std::strlen(full));
        EXPECT_STREQ(buffer, full);
        const std::string_view text(full);
        if (text.back() == '\\') {
            EXPECT_EQ(part, nullptr);
        } else {
            EXPECT_STREQ(part, full + text.find_last_of('\\') + 1);
        }
    }
    // Too small a buffer: the size needed, zero included, and nothing written.
    char small[8] = "keep";
    EXPECT_EQ(GetFullPathNameA("old.log", sizeof small, small, nullptr),
              DWORD(std::strlen("C:\\WINDOWS\\system32\\old.log") + 1));
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(GetFullPathNameA("", sizeof small, small, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
}

TEST_F(RecycleBin, RelativePathsAreTakenFromTheCurrentFolder) {
    const std::string longName(240, 'n'); // "C:\WINDOWS\system32\" makes it 260
    TestMachine machine({}, {{"C:\\WINDOWS\\system32\\old.log", "x"},
                             {"C:\\WINDOWS\\stale.ini", "y"},
                             {"C:\\WINDOWS\\system32\\" + longName, "z"},
                             {"C:\\Keep\\file.txt", "k"}});
    EXPECT_TRUE(DeleteToRecycleBin("old.log"));
    EXPECT_FALSE(
        QFileInfo::exists(QString::fromStdString(machine.hostPath("WINDOWS/system32/old.log"))));
    EXPECT_TRUE(DeleteToRecycleBin("..\\stale.ini"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(machine.hostPath("WINDOWS/stale.ini"))));
    // The limit holds for the full path, not for the text given.
    EXPECT_FALSE(DeleteToRecycleBin(longName));
    EXPECT_TRUE(QFileInfo::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/" + longName))));
    std::string roundabout = "C:\\Keep\\";
    while (roundabout.size() <= 255)
        roundabout += "x\\..\\";
    EXPECT_TRUE(DeleteToRecycleBin(roundabout + "file.txt"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(machine.hostPath("Keep/file.txt"))));
}

TEST_F(RecycleBin, WithoutUndoFilesAreDeletedAndWildcardsMatchFilesOnly) {
    TestMachine machine({}, {{"C:\\Tmp\\a.tmp", "1"},
                             {"C:\\Tmp\\B.TMP", "2"},
                             {"C:\\Tmp\\c.txt", "3"},
                             {"C:\\Tmp\\d.tmp\\inside", "4"}});
    const char from[] = "C:\\Tmp\\*.tmp\0";
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.fFlags = FOF_NOCONFIRMATION | FOF_FILESONLY;
    EXPECT_EQ(SHFileOperationA(&operation), 0);
    const QDir tmp(QString::fromStdString(machine.hostPath("Tmp")));
    EXPECT_EQ(tmp.entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"c.txt", "d.tmp"}));
    EXPECT_FALSE(QDir(home_.path() + "/share/Trash/files").exists() &&
                 !QDir(home_.path() + "/share/Trash/files").isEmpty());
    operation.wFunc = FO_COPY;
    EXPECT_EQ(SHFileOperationA(&operation), ERROR_NOT_SUPPORTED);
}

} // namespace
