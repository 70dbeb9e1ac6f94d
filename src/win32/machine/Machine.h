#pragma once
// Booting the layer on a machine folder, and shutting it down.

#include "win32/base/WinTypes.h"
#include "win32/host/MachineFolder.h"
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

} // namespace win32
