#include "win32/system/Environment.h"

#include "win32/base/FileSystemView.h"
#include "win32/base/LastError.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/system/Nls.h"
#include "win32/system/SystemInfo.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace win32 {

namespace {

std::string upper(std::string text) {
    CharUpperBuffA(text.data(), DWORD(text.size()));
    return text;
}

class Variables {
public:
    void set(const std::string& name, const std::string& value) {
        if (!name.empty())
            vars_[upper(name)] = {name, value};
    }
    std::optional<std::string> get(const std::string& name) const {
        const auto it = vars_.find(upper(name));
        if (it == vars_.end())
            return std::nullopt;
        return it->second.second;
    }
    std::vector<std::pair<std::string, std::string>> all() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& [key, entry] : vars_)
            out.push_back(entry);
        return out;
    }

    // %NAME% replaced by the variable's value; a reference to a variable that is not set,
    // an empty one ("%%") and a lone "%" stay as they are.
    std::string expand(std::string_view text) const {
        std::string out;
        size_t i = 0;
        while (i < text.size()) {
            const size_t open = text.find('%', i);
            if (open == std::string_view::npos) {
                out += text.substr(i);
                break;
            }
            out += text.substr(i, open - i);
            const size_t close = text.find('%', open + 1);
            if (close == std::string_view::npos) {
                out += text.substr(open);
                break;
            }
            const auto value = close > open + 1
                                   ? get(std::string(text.substr(open + 1, close - open - 1)))
                                   : std::nullopt;
            if (value)
                out += *value;
            else
                out += text.substr(open, close - open + 1);
            i = close + 1;
        }
        return out;
    }

private:
    std::map<std::string, std::pair<std::string, std::string>> vars_; // by upper-case name
};

