#pragma once
// The calling thread's last-error code, as kernel32 keeps it.

#include "win32/base/WinTypes.h"

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
