#include "win32/files/FileSystemRedirection.h"

#include "win32/base/FileSystemView.h"
#include "win32/base/HiveTree.h"
#include "win32/files/FileLookup.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/system/Environment.h"
#include "win32/system/SystemInfo.h"

#include <initializer_list>
#include <string_view>

namespace win32 {

namespace {

// Whether `path` is `folder` or lies below it; `rest` is what follows, with its "\".
bool below(std::u16string_view path, std::u16string_view folder, std::u16string_view& rest) {
    if (path.size() < folder.size() || !NamesEqual(path.substr(0, folder.size()), folder))
        return false;
    rest = path.substr(folder.size());
    return rest.empty() || rest.front() == u'\\';
}

bool exempt(std::u16string_view rest) {
    for (const std::u16string_view folder : {u"\\catroot", u"\\catroot2", u"\\DriverStore",
                                             u"\\drivers\\etc", u"\\LogFiles", u"\\spool"}) {
        std::u16string_view after;
        if (below(rest, folder, after))
            return true;
    }
    return false;
}

// The folders the redirection turns on, for the booted machine: its environment is read
// once for its boot, so they are made once for each mapping a thread meets.
struct RedirectedFolders {
    uint64_t serial = 0;
    bool known = false;     // whether the machine has a Windows folder to redirect in
    std::u16string windows; // "C:\WINDOWS"
    std::u16string system32, sysnative, lastgood, regedit;
};

const RedirectedFolders& redirectedFolders(const MachineRegistry& reg) {
    thread_local RedirectedFolders t_folders;
    RedirectedFolders& folders = t_folders;
    const uint64_t serial = reg.paths->serial();
    if (folders.serial == serial)
        return folders;
    folders = RedirectedFolders{};
    folders.serial = serial;
    const auto root = EnvironmentVariable("SystemRoot");
    const auto windows = root ? FullWindowsPath(reg.codePage->toUnicode(*root)) : std::nullopt;
    if (!windows || windows->size() <= 3)
        return folders;
    folders.known = true;
    folders.windows = *windows;
    folders.system32 = *windows + u"\\System32";
    folders.sysnative = *windows + u"\\Sysnative";
    folders.lastgood = *windows + u"\\lastgood\\System32";
    folders.regedit = *windows + u"\\regedit.exe";
    return folders;
}

} // namespace

std::u16string RedirectForThreadView(std::u16string full) {
    if (ThreadFileSystemView() != FileSystemView::Wow64 || !MachineIs64Bit())
        return full;
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return full;
    const RedirectedFolders& folders = redirectedFolders(*reg);
    if (!folders.known)
        return full;
    const std::u16string& windows = folders.windows;
    std::u16string_view rest;
    if (below(full, folders.system32, rest))
        return exempt(rest) ? full : windows + u"\\SysWOW64" + std::u16string(rest);
    if (below(full, folders.sysnative, rest))
        return windows + u"\\System32" + std::u16string(rest);
    if (below(full, folders.lastgood, rest))
        return windows + u"\\lastgood\\SysWOW64" + std::u16string(rest);
    if (below(full, folders.regedit, rest) && rest.empty())
        return windows + u"\\SysWOW64\\regedit.exe";
    return full;
}

} // namespace win32
