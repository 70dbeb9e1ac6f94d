#pragma once
// Internal to the layer: the file system redirection of a 64-bit installation for a
// thread that holds the 32-bit view (base/FileSystemView.h). As Windows redirects a
// 32-bit process: %SystemRoot%\System32 is %SystemRoot%\SysWOW64, except its catroot,
// catroot2, DriverStore, drivers\etc, LogFiles and spool folders, which both see;
// %SystemRoot%\Sysnative is the real System32; %SystemRoot%\regedit.exe is the one in
// SysWOW64; lastgood\system32 is lastgood\SysWOW64.

#include <string>

namespace win32 {

// The full Windows path `full` ("C:\WINDOWS\system32\x.dll") as the calling thread's
// view resolves it; unchanged in the native view and on a 32-bit installation.
std::u16string RedirectForThreadView(std::u16string full);

} // namespace win32
