// The service and uninstaller scans over small machines.

#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kServices = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
const std::string kUninstall =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

TEST(ScanServices, EachImageFileMustExist) {
    TestMachine machine(R"reg(
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Beep]
"ImagePath"=hex(2):73,79,73,74,65,6d,33,32,5c,44,52,49,56,45,52,53,5c,62,65,65,70,2e,73,79,73,00
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\GoneDriver]
"ImagePath"="system32\\DRIVERS\\gone.sys"
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Spooler]
"ImagePath"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,73,79,73,74,65,6d,33,32,5c,73,70,\
  6f,6f,6c,73,76,2e,65,78,65,00
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Vendor]
"ImagePath"="\"C:\\Program Files\\Vendor\\svc.exe\" -service"
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Relative]
"ImagePath"="svchost.exe -k netsvcs"
[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\NoImage]
"Start"=dword:00000003
)reg",
                        {{"C:\\WINDOWS\\system32\\drivers\\beep.sys", "driver"},
                         {"C:\\WINDOWS\\system32\\spoolsv.exe", MzImage()}});
    const ScanOutcome outcome = ScanMachine({riServices});
    ASSERT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.error, "");
    // A path beginning with "system32" lies below the system root; one without a drive
    // marker is not judged.
    const std::vector<TInvalidRegData> expected = {
        {riServices, kServices + "GoneDriver", "ImagePath", "system32\\DRIVERS\\gone.sys",
         "File \"system32\\DRIVERS\\gone.sys\" does not exist"},
        {riServices, kServices + "Vendor", "ImagePath",
         "\"C:\\Program Files\\Vendor\\svc.exe\" -service",
         "File \"\"C:\\Program Files\\Vendor\\svc.exe\" -service\" does not exist"},
    };
    EXPECT_EQ(outcome.records, expected);
    EXPECT_EQ(outcome.found.size(), 2u);
}

const char kUninstallers[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\App]
"UninstallString"="\"C:\\Program Files\\App\\uninst.exe\" /S"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Gone]
"UninstallString"="C:\\Program Files\\Gone\\uninst.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{90110409-6000-11D3-8CFE-0150048383C9}]
"UninstallString"="MsiExec.exe /I{90110409-6000-11D3-8CFE-0150048383C9}"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Update]
"DisplayName"="Hotfix"
)reg";

const std::vector<FixtureFile> kUninstallFiles = {
    {"C:\\Program Files\\App\\uninst.exe", MzImage()},
    {"C:\\WINDOWS\\system32\\msiexec.exe", MzImage()},
};

TEST(ScanUninstallers, EachCommandMustStartAProgram) {
    TestMachine machine(kUninstallers, kUninstallFiles);
    const ScanOutcome outcome = ScanMachine({riUninstallers});
    ASSERT_TRUE(outcome.ended);
    const std::vector<TInvalidRegData> expected = {
        {riUninstallers, kUninstall + "\\Gone", "UninstallString",
         "C:\\Program Files\\Gone\\uninst.exe",
         "Uninstall File Path \"C:\\Program Files\\Gone\\uninst.exe\" does not exist"},
    };
    EXPECT_EQ(outcome.records, expected);
}

TEST(ScanUninstallers, OnlyTheWholeKeyCanBeExcluded) {
    TestMachine machine(kUninstallers, kUninstallFiles);
    EXPECT_EQ(ScanMachine({riUninstallers}, {kUninstall + "\\Gone"}).records.size(), 1u);
    const ScanOutcome outcome = ScanMachine({riUninstallers}, {kUninstall});
    EXPECT_TRUE(outcome.records.empty());
    EXPECT_TRUE(outcome.keys.empty());
}

} // namespace
