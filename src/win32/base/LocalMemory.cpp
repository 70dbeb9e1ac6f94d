#include "win32/base/LocalMemory.h"

#include "win32/base/LastError.h"

#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace {

constexpr UINT kMoveable = 0x0002;

// The blocks handed out, so that a wrong or second free is an error and not a crash.
struct Blocks {
    std::mutex lock;
    std::unordered_set<void*> live;
};

Blocks& blocks() {
    static Blocks b;
    return b;
}

} // namespace

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (uFlags & kMoveable) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                           : std::malloc(uBytes ? uBytes : 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Blocks& b = blocks();
    std::lock_guard guard(b.lock);
    b.live.insert(block);
    return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
    if (!hMem)
        return nullptr;
    Blocks& b = blocks();
    {
        std::lock_guard guard(b.lock);
        if (b.live.erase(hMem) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
    }
    std::free(hMem);
    return nullptr;
}
