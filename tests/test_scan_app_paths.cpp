// The application path scan over small machines.

#include "scan/ScanAppPaths.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kAppPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const std::string kLocation = "HKEY_LOCAL_MACHINE\\" + kAppPaths + "\\";

TInvalidRegData emptyDefault(const std::string& app) {
    return {riAppPaths, kLocation + app, "Default", "", "Default value is Empty"};
}

TInvalidRegData missingFolder(const std::string& app, const std::string& path) {
    return {riAppPaths, kLocation + app, "Path", path,
            "Application directory \"" + path + "\"  does not exist"};
}

const std::vector<FixtureFile> kFiles = {
    {"C:\\Program Files\\My App\\app.exe", MzImage()},
    {"C:\\Program Files\\My App\\bin\\helper.dll", MzImage()},
};

} // namespace

TEST(ScanAppPaths, DefaultValuesAndPathFolders) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\app.exe]
@="C:\\Program Files\\My App\\app.exe"
"Path"="C:\\Program Files\\My App;C:\\Program Files\\My App\\bin;"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\case.exe]
@="x"
"Path"="c:\\PROGRAM FILES\\my app\\BIN\\"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\short.exe]
@="x"
"Path"="C:\\PROGRA~1\\MYAPP~1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\env.exe]
@="x"
"Path"="%ProgramFiles%\\My App;\"%SystemRoot%\";"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\relative.exe]
@="x"
"Path"="C:\\Program Files\\My App;bin; C:\\WINDOWS ;%NoSuchVariable%\\x"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\empty.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\both.exe]
"Path"="C:\\Program Files\\My App;C:\\Gone"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\gone.exe]
@="C:\\Gone\\gone.exe"
"Path"="C:\\Gone"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\file.exe]
@="x"
"Path"="C:\\Program Files\\My App\\app.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Setup.EXE]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\INSTALL.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\msohtmed.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\table30.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\WINNT32.EXE]
)reg",
                        kFiles);
    const ScanOutcome outcome = ScanMachine({riAppPaths});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // In byte order of the names: upper case before lower case. A non-empty default is
    // not examined further; an empty default and a bad "Path" give a record each.
    const std::vector<TInvalidRegData> expected = {
        emptyDefault("both.exe"),
        missingFolder("both.exe", "C:\\Program Files\\My App;C:\\Gone"),
        emptyDefault("empty.exe"),
        missingFolder("file.exe", "C:\\Program Files\\My App\\app.exe"),
        missingFolder("gone.exe", "C:\\Gone"),
    };
    EXPECT_EQ(outcome.records, expected);
    // The skipped names are passed over before their keys are opened.
    EXPECT_EQ(outcome.keys,
              (std::vector<std::string>{kAppPaths + "\\app.exe", kAppPaths + "\\both.exe",
                                        kAppPaths + "\\case.exe", kAppPaths + "\\empty.exe",
                                        kAppPaths + "\\env.exe", kAppPaths + "\\file.exe",
                                        kAppPaths + "\\gone.exe", kAppPaths + "\\relative.exe",
                                        kAppPaths + "\\short.exe"}));
    EXPECT_EQ(outcome.percents.size(), 14u);
    EXPECT_EQ(outcome.percents.back(), 100);
}

TEST(ScanAppPaths, NamesInByteOrderExclusionsAndStop) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\b.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\C.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\a.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\a.exe\sub]
)reg");
    ScanOutcome outcome = ScanMachine({riAppPaths});
    EXPECT_EQ(outcome.records,
              (std::vector<TInvalidRegData>{emptyDefault("C.exe"), emptyDefault("a.exe"),
                                            emptyDefault("b.exe")}));
    EXPECT_EQ(outcome.percents, (std::vector<int>{33, 66, 100}));

    outcome = ScanMachine({riAppPaths}, {kLocation + "A.EXE", kLocation + "b(include subkey)"});
    EXPECT_EQ(outcome.records, (std::vector<TInvalidRegData>{emptyDefault("C.exe")}));

    outcome = ScanMachine({riAppPaths}, {}, [](TFixRegistry& engine) {
        engine.OnFound = [](TFixRegistry* sender, TRepairItem) { sender->Stop(); };
    });
    EXPECT_EQ(outcome.records, (std::vector<TInvalidRegData>{emptyDefault("C.exe")}));
}

TEST(ScanAppPaths, ADefaultValueThatIsNoStringEndsTheScan) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\a.exe]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\b.exe]
@=dword:00000001
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\c.exe]
)reg");
    const ScanOutcome outcome = ScanMachine({riAppPaths, riAutoRun});
    EXPECT_EQ(outcome.records, (std::vector<TInvalidRegData>{emptyDefault("a.exe")}));
    EXPECT_EQ(outcome.error, "Invalid data type for ''");
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riAppPaths}));
}
