#pragma once
// The user and the token of the program's process: administrator rights, the user's
// name, and enabling privileges.

#include "win32/base/WinTypes.h"

#include <string>

// True outside the NT family; else whether the process token's groups hold the built-in
// Administrators group.
bool IsAdmin();
// The user's name (GetUserNameA into a 260-character buffer); empty when it fails.
std::string CurrentUserName();
// Enables or disables a privilege of the process token: 0 or a Windows error code;
// ERROR_NOT_ALL_ASSIGNED when the token does not hold it. `wasEnabled` receives whether
// it was enabled before. Does nothing and returns 0 outside the NT family.
DWORD EnablePrivilege(const std::string& name, bool enable, bool& wasEnabled);
