#pragma once
// The booted machine's drives. C: is the machine folder; more drives come from the
// [Drives] section of the machine's hivewarden-machine.ini, one "letter = host folder"
// entry each (an absolute folder, or one relative to the machine folder):
//
//     [Drives]
//     D = /srv/images/data-disk
//
// A drive whose folder lies outside the machine folder is read-only unless the user maps
// it too (host/MachinePaths.h): the ini may come from a stranger's disk image.
//
// Each drive is a kernel volume. C: is \Device\HarddiskVolume1, as the hive list names
// the hive files; the other drives are \Device\HarddiskVolume2, 3, ... in letter order,
// unless the [DosDevices] section gives a drive its device ("D = \Device\CdRom0").

#include "win32/base/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

// Bit 0 is A:, bit 2 is C:, ... One bit per drive of the machine; 0 without one.
DWORD GetLogicalDrives();

// lpDeviceName "C:" (any case, no backslash): the drive's device, as a list of strings
// each ending in a zero and the list in one more. With lpDeviceName null: the names of
// every DOS device ("A:", "C:", ...), in the same form. Returns the characters stored,
// both zeros included; 0 with ERROR_FILE_NOT_FOUND for an unknown name or
// ERROR_INSUFFICIENT_BUFFER when ucchMax is too small.
DWORD QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax);

namespace win32 {

// The host path of an absolute ANSI Windows path ("X:\...") on one of the machine's
// drives; nullopt without a booted machine, for a drive the machine has not, a relative
// path, or one that would leave the drive's folder. Components are matched without
// regard to case; the first missing one and those after it are kept as given.
std::optional<std::string> HostPathOf(std::string_view windowsPath);

} // namespace win32
