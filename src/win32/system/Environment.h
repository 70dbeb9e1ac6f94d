#pragma once
// The environment of the program's process on the booted machine, as Windows builds it
// at logon: the machine's own variables (SystemRoot, windir, SystemDrive, ProgramFiles,
// CommonProgramFiles, ProgramData, ALLUSERSPROFILE, PUBLIC, USERPROFILE, APPDATA,
// LOCALAPPDATA from Vista on, COMPUTERNAME, USERNAME, HOMEDRIVE, HOMEPATH, and on a 64-bit
// installation ProgramFiles(x86), CommonProgramFiles(x86), ProgramW6432 and
// CommonProgramW6432), then the values of the key
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment, then those of the
// user's HKCU\Environment. REG_EXPAND_SZ values are expanded; a user variable replaces
// the system's of the same name, except Path, which is appended to the system's.
//
// The environment is taken once per boot, as a process's environment is taken once at
// its start: later changes to those keys do not show in it. A thread that holds the 32-bit
// view of a 64-bit installation (base/FileSystemView.h) sees a 32-bit process's
// environment: ProgramFiles and CommonProgramFiles are the (x86) folders, and
// PROCESSOR_ARCHITECTURE is x86 with the native one in PROCESSOR_ARCHITEW6432. Names are matched
// without regard to case. Without a booted machine the environment is empty.

#include "win32/base/WinTypes.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Replaces each %NAME% of lpSrc by the variable's value; a reference to a variable that
// is not set stays as it is. Returns the size of the result in characters including
// its terminating zero; lpDst receives the result only when nSize holds that many
// (otherwise the return value is the size needed). 0 and the last error on failure.
DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);

// The value of a variable: its length without the zero when it fits into nSize
// characters, else the size needed including the zero; 0 and ERROR_ENVVAR_NOT_FOUND
// when it is not set.
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);

namespace win32 {

// Every variable of the booted machine's environment as (name, value), ANSI text,
// names in their own case, sorted without regard to case as Windows keeps them.
std::vector<std::pair<std::string, std::string>> EnvironmentVariables();
// One variable's value; nullopt when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);
// ExpandEnvironmentStringsA on std::string.
std::string ExpandEnvironment(const std::string& text);

} // namespace win32
