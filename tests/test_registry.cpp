// The registry functions over a booted test machine.

#include "hive/HiveFile.h"
#include "support/MachineFixture.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/Registry.h"

#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

using namespace testing_support;

namespace {

// Subkey names of a key as RegEnumKeyExA gives them.
std::vector<std::string> subkeys(HKEY root, const char* path) {
    HKEY key = nullptr;
    std::vector<std::string> names;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {"<cannot open>"};
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        const LONG rc = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
            break;
        }
        names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
}

std::vector<std::string> valueNames(HKEY root, const char* path) {
    HKEY key = nullptr;
    std::vector<std::string> names;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {"<cannot open>"};
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    RegCloseKey(key);
    return names;
}

std::string readString(HKEY root, const char* path, const char* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<cannot open>";
    char data[1024];
    DWORD size = sizeof data, type = 0;
    const LONG rc =
        RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return "<error " + std::to_string(rc) + ">";
    return std::string(data, size && data[size - 1] == 0 ? size - 1 : size);
}

LONG setString(HKEY root, const char* path, const char* value, const std::string& text) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        DWORD(text.size() + 1));
    RegCloseKey(key);
    return rc;
}

using Names = std::vector<std::string>;

} // namespace

TEST(Registry, MountsHivesWhereWindowsDoes) {
    TestMachine machine;
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, ""),
              (Names{"HARDWARE", "SAM", "SECURITY", "SOFTWARE", "SYSTEM"}));
    EXPECT_EQ(subkeys(HKEY_USERS, ""),
              (Names{".DEFAULT", machine.userSid(), machine.userSid() + "_Classes"}));
    HKEY system = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", &system), ERROR_SUCCESS);
    // Volatile keys enumerate after the stable ones.
    EXPECT_EQ(subkeys(system, ""), (Names{"ControlSet001", "ControlSet002", "MountedDevices",
                                          "Select", "CurrentControlSet"}));
    RegCloseKey(system);
    // HKCU is the user's hive, HKCU\Software\Classes its classes hive.
    ASSERT_EQ(setString(HKEY_CURRENT_USER, "Software\\Classes\\.txt", "", "txtfile"), 0);
    const std::string classes = machine.userSid() + "_Classes\\.txt";
    EXPECT_EQ(readString(HKEY_USERS, classes.c_str(), ""), "txtfile");
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, ".txt", ""), "txtfile");
    // HKCC is the current hardware profile of the current control set.
    ASSERT_EQ(setString(HKEY_CURRENT_CONFIG, "Software\\Fonts", "LogPixels", "96"), 0);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE,
                         "SYSTEM\\ControlSet001\\Hardware Profiles\\0001\\Software\\Fonts",
                         "LogPixels"),
              "96");
}

TEST(Registry, PerformanceAndDynDataCannotBeOpened) {
    TestMachine machine;
    HKEY key = nullptr;
    for (HKEY root : {HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA}) {
        EXPECT_NE(RegOpenKeyExA(root, "", 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_NE(RegOpenKeyExA(root, "Global", 0, KEY_READ, &key), ERROR_SUCCESS);
    }
}

TEST(Registry, CurrentControlSetFollowsSelectCurrent) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=dword:00000002\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Control\\Marker]\n");
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control").size(), 4u);
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control"),
              (Names{"Marker", "hivelist"}));
}

TEST(Registry, HiveListNamesEveryHiveAndIsNeverWritten) {
    TestMachine machine;
    const std::string sid = machine.userSid();
    const char* list = "SYSTEM\\CurrentControlSet\\Control\\hivelist";
    EXPECT_EQ(valueNames(HKEY_LOCAL_MACHINE, list),
              (Names{"\\REGISTRY\\MACHINE\\HARDWARE", "\\REGISTRY\\MACHINE\\SYSTEM",
                     "\\REGISTRY\\MACHINE\\SOFTWARE", "\\REGISTRY\\MACHINE\\SAM",
                     "\\REGISTRY\\MACHINE\\SECURITY", "\\REGISTRY\\USER\\.DEFAULT",
                     "\\REGISTRY\\USER\\" + sid, "\\REGISTRY\\USER\\" + sid + "_Classes"}));
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, list, "\\REGISTRY\\MACHINE\\SYSTEM"),
              "\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\SYSTEM");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, list, ("\\REGISTRY\\USER\\" + sid).c_str()),
              "\\Device\\HarddiskVolume1\\Documents and Settings\\Administrator\\NTUSER.DAT");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, list, "\\REGISTRY\\MACHINE\\HARDWARE"), "");

    // A change to SYSTEM makes it written; the volatile keys stay out of the file.
    ASSERT_EQ(setString(HKEY_LOCAL_MACHINE, "SYSTEM\\Setup", "x", "1"), 0);
    machine.shutdown();
    const auto hive = hive::LoadHiveFile(machine.hostPath("WINDOWS/system32/config/SYSTEM"));
    EXPECT_TRUE(win32::FindKey(hive.root.get(), u"Setup"));
    EXPECT_FALSE(win32::FindKey(hive.root.get(), u"ControlSet001\\Control\\hivelist"));
    EXPECT_FALSE(win32::FindKey(hive.root.get(), u"CurrentControlSet"));
}

