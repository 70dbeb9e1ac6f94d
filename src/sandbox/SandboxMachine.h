#pragma once
// The sandbox: the installation the program works on when it is given none, so that a
// new user can run a scan at once, safely, with nothing to mount. It is made on first use
// from a template built into the program: a small Windows XP installation (or, made with
// ResetSandbox, a Windows 10 one on 64 bits) with the leftovers of two removed programs
// in every section a scan looks at.

#include "sandbox/SandboxTemplate.h"

#include <string>

// BaseProgramFolder() + "Sandbox".
std::string SandboxFolder();

// Makes the sandbox in `folder`, which must not exist: the machine is built beside it and
// renamed into place, so a folder of that name is always a whole sandbox. No machine may
// be booted. Throws std::runtime_error with the reason.
void CreateSandbox(const std::string& folder, TSandboxWindows windows = TSandboxWindows::XP);

// Makes the sandbox at SandboxFolder() unless it is there; true when it was made now.
bool EnsureSandbox();

// Replaces the sandbox at SandboxFolder() with a new one from the template of `windows`;
// the programs then work on it until the next reset. Throws std::runtime_error when
// another process has it mounted, and changes nothing then.
void ResetSandbox(TSandboxWindows windows = TSandboxWindows::XP);
