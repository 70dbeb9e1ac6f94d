#pragma once
// Keeping the machine a program works on booted: what the windowed program and the
// command-line companion share.

#include "win32/machine/Machine.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace app {

// The machine could not be booted, or its hives not written; the message says why.
class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Boots the machine for the lifetime of the object; the destructor shuts it down.
// finish() shuts down early and reports a failure to write the hives. Shutting down
// releases the machine, which makes the hive replacements that wait for it
// (win32::LastReleaseReplacements says how that went).
class BootedMachine {
public:
    // Throws MachineError with the boot's message.
    BootedMachine(const std::string& folder, const win32::BootOptions& options);
    ~BootedMachine();
    BootedMachine(const BootedMachine&) = delete;
    BootedMachine& operator=(const BootedMachine&) = delete;

    // What the boot found wrong without stopping (win32::BootWarnings).
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Throws MachineError when a hive could not be written. True when this call released
    // the machine; false when it was released already (by ExitWindowsEx, or an earlier
    // call).
    bool finish();

private:
    bool booted_ = false;
    std::vector<std::string> warnings_;
};

} // namespace app
