#pragma once
// The names of the registry's value types, as the registry tools show them.

#include "win32/base/WinTypes.h"

// "REG_SZ", "REG_DWORD", ... for the types 0 to 11; null for any other.
const char* ValueTypeName(DWORD type);
