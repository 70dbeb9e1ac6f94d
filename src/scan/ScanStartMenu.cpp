#include "scan/ScanStartMenu.h"

#include "registry/AsciiCase.h"
#include "registry/OSInfo.h"
#include "registry/ShellServices.h"
#include "registry/SplitFns.h"
#include "registry/TRegistry.h"
#include "scan/PathExists.h"
#include "scan/ValueWalk.h"
#include "win32/files/Files.h"
#include "win32/shell/Shell.h"

#include <cstring>

namespace {

// The ANSI functions reach no longer path; a folder link that leads back up stops here.
constexpr size_t kMaxPath = 260;

const char* const kOrderKeys[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu2\\Programs",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs",
};

} // namespace

void FindFilesByExt(const std::string& folder, const std::string& extension, bool recursive,
                    std::vector<std::string>& list) {
    if (folder.size() >= kMaxPath)
        return;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((folder + "\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recursive)
                FindFilesByExt(path, extension, recursive, list);
            continue;
        }
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos && SameTextAscii(name.substr(dot), extension))
            list.push_back(path);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

bool StartMenuFolderValid(const std::string& folderName) {
    const std::string common = AddTrailingBackslash(SpecialFolderPath(CSIDL_COMMON_PROGRAMS));
    std::string folder = common + folderName;
    if (!DirectoryExists(folder)) {
        // The NT family keeps a user's own programs apart; that rule serves every NT
        // version, those the product codes do not name too.
        if (IsWin9x())
            return false;
        folder = AddTrailingBackslash(SpecialFolderPath(CSIDL_PROGRAMS)) + folderName;
        if (!DirectoryExists(folder))
            return false;
    }
    std::vector<std::string> shortcuts;
    FindFilesByExt(folder, ".lnk", true, shortcuts);
    if (shortcuts.empty())
        return true;
    for (const std::string& shortcut : shortcuts)
        if (FileExists(ResolveShortcut(shortcut)))
            return true;
    return false;
}

void ScanStartMenu(TFixRegistry& engine) {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_CURRENT_USER);
    std::string base;
    for (const char* key : kOrderKeys)
        if (reg.OpenKey(key, false)) {
            base = key;
            break;
        }
    if (base.empty())
        return;
    std::vector<std::string> names;
    reg.GetKeyNames(names);
    reg.CloseKey();
    const std::string location = "HKEY_CURRENT_USER\\" + base;
    for (size_t i = 0; i < names.size(); ++i) {
        engine.RaiseProgress(i, names.size());
        if (engine.HasExclusions() && engine.IsExcluded(location + "\\" + names[i]))
            continue;
        if (StartMenuFolderValid(names[i]))
            continue;
        ReportProblem(engine, riStartMenu, location, names[i], "",
                      "Obsolete StartMenus \"" + names[i] + "\"");
    }
}
