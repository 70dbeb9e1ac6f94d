#pragma once
// Which Windows the machine is: read once at start-up (InitOSInfo), then asked by
// product code, name and service pack.

#include "win32/base/WinTypes.h"

#include <stdexcept>
#include <string>

// A version the program cannot place.
class ESysInfo : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TOSInfo {
    DWORD PlatformId = 0;
    int Platform = 0; // 0 NT family, 1 9x family, 2 Win32s
    DWORD MajorVersion = 0;
    DWORD MinorVersion = 0;
    DWORD BuildNumber = 0; // on the 9x family the low word of the system's number
    std::string CSDVersion;
    // Filled only where the system fills the extended version block.
    bool Extended = false;
    WORD ServicePackMajor = 0;
    WORD ServicePackMinor = 0;
    WORD SuiteMask = 0;
    BYTE ProductType = 0;
};

// Reads the version of the booted machine. Throws ESysInfo with "Unrecognized operating
// system platform" for a platform id other than NT, 9x and Win32s.
TOSInfo ReadOSInfo();
// Reads the version into the process-wide values (again, when called again).
void InitOSInfo();
// The process-wide values; read at the first call when InitOSInfo was not called.
const TOSInfo& OSInfo();

// 0 to 11 (never 10): 1 NT 3/4.0, 2 2000, 3 XP, 9 2003, 11 Vista, 0 another NT;
// 5 95, 6 98, 7 Me, 4 another 9x; 8 Win32s.
int OSProduct();
// "Windows NT", ..., empty for codes 0, 4 and 8. Throws ESysInfo with "Unrecognised
// operating system product" for 10 and for codes outside 0 to 11.
std::string OSProductName(int product);
// The machine's product name: OSProductName (OSProduct ()), or for a later NT version
// that the product codes have no name for (6.1 and up), the name Windows has ("Windows 7",
// "Windows 10", "Windows Server 2019", ...); empty where neither knows one.
std::string OSProductName();
// NT 6.0 (Vista) or later, whatever its product code: these take the NT family's rules
// where the codes give none.
bool IsWinVistaOrLater();
// A 64-bit installation (x64, ARM64 or Itanium), which keeps a 32-bit view of its
// registry and system files beside the native one.
bool IsWin64();
// NT: "Service Pack 6a" for NT 4.0 SP6a, else the system's text. 95: "OSR2" for a text
// starting with B or C; 98: "SE" for one starting with A (leading blanks skipped);
// else empty.
std::string OSServicePack();
bool IsNT4SP6a();
bool IsWinNT();
// The Windows 95 family: product codes 4 to 7 (Win32s is neither).
bool IsWin9x();