TEST(Registry, SubkeysEnumerateSortedByUpperCaseNameAndValuesInStoredOrder) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\b]\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\_x]\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\A]\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order\\a1]\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order]\n"
                        "\"zeta\"=\"1\"\n\"Alpha\"=\"2\"\n\"mid\"=\"3\"\n");
    // '_' sorts after the letters once names are upper-cased.
    const Names expectedKeys{"A", "a1", "b", "_x"};
    const Names expectedValues{"zeta", "Alpha", "mid"};
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order"), expectedKeys);
    EXPECT_EQ(valueNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order"), expectedValues);
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order"), expectedKeys);
    EXPECT_EQ(valueNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order"), expectedValues);
}

TEST(Registry, OpensAreCaseInsensitiveAndPathsAreChecked) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\n\"v\"=\"ok\"\n");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "software\\VENDOR\\app", "V"), "ok");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App\\", "v"), "ok");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Vendor", 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(uintptr_t(0x4242)), "", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
}

TEST(Registry, BufferRulesOfQueryAndEnumeration) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Buf\\LongSubkeyName]\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Buf]\n\"text\"=\"hello\"\n"
                        "\"num\"=dword:0000002a\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Buf", 0, KEY_READ, &key), 0);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);
    BYTE small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "text", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    DWORD number = 0;
    size = sizeof number;
    EXPECT_EQ(RegQueryValueExA(key, "num", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(RegQueryValueExA(key, "absent", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    char name[8];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    char big[64];
    nameSize = sizeof big;
    EXPECT_EQ(RegEnumKeyExA(key, 0, big, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(nameSize, 14u);
    EXPECT_STREQ(big, "LongSubkeyName");
    nameSize = sizeof big;
    EXPECT_EQ(RegEnumKeyExA(key, 1, big, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD subkeyCount = 0, valueCount = 0, maxName = 0, maxData = 0;
    EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxName, nullptr,
                               &valueCount, nullptr, &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeyCount, 1u);
    EXPECT_EQ(valueCount, 2u);
    EXPECT_EQ(maxName, 14u);
    EXPECT_EQ(maxData, 12u); // "hello" as stored: UTF-16 with its terminator
    RegCloseKey(key);
}

TEST(Registry, StringsCrossTheAnsiFunctionsInTheMachinesCodePage) {
    TestMachine machine;
    const std::string cp1252 = "Gr\xF6\xDF"
                               "e \x80"; // "Größe €" in code page 1252
    ASSERT_EQ(setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", cp1252.c_str(), cp1252), 0);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", cp1252.c_str()), cp1252);
    EXPECT_EQ(valueNames(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text"), (Names{cp1252}));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Text", 0, KEY_READ, &key), 0);
    char16_t wide[32];
    DWORD size = sizeof wide;
    ASSERT_EQ(
        RegQueryValueExW(key, u"Größe €", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wide, size / 2 - 1), u"Größe €");
    RegCloseKey(key);
}

TEST(Registry, CodePageComesFromTheMachine) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage]\n"
                        "\"ACP\"=\"1251\"\n");
    machine.shutdown();
    machine.boot();
    const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2"; // "Привет"
    ASSERT_EQ(setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", "v", cp1251), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Text", 0, KEY_READ, &key), 0);
    char16_t wide[32];
    DWORD size = sizeof wide;
    ASSERT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(wide, size / 2 - 1), u"Привет");
    RegCloseKey(key);
    // A character the code page lacks comes out as '?'.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", 0, KEY_ALL_ACCESS, &key), 0);
    const std::u16string greek = u"Ωmega";
    ASSERT_EQ(RegSetValueExW(key, u"w", 0, REG_SZ, reinterpret_cast<const BYTE*>(greek.c_str()),
                             DWORD((greek.size() + 1) * 2)),
              0);
    RegCloseKey(key);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", "w"), "?mega");
}