struct Key {
    HKEY handle = nullptr;
    Key(HKEY root, const std::string& path) {
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            handle = nullptr;
    }
    ~Key() {
        if (handle)
            RegCloseKey(handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
};

std::string trimZeros(const std::vector<BYTE>& data, DWORD size) {
    std::string text(reinterpret_cast<const char*>(data.data()), size);
    const size_t zero = text.find('\0');
    return zero == std::string::npos ? text : text.substr(0, zero);
}

struct StringValue {
    DWORD type = REG_NONE;
    std::string text;
};

std::optional<StringValue> readString(HKEY root, const std::string& path, const char* name) {
    Key key(root, path);
    if (!key.handle)
        return std::nullopt;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key.handle, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::vector<BYTE> data(size + 1);
    if (RegQueryValueExA(key.handle, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return StringValue{type, trimZeros(data, size)};
}

// The string values of a key, in the key's order.
std::vector<std::pair<std::string, StringValue>> readStrings(HKEY root, const std::string& path) {
    std::vector<std::pair<std::string, StringValue>> out;
    Key key(root, path);
    if (!key.handle)
        return out;
    std::vector<char> name(16384);
    std::vector<BYTE> data(1024);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = REG_NONE;
        LONG status = RegEnumValueA(key.handle, index, name.data(), &nameSize, nullptr, &type,
                                    data.data(), &dataSize);
        if (status == ERROR_MORE_DATA) {
            data.resize(dataSize + 1);
            nameSize = DWORD(name.size());
            dataSize = DWORD(data.size());
            status = RegEnumValueA(key.handle, index, name.data(), &nameSize, nullptr, &type,
                                   data.data(), &dataSize);
        }
        if (status != ERROR_SUCCESS)
            break;
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            out.push_back({std::string(name.data(), nameSize), {type, trimZeros(data, dataSize)}});
    }
    return out;
}

std::string expandedValue(const Variables& vars, const StringValue& value) {
    return value.type == REG_EXPAND_SZ ? vars.expand(value.text) : value.text;
}

// Windows sets the plain values of an environment key first and then expands the others,
// so that those may refer to any of the first.
void applyEnvironmentKey(Variables& vars, HKEY root, const std::string& path, bool appendPath) {
    const auto values = readStrings(root, path);
    for (DWORD pass : {REG_SZ, REG_EXPAND_SZ}) {
        for (const auto& [name, value] : values) {
            if (value.type != pass)
                continue;
            std::string text = expandedValue(vars, value);
            if (appendPath && upper(name) == "PATH") {
                const auto system = vars.get(name);
                if (system && !system->empty())
                    text = *system + ";" + text;
            }
            vars.set(name, text);
        }
    }
}

std::string lastComponent(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char kCurrentVersionNt[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The folder the booted SYSTEM hive is in, less "\system32\config": where Windows is.
std::string mountedSystemRoot(const MachineRegistry& reg) {
    for (const auto& hive : reg.hives) {
        if (hive->registryPath != u"\\REGISTRY\\MACHINE\\SYSTEM")
            continue;
        auto path = reg.paths->toWindows(hive->hostPath);
        for (int i = 0; path && i < 3; ++i) {
            const size_t slash = path->rfind(u'\\');
            if (slash == std::u16string::npos || slash < 2)
                return {};
            path->resize(slash);
        }
        return path ? reg.codePage->fromUnicode(*path) : std::string();
    }
    return {};
}

Variables build(const MachineRegistry& reg, bool wide) {
    Variables vars;
    // Where the machine really is wins over what its registry says; the registry's
    // spelling is kept when both name the same folder.
    std::string systemRoot = mountedSystemRoot(reg);
    if (const auto stored = readString(HKEY_LOCAL_MACHINE, kCurrentVersionNt, "SystemRoot"))
        if (systemRoot.empty() || upper(stored->text) == upper(systemRoot))
            systemRoot = stored->text;
    if (systemRoot.empty())
        systemRoot = "C:\\WINDOWS";
    vars.set("SystemRoot", systemRoot);
    vars.set("SystemDrive", systemRoot.substr(0, 2));
    vars.set("windir", systemRoot);

    const auto programFiles = readString(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir");
    const std::string programs = programFiles ? expandedValue(vars, *programFiles)
                                              : systemRoot.substr(0, 2) + "\\Program Files";
    vars.set("ProgramFiles", programs);
    const auto common = readString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CommonFilesDir");
    vars.set("CommonProgramFiles",
             common ? expandedValue(vars, *common) : programs + "\\Common Files");
    if (wide) {
        // A 64-bit Windows names both program folders for every process.
        const auto value = [&](const char* name, const std::string& fallback) {
            const auto stored = readString(HKEY_LOCAL_MACHINE, kCurrentVersion, name);
            return stored ? expandedValue(vars, *stored) : fallback;
        };
        const std::string programs32 =
            value("ProgramFilesDir (x86)", systemRoot.substr(0, 2) + "\\Program Files (x86)");
        vars.set("ProgramFiles(x86)", programs32);
        vars.set("CommonProgramFiles(x86)",
                 value("CommonFilesDir (x86)", programs32 + "\\Common Files"));
        vars.set("ProgramW6432", value("ProgramW6432Dir", programs));
        vars.set("CommonProgramW6432", value("CommonW6432Dir", *vars.get("CommonProgramFiles")));
    }

    if (const auto name = readString(HKEY_LOCAL_MACHINE,
                                     "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\"
                                     "ComputerName",
                                     "ComputerName"))
        vars.set("COMPUTERNAME", name->text);

    // Vista keeps the common profile in ProgramData; earlier systems in "All Users".
    if (const auto programData = readString(HKEY_LOCAL_MACHINE, kProfileList, "ProgramData")) {
        vars.set("ProgramData", expandedValue(vars, *programData));
        vars.set("ALLUSERSPROFILE", *vars.get("ProgramData"));
    } else if (const auto profiles =
                   readString(HKEY_LOCAL_MACHINE, kProfileList, "ProfilesDirectory")) {
        const auto allUsers = readString(HKEY_LOCAL_MACHINE, kProfileList, "AllUsersProfile");
        vars.set("ALLUSERSPROFILE", expandedValue(vars, *profiles) + "\\" +
                                        (allUsers ? allUsers->text : std::string("All Users")));
    }

    applyEnvironmentKey(vars, HKEY_LOCAL_MACHINE,
                        "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", false);

    const std::string sid = reg.codePage->fromUnicode(reg.userSid);
    if (const auto image = readString(HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\" + sid,
                                      "ProfileImagePath")) {
        const std::string profile = expandedValue(vars, *image);
        vars.set("USERPROFILE", profile);
        vars.set("HOMEDRIVE", profile.substr(0, 2));
        vars.set("HOMEPATH", profile.size() > 2 ? profile.substr(2) : "\\");
        const auto user = reg.ini.value("Machine", "User");
        vars.set("USERNAME",
                 user ? reg.codePage->fromUnicode(Utf8ToUtf16(*user)) : lastComponent(profile));

        const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
        auto appData = readString(HKEY_CURRENT_USER, explorer + "User Shell Folders", "AppData");
        if (!appData)
            appData = readString(HKEY_CURRENT_USER, explorer + "Shell Folders", "AppData");
        const auto version = readString(HKEY_LOCAL_MACHINE, kCurrentVersionNt, "CurrentVersion");
        // "6.0" and later (Windows 10 keeps "6.3" here, a machine made as 10 may say "10.0").
        const bool vistaLayout = version && std::atoi(version->text.c_str()) >= 6;
        vars.set("APPDATA",
                 appData ? expandedValue(vars, *appData)
                         : profile + (vistaLayout ? "\\AppData\\Roaming" : "\\Application Data"));
        if (vistaLayout) {
            auto local =
                readString(HKEY_CURRENT_USER, explorer + "User Shell Folders", "Local AppData");
            if (!local)
                local = readString(HKEY_CURRENT_USER, explorer + "Shell Folders", "Local AppData");
            vars.set("LOCALAPPDATA",
                     local ? expandedValue(vars, *local) : profile + "\\AppData\\Local");
        }
    }
    if (const auto pub = readString(HKEY_LOCAL_MACHINE, kProfileList, "Public"))
        vars.set("PUBLIC", expandedValue(vars, *pub));

    applyEnvironmentKey(vars, HKEY_CURRENT_USER, "Environment", true);
    return vars;
}

// What a 32-bit process of a 64-bit Windows is given instead: its program folders are
// the (x86) ones, and its processor is the one it runs as.
Variables wow64Variables(Variables vars) {
    for (const auto& [name, from] : {std::pair{"ProgramFiles", "ProgramFiles(x86)"},
                                     std::pair{"CommonProgramFiles", "CommonProgramFiles(x86)"}})
        if (const auto value = vars.get(from))
            vars.set(name, *value);
    if (const auto native = vars.get("PROCESSOR_ARCHITECTURE")) {
        vars.set("PROCESSOR_ARCHITEW6432", *native);
        vars.set("PROCESSOR_ARCHITECTURE", "x86");
    }
    return vars;
}

struct Snapshot {
    uint64_t machine = 0;
    std::shared_ptr<const Variables> vars;
    std::shared_ptr<const Variables> wow64; // null on a 32-bit installation
};
std::mutex g_snapshotLock;
Snapshot g_snapshot;

// The environment of the booted machine, read at the first use after its boot: the
// 32-bit process's on a thread that holds the 32-bit view of a 64-bit installation.
std::shared_ptr<const Variables> current() {
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return std::make_shared<Variables>();
    const uint64_t machine = reg->paths->serial();
    const bool wow64View = ThreadFileSystemView() == FileSystemView::Wow64;
    {
        std::lock_guard guard(g_snapshotLock);
        if (g_snapshot.machine == machine && g_snapshot.vars)
            return wow64View && g_snapshot.wow64 ? g_snapshot.wow64 : g_snapshot.vars;
    }
    const bool wide = MachineIs64Bit();
    auto vars = std::make_shared<const Variables>(build(*reg, wide));
    auto wow64 = wide ? std::make_shared<const Variables>(wow64Variables(*vars)) : nullptr;
    std::lock_guard guard(g_snapshotLock);
    if (g_snapshot.machine != machine || !g_snapshot.vars)
        g_snapshot = {machine, vars, wow64};
    return wow64View && g_snapshot.wow64 ? g_snapshot.wow64 : g_snapshot.vars;
}

} // namespace

std::vector<std::pair<std::string, std::string>> EnvironmentVariables() {
    return current()->all();
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
    return current()->get(name);
}

std::string ExpandEnvironment(const std::string& text) {
    return current()->expand(text);
}

} // namespace win32

DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string result = win32::ExpandEnvironment(lpSrc);
    const DWORD needed = DWORD(result.size() + 1);
    if (lpDst && nSize >= needed)
        std::memcpy(lpDst, result.c_str(), needed);
    return needed;
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    if (!lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto value = win32::EnvironmentVariable(lpName);
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (!lpBuffer || nSize < value->size() + 1)
        return DWORD(value->size() + 1);
    std::memcpy(lpBuffer, value->c_str(), value->size() + 1);
    return DWORD(value->size());
}
