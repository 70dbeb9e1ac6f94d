#pragma once
// Booting the layer on a machine folder, and shutting it down.

#include "win32/base/WinTypes.h"
#include "win32/host/MachineFolder.h"
#include "win32/host/MachineLock.h"
#include "win32/host/MachinePaths.h"
#include "win32/registry/HiveCondition.h"
#include "win32/registry/PendingReplacements.h"
#include "win32/registry/SaveKeyToHostFile.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace win32 {

// The machine could not be booted; the message says which file and why.
class BootError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct BootOptions {
    // Mount sharing the machine's lock with other read-only mounts (refused while a
    // process that changes the machine holds it); every change fails with
    // ERROR_ACCESS_DENIED.
    bool readOnly = false;
    // How long a changed hive waits before it is written out by the background flush.
    int lazyFlushMilliseconds = 5000;
    // Drives the user maps (hivewarden-cli --drive D=DIR): writable, and in place of the
    // ini's drive of the same letter (host/MachinePaths.h).
    std::vector<GrantedDrive> drives = {};
    // A writable mount of a damaged hive is refused unless this is set: the hive is then
    // repaired, a sound hive of what could be read taking its place, the original kept
    // beside it (hive/HiveSetAside.h). A read-only mount reads what it can regardless.
    bool repairDamagedHives = false;
};

// Mounts the hives of the Windows installation in `folder` (the folder that is drive C:).
// Throws BootError; on error nothing has been written anywhere.
//
// A machine whose user profile cannot be mounted (no ProfileList, no profile with a
// NTUSER.DAT, a profile folder outside the machine or on a read-only drive) still boots,
// without the user's hives: HKEY_CURRENT_USER is then absent (opening it fails with
// ERROR_FILE_NOT_FOUND) and BootWarnings() says why. [Machine] Sid and User in the ini
// name the profile to mount: the ProfileList entry of that SID, or of the profile folder
// of that name; with both, and no such entry, the folder of that name among the profiles.
//
// A hive that Windows did not finish writing is brought up to date from its transaction
// logs, as Windows does when it loads it. A writable mount then writes the recovered hive
// as a clean file before anything else is written, keeping the original and its logs
// beside it, so that Windows never replays the old logs over later changes. A damaged
// hive is mounted read-only with what can be read soundly (writable only with
// repairDamagedHives). HiveConditions() and BootWarnings() say which hives were which.
//
// A writable mount removes the files a killed process left while it wrote a hive (the
// hive's name with ".hwnew" added, beside each hive mounted), and first completes the
// hive replacements a process stopped while it made them (a read-only mount of such a
// machine is refused with BootError: its hives may be a mix).
void BootMachine(const std::string& folder, const BootOptions& options = {});
// What the boot of the booted machine found wrong without stopping: one sentence each.
std::vector<std::string> BootWarnings();
// The booted machine's hives that were not finished by Windows or are damaged, in the
// order they were mounted, with what the boot did about each (also among BootWarnings).
std::vector<HiveCondition> HiveConditions();
// The host paths of the booted machine's hive files, in the order they were mounted.
std::vector<std::string> MountedHiveFiles();
// Writes every changed hive and releases the machine: its next start. A writable mount
// then makes the hive replacements that wait for it, all or none (PendingReplacements.h),
// a compaction's copy of a hive changed since made again first; a read-only mount leaves
// them waiting. Throws std::runtime_error when a hive could not be written (the machine
// is released all the same, and no replacement is made).
void ShutdownMachine();
// From now on ShutdownMachine keeps the released registry's memory (its hives written and
// the machine released as ever) for the system to take back when the process ends: for a
// program that ends right after it lets the machine go.
void LeaveReleasedRegistryToProcessEnd();
// What the last ShutdownMachine did with the replacements that waited: none tried and
// none made when nothing waited or the mount was read-only.
ReplacementRun LastReleaseReplacements();
bool IsMachineBooted();
// The host folder of the booted machine (canonical), empty when none is booted.
std::string MachineFolder();
// Writes every changed hive now. Throws std::runtime_error naming the hive that failed.
void FlushMachine();

} // namespace win32