TEST(Registry, ClassesRootMergesUserOverMachine) {
    const std::string sid = "HKEY_CURRENT_USER\\Software\\Classes";
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both]\n@=\"machine\"\n"
                        "\"onlyMachine\"=\"m\"\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.machine]\n@=\"m\"\n"
                        "[" +
                        sid +
                        "\\.both]\n@=\"user\"\n"
                        "[" +
                        sid + "\\.user]\n@=\"u\"\n");
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT, ""), (Names{".both", ".machine", ".user"}));
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, ".both", ""), "user");
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, ".both", "onlyMachine"), "m");
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, ".machine", ""), "m");
    EXPECT_EQ(valueNames(HKEY_CLASSES_ROOT, ".both"), (Names{"", "onlyMachine"}));

    // A new key goes to the machine's classes; a delete removes the key from the view.
    ASSERT_EQ(setString(HKEY_CLASSES_ROOT, ".new", "", "n"), 0);
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.new", ""), "n");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ".both"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ".user"), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(HKEY_CLASSES_ROOT, ""), (Names{".machine", ".new"}));
    EXPECT_EQ(subkeys(HKEY_CURRENT_USER, "Software\\Classes"), Names{});
}

TEST(Registry, HandleOfADeletedKeyFailsCleanly) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Doomed\\Child]\n\"v\"=\"1\"\n");
    HKEY child = nullptr, doomed = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed\\Child", 0, KEY_ALL_ACCESS, &child), 0);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", 0, KEY_ALL_ACCESS, &doomed), 0);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed"), ERROR_ACCESS_DENIED)
        << "a key with subkeys is not deleted by RegDeleteKey";
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed"), ERROR_SUCCESS);

    DWORD size = 0;
    char name[64];
    DWORD nameSize = sizeof name;
    const BYTE one[] = "1";
    for (HKEY stale : {child, doomed}) {
        EXPECT_EQ(RegQueryValueExA(stale, "v", nullptr, nullptr, nullptr, &size),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(RegEnumKeyExA(stale, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        EXPECT_EQ(RegSetValueExA(stale, "w", 0, REG_SZ, one, 2), ERROR_KEY_DELETED);
        HKEY sub = nullptr;
        EXPECT_EQ(
            RegCreateKeyExA(stale, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_KEY_DELETED);
        EXPECT_EQ(RegCloseKey(stale), ERROR_SUCCESS);
    }
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", 0, KEY_READ, &again),
              ERROR_FILE_NOT_FOUND);
}

TEST(Registry, AccessOfAHandleIsEnforced) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Acl]\n\"v\"=\"1\"\n");
    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acl", 0, KEY_READ, &readOnly), 0);
    const BYTE data[] = "x";
    EXPECT_EQ(RegSetValueExA(readOnly, "v", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(readOnly, "v"), ERROR_ACCESS_DENIED);
    HKEY sub = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(readOnly, "new", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
        ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);
    // Keys above the hives take no values and no new keys.
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "NEWHIVE", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &sub, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SAM"), ERROR_ACCESS_DENIED);
}

TEST(Registry, ProtectedKeysRefuseDeletion) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Inner]\n\"v\"=\"1\"\n");
    machine.rebootWithIni("[ProtectedKeys]\nguard=HKEY_LOCAL_MACHINE\\SOFTWARE\\Guarded\\Inner\n");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Inner"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded"), ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded\\Inner", 0, KEY_ALL_ACCESS, &key), 0);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Guarded"), (Names{"Inner"}));
}

TEST(Registry, MergedClassesKeyIsDeletedWholeOrNotAtAll) {
    // The user's part could go, the machine's part is protected: neither may go.
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both\\Sub]\n"
                        "[HKEY_CURRENT_USER\\Software\\Classes\\.both\\Sub]\n");
    machine.rebootWithIni(
        "[ProtectedKeys]\nguard=HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.both\\Sub\n");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, ".both"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ".both\\Sub"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, ".both"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(subkeys(HKEY_CURRENT_USER, "Software\\Classes\\.both"), (Names{"Sub"}));
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.both"), (Names{"Sub"}));
}

TEST(Registry, ChangesPersistAcrossBoots) {
    TestMachine machine("[HKEY_CURRENT_USER\\Software\\Persist]\n\"v\"=\"kept\"\n");
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\Persist", "v"), "kept");
    EXPECT_EQ(RegDeleteValueA(HKEY_CURRENT_USER, "v"), ERROR_FILE_NOT_FOUND);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Persist", 0, KEY_ALL_ACCESS, &key), 0);
    EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_SUCCESS);
    RegCloseKey(key);
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(valueNames(HKEY_CURRENT_USER, "Software\\Persist"), Names{});
}

