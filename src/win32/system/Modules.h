#pragma once
// LoadLibraryA, GetProcAddress and FreeLibrary over the system libraries this layer
// provides: a library is the table of the functions it exports here. Nothing is ever
// loaded from the machine's disk.

#include "win32/base/WinTypes.h"

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
// Windows declares it returning INT_PTR; void() is the type every function pointer
// converts to and from without a compiler warning, and callers cast it either way.
using FARPROC = void (*)();

// "advapi32.dll", "advapi32" or a path ending in it, ignoring case. ERROR_MOD_NOT_FOUND
// for any other library. Each load counts; FreeLibrary undoes one.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// ERROR_PROC_NOT_FOUND for a name the library does not export (ordinals are not kept);
// ERROR_INVALID_HANDLE for a library that is not loaded.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
