#include "win32/processes/Processes.h"

#include "win32/base/LastError.h"
#include "win32/files/FileLookup.h"
#include "win32/processes/ImageSearch.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace {

class Process : public win32::KernelObject {
public:
    Process(DWORD id, std::string image) : id(id), image(std::move(image)) {}
    const DWORD id;
    const std::string image;
    std::mutex lock;
    std::optional<DWORD> exitCode; // set once the process has ended
};

class Thread : public win32::KernelObject {
public:
    Thread(DWORD id, std::shared_ptr<Process> process, DWORD suspendCount)
        : id(id), process(std::move(process)), suspendCount(suspendCount) {}
    const DWORD id;
    const std::shared_ptr<Process> process;
    std::mutex lock;
    DWORD suspendCount;
};

// Process and thread ids share one range, multiples of four as on Windows.
DWORD newId() {
    static std::atomic<DWORD> next{0x400};
    return next.fetch_add(4);
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags, LPVOID,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
    if (!lpStartupInfo || !lpProcessInformation)
        return fail(ERROR_INVALID_PARAMETER);
    const win32::ProcessImage image = win32::FindProcessImage(lpApplicationName, lpCommandLine);
    if (image.error != ERROR_SUCCESS)
        return fail(image.error);
    if (lpCurrentDirectory) {
        const win32::Located folder = win32::Locate(lpCurrentDirectory);
        struct stat info;
        if (folder.error != ERROR_SUCCESS || ::stat(folder.where.host.c_str(), &info) != 0 ||
            !S_ISDIR(info.st_mode))
            return fail(ERROR_DIRECTORY);
    }

    auto process = std::make_shared<Process>(newId(), image.path);
    auto thread =
        std::make_shared<Thread>(newId(), process, (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0);
    lpProcessInformation->dwProcessId = process->id;
    lpProcessInformation->dwThreadId = thread->id;
    lpProcessInformation->hProcess = win32::AddKernelHandle(process);
    lpProcessInformation->hThread = win32::AddKernelHandle(thread);
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    const auto process = win32::KernelObjectAs<Process>(hProcess);
    if (!process)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpExitCode)
        return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard guard(process->lock);
    *lpExitCode = process->exitCode.value_or(STILL_ACTIVE);
    return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    const auto process = win32::KernelObjectAs<Process>(hProcess);
    if (!process)
        return fail(ERROR_INVALID_HANDLE);
    std::lock_guard guard(process->lock);
    if (process->exitCode)
        return fail(ERROR_ACCESS_DENIED);
    process->exitCode = uExitCode;
    return TRUE;
}

DWORD ResumeThread(HANDLE hThread) {
    const auto thread = win32::KernelObjectAs<Thread>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return DWORD(-1);
    }
    std::lock_guard guard(thread->lock);
    const DWORD previous = thread->suspendCount;
    if (thread->suspendCount > 0)
        --thread->suspendCount;
    return previous;
}

BOOL QueryFullProcessImageNameA(HANDLE hProcess, DWORD, LPSTR lpExeName, LPDWORD lpdwSize) {
    const auto process = win32::KernelObjectAs<Process>(hProcess);
    if (!process)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpExeName || !lpdwSize)
        return fail(ERROR_INVALID_PARAMETER);
    if (*lpdwSize < process->image.size() + 1)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(lpExeName, process->image.c_str(), process->image.size() + 1);
    *lpdwSize = DWORD(process->image.size());
    return TRUE;
}
