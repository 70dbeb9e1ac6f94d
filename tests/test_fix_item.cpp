// Repairs: what FixItem deletes for each category, what it saves first, and that nothing
// is deleted whose undo copy could not be written.

#include "backup/ExportRegKey.h"
#include "hive/HiveFile.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/RegImport.h"
#include "win32/registry/Registry.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace testing_support;

namespace {

// Repairs run on the user-interface thread; these tests are that thread.
class ImmediateUi : public UiDispatcher {
public:
    void Post(std::function<void()> task) override { task(); }
    bool IsShuttingDown() const override { return false; }
};

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const std::string& path, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const bool found =
        RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

const char* kRun = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* kAppPaths =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";

const char* kMachineText =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
    "\"first\"=\"C:\\\\gone1.exe\"\n\"second\"=\"C:\\\\gone2.exe\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\old.exe]\n"
    "@=\"\"\n\"Path\"=\"C:\\\\Old\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kept.exe]\n"
    "@=\"C:\\\\kept.exe\"\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{11111111-0000-0000-0000-000000000000}\\1.0\\0\\win32]\n"
    "@=\"C:\\\\gone.tlb\"\n"
    "[HKEY_CLASSES_ROOT\\TypeLib\\{11111111-0000-0000-0000-000000000000}\\2.0\\0\\win32]\n"
    "@=\"C:\\\\gone2.tlb\"\n"
    "[HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command]\n@=\"C:\\\\gone.exe %1\"\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
    "Start Menu\\Programs\\Gone]\n\"Order\"=hex:01\n";

class FixItemTest : public ::testing::Test {
protected:
    TestMachine machine{kMachineText};
    ImmediateUi ui;
    TFixRegistry engine{ui};
    QTemporaryDir dir;
    std::string undo = dir.path().toStdString() + "/undo.reg";

    void add(TRepairItem category, const std::string& key, const std::string& value) {
        engine.AddInvalidData(category, key, "diagnosis", "data", value);
    }
};

} // namespace