TEST(Registry, ChangedHivesAreFlushedLazily) {
    TestMachine machine;
    machine.shutdown();
    win32::BootOptions options;
    options.lazyFlushMilliseconds = 20;
    machine.boot(options);
    ASSERT_EQ(setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lazy", "v", "1"), 0);
    const std::string software = machine.hostPath("WINDOWS/system32/config/SOFTWARE");
    bool written = false;
    // Waits for the background flush; the bound only stops a broken build from hanging.
    for (int i = 0; i < 1000 && !written; ++i) {
        QThread::msleep(10);
        written = win32::FindKey(hive::LoadHiveFile(software).root.get(), u"Lazy") != nullptr;
    }
    EXPECT_TRUE(written);
}

TEST(Registry, FlushKeyWritesTheHiveNow) {
    TestMachine machine;
    ASSERT_EQ(setString(HKEY_CURRENT_USER, "Software\\Now", "v", "1"), 0);
    const std::string ntuser = machine.hostPath("Documents and Settings/Administrator/NTUSER.DAT");
    EXPECT_FALSE(win32::FindKey(hive::LoadHiveFile(ntuser).root.get(), u"Software\\Now"));
    const uint32_t before = hive::LoadHiveFile(ntuser).sequence;
    EXPECT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    const auto after = hive::LoadHiveFile(ntuser);
    EXPECT_TRUE(win32::FindKey(after.root.get(), u"Software\\Now"));
    EXPECT_EQ(after.sequence, before + 1) << "each write counts on from the file's sequence";
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(ntuser + ".hwnew")));
}

TEST(Registry, SaveKeyWritesTheSubtreeAsANewHive) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Saved\\Sub]\n\"v\"=dword:00000007\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Saved]\n\"text\"=\"t\"\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Saved", 0, KEY_READ, &key), 0);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege"}));
    EXPECT_EQ(RegSaveKeyA(key, "C:\\saved.hiv", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegSaveKeyA(key, "C:\\saved.hiv", nullptr), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(RegSaveKeyA(key, "C:\\No Such Folder\\saved.hiv", nullptr), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(RegSaveKeyA(key, "D:\\saved.hiv", nullptr), ERROR_PATH_NOT_FOUND);
    RegCloseKey(key);
    const auto saved = hive::LoadHiveFile(machine.hostPath("saved.hiv"));
    EXPECT_EQ(win32::StringValue(*saved.root, u"text"), u"t");
    const hive::HiveKey* sub = win32::FindKey(saved.root.get(), u"Sub");
    ASSERT_TRUE(sub);
    EXPECT_EQ(win32::DwordValue(*sub, u"v"), 7u);
    EXPECT_EQ(saved.root->subkeyCount(), 1u);
}

TEST(Registry, ReplaceKeyTakesEffectAtTheNextStart) {
    TestMachine machine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Before]\n");
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software), 0);
    const char* hive = "C:\\WINDOWS\\system32\\config\\SOFTWARE";
    const std::string copy = std::string(hive) + ".rctemp";
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}));
    ASSERT_EQ(RegSaveKeyA(software, copy.c_str(), nullptr), 0);
    EXPECT_EQ(RegReplaceKeyA(software, nullptr, "C:\\missing.hiv", "C:\\old.hiv"),
              ERROR_FILE_NOT_FOUND);
    HKEY notRoot = nullptr;
    ASSERT_EQ(RegOpenKeyA(software, "Before", &notRoot), 0);
    EXPECT_EQ(RegReplaceKeyA(notRoot, nullptr, copy.c_str(), "C:\\old.hiv"),
              ERROR_INVALID_PARAMETER);
    ASSERT_EQ(
        RegReplaceKeyA(software, nullptr, copy.c_str(), (std::string(hive) + ".rcbak").c_str()),
        ERROR_SUCCESS);
    // Later changes go to the live hive; the copy, a save of the hive itself, is made again
    // from it when the machine is let go, its next start, so no later work is undone.
    ASSERT_EQ(setString(HKEY_LOCAL_MACHINE, "SOFTWARE\\After", "v", "1"), 0);
    machine.shutdown();
    EXPECT_TRUE(win32::PendingReplacementsOf(machine.folder()).empty());
    EXPECT_TRUE(win32::LastReleaseReplacements().allMade());
    machine.boot();
    HKEY after = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\After", &after), ERROR_SUCCESS);
    RegCloseKey(after);
    const auto old = hive::LoadHiveFile(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak"));
    EXPECT_TRUE(win32::FindKey(old.root.get(), u"After"));
    EXPECT_FALSE(QFileInfo::exists(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rctemp"))));
    // Nothing is left pending.
    machine.shutdown();
    EXPECT_EQ(win32::PerformPendingReplacements(machine.folder()), std::vector<std::string>{});
}

// The hive takes the old-file name at the next start: RegReplaceKey never accepts a name
// that is taken, which would cost whatever bears it.
TEST(Registry, ReplaceKeyRefusesAnOldFileNameThatIsTaken) {
    TestMachine machine("", {{"C:\\taken.txt", "someone's file"}});
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software), 0);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}));
    const char* copy = "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp";
    ASSERT_EQ(RegSaveKeyA(software, copy, nullptr), 0);
    ASSERT_EQ(RegSaveKeyA(software, "C:\\system.copy", nullptr), 0);
    // SYSTEM's replacement, pending, takes its own two names.
    ASSERT_EQ(RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SYSTEM", "C:\\system.copy", "C:\\system.old"), 0);
    const struct {
        const char* newFile;
        const char* oldFile;
        LONG error;
    } cases[] = {
        {copy, "C:\\WINDOWS\\system32\\config\\SYSTEM", ERROR_ALREADY_EXISTS},
        {copy, "c:\\windows\\SYSTEM32\\config\\software", ERROR_ALREADY_EXISTS},
        {copy, "C:\\Documents and Settings\\Administrator\\NTUSER.DAT", ERROR_ALREADY_EXISTS},
        {copy, "C:\\TAKEN.TXT", ERROR_ALREADY_EXISTS},
        {copy, copy, ERROR_ALREADY_EXISTS},
        {copy, "C:\\SYSTEM.OLD", ERROR_ALREADY_EXISTS},
        {copy, "C:\\No Such Folder\\SOFTWARE.old", ERROR_PATH_NOT_FOUND},
        {"C:\\Documents and Settings\\Administrator\\NTUSER.DAT", "C:\\SOFTWARE.old",
         ERROR_SHARING_VIOLATION},
        {"C:\\system.copy", "C:\\SOFTWARE.old", ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.newFile) + " -> " + c.oldFile);
        EXPECT_EQ(RegReplaceKeyA(software, nullptr, c.newFile, c.oldFile), c.error);
    }
    // Only SYSTEM's replacement waits.
    const auto pending = win32::PendingReplacementsOf(machine.folder());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].hive, "C:\\WINDOWS\\system32\\config\\SYSTEM");
    EXPECT_EQ(RegReplaceKeyA(software, nullptr, copy, "C:\\SOFTWARE.old"), ERROR_SUCCESS);
    RegCloseKey(software);
}

