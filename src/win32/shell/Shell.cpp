#include "win32/shell/Shell.h"

#include "win32/base/CodePage.h"
#include "win32/files/FileLookup.h"
#include "win32/files/Wildcards.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/shell/RegistryEditor.h"
#include "win32/system/Environment.h"
#include "win32/system/Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>

namespace win32 {

namespace {

struct FolderRule {
    int csidl;
    bool common;           // HKEY_LOCAL_MACHINE's keys rather than the user's
    const char* valueName; // in (User) Shell Folders; null: not kept there
    const char* xpDefault; // with %VARIABLES% of the machine's environment
    const char* vistaDefault;
};

const FolderRule kFolders[] = {
    {CSIDL_DESKTOP, false, "Desktop", "%USERPROFILE%\\Desktop", "%USERPROFILE%\\Desktop"},
    {CSIDL_DESKTOPDIRECTORY, false, "Desktop", "%USERPROFILE%\\Desktop", "%USERPROFILE%\\Desktop"},
    {CSIDL_PROGRAMS, false, "Programs", "%USERPROFILE%\\Start Menu\\Programs",
     "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_PERSONAL, false, "Personal", "%USERPROFILE%\\My Documents", "%USERPROFILE%\\Documents"},
    {CSIDL_STARTMENU, false, "Start Menu", "%USERPROFILE%\\Start Menu",
     "%APPDATA%\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_FONTS, false, "Fonts", "%SystemRoot%\\Fonts", "%SystemRoot%\\Fonts"},
    {CSIDL_APPDATA, false, "AppData", "%USERPROFILE%\\Application Data",
     "%USERPROFILE%\\AppData\\Roaming"},
    {CSIDL_COMMON_STARTMENU, true, "Common Start Menu", "%ALLUSERSPROFILE%\\Start Menu",
     "%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_COMMON_PROGRAMS, true, "Common Programs", "%ALLUSERSPROFILE%\\Start Menu\\Programs",
     "%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, true, "Common Desktop", "%ALLUSERSPROFILE%\\Desktop",
     "%SystemDrive%\\Users\\Public\\Desktop"},
    {CSIDL_WINDOWS, false, nullptr, "%SystemRoot%", "%SystemRoot%"},
    {CSIDL_SYSTEM, false, nullptr, "%SystemRoot%\\system32", "%SystemRoot%\\system32"},
    {CSIDL_PROGRAM_FILES, false, nullptr, "%ProgramFiles%", "%ProgramFiles%"},
};

constexpr char kExplorer[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

std::optional<std::string> readText(HKEY root, const std::string& path, const char* name,
                                    DWORD* typeOut = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    std::optional<std::string> out;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::string data(size, '\0');
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &size) == ERROR_SUCCESS) {
            data.resize(std::min<size_t>(size, data.size()));
            while (!data.empty() && data.back() == '\0')
                data.pop_back();
            out = data;
            if (typeOut)
                *typeOut = type;
        }
    }
    RegCloseKey(key);
    return out;
}

bool vistaLayout() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           info.dwMajorVersion >= 6;
}

// An id list of one item that holds the folder's path; freed with CoTaskMemFree.
constexpr char kItemMark[4] = {'H', 'W', 'F', 'S'};

LPITEMIDLIST makeIdList(const std::string& path) {
    const size_t itemSize = 2 + sizeof kItemMark + path.size() + 1;
    if (itemSize > 0xFFFF)
        return nullptr;
    auto* bytes = static_cast<uint8_t*>(CoTaskMemAlloc(itemSize + 2));
    if (!bytes)
        return nullptr;
    bytes[0] = uint8_t(itemSize);
    bytes[1] = uint8_t(itemSize >> 8);
    std::memcpy(bytes + 2, kItemMark, sizeof kItemMark);
    std::memcpy(bytes + 2 + sizeof kItemMark, path.c_str(), path.size() + 1);
    bytes[itemSize] = bytes[itemSize + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(bytes);
}

std::mutex g_handlerLock;
ShellOpenHandler g_handler;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(uint8_t(x)) == std::toupper(uint8_t(y));
           });
}

