#include "win32/base/Handles.h"

#include "win32/base/LastError.h"

#include <mutex>
#include <vector>

namespace win32 {

namespace {

// Handle values: multiples of four, as Windows makes them, in a range of their own so
// that a registry key handle passed by mistake is not taken for a kernel handle.
constexpr uintptr_t kFirstHandle = 0x40000;

struct Table {
    std::mutex lock;
    std::vector<std::shared_ptr<KernelObject>> slots; // null: free
    std::vector<size_t> freeSlots;
};

Table& table() {
    static Table t;
    return t;
}

bool slotOf(HANDLE handle, size_t& slot) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value < kFirstHandle || value % 4 != 0)
        return false;
    slot = (value - kFirstHandle) / 4;
    return true;
}

} // namespace

HANDLE AddKernelHandle(std::shared_ptr<KernelObject> object) {
    Table& t = table();
    std::lock_guard guard(t.lock);
    size_t slot = t.slots.size();
    if (!t.freeSlots.empty()) {
        slot = t.freeSlots.back();
        t.freeSlots.pop_back();
        t.slots[slot] = std::move(object);
    } else {
        t.slots.push_back(std::move(object));
    }
    return reinterpret_cast<HANDLE>(kFirstHandle + 4 * slot);
}

std::shared_ptr<KernelObject> KernelObjectOf(HANDLE handle) {
    Table& t = table();
    std::lock_guard guard(t.lock);
    size_t slot = 0;
    if (!slotOf(handle, slot) || slot >= t.slots.size())
        return nullptr;
    return t.slots[slot];
}

bool CloseKernelHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> released; // destroyed outside the lock
    Table& t = table();
    std::lock_guard guard(t.lock);
    size_t slot = 0;
    if (!slotOf(handle, slot) || slot >= t.slots.size() || !t.slots[slot])
        return false;
    released = std::move(t.slots[slot]);
    t.freeSlots.push_back(slot);
    return true;
}

} // namespace win32

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL CloseHandle(HANDLE hObject) {
    if (hObject == GetCurrentProcess())
        return TRUE;
    if (!win32::CloseKernelHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
