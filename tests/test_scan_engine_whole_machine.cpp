// The engine with its own scanners over a whole machine (built under ThreadSanitizer
// too). A machine whose every reference is valid, written in all the ways Windows accepts:
// a scan of every section finds nothing at all.

#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(ScanWholeMachine, EveryReferenceWindowsWouldFindIsValid) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\app.exe]
@="C:\\Program Files\\My App\\app.exe"
"Path"="C:\\Program Files\\My App;C:\\PROGRA~1\\MYAPP~1\\bin\\;%ProgramFiles%\\My App;bin;"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\notes.exe]
@="notes.exe"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"unquoted"="C:\\Program Files\\My App\\app.exe -tray"
"quoted"="\"C:\\Program Files\\My App\\app.exe\" /background"
"upper"="C:\\PROGRAM FILES\\MY APP\\APP.EXE"
"short"="C:\\PROGRA~1\\MYAPP~1\\app.exe"
"env"="%ProgramFiles%\\My App\\app.exe"
"bare"="tool /quiet"
"batch"="C:\\Program Files\\My App\\start.cmd"
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"rundll"="rundll32.exe C:\\Program Files\\My App\\bin\\helper.dll,Start"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnceEx]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"Arial (TrueType)"="arial.ttf"
"Arial Bold (TrueType)"="ARIALBD.TTF"
"Vendor (TrueType)"="C:\\Program Files\\My App\\fonts\\vendor.ttf"
"Vendor Short (TrueType)"="C:\\PROGRA~1\\MYAPP~1\\fonts\\VENDOR.TTF"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"notepad.hlp"="C:\\WINDOWS\\Help"
"app.hlp"="c:\\program files\\my app\\"
"env.hlp"="%SystemRoot%\\help"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Html Help]
"app.chm"="C:\\PROGRA~1\\MYAPP~1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\WINDOWS\\system32\\shared.dll"=dword:00000002
"c:\\windows\\SYSTEM32\\Shared.Dll"=dword:00000002
"C:\\PROGRA~1\\MYAPP~1\\bin\\helper.dll"=dword:00000001
"C:\\Program Files\\Common Files\\Vendor\\"=dword:00000001
)reg",
                        {
                            {"C:\\Program Files\\My App\\app.exe", MzImage()},
                            {"C:\\Program Files\\My App\\start.cmd", "@echo off"},
                            {"C:\\Program Files\\My App\\bin\\helper.dll", MzImage()},
                            {"C:\\Program Files\\My App\\fonts\\vendor.ttf", "font"},
                            {"C:\\Program Files\\My App\\app.hlp", "help"},
                            {"C:\\Program Files\\My App\\app.chm", "help"},
                            {"C:\\Program Files\\Common Files\\Vendor\\vendor.dll", MzImage()},
                            {"C:\\WINDOWS\\notes.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\cmd.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\rundll32.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\tool.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\shared.dll", MzImage()},
                            {"C:\\WINDOWS\\Fonts\\Arial.ttf", "font"},
                            {"C:\\WINDOWS\\Fonts\\arialbd.ttf", "font"},
                            {"C:\\WINDOWS\\Help\\NOTEPAD.HLP", "help"},
                            {"C:\\WINDOWS\\Help\\env.hlp", "help"},
                        });
    const ScanOutcome outcome = ScanMachine(TRepairItems::All());
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    for (const TInvalidRegData& record : outcome.records)
        ADD_FAILURE() << "false report: " << record.KeyLocation << " / " << record.ValueName
                      << " / " << record.ValueData << " / " << record.Diagnosis;
    EXPECT_EQ(outcome.statuses.size(), size_t(kRepairItemCount));
    EXPECT_FALSE(outcome.keys.empty());
}
