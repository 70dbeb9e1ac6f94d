#include "backup/RestoreChoice.h"

#include "registry/SplitFns.h"
#include "win32/files/Files.h"
#include "win32/shell/Shell.h"

#include <vector>

bool IsUndoFileName(const std::string& name) {
    return FindTextFrom(name, ".reg") != 0;
}

bool ImportRegFile(const std::string& file) {
    // The program's own folder lies outside the machine, where there are no short
    // names: such a path goes as it is (the editor takes the rest of its command line
    // as the file, spaces and all).
    std::string path = file;
    std::vector<char> shortPath(file.size() + 1);
    DWORD length = GetShortPathNameA(file.c_str(), shortPath.data(), DWORD(shortPath.size()));
    if (length >= shortPath.size()) {
        shortPath.resize(length);
        length = GetShortPathNameA(file.c_str(), shortPath.data(), DWORD(shortPath.size()));
    }
    if (length > 0 && length < shortPath.size())
        path.assign(shortPath.data(), length);
    const HINSTANCE started =
        ShellExecuteA(nullptr, nullptr, "REGEDIT", ("/SC /C " + path).c_str(), nullptr, SW_HIDE);
    return reinterpret_cast<INT_PTR>(started) > 32;
}
