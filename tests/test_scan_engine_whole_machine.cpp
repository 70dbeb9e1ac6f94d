// The engine with its own scanners over a whole machine (built under ThreadSanitizer
// too). A machine whose every reference is valid, written in all the ways Windows accepts:
// a scan of every section finds nothing at all.

#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "support/ShortcutBytes.h"
#include "support/Wow64Machine.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {
constexpr char kCommonPrograms[] = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\";
constexpr char kUserPrograms[] =
    "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs\\";
} // namespace

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
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{00000320-0000-0000-C000-000000000046}\InprocServer32]
@="C:\\WINDOWS\\system32\\ole32.dll"
"ThreadingModel"="Both"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Interface\{00000100-0000-0000-C000-000000000046}\ProxyStubClsid32]
@="{00000320-0000-0000-c000-000000000046}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{00020430-0000-0000-C000-000000000046}\2.0\0\win32]
@="C:\\WINDOWS\\system32\\stdole2.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{EA544A21-C82D-11D1-A3E4-00A0C90AEA82}\6.0\9\win32]
@="%SystemRoot%\\system32\\MSVBVM60.DLL\\3"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.txt]
@="txtfile"
"Content Type"="text/plain"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.app]
@="My.App.Document"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.js]
@="JSFile"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.xml]
@="{48123BC4-99D9-11D1-A6B3-00C04FD91555}\\clsid"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\jsfile]
@="JScript Script File"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\txtfile\shell\open\command]
@=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,73,79,73,74,65,6d,33,32,5c,4e,4f,54,45,50,\
  41,44,2e,45,58,45,20,25,31,00
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\My.App.Document\shell\open\command]
@="\"C:\\Program Files\\My App\\app.exe\" \"%1\""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\My.App.Document\DefaultIcon]
@="C:\\PROGRA~1\\MYAPP~1\\app.exe,0"
[HKEY_CURRENT_USER\Software\My Vendor\My App\Settings]
"Window"=hex:01,02
[HKEY_LOCAL_MACHINE\SOFTWARE\My Vendor\My App]
"InstallDir"="C:\\Program Files\\My App"
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Beep]
"ImagePath"=hex(2):73,79,73,74,65,6d,33,32,5c,44,52,49,56,45,52,53,5c,62,65,65,70,2e,73,79,73,00
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\MyAppService]
"ImagePath"="\"C:\\Program Files\\My App\\app.exe\" -service"
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Dhcp]
"ImagePath"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,53,79,73,74,65,6d,33,32,5c,73,76,\
  63,68,6f,73,74,2e,65,78,65,20,2d,6b,20,6e,65,74,73,76,63,73,00
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Tcpip]
"Start"=dword:00000001
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\My App]
"UninstallString"="\"C:\\Program Files\\My App\\app.exe\" /uninstall"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{90110409-6000-11D3-8CFE-0150048383C9}]
"UninstallString"="MsiExec.exe /I{90110409-6000-11D3-8CFE-0150048383C9}"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs\My App]
"Order"=hex:08,00,00,00
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu2\Programs\Accessories]
"Order"=hex:08,00,00,00
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
                            {"C:\\WINDOWS\\system32\\ole32.dll", MzImage()},
                            {"C:\\WINDOWS\\system32\\stdole2.tlb", "typelib"},
                            {"C:\\WINDOWS\\system32\\msvbvm60.dll", MzImage()},
                            {"C:\\WINDOWS\\system32\\notepad.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\svchost.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\msiexec.exe", MzImage()},
                            {"C:\\WINDOWS\\system32\\drivers\\beep.sys", "driver"},
                            {std::string(kCommonPrograms) + "My App\\My App.lnk",
                             text(localLink("C:\\Program Files\\My App\\app.exe"))},
                            {std::string(kUserPrograms) + "Accessories\\Notepad.lnk",
                             text(localLink("C:\\WINDOWS\\system32\\notepad.exe"))},
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

TEST(ScanWholeMachine, A64BitMachineWithEveryReferenceValidInItsViewGivesNoReport) {
    TestMachine machine(kWow64Registry, Wow64Files(), kWindows10);
    Reboot(machine);
    const ScanOutcome outcome = ScanMachine(TRepairItems::All());
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    for (const TInvalidRegData& record : outcome.records)
        ADD_FAILURE() << "false report: " << record.KeyLocation << " / " << record.ValueName
                      << " / " << record.ValueData << " / " << record.Diagnosis;
    // The 32-bit view was walked.
    EXPECT_NE(std::find(outcome.keys.begin(), outcome.keys.end(),
                        "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"),
              outcome.keys.end());
}
