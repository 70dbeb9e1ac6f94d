#pragma once
// Which installation a program works on: the one the user names, else the sandbox.

#include <string>

struct TMachineChoice {
    std::string folder;
    bool sandbox = false; // the sandbox, named by no one
    bool created = false; // the sandbox was made now, on first use
};

// `named` (the program's --machine), else HIVEWARDEN_MACHINE, else the sandbox, made from
// the template when it is not there. Throws std::runtime_error when the sandbox is needed
// and cannot be made.
TMachineChoice ChooseMachine(const std::string& named);

// What a program tells its user, once, when it works on the sandbox.
std::string SandboxNotice(const TMachineChoice& choice);
