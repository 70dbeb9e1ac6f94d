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

} // namespace

std::u16string RedirectForThreadView(std::u16string full) {
    if (ThreadFileSystemView() != FileSystemView::Wow64 || !MachineIs64Bit())
        return full;
    const MachineRegistry* reg = MachineRegistry::current();
    const auto root = EnvironmentVariable("SystemRoot");
    if (!reg || !root)
        return full;
    const auto windows = FullWindowsPath(reg->codePage->toUnicode(*root));
    if (!windows || windows->size() <= 3)
        return full;
    std::u16string_view rest;
    if (below(full, *windows + u"\\System32", rest))
        return exempt(rest) ? full : *windows + u"\\SysWOW64" + std::u16string(rest);
    if (below(full, *windows + u"\\Sysnative", rest))
        return *windows + u"\\System32" + std::u16string(rest);
    if (below(full, *windows + u"\\lastgood\\System32", rest))
        return *windows + u"\\lastgood\\SysWOW64" + std::u16string(rest);
    if (below(full, *windows + u"\\regedit.exe", rest) && rest.empty())
        return *windows + u"\\SysWOW64\\regedit.exe";
    return full;
}

} // namespace win32
