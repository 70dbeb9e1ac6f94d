#pragma once
// Granting the current user full control of a registry key.

#include "win32/base/WinTypes.h"

#include <string>

// Replaces the key's access list with one entry giving the current user GENERIC_ALL,
// passed on to subkeys. True when the new list was set. The fix engine calls it when a
// deletion is refused, before it tries once more.
bool GrantKeyAccess(HKEY root, const std::string& keyPath);
