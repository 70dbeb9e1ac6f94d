#include "scan/ScanViews.h"

#include "registry/AsciiCase.h"
#include "registry/OSInfo.h"
#include "registry/SplitFns.h"
#include "win32/base/FileSystemView.h"

#include <vector>

bool HasWow64View() {
    return IsWin64();
}

std::string Wow64SoftwarePath(const std::string& softwarePath) {
    const size_t slash = softwarePath.find('\\');
    if (slash == std::string::npos)
        return softwarePath + "\\Wow6432Node";
    return softwarePath.substr(0, slash) + "\\Wow6432Node" + softwarePath.substr(slash);
}

namespace {

bool checkedAs(win32::FileSystemView view, const std::function<bool()>& check) {
    win32::ScopedFileSystemView scoped(view);
    return check();
}

} // namespace

bool ValidInView(TRefView view, const std::function<bool()>& check) {
    switch (view) {
    case TRefView::Native:
        return checkedAs(win32::FileSystemView::Native, check);
    case TRefView::Wow64:
        return checkedAs(win32::FileSystemView::Wow64, check);
    case TRefView::Shared:
        return checkedAs(win32::FileSystemView::Native, check) ||
               (HasWow64View() && checkedAs(win32::FileSystemView::Wow64, check));
    }
    return check();
}

bool IsWow64Location(const std::string& keyLocation) {
    std::vector<std::string> parts;
    SplitByChar(keyLocation, '\\', parts);
    const auto is = [&](size_t i, const char* name) {
        return i < parts.size() && SameTextAscii(parts[i], name);
    };
    if (is(0, "HKEY_CLASSES_ROOT"))
        return is(1, "Wow6432Node");
    if (is(0, "HKEY_LOCAL_MACHINE") && is(1, "SOFTWARE"))
        return is(2, "Wow6432Node") || (is(2, "Classes") && is(3, "Wow6432Node"));
    return false;
}
