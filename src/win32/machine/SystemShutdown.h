#pragma once
// ExitWindowsEx over the booted machine.
//
// Logging off, shutting down and restarting all end the program's session on the
// machine: the registry editor's imports are waited for, every changed hive is written
// and the machine is released, which performs the hive replacements RegReplaceKey left,
// as the next start of Windows does (Machine.h). Last,
// the program is asked to quit through the hook it registered; without one nothing
// further happens. Shutting down, powering off and restarting need SeShutdownPrivilege
// enabled in the process's token.

#include "win32/base/WinTypes.h"
#include "win32/registry/PendingReplacements.h"

#include <functional>
#include <string>
#include <vector>

constexpr UINT EWX_LOGOFF = 0x00000000;
constexpr UINT EWX_SHUTDOWN = 0x00000001;
constexpr UINT EWX_REBOOT = 0x00000002;
constexpr UINT EWX_FORCE = 0x00000004;
constexpr UINT EWX_POWEROFF = 0x00000008;
constexpr UINT EWX_FORCEIFHUNG = 0x00000010;

// FALSE with ERROR_PRIVILEGE_NOT_HELD without the privilege, ERROR_INVALID_PARAMETER
// for flags Windows does not define, ERROR_NOT_READY without a booted machine, and
// ERROR_REGISTRY_IO_FAILED when the hives could not be written (the machine is
// released all the same, and no replacement is made).
BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason);

namespace win32 {

// Called by ExitWindowsEx, on its thread, after the machine is released.
using ExitWindowsHook = std::function<void(UINT flags)>;
// Registers the hook (empty to remove it); returns the one it replaces.
ExitWindowsHook SetExitWindowsHook(ExitWindowsHook hook);

// What the last ExitWindowsEx left to report: the hives that could not be written, or
// one line for each replacement the restart could not make. Empty when all went well.
std::vector<std::string> LastExitWindowsProblems();
// The hive replacements the last ExitWindowsEx made and could not make. A machine
// mounted read-only makes none: they stay pending.
ReplacementRun LastRestartReplacements();

} // namespace win32