TEST_F(FixItemTest, EachCategoryDeletesWhatItsRecordNames) {
    add(riAutoRun, kRun, "first");
    add(riAutoRun, kRun, "second");
    add(riAppPaths, std::string(kAppPaths) + "\\old.exe", "Path");
    add(riActiveX,
        "HKEY_CLASSES_ROOT\\TypeLib\\{11111111-0000-0000-0000-000000000000}\\1.0\\0\\win32", "");
    add(riClasses, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command", "");
    add(riClasses, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command", "other");
    add(riStartMenu,
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
        "Start Menu\\Programs",
        "Gone");

    // Only the second run value goes; the first value and its record stay.
    EXPECT_TRUE(engine.FixItem(riAutoRun, undo, kRun, "second"));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, std::string(kRun).substr(19), "second"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, std::string(kRun).substr(19), "first"));
    EXPECT_EQ(engine.InvalidDataList().size(), 6u);
    EXPECT_EQ(engine.InvalidDataList()[0].ValueName, "first");

    // An application path record deletes the application's key, default value included.
    EXPECT_TRUE(engine.FixItem(riAppPaths, undo, std::string(kAppPaths) + "\\old.exe", "Path"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\old.exe"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kept.exe"));

    // A type library record deletes the library with all its versions.
    EXPECT_TRUE(engine.FixItem(
        riActiveX, undo,
        "HKEY_CLASSES_ROOT\\TypeLib\\{11111111-0000-0000-0000-000000000000}\\1.0\\0\\win32", ""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{11111111-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib"));

    // Two records of one key: the first deletes it, the second finds it gone: fixed too.
    EXPECT_TRUE(
        engine.FixItem(riClasses, undo, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command", ""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "badfile\\shell\\open\\command"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "badfile\\shell\\open"));
    EXPECT_TRUE(engine.FixItem(riClasses, undo, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command",
                               "other"));

    // A start menu record deletes the folder's key below the order key, not the order key.
    const std::string order =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs";
    EXPECT_TRUE(engine.FixItem(riStartMenu, undo, "HKEY_CURRENT_USER\\" + order, "Gone"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, order + "\\Gone"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, order));

    // The first run record is the only one left; a record already fixed matches nothing.
    ASSERT_EQ(engine.InvalidDataList().size(), 1u);
    EXPECT_FALSE(engine.FixItem(riAutoRun, undo, kRun, "second"));
}

TEST_F(FixItemTest, AValueAlreadyGoneFailsAndKeepsItsRecord) {
    add(riAutoRun, kRun, "first");
    HKEY run = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                            0, KEY_ALL_ACCESS, &run),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(run, "first"), ERROR_SUCCESS);
    RegCloseKey(run);
    EXPECT_FALSE(engine.FixItem(riAutoRun, undo, kRun, "first"));
    EXPECT_EQ(engine.InvalidDataList().size(), 1u);
}

TEST_F(FixItemTest, ALocationShorterThanItsDepthDeletesNothing) {
    // The record would otherwise name "App Paths" itself, with every application below it.
    add(riAppPaths, kAppPaths, "Path");
    EXPECT_FALSE(engine.FixItem(riAppPaths, undo, kAppPaths, "Path"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kept.exe"));
}

TEST_F(FixItemTest, WithoutAnUndoFileNothingIsWritten) {
    add(riAutoRun, kRun, "first");
    EXPECT_TRUE(engine.FixItem(riAutoRun, "", kRun, "first"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(undo)));
}

TEST_F(FixItemTest, AProtectedKeyIsDeletedAfterTheUserIsGrantedAccess) {
    machine.rebootWithIni("[ProtectedKeys]\n1=HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command\n");
    add(riClasses, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command", "");
    EXPECT_TRUE(
        engine.FixItem(riClasses, undo, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command", ""));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "badfile\\shell\\open\\command"));
}

TEST_F(FixItemTest, NothingIsDeletedWhenTheUndoFileCannotBeWritten) {
    add(riAutoRun, kRun, "first");
    add(riAppPaths, std::string(kAppPaths) + "\\old.exe", "Path");
    const std::string nowhere = dir.path().toStdString() + "/no/such/folder/undo.reg";
    EXPECT_THROW(engine.FixItem(riAutoRun, nowhere, kRun, "first"), EExportError);

    // A full disk: the file may grow by a few bytes only.
    { std::ofstream(undo) << "Windows Registry Editor Version 5.00\r\n"; }
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit tiny = previous;
    tiny.rlim_cur = 60;
    setrlimit(RLIMIT_FSIZE, &tiny);
    bool threw = false;
    try {
        engine.FixItem(riAppPaths, undo, std::string(kAppPaths) + "\\old.exe", "Path");
    } catch (const EExportError&) {
        threw = true;
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(threw);
    std::ifstream in(undo, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "Windows Registry Editor Version 5.00\r\n"); // no half-written block

    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, std::string(kRun).substr(19), "first"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\old.exe"));
    EXPECT_EQ(engine.InvalidDataList().size(), 2u);
}

TEST_F(FixItemTest, TheUndoFileOfARepairBringsEverythingBack) {
    const std::string runPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    add(riAutoRun, kRun, "second");
    add(riAppPaths, std::string(kAppPaths) + "\\old.exe", "Path");
    add(riClasses, "HKEY_CLASSES_ROOT\\badfile\\shell\\open\\command", "");
    const std::vector<TInvalidRegData> problems = engine.InvalidDataList(); // fixing empties it
    for (const TInvalidRegData& problem : problems)
        ASSERT_TRUE(engine.FixItem(problem.Category, undo, problem.KeyLocation, problem.ValueName));
    EXPECT_TRUE(engine.FlushRepairs());
    ASSERT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, runPath, "second"));

    const win32::RegImportResult result = win32::RegImportFile(undo);
    EXPECT_EQ(result.skipped, 0u);
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, runPath, "second"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE,
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\old.exe",
                            "Path"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\badfile\\shell\\open\\command"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\badfile"));
}

TEST_F(FixItemTest, RepairsReachTheHiveFilesWhenFlushed) {
    add(riAutoRun, kRun, "second");
    ASSERT_TRUE(engine.FixItem(riAutoRun, undo, kRun, "second"));
    ASSERT_TRUE(engine.FlushRepairs());
    // The hive file holds the change now. (Another process cannot mount the machine to
    // look while this one has it mounted for writing.)
    const hive::LoadedHive software =
        hive::LoadHiveFile(machine.hostPath("WINDOWS/system32/config/SOFTWARE"));
    const hive::HiveKey* run =
        win32::FindKey(software.root.get(), u"Microsoft\\Windows\\CurrentVersion\\Run");
    ASSERT_TRUE(run);
    EXPECT_LT(run->findValue(u"second"), 0);
    EXPECT_GE(run->findValue(u"first"), 0);
}

namespace {

// Scans the booted machine with the engine's own scanners, then repairs every record
// found, as the clean command does. The engine is left with the records not repaired.
struct ScanAndFix {
    TestUiLoop ui;
    TFixRegistry engine{ui};
    std::vector<std::string> refusals;

    void run(TRepairItems items, const std::vector<std::string>& exclusions) {
        InitOSInfo();
        bool finished = false;
        engine.ScanItems = items;
        engine.ExcludeKEYList = exclusions;
        engine.OnFinished = [&](TFixRegistry*) { finished = true; };
        engine.Start();
        ASSERT_TRUE(ui.RunUntil([&] { return finished; }));
        const std::vector<TInvalidRegData> found = engine.InvalidDataList();
        ASSERT_FALSE(found.empty());
        for (const TInvalidRegData& record : found)
            if (!engine.FixItem(record.Category, "", record.KeyLocation, record.ValueName))
                refusals.push_back(engine.LastFixRefusal());
    }
};

} // namespace

TEST(FixItemExclusions, ARepairNeverDeletesAKeyAnExclusionKeepsBelowIt) {
    const std::string command = "HKEY_CLASSES_ROOT\\badclass\\shell\\open\\command";
    const std::string service = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Gone";
    struct Case {
        TRepairItem item;
        std::string reported; // the key the record deletes
        std::string kept;     // excluded, below it
        std::string entry;    // the exclusion list's line
    };
    const Case cases[] = {
        {riClasses, command, command + "\\Keep", command + "\\Keep"},
        {riClasses, command, command + "\\Keep",
         "hkey_classes_root\\BADCLASS\\shell\\open\\command\\keep"},
        {riClasses, command, command + "\\Keep", command + "\\Keep (include subkey)"},
        {riServices, service, service + "\\Enum", service + "\\Enum"},
        {riServices, service, service + "\\Enum\\Root", service + "\\Enum(include subkey)"},
    };
    for (const Case& c : cases) {
        TestMachine machine(
            "[HKEY_CLASSES_ROOT\\badclass\\shell\\open\\command]\n"
            "@=\"\\\"C:\\\\Gone App\\\\gone.exe\\\" \\\"%1\\\"\"\n"
            "[HKEY_CLASSES_ROOT\\badclass\\shell\\open\\command\\Keep]\n\"v\"=dword:00000001\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Gone]\n"
            "\"ImagePath\"=\"C:\\\\gone.sys\"\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Gone\\Enum\\Root]\n"
            "\"0\"=\"x\"\n");
        ScanAndFix run;
        run.run({c.item}, {c.entry});
        const std::string where = c.entry;
        // The record stays, and the user is told which exclusion kept it.
        ASSERT_EQ(run.engine.InvalidDataList().size(), 1u) << where;
        EXPECT_EQ(run.engine.InvalidDataList()[0].KeyLocation, c.reported) << where;
        ASSERT_EQ(run.refusals.size(), 1u) << where;
        EXPECT_NE(run.refusals[0].find(c.entry), std::string::npos) << run.refusals[0];
        EXPECT_NE(run.refusals[0].find(c.reported), std::string::npos) << run.refusals[0];
        const size_t slash = c.reported.find('\\');
        const HKEY root = c.item == riClasses ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
        EXPECT_TRUE(KeyExists(root, c.reported.substr(slash + 1))) << where;
        EXPECT_TRUE(KeyExists(root, c.kept.substr(slash + 1))) << where;
    }
}

TEST(FixItemExclusions, AnExclusionBesideTheDeletedKeyDoesNotStopTheRepair) {
    TestMachine machine("[HKEY_CLASSES_ROOT\\badclass\\shell\\open\\command]\n"
                        "@=\"\\\"C:\\\\Gone App\\\\gone.exe\\\" \\\"%1\\\"\"\n"
                        "[HKEY_CLASSES_ROOT\\badclass\\shell\\open\\commandline]\n"
                        "[HKEY_CLASSES_ROOT\\badclass\\shell\\edit]\n");
    ScanAndFix run;
    run.run({riClasses}, {"HKEY_CLASSES_ROOT\\badclass\\shell\\open\\commandline",
                          "HKEY_CLASSES_ROOT\\badclass\\shell\\edit (include subkey)"});
    EXPECT_TRUE(run.refusals.empty());
    EXPECT_TRUE(run.engine.InvalidDataList().empty());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "badclass\\shell\\open\\command"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "badclass\\shell\\open\\commandline"));
}

TEST(FixAssociation, AKeyHoldingMoreLosesItsDefaultValueOnly) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.typed]
@="removedclass"
"Content Type"="application/x-removed"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.typed\OpenWithProgids]
"other.file"=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.alone]
@="removedclass"
)reg");
    ImmediateUi ui;
    TFixRegistry engine{ui};
    QTemporaryDir dir;
    const std::string undo = dir.path().toStdString() + "/undo.reg";
    for (const char* key : {"HKEY_CLASSES_ROOT\\.typed", "HKEY_CLASSES_ROOT\\.alone"})
        engine.AddInvalidData(riFileAssociations, key, "diagnosis", "removedclass", "Default");

    EXPECT_TRUE(engine.FixItem(riFileAssociations, undo, "HKEY_CLASSES_ROOT\\.typed", "Default"));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, ".typed", ""));
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, ".typed", "Content Type"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ".typed\\OpenWithProgids"));
    // A key that is an association and nothing more goes as a whole.
    EXPECT_TRUE(engine.FixItem(riFileAssociations, undo, "HKEY_CLASSES_ROOT\\.alone", "Default"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".alone"));

    // The undo file brings both back as they were.
    EXPECT_EQ(win32::RegImportFile(undo).skipped, 0u);
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, ".typed", ""));
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, ".typed", "Content Type"));
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, ".alone", ""));
}
