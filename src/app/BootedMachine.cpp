#include "app/BootedMachine.h"

namespace app {

BootedMachine::BootedMachine(const std::string& folder, const win32::BootOptions& options) {
    try {
        win32::BootMachine(folder, options);
    } catch (const win32::BootError& e) {
        throw MachineError(e.what());
    }
    booted_ = true;
    warnings_ = win32::BootWarnings();
}

BootedMachine::~BootedMachine() {
    try {
        finish();
    } catch (...) {
        // Reported by finish() when the program calls it; a program that failed already
        // has its own error to show.
    }
}

bool BootedMachine::finish() {
    if (!booted_)
        return false;
    booted_ = false;
    if (!win32::IsMachineBooted())
        return false;
    try {
        win32::ShutdownMachine();
    } catch (const std::exception& e) {
        throw MachineError(std::string("Cannot write the registry: ") + e.what());
    }
    return true;
}

} // namespace app
