// The run-at-start-up scan over small machines.

#include "scan/ScanAutoRun.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kHkcuRun = "HKEY_CURRENT_USER\\" + kRun;
const std::string kHklmRun = "HKEY_LOCAL_MACHINE\\" + kRun;

const std::vector<FixtureFile> kFiles = {
    {"C:\\Program Files\\My App\\app.exe", MzImage()},
    {"C:\\Program Files\\My App\\readme.txt", "not a program"},
    {"C:\\WINDOWS\\system32\\rundll32.exe", MzImage()},
};

// A REG_EXPAND_SZ value in .reg text.
std::string expandValue(const std::string& name, const std::string& text) {
    std::string line = "\"" + name + "\"=hex(2):";
    char byte[4];
    for (const char c : text + '\0') {
        std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
        line += byte;
    }
    line.pop_back();
    return line + "\n";
}

TInvalidRegData notExecuting(const std::string& key, const std::string& name,
                             const std::string& command) {
    return {riAutoRun, key, name, command, "File \"" + command + "\" does not execute"};
}

} // namespace

TEST(ScanAutoRun, ReportsCommandsThatDoNotStartInTheSevenKeysInOrder) {
    TestMachine machine(R"reg(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"spaces"="C:\\Program Files\\My App\\app.exe -tray"
"quoted"="\"C:\\Program Files\\My App\\app.exe\" /x"
"case"="c:\\program files\\MY APP\\APP.EXE"
"short"="C:\\PROGRA~1\\MYAPP~1\\app.exe"
"env"="%ProgramFiles%\\My App\\app.exe"
"search"="rundll32.exe shell32.dll,Control_RunDLL"
"gone"="C:\\Gone\\gone.exe"
"dumprep"="C:\\Gone\\DumpRep.exe 0 -k"
"readme"="C:\\Program Files\\My App\\readme.txt"
"empty"=""
)reg" + expandValue("expanded", "%SystemRoot%\\system32\\rundll32.exe x") +
                            R"reg(
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"hklm"="C:\\Gone\\hklm.exe"
"DUMPREP"="C:\\WINDOWS\\system32\\DUMPREP.EXE"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce]
"once"="C:\\Gone\\once.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnceEx]
"onceEx"="C:\\Gone\\onceEx.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunServices]
"services"="C:\\Gone\\services.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\policies\Explorer\Run]
"policy"="C:\\Gone\\policy.exe"
[HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\policies\Explorer\Run]
"userPolicy"="C:\\Gone\\userPolicy.exe"
)reg",
                        kFiles);
    const ScanOutcome outcome = ScanMachine({riAutoRun});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    const std::string v = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
    const std::string u = "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";
    const std::vector<TInvalidRegData> expected = {
        notExecuting(kHkcuRun, "gone", "C:\\Gone\\gone.exe"),
        notExecuting(kHkcuRun, "readme", "C:\\Program Files\\My App\\readme.txt"),
        notExecuting(kHkcuRun, "empty", ""),
        notExecuting(kHklmRun, "hklm", "C:\\Gone\\hklm.exe"),
        notExecuting(v + "RunOnce", "once", "C:\\Gone\\once.exe"),
        notExecuting(v + "RunOnceEx", "onceEx", "C:\\Gone\\onceEx.exe"),
        notExecuting(v + "RunServices", "services", "C:\\Gone\\services.exe"),
        notExecuting(v + "policies\\Explorer\\Run", "policy", "C:\\Gone\\policy.exe"),
        notExecuting(u + "policies\\Explorer\\Run", "userPolicy", "C:\\Gone\\userPolicy.exe"),
    };
    EXPECT_EQ(outcome.records, expected);
    // Each record is in the list when its OnFound arrives.
    ASSERT_EQ(outcome.found.size(), expected.size());
    for (size_t i = 0; i < outcome.found.size(); ++i)
        EXPECT_EQ(outcome.found[i], std::make_pair(i + 1, riAutoRun));
    EXPECT_EQ(outcome.keys,
              (std::vector<std::string>{
                  kRun, kRun, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices",
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run",
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run"}));
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riAutoRun}));
}

