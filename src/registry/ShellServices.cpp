#include "registry/ShellServices.h"

#include "win32/files/Files.h"
#include "win32/shell/Shell.h"
#include "win32/shell/ShellLink.h"
#include "win32/system/Environment.h"
#include "win32/system/Nls.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

std::string SpecialFolderPath(int folderId) {
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &list)))
        return {};
    char path[MAX_PATH + 1] = {};
    const bool found = SHGetPathFromIDListA(list, path);
    ILFree(list);
    return found ? std::string(path) : std::string();
}

std::string ResolveShortcut(const std::string& linkFile) {
    const HRESULT init = CoInitialize(nullptr);
    struct Uninitialize {
        bool active;
        ~Uninitialize() {
            if (active)
                CoUninitialize();
        }
    } uninitialize{SUCCEEDED(init)};

    HSHELLLINK link = nullptr;
    const HRESULT created = ShellLinkCreate(&link);
    if (FAILED(created)) {
        char message[80];
        std::snprintf(message, sizeof message, "Cannot create the shell link object (error 0x%08X)",
                      unsigned(created));
        throw EShellLinkError(message);
    }
    std::string result = "unable to resolve link";
    const int length = MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, nullptr, 0);
    std::u16string wide(size_t(std::max(length, 1)), u'\0');
    MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, wide.data(), length);
    char path[MAX_PATH + 1] = {};
    // No owner window: offline no dialog is ever shown.
    if (ShellLinkLoad(link, wide.c_str(), STGM_READ) == S_OK &&
        ShellLinkResolve(link, nullptr, SLR_NOUPDATE) == S_OK &&
        ShellLinkGetPath(link, path, sizeof path, nullptr, SLGP_UNCPRIORITY) == S_OK)
        result = path;
    ShellLinkRelease(link);
    return result;
}

std::string ExpandEnvVar(const std::string& name) {
    std::string upper = name;
    CharUpperBuffA(upper.data(), DWORD(upper.size()));
    const std::string reference = "%" + upper + "%";
    // A value longer than the first buffer gets a buffer of the size asked for: a cut
    // value would be a wrong path.
    std::vector<char> buffer(100);
    DWORD needed =
        ExpandEnvironmentStringsA(reference.c_str(), buffer.data(), DWORD(buffer.size()));
    if (needed > buffer.size()) {
        buffer.resize(needed);
        needed = ExpandEnvironmentStringsA(reference.c_str(), buffer.data(), DWORD(buffer.size()));
    }
    if (needed == 0 || needed > buffer.size())
        return reference;
    return std::string(buffer.data());
}

bool DeleteToRecycleBin(const std::string& path) {
    if (path.empty())
        return false;
    // The shell takes full paths only. A host path (the program's own folder lies
    // outside the machine) is full already.
    std::string full = path;
    if (path[0] != '/') {
        char buffer[MAX_PATH + 1];
        const DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
        if (length == 0 || length >= sizeof buffer)
            return false;
        full.assign(buffer, length);
    }
    if (full.size() > 255)
        return false;
    char from[256 + 1] = {}; // the list ends in two zeros
    std::memcpy(from, full.c_str(), full.size());
    SHFILEOPSTRUCTA operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_FILESONLY | FOF_SIMPLEPROGRESS;
    return SHFileOperationA(&operation) == 0;
}
