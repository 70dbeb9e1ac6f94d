#pragma once
// Internal to the layer: the program's ANSI Windows paths located on the booted
// machine, for the file and process functions.

#include "win32/base/WinTypes.h"
#include "win32/host/MachinePaths.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace win32 {

class MachineRegistry;

// The current folder, %SystemRoot%\system32 of the booted machine.
std::u16string CurrentFolder();

// The absolute form of a path, as GetFullPathName makes it: taken from the current
// folder when relative, "." and ".." applied (never above the root), trailing dots and
// spaces of names dropped, the drive letter upper-cased: "X:\a\b", or "X:\" for a
// drive's root. nullopt for UNC and device paths.
std::optional<std::u16string> FullWindowsPath(std::u16string_view path);

struct Located {
    DWORD error = ERROR_SUCCESS; // ERROR_SUCCESS when `where` found the whole path
    MachineRegistry* reg = nullptr;
    std::u16string full; // the full Windows path
    MachinePaths::Resolved where;
    bool trailingSeparator = false; // the path as given ends in "\" or "/"
};
// Null, empty or malformed paths and paths off the machine's drives fail with the
// errors Windows gives them; a path a link leads out of with ERROR_ACCESS_DENIED.
Located Locate(LPCSTR path);

// The entry a path names in its folder, found without regard to case and without
// following it when it is a link: what a file is deleted or replaced as.
struct LocatedEntry {
    DWORD error = ERROR_SUCCESS; // the folder cannot be used; the entry may still be missing
    MachineRegistry* reg = nullptr;
    bool isRoot = false; // the path names a drive's root: no entry of a folder
    std::string folder;  // host path of the folder, which exists
    std::string name;    // the entry's name on disk, or as given when it does not exist
    bool exists = false;
    const MachineDrive* drive = nullptr; // the drive the entry is on
    std::string host() const { return folder == "/" ? "/" + name : folder + "/" + name; }
};
LocatedEntry LocateEntry(LPCSTR path);

// Why nothing may be changed on `drive` of the booted machine: ERROR_ACCESS_DENIED when
// the machine is mounted read-only, ERROR_WRITE_PROTECT for a drive the machine's ini
// maps outside the machine folder (MachinePaths.h); ERROR_SUCCESS when it may.
DWORD WriteRefusal(const MachineRegistry* reg, const MachineDrive* drive);

// The attributes Windows would give an entry (see GetFileAttributesA).
DWORD AttributesOf(const std::string& hostPath, const struct stat& info);
FILETIME FileTimeOf(const timespec& time);

// Windows' error for a failed host call's errno.
DWORD ErrorOfErrno(int error);

} // namespace win32