TEST(ScanAutoRun, ProgressStartsAgainAtEachKeyAndExcludedKeysAreSkipped) {
    TestMachine machine(R"reg(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"a"="C:\\Gone\\a.exe"
"b"="C:\\Gone\\b.exe"
"c"="C:\\Gone\\c.exe"
"d"="C:\\Gone\\d.exe"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"e"="C:\\Gone\\e.exe"
"f"="C:\\Gone\\f.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce]
"g"="C:\\Gone\\g.exe"
)reg");
    ScanOutcome outcome = ScanMachine({riAutoRun});
    EXPECT_EQ(outcome.percents, (std::vector<int>{25, 50, 75, 100, 50, 100, 100}));
    EXPECT_EQ(outcome.records.size(), 7u);

    // A plain entry excludes its key alone, in any letter case; an entry with
    // "(include subkey)" every key whose location contains it.
    outcome = ScanMachine({riAutoRun}, {"hkey_current_user\\software\\microsoft\\windows\\"
                                        "currentversion\\run"});
    ASSERT_EQ(outcome.records.size(), 3u);
    EXPECT_EQ(outcome.records[0].KeyLocation, kHklmRun);
    outcome =
        ScanMachine({riAutoRun}, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                                  "(include subkey)"});
    ASSERT_EQ(outcome.records.size(), 4u);
    EXPECT_EQ(outcome.records[3].KeyLocation, kHkcuRun);
    EXPECT_EQ(outcome.keys, (std::vector<std::string>{kRun}));
}

TEST(ScanAutoRun, StopEndsTheWalkAtTheNextValue) {
    TestMachine machine(R"reg(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"a"="C:\\Gone\\a.exe"
"b"="C:\\Gone\\b.exe"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"c"="C:\\Gone\\c.exe"
)reg");
    const ScanOutcome outcome = ScanMachine({riAutoRun, riFonts}, {}, [](TFixRegistry& engine) {
        engine.OnFound = [](TFixRegistry* sender, TRepairItem) { sender->Stop(); };
    });
    ASSERT_TRUE(outcome.ended);
    ASSERT_EQ(outcome.records.size(), 1u);
    EXPECT_EQ(outcome.records[0].ValueName, "a");
    EXPECT_EQ(outcome.keys, (std::vector<std::string>{kRun}));
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riAutoRun}));
    EXPECT_EQ(outcome.error, "");
}

TEST(ScanAutoRun, AValueThatIsNoStringEndsTheScan) {
    TestMachine machine(R"reg(
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"gone"="C:\\Gone\\gone.exe"
"Flags"=dword:00000001
"later"="C:\\Gone\\later.exe"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"hklm"="C:\\Gone\\hklm.exe"
)reg");
    const ScanOutcome outcome = ScanMachine({riAutoRun, riSharedDlls});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "Invalid data type for 'Flags'");
    EXPECT_EQ(outcome.records,
              (std::vector<TInvalidRegData>{notExecuting(kHkcuRun, "gone", "C:\\Gone\\gone.exe")}));
    EXPECT_EQ(outcome.statuses, (std::vector<TRepairItem>{riAutoRun}));
}

TEST(ScanAutoRun, HostileCommandsAreJudgedWithoutHangingOrLeavingTheMachine) {
    std::string spaced = "C:\\Gone\\x";
    while (spaced.size() < 100000)
        spaced += " a";
    const std::string reg = "[HKEY_CURRENT_USER\\" + kRun + "]\n\"long\"=\"C:\\\\Gone\\\\" +
                            spaced.substr(8) + "\"\n\"solid\"=\"" + std::string(100000, 'x') +
                            "\"\n\"out\"=\"C:\\\\Out\\\\far.exe\"\n"
                            "\"ok\"=\"C:\\\\Program Files\\\\My App\\\\app.exe\"\n";
    TestMachine machine(reg, kFiles);
    // A folder that holds a program, outside the machine, reached through a link.
    QTemporaryDir outside;
    std::filesystem::copy_file(machine.hostPath("Program Files/My App/app.exe"),
                               outside.path().toStdString() + "/far.exe");
    std::filesystem::create_directory_symlink(outside.path().toStdString(),
                                              machine.hostPath("Out"));
    const ScanOutcome outcome = ScanMachine({riAutoRun});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    ASSERT_EQ(outcome.records.size(), 3u);
    EXPECT_EQ(outcome.records[0].ValueName, "long");
    EXPECT_EQ(outcome.records[0].ValueData, spaced);
    EXPECT_EQ(outcome.records[1].ValueName, "solid");
    EXPECT_EQ(outcome.records[2], notExecuting(kHkcuRun, "out", "C:\\Out\\far.exe"));
}
