#pragma once
// Ending the Windows session: shut down, restart or log off.

// mode 0 shuts down, 1 restarts, 2 logs off; `force` does not wait for other programs.
// Enables SeShutdownPrivilege first. Other modes do nothing. True when ExitWindowsEx
// accepted the request.
bool RestartWindows(int mode, bool force);
