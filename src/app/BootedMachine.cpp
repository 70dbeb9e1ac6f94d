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

void BootedMachine::finish() {
    if (!booted_)
        return;
    booted_ = false;
    try {
        win32::ShutdownMachine();
    } catch (const std::exception& e) {
        throw MachineError(std::string("Cannot write the registry: ") + e.what());
    }
}

} // namespace app