// As on Windows, the privileges that RegSaveKey, RegReplaceKey and ExitWindowsEx need are
// held but disabled until the program enables them.
TEST(Registry, SavingAndReplacingNeedTheirPrivilegesEnabled) {
    TestMachine machine;
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", &software), 0);
    EXPECT_EQ(RegSaveKeyA(software, "C:\\saved.hiv", nullptr), ERROR_PRIVILEGE_NOT_HELD);
    ASSERT_TRUE(EnablePrivileges({"SeBackupPrivilege"}));
    EXPECT_EQ(RegSaveKeyA(software, "C:\\saved.hiv", nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegReplaceKeyA(software, nullptr, "C:\\saved.hiv", "C:\\old.hiv"),
              ERROR_PRIVILEGE_NOT_HELD);
    ASSERT_TRUE(EnablePrivileges({"SeRestorePrivilege"}));
    EXPECT_EQ(RegReplaceKeyA(software, nullptr, "C:\\saved.hiv", "C:\\old.hiv"), ERROR_SUCCESS);
    RegCloseKey(software);
}

TEST(Registry, CallsFromSeveralThreadsWhileTheBackgroundFlushRuns) {
    TestMachine machine;
    machine.shutdown();
    win32::BootOptions options;
    options.lazyFlushMilliseconds = 1;
    machine.boot(options);
    auto worker = [](int id) {
        const std::string path = "SOFTWARE\\Threads\\T" + std::to_string(id);
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(setString(HKEY_LOCAL_MACHINE, path.c_str(), "v", std::to_string(i)), 0);
            EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, path.c_str(), "v"), std::to_string(i));
            subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Threads");
            if (i % 50 == 25) {
                EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
            }
        }
    };
    std::thread a(worker, 1), b(worker, 2);
    a.join();
    b.join();
    machine.shutdown();
    machine.boot();
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Threads"), (Names{"T1", "T2"}));
}
