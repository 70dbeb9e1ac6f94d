#include "win32/machine/SystemShutdown.h"

#include "win32/base/LastError.h"
#include "win32/machine/Machine.h"
#include "win32/registry/MachineRegistry.h"

#include <mutex>

namespace win32 {

namespace {

std::mutex g_lock;
ExitWindowsHook g_hook;
std::vector<std::string> g_problems;
ReplacementRun g_replacements;

} // namespace

ExitWindowsHook SetExitWindowsHook(ExitWindowsHook hook) {
    std::lock_guard guard(g_lock);
    std::swap(g_hook, hook);
    return hook;
}

std::vector<std::string> LastExitWindowsProblems() {
    std::lock_guard guard(g_lock);
    return g_problems;
}

ReplacementRun LastRestartReplacements() {
    std::lock_guard guard(g_lock);
    return g_replacements;
}

} // namespace win32

using namespace win32;

BOOL ExitWindowsEx(UINT uFlags, DWORD) {
    constexpr UINT kKnown = EWX_SHUTDOWN | EWX_REBOOT | EWX_FORCE | EWX_POWEROFF | EWX_FORCEIFHUNG;
    if (uFlags & ~kKnown) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool endsSystem = uFlags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF);
    if (!IsMachineBooted()) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    if (endsSystem && !PrivilegeEnabled("SeShutdownPrivilege")) {
        SetLastError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    const std::string folder = MachineFolder();
    const MachineRegistry* reg = MachineRegistry::current();
    const bool readOnly = reg && reg->readOnly;
    std::vector<std::string> problems;
    bool written = true;
    try {
        ShutdownMachine();
    } catch (const std::exception& e) {
        problems.push_back(e.what());
        written = false;
    }
    // Every end of the session is the machine's next start: the release made the hive
    // replacements that waited for it, or says why not.
    ReplacementRun replacements = LastReleaseReplacements();
    // A read-only mount makes none: a restart must not look as if it had.
    if (readOnly && !PendingReplacementsOf(folder).empty())
        replacements.refused = folder + " was mounted read-only: no hive was replaced";
    if (written)
        problems = replacements.problems();
    ExitWindowsHook hook;
    {
        std::lock_guard guard(g_lock);
        g_problems = problems;
        g_replacements = replacements;
        hook = g_hook;
    }
    if (!written) {
        SetLastError(ERROR_REGISTRY_IO_FAILED);
        return FALSE;
    }
    if (hook)
        hook(uFlags);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
