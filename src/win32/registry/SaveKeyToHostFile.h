#pragma once
// RegSaveKey to a path on the host rather than on the machine's drive.

#include "win32/base/WinTypes.h"

#include <string>

namespace win32 {

LONG SaveKeyToHostFile(HKEY hKey, const std::string& hostPath);

} // namespace win32
