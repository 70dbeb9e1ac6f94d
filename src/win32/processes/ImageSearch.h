#pragma once
// Internal to the layer: the program file a process would be created from, found as
// CreateProcess finds it (see Processes.h).

#include "win32/base/WinTypes.h"

#include <string>

namespace win32 {

struct ProcessImage {
    DWORD error = ERROR_SUCCESS;
    std::string path; // the full Windows path (ANSI) when found
};

// Finds and checks the image; `error` is what CreateProcess fails with.
ProcessImage FindProcessImage(LPCSTR applicationName, LPCSTR commandLine);

} // namespace win32
