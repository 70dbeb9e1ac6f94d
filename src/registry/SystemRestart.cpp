#include "registry/SystemRestart.h"

#include "registry/Privileges.h"
#include "win32/machine/SystemShutdown.h"

bool RestartWindows(int mode, bool force) {
    UINT flags = 0;
    switch (mode) {
    case 0:
        flags = force ? EWX_SHUTDOWN | EWX_FORCE : EWX_SHUTDOWN;
        break;
    case 1:
        flags = force ? EWX_SHUTDOWN | EWX_REBOOT | EWX_FORCE : EWX_SHUTDOWN | EWX_REBOOT;
        break;
    case 2:
        flags = force ? EWX_LOGOFF | EWX_FORCE : EWX_LOGOFF;
        break;
    default:
        return false;
    }
    bool wasEnabled = false;
    EnablePrivilege("SeShutdownPrivilege", true, wasEnabled);
    return ExitWindowsEx(flags, 0xFFFF);
}
