#include "win32/system/SystemInfo.h"

#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/system/Nls.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <optional>
#include <string>

namespace win32 {

namespace {

const char kSessionEnvironment[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::optional<std::string> sessionVariable(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionEnvironment, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char data[256] = {};
    DWORD size = sizeof data - 1;
    DWORD type = REG_NONE;
    const LONG rc =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::string text(data, std::min<size_t>(size, sizeof data - 1));
    text.resize(std::min(text.size(), text.find('\0')));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    return text;
}

std::string upper(std::string text) {
    CharUpperBuffA(text.data(), DWORD(text.size()));
    return text;
}

// The number in a variable, decimal or (PROCESSOR_REVISION) hexadecimal.
DWORD numberOf(const char* name, int base, DWORD fallback) {
    const auto text = sessionVariable(name);
    DWORD value = 0;
    if (!text || text->empty() ||
        std::from_chars(text->data(), text->data() + text->size(), value, base).ec != std::errc())
        return fallback;
    return value;
}

// %SystemRoot% of the mounted installation, from where its SYSTEM hive lies.
std::optional<std::string> systemRootFolder(const MachineRegistry& reg) {
    for (const auto& hive : reg.hives) {
        if (hive->registryPath != u"\\REGISTRY\\MACHINE\\SYSTEM")
            continue;
        // ...\WINDOWS\system32\config\SYSTEM
        std::string host = hive->hostPath;
        for (int i = 0; i < 3; ++i) {
            const size_t slash = host.rfind('/');
            if (slash == std::string::npos || slash == 0)
                return std::nullopt;
            host.resize(slash);
        }
        return host;
    }
    return std::nullopt;
}

WORD readArchitecture() {
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return PROCESSOR_ARCHITECTURE_UNKNOWN;
    const std::string named = upper(sessionVariable("PROCESSOR_ARCHITECTURE").value_or(""));
    if (named == "AMD64")
        return PROCESSOR_ARCHITECTURE_AMD64;
    if (named == "ARM64")
        return PROCESSOR_ARCHITECTURE_ARM64;
    if (named == "IA64")
        return PROCESSOR_ARCHITECTURE_IA64;
    // An installation whose environment key lost the variable still has the folder of
    // its 32-bit system files.
    if (const auto root = systemRootFolder(*reg)) {
        if (const auto windows = reg->paths->toWindows(*root)) {
            const auto folder = reg->paths->resolve(*windows + u"\\SysWOW64");
            if (folder.status == MachinePaths::Status::Found && reg->paths->list(folder.host))
                return PROCESSOR_ARCHITECTURE_AMD64;
        }
    }
    if (named == "ARM")
        return PROCESSOR_ARCHITECTURE_ARM;
    return named.empty() || named == "X86" ? PROCESSOR_ARCHITECTURE_INTEL
                                           : PROCESSOR_ARCHITECTURE_UNKNOWN;
}

struct Cached {
    uint64_t machine = 0;
    WORD architecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
};
std::mutex g_lock;
Cached g_cached;

// Read once per boot: the architecture of an installation does not change while it is
// mounted.
WORD architecture() {
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return PROCESSOR_ARCHITECTURE_UNKNOWN;
    const uint64_t machine = reg->paths->serial();
    {
        std::lock_guard guard(g_lock);
        if (g_cached.machine == machine)
            return g_cached.architecture;
    }
    const WORD read = readArchitecture();
    std::lock_guard guard(g_lock);
    g_cached = {machine, read};
    return read;
}

} // namespace

bool MachineIs64Bit() {
    const WORD arch = architecture();
    return arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_ARM64 ||
           arch == PROCESSOR_ARCHITECTURE_IA64;
}

} // namespace win32

void GetNativeSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    if (!lpSystemInfo)
        return;
    SYSTEM_INFO info{};
    info.wProcessorArchitecture = win32::architecture();
    const bool wide = win32::MachineIs64Bit();
    info.dwPageSize = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ? 8192 : 4096;
    info.dwAllocationGranularity = 65536;
    info.lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(uintptr_t(0x10000));
    info.lpMaximumApplicationAddress =
        reinterpret_cast<LPVOID>(uintptr_t(wide ? 0x7FFFFFFEFFFFull : 0x7FFEFFFFull));
    info.dwNumberOfProcessors = std::max<DWORD>(1, win32::numberOf("NUMBER_OF_PROCESSORS", 10, 1));
    const DWORD count = std::min<DWORD>(info.dwNumberOfProcessors, sizeof(ULONG_PTR) * 8);
    info.dwActiveProcessorMask =
        count >= sizeof(ULONG_PTR) * 8 ? ~ULONG_PTR(0) : (ULONG_PTR(1) << count) - 1;
    info.wProcessorLevel = WORD(win32::numberOf("PROCESSOR_LEVEL", 10, 0));
    info.wProcessorRevision = WORD(win32::numberOf("PROCESSOR_REVISION", 16, 0));
    switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        info.dwProcessorType = PROCESSOR_AMD_X8664;
        break;
    case PROCESSOR_ARCHITECTURE_IA64:
        info.dwProcessorType = PROCESSOR_INTEL_IA64;
        break;
    case PROCESSOR_ARCHITECTURE_INTEL:
        info.dwProcessorType = info.wProcessorLevel == 3   ? PROCESSOR_INTEL_386
                               : info.wProcessorLevel == 4 ? PROCESSOR_INTEL_486
                                                           : PROCESSOR_INTEL_PENTIUM;
        break;
    default:
        info.dwProcessorType = PROCESSOR_ARM;
        break;
    }
    *lpSystemInfo = info;
}

void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    GetNativeSystemInfo(lpSystemInfo);
}
