#pragma once
// LocalAlloc and LocalFree: the memory the security functions hand out.

#include "win32/base/WinTypes.h"

using HLOCAL = void*;

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// Fixed memory only (LMEM_MOVEABLE is refused with ERROR_INVALID_PARAMETER).
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
// NULL on success; the block itself and ERROR_INVALID_HANDLE for a block that
// LocalAlloc did not give or that was freed already.
HLOCAL LocalFree(HLOCAL hMem);
