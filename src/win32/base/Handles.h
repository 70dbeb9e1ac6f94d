#pragma once
// The process's table of kernel handles (tokens, processes, threads), shared by every
// kind of kernel object so that one CloseHandle closes any of them, and a handle value
// is never handed out twice while it is open.

#include "win32/base/WinTypes.h"

#include <memory>

namespace win32 {

// What a kernel handle refers to. Each kind of object derives its own type.
class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// A new handle on `object`. Thread-safe.
HANDLE AddKernelHandle(std::shared_ptr<KernelObject> object);
// The object of an open handle; null for a closed, unknown or pseudo handle.
std::shared_ptr<KernelObject> KernelObjectOf(HANDLE handle);
template <class T> std::shared_ptr<T> KernelObjectAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(KernelObjectOf(handle));
}
// Closes an open handle; false for a closed, unknown or pseudo handle.
bool CloseKernelHandle(HANDLE handle);

} // namespace win32

// The pseudo handle of the current process, (HANDLE)-1 as on Windows; it needs no closing.
HANDLE GetCurrentProcess();

// Closes any kernel handle of the table. A pseudo handle closes without effect, as on
// Windows; a closed or unknown handle fails with ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE hObject);
