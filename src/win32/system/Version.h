#pragma once
// GetVersionExA: the version of the booted machine.
//
// A machine of the NT family describes itself in its hives: CurrentVersion,
// CurrentBuildNumber and CSDVersion (and, from Windows 10, CurrentMajorVersionNumber
// and CurrentMinorVersionNumber) under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion;
// the service pack numbers in HKLM\SYSTEM\CurrentControlSet\Control\Windows CSDVersion
// (major in the high byte, minor in the low byte; else read from the "Service Pack N.M"
// text); the product type and suites in ...\Control\ProductOptions ProductType
// ("WinNT", "ServerNT", "LanmanNT") and ProductSuite.
//
// The [Version] section of hivewarden-machine.ini overrides any of it, and can make the
// machine one of the Windows 95 family or Win32s:
//
//     [Version]
//     Platform = 9x
//     Version = 4.10.2222
//     CSDVersion = A
//     ServicePack = 6.0
//     ProductType = Server
//     SuiteMask = 0x0200
//
// Platform: NT (the default), 9x, Win32s, or a platform id number. Version:
// major.minor.build. CSDVersion: the service pack text. ServicePack: major.minor.
// ProductType: Workstation, Server or DomainController. SuiteMask: VER_SUITE_ bits.
//
// A 9x machine without Version and CSDVersion takes them from the VersionNumber and
// SubVersionNumber values of HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion, as
// Windows 98 keeps them.

#include "win32/base/WinTypes.h"

#include <string>

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
using LPOSVERSIONINFOA = OSVERSIONINFOA*;

struct OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

constexpr BYTE VER_NT_WORKSTATION = 1;
constexpr BYTE VER_NT_DOMAIN_CONTROLLER = 2;
constexpr BYTE VER_NT_SERVER = 3;

constexpr WORD VER_SUITE_SMALLBUSINESS = 0x0001;
constexpr WORD VER_SUITE_ENTERPRISE = 0x0002;
constexpr WORD VER_SUITE_BACKOFFICE = 0x0004;
constexpr WORD VER_SUITE_COMMUNICATIONS = 0x0008;
constexpr WORD VER_SUITE_TERMINAL = 0x0010;
constexpr WORD VER_SUITE_SMALLBUSINESS_RESTRICTED = 0x0020;
constexpr WORD VER_SUITE_EMBEDDEDNT = 0x0040;
constexpr WORD VER_SUITE_DATACENTER = 0x0080;
constexpr WORD VER_SUITE_SINGLEUSERTS = 0x0100;
constexpr WORD VER_SUITE_PERSONAL = 0x0200;
constexpr WORD VER_SUITE_BLADE = 0x0400;
constexpr WORD VER_SUITE_STORAGE_SERVER = 0x2000;
constexpr WORD VER_SUITE_COMPUTE_SERVER = 0x4000;

// dwOSVersionInfoSize decides the structure. A size that is neither fails with
// ERROR_INSUFFICIENT_BUFFER; the extended structure fails with ERROR_INVALID_PARAMETER on
// the systems that do not fill it (the 9x family, Win32s, NT 4.0 before Service Pack 6).
// On the 9x family the build number's high word holds the major and minor version.
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

namespace win32 {

class MachineIni;

// Checks the [Version] section; throws std::runtime_error naming the entry that is wrong.
void CheckVersionSettings(const MachineIni& ini);
// The platform id the machine has: [Version] Platform, else VER_PLATFORM_WIN32_NT.
DWORD PlatformIdOf(const MachineIni& ini);

} // namespace win32
