#pragma once
// The files Hivewarden keeps at the root of a machine folder.

namespace win32 {

// Name of the lock file in a machine folder.
inline constexpr const char* kMachineLockFileName = "hivewarden.lock";
// Name of the optional settings file at a machine's root.
inline constexpr const char* kMachineIniFileName = "hivewarden-machine.ini";

} // namespace win32
