#include "win32/base/LastError.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}
