#include "win32/system/Version.h"

#include "win32/base/LastError.h"
#include "win32/host/MachineIni.h"
#include "win32/registry/HiveValues.h"
#include "win32/registry/MachineRegistry.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace win32 {

namespace {

struct MachineVersion {
    DWORD platform = VER_PLATFORM_WIN32_NT;
    DWORD major = 0, minor = 0, build = 0;
    std::string csd; // ANSI
    WORD servicePackMajor = 0, servicePackMinor = 0;
    WORD suiteMask = 0;
    BYTE productType = VER_NT_WORKSTATION;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

std::optional<uint32_t> number(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "a.b.c" or "a.b": up to `count` numbers; nullopt when the text is not that.
std::optional<std::vector<uint32_t>> dotted(std::string_view text, size_t least, size_t most) {
    std::vector<uint32_t> parts;
    while (true) {
        const size_t dot = text.find('.');
        const auto part = number(text.substr(0, dot));
        if (!part)
            return std::nullopt;
        parts.push_back(*part);
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
    }
    if (parts.size() < least || parts.size() > most)
        return std::nullopt;
    return parts;
}

std::optional<DWORD> platformOf(const std::string& text) {
    if (equalsIgnoringCase(text, "NT"))
        return VER_PLATFORM_WIN32_NT;
    if (equalsIgnoringCase(text, "9x"))
        return VER_PLATFORM_WIN32_WINDOWS;
    if (equalsIgnoringCase(text, "Win32s"))
        return VER_PLATFORM_WIN32s;
    return number(text);
}

std::optional<BYTE> productTypeOf(const std::string& text) {
    if (equalsIgnoringCase(text, "Workstation"))
        return VER_NT_WORKSTATION;
    if (equalsIgnoringCase(text, "DomainController"))
        return VER_NT_DOMAIN_CONTROLLER;
    if (equalsIgnoringCase(text, "Server"))
        return VER_NT_SERVER;
    return std::nullopt;
}

// "Service Pack 2" -> 2.0, "Service Pack 1a" -> 1.0, "Service Pack 6.1" -> 6.1.
void servicePackFromText(const std::string& csd, WORD& major, WORD& minor) {
    const std::string prefix = "Service Pack ";
    if (csd.size() <= prefix.size() || !equalsIgnoringCase(csd.substr(0, prefix.size()), prefix))
        return;
    size_t at = prefix.size();
    auto digits = [&]() {
        uint32_t v = 0;
        while (at < csd.size() && std::isdigit(uint8_t(csd[at])))
            v = v * 10 + uint32_t(csd[at++] - '0');
        return WORD(std::min<uint32_t>(v, 0xFFFF));
    };
    major = digits();
    if (at < csd.size() && csd[at] == '.') {
        ++at;
        minor = digits();
    }
}

WORD suitesOf(const HiveValue* value) {
    static const std::pair<const char16_t*, WORD> suites[] = {
        {u"Small Business", VER_SUITE_SMALLBUSINESS},
        {u"Enterprise", VER_SUITE_ENTERPRISE},
        {u"BackOffice", VER_SUITE_BACKOFFICE},
        {u"CommunicationServer", VER_SUITE_COMMUNICATIONS},
        {u"Terminal Server", VER_SUITE_TERMINAL},
        {u"Small Business(Restricted)", VER_SUITE_SMALLBUSINESS_RESTRICTED},
        {u"EmbeddedNT", VER_SUITE_EMBEDDEDNT},
        {u"DataCenter", VER_SUITE_DATACENTER},
        {u"Personal", VER_SUITE_PERSONAL},
        {u"Blade", VER_SUITE_BLADE},
        {u"Storage Server", VER_SUITE_STORAGE_SERVER},
        {u"Compute Server", VER_SUITE_COMPUTE_SERVER},
    };
    if (!value || (value->type != REG_MULTI_SZ && value->type != REG_SZ))
        return 0;
    WORD mask = 0;
    std::u16string all(value->data.size() / 2, u'\0');
    std::memcpy(all.data(), value->data.data(), all.size() * 2);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(u'\0', start);
        if (end == std::u16string::npos)
            end = all.size();
        const std::u16string_view name(all.data() + start, end - start);
        for (const auto& [suite, bit] : suites)
            if (NamesEqual(name, suite))
                mask |= bit;
        start = end + 1;
    }
    return mask;
}

MachineVersion readVersion(MachineRegistry& reg) {
    MachineVersion v;
    const MachineIni& ini = reg.ini;
    v.platform = PlatformIdOf(ini);
    MachineRegistry::ReadScope reading(&reg);
    std::lock_guard guard(reg.lock);
    HiveKey* machine = reg.localMachine.get();
    auto text = [&](HiveKey* key, const char16_t* name) -> std::optional<std::string> {
        if (!key)
            return std::nullopt;
        const auto value = StringValue(*key, name);
        return value ? std::optional(reg.codePage->fromUnicode(*value)) : std::nullopt;
    };
    auto setVersion = [&](const std::string& versionText) {
        if (const auto parts = dotted(versionText, 2, 3)) {
            v.major = (*parts)[0];
            v.minor = (*parts)[1];
            if (parts->size() > 2)
                v.build = (*parts)[2];
        }
    };

    if (v.platform == VER_PLATFORM_WIN32_WINDOWS) {
        HiveKey* key = FindKey(machine, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
        v.major = 4;
        setVersion(text(key, u"VersionNumber").value_or("4.0.950"));
        v.csd = text(key, u"SubVersionNumber").value_or("");
    } else {
        HiveKey* key = FindKey(machine, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
        if (const auto current = text(key, u"CurrentVersion"))
            setVersion(*current);
        if (key) {
            if (const auto major = DwordValue(*key, u"CurrentMajorVersionNumber"))
                v.major = *major;
            if (const auto minor = DwordValue(*key, u"CurrentMinorVersionNumber"))
                v.minor = *minor;
        }
        const auto build = text(key, u"CurrentBuildNumber");
        const auto buildAlt = text(key, u"CurrentBuild");
        if (const auto n = number(build.value_or(buildAlt.value_or(""))))
            v.build = *n;
        v.csd = text(key, u"CSDVersion").value_or("");
        HiveKey* windows = FindKey(machine, u"SYSTEM\\CurrentControlSet\\Control\\Windows");
        if (const auto packed = windows ? DwordValue(*windows, u"CSDVersion") : std::nullopt) {
            v.servicePackMajor = WORD((*packed >> 8) & 0xFF);
            v.servicePackMinor = WORD(*packed & 0xFF);
        } else {
            servicePackFromText(v.csd, v.servicePackMajor, v.servicePackMinor);
        }
        HiveKey* options = FindKey(machine, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions");
        if (const auto type = text(options, u"ProductType")) {
            if (equalsIgnoringCase(*type, "ServerNT"))
                v.productType = VER_NT_SERVER;
            else if (equalsIgnoringCase(*type, "LanmanNT"))
                v.productType = VER_NT_DOMAIN_CONTROLLER;
        }
        if (options) {
            const int index = options->findValue(u"ProductSuite");
            v.suiteMask = suitesOf(index >= 0 ? &options->values()[size_t(index)] : nullptr);
        }
    }

    // The ini has the last word.
    if (const auto version = ini.value("Version", "Version"))
        setVersion(*version);
    if (const auto csd = ini.value("Version", "CSDVersion")) {
        v.csd = reg.codePage->fromUnicode(Utf8ToUtf16(*csd));
        if (v.platform == VER_PLATFORM_WIN32_NT && !ini.value("Version", "ServicePack")) {
            v.servicePackMajor = v.servicePackMinor = 0;
            servicePackFromText(v.csd, v.servicePackMajor, v.servicePackMinor);
        }
    }
    if (const auto pack = ini.value("Version", "ServicePack"))
        if (const auto parts = dotted(*pack, 1, 2)) {
            v.servicePackMajor = WORD((*parts)[0]);
            v.servicePackMinor = parts->size() > 1 ? WORD((*parts)[1]) : 0;
        }
    if (const auto type = ini.value("Version", "ProductType"))
        v.productType = productTypeOf(*type).value_or(v.productType);
    if (const auto mask = ini.value("Version", "SuiteMask"))
        v.suiteMask = WORD(number(*mask).value_or(v.suiteMask));
    return v;
}

bool fillsExtendedBlock(const MachineVersion& v) {
    if (v.platform != VER_PLATFORM_WIN32_NT)
        return false;
    return v.major >= 5 || (v.major == 4 && v.servicePackMajor >= 6);
}

} // namespace

DWORD PlatformIdOf(const MachineIni& ini) {
    const auto platform = ini.value("Version", "Platform");
    return platform ? platformOf(*platform).value_or(VER_PLATFORM_WIN32_NT) : VER_PLATFORM_WIN32_NT;
}

void CheckVersionSettings(const MachineIni& ini) {
    auto fail = [](const std::string& name, const std::string& value, const char* expected) {
        throw std::runtime_error("hivewarden-machine.ini: [Version] " + name + " = \"" + value +
                                 "\" is not " + expected);
    };
    if (const auto v = ini.value("Version", "Platform"); v && !platformOf(*v))
        fail("Platform", *v, "NT, 9x, Win32s or a platform number");
    if (const auto v = ini.value("Version", "Version"); v && !dotted(*v, 2, 3))
        fail("Version", *v, "major.minor.build");
    if (const auto v = ini.value("Version", "ServicePack");
        v && (!dotted(*v, 1, 2) || (*dotted(*v, 1, 2))[0] > 0xFFFF))
        fail("ServicePack", *v, "major.minor");
    if (const auto v = ini.value("Version", "ProductType"); v && !productTypeOf(*v))
        fail("ProductType", *v, "Workstation, Server or DomainController");
    if (const auto v = ini.value("Version", "SuiteMask");
        v && (!number(*v) || *number(*v) > 0xFFFF))
        fail("SuiteMask", *v, "a 16-bit number");
    if (const auto v = ini.value("Version", "CSDVersion"); v && v->size() > 127)
        fail("CSDVersion", *v, "at most 127 characters");
}

} // namespace win32

using namespace win32;

BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (!lpVersionInformation) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    const bool extended = size == sizeof(OSVERSIONINFOEXA);
    if (size != sizeof(OSVERSIONINFOA) && !extended) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    const MachineVersion v = readVersion(*reg);
    if (extended && !fillsExtendedBlock(v)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    OSVERSIONINFOA& info = *lpVersionInformation;
    info.dwMajorVersion = v.major;
    info.dwMinorVersion = v.minor;
    info.dwPlatformId = v.platform;
    info.dwBuildNumber = v.platform == VER_PLATFORM_WIN32_WINDOWS
                             ? (v.major & 0xFF) << 24 | (v.minor & 0xFF) << 16 | (v.build & 0xFFFF)
                             : v.build;
    std::memset(info.szCSDVersion, 0, sizeof info.szCSDVersion);
    std::memcpy(info.szCSDVersion, v.csd.data(),
                std::min(v.csd.size(), sizeof info.szCSDVersion - 1));
    if (extended) {
        auto& ex = reinterpret_cast<OSVERSIONINFOEXA&>(info);
        ex.wServicePackMajor = v.servicePackMajor;
        ex.wServicePackMinor = v.servicePackMinor;
        ex.wSuiteMask = v.suiteMask;
        ex.wProductType = v.productType;
        ex.wReserved = 0;
    }
    return TRUE;
}
