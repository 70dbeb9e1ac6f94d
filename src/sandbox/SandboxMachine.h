#pragma once
// The sandbox: the installation the program works on when it is given none, so that a
// new user can run a scan at once, safely, with nothing to mount. It is made on first use
// from the template built into the program: a small Windows XP installation with the
// leftovers of two removed programs in every section a scan looks at.

#include <string>

// BaseProgramFolder() + "Sandbox".
std::string SandboxFolder();

// Makes the sandbox in `folder`, which must not exist: the machine is built beside it and
// renamed into place, so a folder of that name is always a whole sandbox. No machine may
// be booted. Throws std::runtime_error with the reason.
void CreateSandbox(const std::string& folder);

// Makes the sandbox at SandboxFolder() unless it is there; true when it was made now.
bool EnsureSandbox();

// Replaces the sandbox at SandboxFolder() with a new one from the template. Throws
// std::runtime_error when another process has it mounted, and changes nothing then.
void ResetSandbox();
