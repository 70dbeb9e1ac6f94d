#include "win32/system/Modules.h"

#include "win32/base/LastError.h"
#include "win32/base/LocalMemory.h"
#include "win32/security/Accounts.h"
#include "win32/security/Token.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

struct Export {
    const char* name;
    FARPROC address;
};

template <class F> FARPROC exported(F* function) {
    return reinterpret_cast<FARPROC>(function);
}

struct Library {
    const char* name; // without ".dll"
    std::vector<Export> exports;
    int references = 0;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

std::mutex g_lock;

std::vector<Library>& libraries() {
    static std::vector<Library> list = {
        {"advapi32",
         {
             {"AdjustTokenPrivileges", exported(&AdjustTokenPrivileges)},
             {"AllocateAndInitializeSid", exported(&AllocateAndInitializeSid)},
             {"ConvertSidToStringSidA", exported(&ConvertSidToStringSidA)},
             {"ConvertStringSidToSidA", exported(&ConvertStringSidToSidA)},
             {"ConvertStringSidToSidW", exported(&ConvertStringSidToSidW)},
             {"EqualSid", exported(&EqualSid)},
             {"FreeSid", exported(&FreeSid)},
             {"GetLengthSid", exported(&GetLengthSid)},
             {"GetTokenInformation", exported(&GetTokenInformation)},
             {"GetUserNameA", exported(&GetUserNameA)},
             {"IsValidSid", exported(&IsValidSid)},
             {"LookupAccountNameA", exported(&LookupAccountNameA)},
             {"LookupAccountSidA", exported(&LookupAccountSidA)},
             {"LookupPrivilegeNameA", exported(&LookupPrivilegeNameA)},
             {"LookupPrivilegeValueA", exported(&LookupPrivilegeValueA)},
             {"OpenProcessToken", exported(&OpenProcessToken)},
         }},
        {"kernel32",
         {
             {"FreeLibrary", exported(&FreeLibrary)},
             {"GetProcAddress", exported(&GetProcAddress)},
             {"LoadLibraryA", exported(&LoadLibraryA)},
             {"LocalAlloc", exported(&LocalAlloc)},
             {"LocalFree", exported(&LocalFree)},
         }},
    };
    return list;
}

Library* libraryOf(HMODULE module) {
    for (Library& library : libraries())
        if (reinterpret_cast<HMODULE>(&library) == module)
            return &library;
    return nullptr;
}

} // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string_view name = lpLibFileName;
    if (const size_t slash = name.find_last_of("\\/"); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name.size() > 4 && equalsIgnoringCase(name.substr(name.size() - 4), ".dll"))
        name.remove_suffix(4);
    std::lock_guard guard(g_lock);
    for (Library& library : libraries())
        if (equalsIgnoringCase(name, library.name)) {
            ++library.references;
            return reinterpret_cast<HMODULE>(&library);
        }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    std::lock_guard guard(g_lock);
    Library* library = libraryOf(hModule);
    if (!library || library->references == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A value below 65536 is an ordinal, not a name.
    if (!lpProcName || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (const Export& e : library->exports)
        if (std::strcmp(e.name, lpProcName) == 0) // export names are case-sensitive
            return e.address;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule) {
    std::lock_guard guard(g_lock);
    Library* library = libraryOf(hLibModule);
    if (!library || library->references == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --library->references;
    return TRUE;
}
