#include "support/Wow64Machine.h"

namespace testing_support {

const char kWow64Registry[] = R"reg(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"PROCESSOR_ARCHITECTURE"="AMD64"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramW6432Dir"="C:\\Program Files"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run]
"native"="C:\\WINDOWS\\system32\\native.exe /start"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Run]
"tool32"="\"C:\\Program Files (x86)\\Tool32\\tool.exe\" /tray"
"env32"="%ProgramFiles%\\Tool32\\tool.exe"
"helper32"="C:\\WINDOWS\\system32\\helper32.exe"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"user32"="C:\\WINDOWS\\system32\\helper32.exe -user"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\WINDOWS\\system32\\msvbvm60.dll"=dword:00000003
"C:\\Program Files (x86)\\Common Files\\Vendor32\\shared.dll"=dword:00000001
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Tool32]
"DisplayName"="Tool32"
"UninstallString"="\"C:\\Program Files (x86)\\Tool32\\uninstall.exe\""
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{11111111-AAAA-BBBB-CCCC-000000000032}]
"UninstallString"="MsiExec.exe /X{11111111-AAAA-BBBB-CCCC-000000000032}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\App Paths\tool.exe]
@="C:\\Program Files (x86)\\Tool32\\tool.exe"
"Path"="%ProgramFiles%\\Tool32"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\tool32.exe]
@="C:\\Program Files (x86)\\Tool32\\tool.exe"
"Path"="C:\\WINDOWS\\system32\\Tool32Data"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\Help]
"tool32.hlp"="%ProgramFiles%\\Tool32"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\CLSID\{A1A1A1A1-0000-0000-0000-000000000032}\InprocServer32]
@="C:\\WINDOWS\\system32\\vb32.ocx"
"ThreadingModel"="Apartment"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\Interface\{B1B1B1B1-0000-0000-0000-000000000032}\ProxyStubClsid32]
@="{A1A1A1A1-0000-0000-0000-000000000032}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\TypeLib\{EA544A21-C82D-11D1-A3E4-00A0C90AEA82}\6.0\9\win32]
@="C:\\WINDOWS\\system32\\msvbvm60.dll\\3"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\TypeLib\{C1C1C1C1-0000-0000-0000-000000000032}\1.0\0\win32]
@="C:\\Program Files (x86)\\Tool32\\tool.tlb"
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Tool32.File\shell\open\command]
@="\"C:\\Program Files (x86)\\Tool32\\tool.exe\" \"%1\""
[HKEY_CURRENT_USER\Software\Classes\.tool]
@=""
"Content Type"="application/x-tool"
[HKEY_CURRENT_USER\Software\Classes\.tool\OpenWithProgids]
"Tool32.File"=hex(0):
[HKEY_CURRENT_USER\Software\AppDataLow\Software\Microsoft\Internet Explorer]
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Vendor32\Tool32]
"InstallDir"="C:\\Program Files (x86)\\Tool32"
)reg";

void Reboot(TestMachine& machine) {
    machine.shutdown();
    machine.boot();
}

std::vector<FixtureFile> Wow64Files() {
    return {
        {"C:\\WINDOWS\\system32\\native.exe", MzImage()},
        {"C:\\WINDOWS\\SysWOW64\\helper32.exe", MzImage()},
        {"C:\\WINDOWS\\SysWOW64\\msvbvm60.dll", MzImage()},
        {"C:\\WINDOWS\\SysWOW64\\msiexec.exe", MzImage()},
        {"C:\\WINDOWS\\SysWOW64\\vb32.ocx", MzImage()},
        {"C:\\WINDOWS\\SysWOW64\\Tool32Data\\tool.dat", "data"},
        {"C:\\Program Files (x86)\\Tool32\\tool.exe", MzImage()},
        {"C:\\Program Files (x86)\\Tool32\\uninstall.exe", MzImage()},
        {"C:\\Program Files (x86)\\Tool32\\tool.tlb", "typelib"},
        {"C:\\Program Files (x86)\\Tool32\\tool32.hlp", "help"},
        {"C:\\Program Files (x86)\\Common Files\\Vendor32\\shared.dll", MzImage()},
    };
}

} // namespace testing_support
