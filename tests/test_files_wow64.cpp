// The files and environment of a 64-bit installation as a 32-bit program sees them.

#include "support/MachineFixture.h"
#include "support/Wow64Machine.h"
#include "win32/base/FileSystemView.h"
#include "win32/files/Files.h"
#include "win32/system/Environment.h"

#include <gtest/gtest.h>

using namespace testing_support;
using win32::FileSystemView;
using win32::ScopedFileSystemView;

namespace {

const char k64Bit[] = R"reg(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"PROCESSOR_ARCHITECTURE"="AMD64"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramW6432Dir"="C:\\Program Files"
)reg";

const std::vector<FixtureFile> kFiles = {
    {"C:\\WINDOWS\\SysWOW64\\msvbvm60.dll", MzImage()},
    {"C:\\WINDOWS\\system32\\native.dll", MzImage()},
    {"C:\\WINDOWS\\system32\\drivers\\etc\\hosts", "127.0.0.1 localhost"},
    {"C:\\WINDOWS\\system32\\spool\\drivers\\x.dll", MzImage()},
};

bool exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

struct FileCase {
    const char* path;
    bool native;
    bool wow64;
};

TEST(Wow64Files, System32IsSysWow64ForA32BitProgramButItsExemptFolders) {
    TestMachine machine(k64Bit, kFiles, {.version = "10.0.19045"});
    Reboot(machine);
    const FileCase cases[] = {
        {"C:\\WINDOWS\\system32\\msvbvm60.dll", false, true},
        {"C:\\Windows\\SYSTEM32\\native.dll", true, false},
        {"C:\\WINDOWS\\Sysnative\\native.dll", false, true},
        {"C:\\WINDOWS\\SysWOW64\\msvbvm60.dll", true, true},
        {"C:\\WINDOWS\\system32\\drivers\\etc\\hosts", true, true},
        {"C:\\WINDOWS\\system32\\spool\\drivers\\x.dll", true, true},
    };
    for (const FileCase& c : cases) {
        EXPECT_EQ(exists(c.path), c.native) << c.path;
        ScopedFileSystemView view(FileSystemView::Wow64);
        EXPECT_EQ(exists(c.path), c.wow64) << c.path;
    }
    EXPECT_EQ(win32::ThreadFileSystemView(), FileSystemView::Native);
}

TEST(Wow64Files, TheEnvironmentNamesBothProgramFolders) {
    TestMachine machine(k64Bit, kFiles, {.version = "10.0.19045"});
    Reboot(machine);
    const std::string text = "%ProgramFiles%|%CommonProgramFiles%|%ProgramFiles(x86)%|"
                             "%CommonProgramFiles(x86)%|%ProgramW6432%|%PROCESSOR_ARCHITECTURE%";
    EXPECT_EQ(win32::ExpandEnvironment(text),
              "C:\\Program Files|C:\\Program Files\\Common Files|C:\\Program Files (x86)|"
              "C:\\Program Files (x86)\\Common Files|C:\\Program Files|AMD64");
    ScopedFileSystemView view(FileSystemView::Wow64);
    EXPECT_EQ(win32::ExpandEnvironment(text),
              "C:\\Program Files (x86)|C:\\Program Files (x86)\\Common Files|"
              "C:\\Program Files (x86)|C:\\Program Files (x86)\\Common Files|C:\\Program "
              "Files|x86");
    EXPECT_EQ(win32::ExpandEnvironment("%PROCESSOR_ARCHITEW6432%"), "AMD64");
}

TEST(Wow64Files, A32BitInstallationHasOneView) {
    TestMachine machine("", {{"C:\\WINDOWS\\system32\\native.dll", MzImage()}},
                        {.version = "6.1.7601"});
    Reboot(machine);
    ScopedFileSystemView view(FileSystemView::Wow64);
    EXPECT_TRUE(exists("C:\\WINDOWS\\system32\\native.dll"));
    EXPECT_EQ(win32::ExpandEnvironment("%ProgramFiles%|%ProgramFiles(x86)%"),
              "C:\\Program Files|%ProgramFiles(x86)%");
}

TEST(Wow64Files, TheUsersFoldersOfVistaAndLater) {
    // Windows 10 says "10.0" where the machine was made so, "6.3" where it kept Vista's.
    for (const char* version : {"6.1.7601", "10.0.19045"}) {
        SCOPED_TRACE(version);
        TestMachine machine("", {}, {.version = version, .usersFolder = true});
        EXPECT_EQ(win32::ExpandEnvironment("%PUBLIC%|%ProgramData%|%ALLUSERSPROFILE%"),
                  "C:\\Users\\Public|C:\\ProgramData|C:\\ProgramData");
        EXPECT_EQ(win32::ExpandEnvironment("%USERPROFILE%|%LOCALAPPDATA%|%APPDATA%"),
                  "C:\\Users\\Administrator|C:\\Users\\Administrator\\AppData\\Local|"
                  "C:\\Users\\Administrator\\AppData\\Roaming");
    }
}

} // namespace
