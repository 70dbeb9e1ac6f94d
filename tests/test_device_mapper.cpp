// The machine's drives and their devices, and the mapping of device paths to drive paths.

#include "registry/DeviceFileMapper.h"
#include "support/MachineFixture.h"
#include "win32/base/LastError.h"
#include "win32/files/Drives.h"
#include "win32/files/Files.h"
#include "win32/registry/Registry.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Reboots the machine with an ini, and folders for the drives it names.
void rebootWithIni(TestMachine& machine, const std::string& ini) {
    std::ofstream(machine.hostPath("hivewarden-machine.ini")) << ini;
    machine.shutdown();
    machine.boot();
}

std::string driveFolder(const TestMachine& machine, const std::string& name) {
    const fs::path folder = fs::path(machine.folder()).parent_path() / name;
    fs::create_directories(folder);
    return folder.string();
}

std::string mapped(const TDeviceFileMapper& mapper, const std::string& path) {
    try {
        return mapper.MapPath(path);
    } catch (const EDeviceFileMapper& e) {
        return std::string("error: ") + e.what();
    }
}

TEST(Drives, DriveCIsTheFirstHardDiskVolume) {
    TestMachine machine;
    EXPECT_EQ(GetLogicalDrives(), DWORD(1) << 2);

    char target[64];
    EXPECT_EQ(QueryDosDeviceA("C:", target, sizeof target), 25u);
    EXPECT_EQ(std::string(target, 25), std::string("\\Device\\HarddiskVolume1\0\0", 25));
    EXPECT_EQ(QueryDosDeviceA("c:", target, sizeof target), 25u);
    EXPECT_EQ(QueryDosDeviceA(nullptr, target, sizeof target), 4u);
    EXPECT_EQ(std::string(target, 4), std::string("C:\0\0", 4));

    for (const char* unknown : {"D:", "C:\\", "C", "", "HarddiskVolume1"}) {
        SetLastError(0);
        EXPECT_EQ(QueryDosDeviceA(unknown, target, sizeof target), 0u) << unknown;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND)) << unknown;
    }
    EXPECT_EQ(QueryDosDeviceA("C:", target, 24), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

// The hive list names the hive files by device; the mapper gives back the files.
TEST(DeviceFileMapper, MapsTheHiveListToFilesThatExist) {
    TestMachine machine;
    HKEY list = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\hivelist", 0,
                            KEY_READ, &list),
              ERROR_SUCCESS);
    char device[512];
    DWORD size = sizeof device;
    ASSERT_EQ(RegQueryValueExA(list, "\\REGISTRY\\MACHINE\\SOFTWARE", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(device), &size),
              ERROR_SUCCESS);
    RegCloseKey(list);

    const TDeviceFileMapper mapper;
    ASSERT_EQ(mapper.Devices().size(), 1u);
    EXPECT_EQ(mapper.Devices()[0].Drive, "C:");
    EXPECT_EQ(mapper.Devices()[0].DeviceName, "\\device\\harddiskvolume1");
    const std::string file = mapper.MapPath(device);
    EXPECT_EQ(file, "C:\\WINDOWS\\system32\\config\\SOFTWARE");
    EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_NORMAL);

    struct Case {
        const char* path;
        std::string expected;
    };
    const Case cases[] = {
        {"\\Device\\HarddiskVolume1\\WINDOWS\\system32\\config\\SAM",
         "C:\\WINDOWS\\system32\\config\\SAM"},
        {"\\DEVICE\\harddiskvolume1\\Documents and Settings\\Jane\\NTUSER.DAT",
         "C:\\Documents and Settings\\Jane\\NTUSER.DAT"},
        {"\\Device\\HarddiskVolume1", "C:\\"},
        {"\\Device\\CdRom0\\setup.exe",
         "error: Unable to Map Path: [\\Device\\CdRom0\\setup.exe]\\Devices.Count = 1"},
        {"", "error: Unable to Map Path: []\\Devices.Count = 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mapped(mapper, c.path), c.expected) << c.path;
}

TEST(DeviceFileMapper, TakesTheFirstDriveWhoseDeviceIsAPrefix) {
    TestMachine machine;
    rebootWithIni(machine, "[Drives]\nA = " + driveFolder(machine, "floppy") +
                               "\nD = " + driveFolder(machine, "data") +
                               "\n[DosDevices]\nA = \\Device\\HarddiskVolume1\n"
                               "D = \\Device\\HarddiskVolume10\n");
    EXPECT_EQ(GetLogicalDrives(), DWORD(0b1101));

    const TDeviceFileMapper mapper;
    ASSERT_EQ(mapper.Devices().size(), 3u);
    EXPECT_EQ(mapper.Devices()[0].Drive, "A:");
    EXPECT_EQ(mapper.Devices()[2].Drive, "D:");
    EXPECT_EQ(mapper.Devices()[2].DeviceName, "\\device\\harddiskvolume10");
    // A prefix test, not a path test: the second volume maps through A:, and the
    // character after A:'s device name ("0") is dropped.
    EXPECT_EQ(mapped(mapper, "\\Device\\HarddiskVolume10\\Games\\game.exe"),
              "A:\\\\Games\\game.exe");
    EXPECT_EQ(mapped(mapper, "\\Device\\HarddiskVolume1\\boot.ini"), "A:\\boot.ini");
    EXPECT_EQ(mapped(mapper, "\\Device\\Floppy0"),
              "error: Unable to Map Path: [\\Device\\Floppy0]\\Devices.Count = 3");
}

TEST(DeviceFileMapper, ExtraDrivesAreTheNextVolumesInLetterOrder) {
    TestMachine machine;
    rebootWithIni(machine, "[Drives]\nE: = " + driveFolder(machine, "e") +
                               "\nd = " + driveFolder(machine, "d") + "\n");
    char target[64];
    ASSERT_EQ(QueryDosDeviceA("D:", target, sizeof target), 25u);
    EXPECT_STREQ(target, "\\Device\\HarddiskVolume2");
    ASSERT_EQ(QueryDosDeviceA("e:", target, sizeof target), 25u);
    EXPECT_STREQ(target, "\\Device\\HarddiskVolume3");
    ASSERT_EQ(QueryDosDeviceA(nullptr, target, sizeof target), 10u);
    EXPECT_EQ(std::string(target, 10), std::string("C:\0D:\0E:\0\0", 10));

    const TDeviceFileMapper mapper;
    EXPECT_EQ(mapped(mapper, "\\Device\\HarddiskVolume3\\Music"), "E:\\Music");
}

TEST(DeviceFileMapper, AFailingQueryRaisesItsErrorNumber) {
    TestMachine machine;
    rebootWithIni(machine, "[Drives]\nD = " + driveFolder(machine, "d") +
                               "\n[DosDevices]\nD = \\Device\\" + std::string(300, 'x') + "\n");
    try {
        TDeviceFileMapper mapper;
        ADD_FAILURE() << "made a mapper";
    } catch (const EDeviceFileMapper& e) {
        EXPECT_STREQ(e.what(), "QueryDosDevice Failed. Error Number: 122");
    }
}

TEST(Drives, BadDriveEntriesStopTheBoot) {
    TestMachine machine;
    machine.shutdown();
    const std::string missing = fs::path(machine.folder()).parent_path() / "no such folder";
    const std::pair<std::string, std::string> cases[] = {
        {"[Drives]\nD = " + missing + "\n", missing},
        {"[Drives]\nDD = /tmp\n", "DD"},
        {"[Drives]\nC = /tmp\n", "C:"},
        {"[DosDevices]\nD = \\Device\\X\n", "D:"},
        {"[Drives]\nD = /tmp\n[DosDevices]\nC = \\Device\\X\n", "C:"},
    };
    for (const auto& [ini, named] : cases) {
        std::ofstream(machine.hostPath("hivewarden-machine.ini")) << ini;
        try {
            machine.boot();
            ADD_FAILURE() << "booted with " << ini;
            machine.shutdown();
        } catch (const win32::BootError& e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    }
    fs::remove(machine.hostPath("hivewarden-machine.ini"));
    machine.boot();
}

TEST(Drives, HostPathOfAnyDrive) {
    TestMachine machine;
    const std::string data = driveFolder(machine, "data");
    fs::create_directories(fs::path(data) / "Music");
    rebootWithIni(machine, "[Drives]\nD = " + data + "\n");
    EXPECT_EQ(win32::HostPathOf("d:\\MUSIC\\new.mp3"), data + "/Music/new.mp3");
    EXPECT_EQ(win32::HostPathOf("c:\\windows"), machine.hostPath("WINDOWS"));
    EXPECT_EQ(win32::HostPathOf("D:\\..\\..\\etc"), data + "/etc");
    EXPECT_EQ(win32::HostPathOf("E:\\x"), std::nullopt);
    EXPECT_EQ(win32::HostPathOf("Music"), std::nullopt);
    machine.shutdown();
    EXPECT_EQ(win32::HostPathOf("C:\\WINDOWS"), std::nullopt);
    EXPECT_EQ(GetLogicalDrives(), 0u);
    machine.boot();
}

} // namespace
