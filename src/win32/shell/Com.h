#pragma once
// The few COM library calls the shell's objects need: per-thread initialisation and
// the task memory allocator.

#include "win32/base/WinTypes.h"

using HRESULT = LONG;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002);
constexpr HRESULT E_POINTER = HRESULT(0x80004003);
constexpr HRESULT E_FAIL = HRESULT(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000E);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057);
constexpr HRESULT CO_E_NOTINITIALIZED = HRESULT(0x800401F0);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
constexpr HRESULT HRESULT_FROM_WIN32(LONG error) {
    return error <= 0 ? error : HRESULT((uint32_t(error) & 0xFFFF) | 0x80070000u);
}

// S_OK for the first call on a thread, S_FALSE for a further one; each needs its
// CoUninitialize.
HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();
// Whether the calling thread has initialised the library.
bool ComInitializedOnThisThread();

LPVOID CoTaskMemAlloc(SIZE_T cb);
void CoTaskMemFree(LPVOID pv);