bool isRegistryEditor(std::string_view file) {
    if (const size_t slash = file.find_last_of("\\/"); slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    return equalsIgnoringCase(file, "regedit") || equalsIgnoringCase(file, "regedit.exe");
}

HINSTANCE result(INT_PTR value) {
    return reinterpret_cast<HINSTANCE>(value);
}

// Removes one host file or folder: to the trash, or for good.
int removeEntry(const std::string& host, bool toTrash) {
    QFile entry(QString::fromStdString(host));
    if (toTrash) {
        // Qt falls back to the current folder for a trash whose data folder is missing:
        // the folder a desktop has is made first, and without it nothing is trashed.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (data.isEmpty() || !QDir::isAbsolutePath(data) || !QDir().mkpath(data))
            return ERROR_ACCESS_DENIED;
        return entry.moveToTrash() ? 0 : ERROR_ACCESS_DENIED;
    }
    std::error_code error;
    std::filesystem::remove_all(host, error);
    return error ? ERROR_ACCESS_DENIED : 0;
}

// The host folder and the last component of a path to delete: a full Windows path on
// one of the machine's drives, or an absolute host path (the program's own folder lies
// outside the machine), in which "\" separates too. Both "\" and "/" separate in a
// Windows path. A link at the end is the entry deleted, never what it leads to.
int splitTarget(const std::string& path, std::string& folderHost, std::string& name) {
    if (!path.empty() && path[0] == '/') {
        std::string host = path;
        std::replace(host.begin(), host.end(), '\\', '/');
        while (host.size() > 1 && host.back() == '/')
            host.pop_back();
        const std::filesystem::path p(host);
        for (const auto& part : p)
            if (part == "..")
                return ERROR_INVALID_PARAMETER;
        if (!p.has_parent_path() || p.parent_path() == p)
            return ERROR_ACCESS_DENIED; // the root
        folderHost = p.parent_path().string();
        name = p.filename().string();
        return name.empty() ? ERROR_ACCESS_DENIED : 0;
    }
    auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    const size_t slash = path.find_last_of("\\/");
    if (path.size() < 3 || path[1] != ':' || !isSeparator(path[2]))
        return ERROR_INVALID_PARAMETER; // the shell wants full paths
    const std::string given = path.substr(slash + 1);
    if (given.empty() || given == "." || given == "..")
        return ERROR_ACCESS_DENIED; // a drive's root, or a folder given with a trailing "\"
    if (given.find_first_of("*?") != std::string::npos) {
        // A pattern names no entry: its folder is looked up, the pattern kept.
        const Located folder = Locate(path.substr(0, slash + 1).c_str());
        if (folder.error != ERROR_SUCCESS)
            return int(folder.error == ERROR_FILE_NOT_FOUND ? DWORD(ERROR_PATH_NOT_FOUND)
                                                            : folder.error);
        if (const DWORD refusal = WriteRefusal(folder.reg, folder.where.drive))
            return int(refusal);
        folderHost = folder.where.host;
        name = given;
        return 0;
    }
    const LocatedEntry entry = LocateEntry(path.c_str());
    if (entry.isRoot)
        return ERROR_ACCESS_DENIED;
    if (entry.error != ERROR_SUCCESS)
        return int(entry.error);
    if (!entry.exists)
        return ERROR_FILE_NOT_FOUND;
    if (const DWORD refusal = WriteRefusal(entry.reg, entry.drive))
        return int(refusal);
    folderHost = entry.folder;
    name = entry.name; // as spelled on disk
    return 0;
}

int deleteOne(const std::string& path, FILEOP_FLAGS flags) {
    std::string folderHost, name;
    if (const int rc = splitTarget(path, folderHost, name); rc != 0)
        return rc;
    struct stat st {};
    if (::stat(folderHost.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ERROR_PATH_NOT_FOUND;
    const bool toTrash = flags & FOF_ALLOWUNDO;
    std::vector<std::string> targets;
    if (name.find_first_of("*?") != std::string::npos) {
        MachineRegistry* reg = MachineRegistry::current();
        const std::u16string pattern = reg->codePage->toUnicode(name);
        const QDir dir(QString::fromStdString(folderHost));
        for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot)) {
            const QString fileName = entry.fileName();
            const std::u16string wide(reinterpret_cast<const char16_t*>(fileName.utf16()),
                                      size_t(fileName.size()));
            if (!MatchesFilePattern(pattern, wide))
                continue;
            if ((flags & FOF_FILESONLY) && entry.isDir() && !entry.isSymLink())
                continue;
            targets.push_back(entry.filePath().toStdString());
        }
        if (targets.empty())
            return ERROR_FILE_NOT_FOUND;
    } else {
        const std::string host = folderHost + "/" + name;
        if (::lstat(host.c_str(), &st) != 0)
            return ERROR_FILE_NOT_FOUND;
        targets.push_back(host);
    }
    for (const std::string& target : targets)
        if (const int rc = removeEntry(target, toTrash); rc != 0)
            return rc;
    if (MachineRegistry* reg = MachineRegistry::current())
        reg->paths->forget(folderHost);
    return 0;
}

} // namespace

