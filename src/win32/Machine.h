#pragma once
// Booting the layer on a machine folder, and shutting it down.

#include "win32/WinTypes.h"

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
    // Mount without the machine's lock; every change then fails with ERROR_ACCESS_DENIED.
    bool readOnly = false;
    // How long a changed hive waits before it is written out by the background flush.
    int lazyFlushMilliseconds = 5000;
};

// Mounts the hives of the Windows installation in `folder` (the folder that is drive C:).
// Throws BootError; on error nothing has been written anywhere.
void BootMachine(const std::string& folder, const BootOptions& options = {});
// Writes every changed hive and releases the machine. Throws std::runtime_error when a
// hive could not be written (the machine is released all the same).
void ShutdownMachine();
bool IsMachineBooted();
// The host folder of the booted machine (canonical), empty when none is booted.
std::string MachineFolder();
// Writes every changed hive now. Throws std::runtime_error naming the hive that failed.
void FlushMachine();

// RegSaveKey to a path on the host rather than on the machine's drive.
LONG SaveKeyToHostFile(HKEY hKey, const std::string& hostPath);

// Performs the hive replacements that RegReplaceKey recorded for `folder`, as the next
// start of Windows does: each hive file is renamed to its old-file name and the new
// file takes its place. The machine must not be booted. Returns one line per
// replacement that could not be made (an empty list when all were made).
std::vector<std::string> PerformPendingReplacements(const std::string& folder);

// A replacement RegReplaceKey recorded, as Windows paths on the machine's drive C:.
struct PendingReplacement {
    std::string hive, newFile, oldFile; // UTF-8
};
// The replacements waiting in `folder` for the next start, in the order they were made.
std::vector<PendingReplacement> PendingReplacementsOf(const std::string& folder);

// Name of the lock file in a machine folder.
inline constexpr const char* kMachineLockFileName = "hivewarden.lock";
// Name of the optional settings file at a machine's root.
inline constexpr const char* kMachineIniFileName = "hivewarden-machine.ini";

} // namespace win32
