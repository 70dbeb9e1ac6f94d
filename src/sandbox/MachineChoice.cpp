#include "sandbox/MachineChoice.h"

#include "sandbox/SandboxMachine.h"

#include <cstdlib>

TMachineChoice ChooseMachine(const std::string& named) {
    TMachineChoice choice;
    if (!named.empty()) {
        choice.folder = named;
        return choice;
    }
    if (const char* env = std::getenv("HIVEWARDEN_MACHINE"); env && *env) {
        choice.folder = env;
        return choice;
    }
    choice.sandbox = true;
    choice.created = EnsureSandbox();
    choice.folder = SandboxFolder();
    return choice;
}

std::string SandboxNotice(const TMachineChoice& choice) {
    return std::string(choice.created ? "Made the sandbox machine, a small Windows XP "
                                        "installation to try the program on, at "
                                      : "Working on the sandbox machine at ") +
           choice.folder +
           ". To work on a real Windows installation, name its folder (the one that holds "
           "WINDOWS) with --machine DIR or HIVEWARDEN_MACHINE=DIR.";
}
