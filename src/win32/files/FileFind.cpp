#include "win32/base/CodePage.h"
#include "win32/base/Handles.h"
#include "win32/base/HiveTree.h"
#include "win32/base/LastError.h"
#include "win32/files/FileLookup.h"
#include "win32/files/Files.h"
#include "win32/files/Wildcards.h"
#include "win32/host/ShortNames.h"
#include "win32/registry/MachineRegistry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

namespace {

class FindSearch : public win32::KernelObject {
public:
    std::mutex lock;
    std::vector<WIN32_FIND_DATAA> found;
    size_t next = 0;
};

struct Match {
    std::u16string upper; // the order NTFS lists a folder in
    WIN32_FIND_DATAA data;
};

void copyName(const std::string& name, char* out, size_t size) {
    const size_t length = std::min(name.size(), size - 1);
    std::memcpy(out, name.data(), length);
    out[length] = '\0';
}

std::optional<WIN32_FIND_DATAA> describe(const win32::MachineRegistry& reg, const std::string& host,
                                         std::u16string_view name, std::u16string_view shortName) {
    struct statx x {};
    if (::statx(AT_FDCWD, host.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &x) != 0)
        return std::nullopt;
    struct stat info {};
    info.st_mode = x.stx_mode;
    info.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
    const auto time = [](const statx_timestamp& t) { return timespec{t.tv_sec, t.tv_nsec}; };

    WIN32_FIND_DATAA data{};
    data.dwFileAttributes = win32::AttributesOf(host, info);
    data.ftLastWriteTime = win32::FileTimeOf(time(x.stx_mtime));
    data.ftLastAccessTime = win32::FileTimeOf(time(x.stx_atime));
    data.ftCreationTime =
        (x.stx_mask & STATX_BTIME) ? win32::FileTimeOf(time(x.stx_btime)) : data.ftLastWriteTime;
    if (!S_ISDIR(x.stx_mode)) {
        data.nFileSizeHigh = DWORD(x.stx_size >> 32);
        data.nFileSizeLow = DWORD(x.stx_size & 0xFFFFFFFF);
    }
    copyName(reg.codePage->fromUnicode(name), data.cFileName, sizeof data.cFileName);
    copyName(reg.codePage->fromUnicode(shortName), data.cAlternateFileName,
             sizeof data.cAlternateFileName);
    return data;
}

bool isInside(const std::string& path, const std::string& root) {
    return path == root ||
           (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
            path[root.size()] == '/') ||
           root == "/";
}

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

} // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    win32::MachineRegistry* reg = win32::MachineRegistry::current();
    if (!lpFileName || !lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!reg) {
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string text = reg->codePage->toUnicode(lpFileName);
    size_t split = text.size();
    while (split > 0 && !isSeparator(text[split - 1]))
        --split;
    if (split == 0 && text.size() >= 2 && text[1] == u':')
        split = 2;
    const std::u16string folderText = text.substr(0, split);
    const std::u16string pattern = text.substr(split);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    for (const char16_t c : pattern)
        if (c < 0x20 || std::u16string_view(u"<>|\":").find(c) != std::u16string_view::npos) {
            SetLastError(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }

    const win32::Located folder =
        win32::Locate(folderText.empty() ? "." : reg->codePage->fromUnicode(folderText).c_str());
    const auto listing =
        folder.error == ERROR_SUCCESS ? reg->paths->list(folder.where.host) : nullptr;
    if (!listing) {
        SetLastError(folder.error == ERROR_INVALID_NAME || folder.error == ERROR_ACCESS_DENIED
                         ? folder.error
                         : DWORD(ERROR_PATH_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    const std::string& driveRoot = folder.where.drive->root;
    const bool isRoot = folder.full.size() == 3;

    std::vector<Match> matches;
    if (!isRoot) {
        // "." and ".." come first, as NTFS lists them.
        const std::string parent = folder.where.host.substr(0, folder.where.host.rfind('/'));
        const std::pair<std::u16string, std::string> dots[] = {{u".", folder.where.host},
                                                               {u"..", parent}};
        for (const auto& [name, host] : dots)
            if (win32::MatchesFilePattern(pattern, name))
                if (auto data = describe(*reg, host, name, u""))
                    matches.push_back({u"", *data});
    }
    const size_t dotEntries = matches.size();
    const auto shortNames = win32::ShortNamesOf(folder.where.host, *listing);
    for (size_t i = 0; i < listing->entries.size(); ++i) {
        const auto& entry = listing->entries[i];
        const std::u16string name = win32::Utf8ToUtf16(entry.name);
        if (!win32::MatchesFilePattern(pattern, name) &&
            (shortNames[i].empty() || !win32::MatchesFilePattern(pattern, shortNames[i])))
            continue;
        std::string host = folder.where.host + "/" + entry.name;
        if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
            // Only what stays inside the drive is listed; a dangling link is not there.
            std::unique_ptr<char, decltype(&std::free)> target(::realpath(host.c_str(), nullptr),
                                                               &std::free);
            if (!target || !isInside(target.get(), driveRoot))
                continue;
        }
        if (auto data = describe(*reg, host, name, shortNames[i]))
            matches.push_back({entry.upper, *data});
    }
    if (matches.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::stable_sort(matches.begin() + long(dotEntries), matches.end(),
                     [](const Match& a, const Match& b) { return a.upper < b.upper; });

    auto search = std::make_shared<FindSearch>();
    for (const Match& m : matches)
        search->found.push_back(m.data);
    search->next = 1;
    *lpFindFileData = search->found.front();
    return win32::AddKernelHandle(search);
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    const auto search = win32::KernelObjectAs<FindSearch>(hFindFile);
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard guard(search->lock);
    if (search->next >= search->found.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *lpFindFileData = search->found[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (!win32::KernelObjectAs<FindSearch>(hFindFile) || !win32::CloseKernelHandle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