std::string SpecialFolder(int csidl) {
    csidl &= ~CSIDL_FLAG_MASK;
    const auto rule = std::find_if(std::begin(kFolders), std::end(kFolders),
                                   [&](const FolderRule& r) { return r.csidl == csidl; });
    if (rule == std::end(kFolders))
        return {};
    if (rule->valueName) {
        const HKEY root = rule->common ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::string base = kExplorer;
        DWORD type = 0;
        if (const auto user = readText(root, base + "User Shell Folders", rule->valueName, &type);
            user && !user->empty())
            return ExpandEnvironment(*user);
        if (const auto shell = readText(root, base + "Shell Folders", rule->valueName);
            shell && !shell->empty())
            return *shell;
    }
    return ExpandEnvironment(vistaLayout() ? rule->vistaDefault : rule->xpDefault);
}

void SetShellOpenHandler(ShellOpenHandler handler) {
    std::lock_guard guard(g_handlerLock);
    g_handler = std::move(handler);
}

} // namespace win32

using namespace win32;

HRESULT SHGetSpecialFolderLocation(HWND, int csidl, LPITEMIDLIST* ppidl) {
    if (!ppidl)
        return E_INVALIDARG;
    *ppidl = nullptr;
    if (!MachineRegistry::current())
        return E_FAIL;
    const std::string path = SpecialFolder(csidl);
    if (path.empty())
        return E_INVALIDARG;
    *ppidl = makeIdList(path);
    return *ppidl ? S_OK : E_OUTOFMEMORY;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
    if (!pidl || !pszPath)
        return FALSE;
    const auto* bytes = reinterpret_cast<const uint8_t*>(pidl);
    const size_t itemSize = size_t(bytes[0]) | size_t(bytes[1]) << 8;
    if (itemSize < 2 + sizeof kItemMark + 1 ||
        std::memcmp(bytes + 2, kItemMark, sizeof kItemMark) != 0) {
        pszPath[0] = 0;
        return FALSE;
    }
    const char* path = reinterpret_cast<const char*>(bytes + 2 + sizeof kItemMark);
    const size_t length = itemSize - 2 - sizeof kItemMark - 1;
    if (length >= MAX_PATH) {
        pszPath[0] = 0;
        return FALSE;
    }
    std::memcpy(pszPath, path, length + 1);
    return TRUE;
}

void ILFree(LPITEMIDLIST pidl) {
    CoTaskMemFree(pidl);
}

int SHFileOperationA(LPSHFILEOPSTRUCTA lpFileOp) {
    if (!lpFileOp || !lpFileOp->pFrom)
        return ERROR_INVALID_PARAMETER;
    lpFileOp->fAnyOperationsAborted = FALSE;
    if (lpFileOp->wFunc != FO_DELETE)
        return ERROR_NOT_SUPPORTED;
    if (!MachineRegistry::current())
        return ERROR_NOT_READY;
    std::vector<std::string> paths;
    for (const char* p = lpFileOp->pFrom; *p; p += std::strlen(p) + 1)
        paths.emplace_back(p);
    if (paths.empty())
        return ERROR_INVALID_PARAMETER;
    for (const std::string& path : paths)
        if (const int rc = deleteOne(path, lpFileOp->fFlags); rc != 0)
            return rc;
    return 0;
}

HINSTANCE ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR,
                        INT nShowCmd) {
    if (!lpFile || !*lpFile)
        return result(SE_ERR_FNF);
    const std::string verb = lpOperation ? lpOperation : "";
    if (isRegistryEditor(lpFile)) {
        if (!verb.empty() && !equalsIgnoringCase(verb, "open"))
            return result(SE_ERR_NOASSOC);
        return result(StartRegistryEditor(lpParameters ? lpParameters : ""));
    }
    ShellOpenHandler handler;
    {
        std::lock_guard guard(g_handlerLock);
        handler = g_handler;
    }
    if (!handler)
        return result(SE_ERR_NOASSOC);
    return result(handler(verb, lpFile, lpParameters ? lpParameters : "", nShowCmd));
}
