#pragma once
// The machine's ANSI code page: conversions to and from UTF-16, and upper case.
// Without a booted machine the code page is 1252, the default of a Western system.

#include "win32/base/WinTypes.h"

constexpr UINT CP_ACP = 0;

UINT GetACP();

// Only CP_ACP (or the ANSI code page's own number) is supported; flags are ignored.
// A cbMultiByte or cchWideChar of -1 takes the text up to and including its zero.
// With a zero output size the call returns the size needed. Sets the last error to
// ERROR_INSUFFICIENT_BUFFER or ERROR_INVALID_PARAMETER on failure and returns 0.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar);

// Upper-cases the bytes in place through the code page's characters. A character
// whose upper case the code page cannot hold stays as it is. Returns cchLength.
DWORD CharUpperBuffA(LPSTR lpsz, DWORD cchLength);
