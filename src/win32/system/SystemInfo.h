#pragma once
// GetNativeSystemInfo and GetSystemInfo: the processor architecture of the booted
// machine, as its own registry and files tell it.
//
// A 64-bit installation says so in
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment PROCESSOR_ARCHITECTURE
// (AMD64, ARM64, IA64), and keeps its 32-bit system files in %SystemRoot%\SysWOW64: either
// makes it 64-bit. The processor's level, revision and count come from the variables
// PROCESSOR_LEVEL, PROCESSOR_REVISION and NUMBER_OF_PROCESSORS of the same key.
//
// The program is a 64-bit program of the machine: GetSystemInfo gives what
// GetNativeSystemInfo gives, as it does for a native process.

#include "win32/base/WinTypes.h"

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM = 5;
constexpr WORD PROCESSOR_ARCHITECTURE_IA64 = 6;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_ARM64 = 12;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

constexpr DWORD PROCESSOR_INTEL_386 = 386;
constexpr DWORD PROCESSOR_INTEL_486 = 486;
constexpr DWORD PROCESSOR_INTEL_PENTIUM = 586;
constexpr DWORD PROCESSOR_INTEL_IA64 = 2200;
constexpr DWORD PROCESSOR_AMD_X8664 = 8664;
constexpr DWORD PROCESSOR_ARM = 0; // Windows gives no type for ARM processors

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    ULONG_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

// Without a booted machine the architecture is PROCESSOR_ARCHITECTURE_UNKNOWN.
void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo);
void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

namespace win32 {

// Whether the booted machine is a 64-bit installation (AMD64, ARM64 or IA64).
bool MachineIs64Bit();

} // namespace win32
