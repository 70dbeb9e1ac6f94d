#pragma once
// GlobalMemoryStatus: the memory of the host the program runs on.

#include "win32/base/WinTypes.h"

struct MEMORYSTATUS {
    DWORD dwLength;
    DWORD dwMemoryLoad; // percent of physical memory in use
    SIZE_T dwTotalPhys;
    SIZE_T dwAvailPhys;
    SIZE_T dwTotalPageFile; // what can be committed: memory and swap
    SIZE_T dwAvailPageFile;
    SIZE_T dwTotalVirtual; // the process's address space
    SIZE_T dwAvailVirtual;
};
using LPMEMORYSTATUS = MEMORYSTATUS*;

void GlobalMemoryStatus(LPMEMORYSTATUS lpBuffer);
