#include "win32/shell/Com.h"

#include <cstdlib>

namespace {
thread_local int g_initialised = 0;
}

HRESULT CoInitialize(LPVOID) {
    return g_initialised++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (g_initialised > 0)
        --g_initialised;
}

bool ComInitializedOnThisThread() {
    return g_initialised > 0;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb ? cb : 1);
}

void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}
