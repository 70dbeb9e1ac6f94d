#include "registry/OSInfo.h"

#include "win32/base/LastError.h"
#include "win32/registry/Registry.h"
#include "win32/system/SystemInfo.h"
#include "win32/system/Version.h"

#include <cctype>
#include <mutex>
#include <optional>

namespace {

std::mutex g_lock;
std::optional<TOSInfo> g_info;

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(uint8_t(x)) == std::toupper(uint8_t(y));
           });
}

} // namespace

TOSInfo ReadOSInfo() {
    OSVERSIONINFOEXA ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    TOSInfo info;
    if (GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex))) {
        info.Extended = true;
        info.ServicePackMajor = ex.wServicePackMajor;
        info.ServicePackMinor = ex.wServicePackMinor;
        info.SuiteMask = ex.wSuiteMask;
        info.ProductType = ex.wProductType;
    } else {
        ex = {};
        ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)))
            throw ESysInfo("The Windows version cannot be read (error " +
                           std::to_string(GetLastError()) + ")");
    }
    info.PlatformId = ex.dwPlatformId;
    switch (ex.dwPlatformId) {
    case VER_PLATFORM_WIN32_NT:
        info.Platform = 0;
        break;
    case VER_PLATFORM_WIN32_WINDOWS:
        info.Platform = 1;
        break;
    case VER_PLATFORM_WIN32s:
        info.Platform = 2;
        break;
    default:
        throw ESysInfo("Unrecognized operating system platform");
    }
    info.MajorVersion = ex.dwMajorVersion;
    info.MinorVersion = ex.dwMinorVersion;
    info.BuildNumber = info.Platform == 1 ? ex.dwBuildNumber & 0xFFFF : ex.dwBuildNumber;
    info.CSDVersion = ex.szCSDVersion;
    return info;
}

void InitOSInfo() {
    TOSInfo info = ReadOSInfo();
    std::lock_guard guard(g_lock);
    g_info = std::move(info);
}

const TOSInfo& OSInfo() {
    {
        std::lock_guard guard(g_lock);
        if (g_info)
            return *g_info;
    }
    InitOSInfo();
    std::lock_guard guard(g_lock);
    return *g_info;
}

int OSProduct() {
    const TOSInfo& info = OSInfo();
    const DWORD major = info.MajorVersion, minor = info.MinorVersion;
    switch (info.Platform) {
    case 0:
        if ((major == 3 || major == 4) && minor == 0)
            return 1;
        if (major == 5 && minor == 0)
            return 2;
        if (major == 5 && minor == 1)
            return 3;
        if (major == 5 && minor == 2)
            return 9;
        if (major == 6 && minor == 0)
            return 11;
        return 0;
    case 1:
        if (major == 4 && minor == 0)
            return 5;
        if (major == 4 && minor == 10)
            return 6;
        if (major == 4 && minor == 90)
            return 7;
        return 4;
    default:
        return 8;
    }
}

std::string OSProductName(int product) {
    static const char* const names[] = {"", "Windows NT",   "Windows 2000", "Windows XP",
                                        "", "Windows 95",   "Windows 98",   "Windows Me",
                                        "", "Windows 2003", nullptr,        "Windows Vista"};
    if (product < 0 || product > 11 || !names[product])
        throw ESysInfo("Unrecognised operating system product");
    return names[product];
}

std::string OSProductName() {
    if (std::string name = OSProductName(OSProduct()); !name.empty())
        return name;
    const TOSInfo& info = OSInfo();
    if (info.Platform != 0)
        return {};
    // The later NT versions, which the product codes leave without a name, by the name
    // Windows has. Without the extended block the product type is unknown; most systems
    // are workstations.
    const bool server = info.Extended && info.ProductType != VER_NT_WORKSTATION;
    const DWORD major = info.MajorVersion, minor = info.MinorVersion, build = info.BuildNumber;
    if (major == 6 && minor == 1)
        return server ? "Windows Server 2008 R2" : "Windows 7";
    if (major == 6 && minor == 2)
        return server ? "Windows Server 2012" : "Windows 8";
    if (major == 6 && minor == 3)
        return server ? "Windows Server 2012 R2" : "Windows 8.1";
    if (major == 10 && minor == 0) {
        if (!server)
            return build >= 22000 ? "Windows 11" : "Windows 10";
        if (build >= 26100)
            return "Windows Server 2025";
        if (build >= 20348)
            return "Windows Server 2022";
        return build >= 17763 ? "Windows Server 2019" : "Windows Server 2016";
    }
    return {};
}

bool IsWin64() {
    return win32::MachineIs64Bit();
}

bool IsWinVistaOrLater() {
    const TOSInfo& info = OSInfo();
    return info.Platform == 0 && info.MajorVersion >= 6;
}

bool IsNT4SP6a() {
    const TOSInfo& info = OSInfo();
    if (OSProduct() != 1 || info.MajorVersion != 4 ||
        !equalsIgnoringCase(info.CSDVersion, "Service Pack 6"))
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool IsWinNT() {
    return OSInfo().PlatformId == VER_PLATFORM_WIN32_NT;
}

bool IsWin9x() {
    const int product = OSProduct();
    return product >= 4 && product <= 7;
}

std::string OSServicePack() {
    const TOSInfo& info = OSInfo();
    switch (info.Platform) {
    case 0:
        return IsNT4SP6a() ? "Service Pack 6a" : info.CSDVersion;
    case 1: {
        // Windows 9x puts a blank before the letter (" C", " A ").
        const size_t first = info.CSDVersion.find_first_not_of(' ');
        if (first == std::string::npos)
            return {};
        const char letter = char(std::toupper(uint8_t(info.CSDVersion[first])));
        const int product = OSProduct();
        if (product == 5 && (letter == 'B' || letter == 'C'))
            return "OSR2";
        if (product == 6 && letter == 'A')
            return "SE";
        return {};
    }
    default:
        return {};
    }
}
