#include "win32/files/Files.h"

#include "hive/HostFiles.h"
#include "win32/base/CodePage.h"
#include "win32/base/FileSystemView.h"
#include "win32/base/LastError.h"
#include "win32/files/FileFacts.h"
#include "win32/files/FileLookup.h"
#include "win32/host/FileLookupSession.h"
#include "win32/host/RegularFile.h"
#include "win32/host/ShortNames.h"
#include "win32/host/TextTable.h"
#include "win32/registry/MachineRegistry.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

using win32::Located;
using win32::LocatedEntry;

namespace {

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Locates an existing entry that may be removed; on failure sets the last error.
bool locateRemovable(LPCSTR path, LocatedEntry& entry, std::string& host, struct stat& info) {
    entry = win32::LocateEntry(path);
    DWORD error = ERROR_SUCCESS;
    if (entry.isRoot)
        error = entry.error == ERROR_SUCCESS ? DWORD(ERROR_ACCESS_DENIED) : entry.error;
    else if (entry.error != ERROR_SUCCESS)
        error = entry.error;
    else if (!entry.exists)
        error = ERROR_FILE_NOT_FOUND;
    else if (const DWORD refusal = win32::WriteRefusal(entry.reg, entry.drive))
        error = refusal;
    else {
        host = entry.host();
        if (::lstat(host.c_str(), &info) != 0)
            error = win32::ErrorOfErrno(errno);
    }
    if (error != ERROR_SUCCESS)
        SetLastError(error);
    return error == ERROR_SUCCESS;
}

// Writes the whole buffer, retrying short writes.
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Copies `from` into a new temporary file in `folder`; returns its path, or empty with
// errno set (EACCES when `from` is, by now, no regular file).
std::string copyToTemporary(const std::string& from, const struct stat& source,
                            const std::string& folder, const std::string& name) {
    const win32::RegularFile in(from);
    if (!in.isOpen()) {
        errno = in.error();
        return {};
    }
    std::string temporary = folder + "/." + name + ".hwcopy-XXXXXX";
    const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0)
        return {};
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in.fd(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || (got > 0 && !writeAll(out, buffer, size_t(got)))) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
    }
    int error = ok ? 0 : errno;
    if (ok && (::fchmod(out, source.st_mode & 07777) != 0 || ::fsync(out) != 0)) {
        ok = false;
        error = errno;
    }
    const timespec times[2] = {source.st_atim, source.st_mtim};
    if (ok)
        ::futimens(out, times); // times are kept where the host allows it
    if (::close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        errno = error;
        return {};
    }
    return temporary;
}

} // namespace

namespace {

DWORD readAttributes(LPCSTR lpFileName) {
    const Located file = win32::Locate(lpFileName);
    if (file.error != ERROR_SUCCESS) {
        SetLastError(file.error);
        return INVALID_FILE_ATTRIBUTES;
    }
    const win32::FileFacts facts = win32::FactsOf(file.where);
    if (facts.error != ERROR_SUCCESS) {
        SetLastError(facts.error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (file.trailingSeparator && !S_ISDIR(facts.mode)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    return facts.attributes;
}

bool isFullDrivePath(LPCSTR path) {
    return path && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           path[2] == '\\';
}

// What GetFileAttributesA gave for a full drive path as spelled, kept for the calling
// thread's file lookup session: a scan asks for the same paths over and over. Other
// spellings of a file share what is known of it (FileFacts.h).
struct AttributeMemo {
    uint64_t session = 0, changes = 0;
    win32::TextTable<char, std::pair<DWORD, DWORD>> results; // attributes, error
};
// One memo per file system view: the same path may name another file in each.
thread_local AttributeMemo t_attributes[2];
constexpr size_t kMaxMemoEntries = 1 << 20;
constexpr size_t kMaxMemoText = size_t(64) << 20;

} // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    const uint64_t session = win32::FileLookupSession::Current();
    if (!session || !isFullDrivePath(lpFileName))
        return readAttributes(lpFileName);
    const uint64_t changes = win32::FileLookupSession::ChangeCount();
    AttributeMemo& memo =
        t_attributes[win32::ThreadFileSystemView() == win32::FileSystemView::Wow64 ? 1 : 0];
    if (memo.session != session || memo.changes != changes ||
        memo.results.size() >= kMaxMemoEntries || memo.results.textSize() >= kMaxMemoText) {
        memo.results.clear();
        memo.session = session;
        memo.changes = changes;
    }
    const std::string_view spelling(lpFileName);
    if (const uint32_t known = memo.results.find(spelling); known != memo.results.npos) {
        const auto [attributes, error] = memo.results.at(known);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            SetLastError(error);
        return attributes;
    }
    const DWORD attributes = readAttributes(lpFileName);
    memo.results.insert(spelling, {attributes, GetLastError()});
    return attributes;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    const Located source = win32::Locate(lpExistingFileName);
    if (source.error != ERROR_SUCCESS)
        return fail(source.error);
    struct stat sourceInfo;
    if (::stat(source.where.host.c_str(), &sourceInfo) != 0)
        return fail(win32::ErrorOfErrno(errno));
    if (!S_ISREG(sourceInfo.st_mode))
        return fail(ERROR_ACCESS_DENIED);

    const LocatedEntry target = win32::LocateEntry(lpNewFileName);
    if (target.isRoot)
        return fail(target.error == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : target.error);
    if (target.error != ERROR_SUCCESS)
        return fail(target.error);
    if (const DWORD refusal = win32::WriteRefusal(target.reg, target.drive))
        return fail(refusal);
    const std::string targetHost = target.host();
    if (target.exists) {
        struct stat targetInfo;
        if (::stat(targetHost.c_str(), &targetInfo) == 0) {
            if (S_ISDIR(targetInfo.st_mode))
                return fail(ERROR_ACCESS_DENIED);
            if (bFailIfExists)
                return fail(ERROR_FILE_EXISTS);
            if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino)
                return fail(ERROR_SHARING_VIOLATION);
            if (win32::AttributesOf(targetHost, targetInfo) & FILE_ATTRIBUTE_READONLY)
                return fail(ERROR_ACCESS_DENIED);
        } else if (bFailIfExists) {
            return fail(ERROR_FILE_EXISTS); // a dangling link is in the way
        }
    }

    const std::string temporary =
        copyToTemporary(source.where.host, sourceInfo, target.folder, target.name);
    if (temporary.empty())
        return fail(win32::ErrorOfErrno(errno));
    int error = 0;
    if (bFailIfExists) // no replacing a file that appeared meanwhile
        error = hive::RenameNoReplace(temporary, targetHost);
    else if (::rename(temporary.c_str(), targetHost.c_str()) != 0)
        error = errno;
    target.reg->paths->forget(target.folder);
    if (error != 0) {
        ::unlink(temporary.c_str());
        return fail(error == EEXIST ? DWORD(ERROR_FILE_EXISTS) : win32::ErrorOfErrno(error));
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    LocatedEntry entry;
    std::string host;
    struct stat info;
    if (!locateRemovable(lpFileName, entry, host, info))
        return FALSE;
    if (S_ISDIR(info.st_mode))
        return fail(ERROR_ACCESS_DENIED);
    if (!S_ISLNK(info.st_mode) && (win32::AttributesOf(host, info) & FILE_ATTRIBUTE_READONLY))
        return fail(ERROR_ACCESS_DENIED);
    const int status = ::unlink(host.c_str());
    const int error = errno;
    entry.reg->paths->forget(entry.folder);
    if (status != 0)
        return fail(win32::ErrorOfErrno(error));
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    const LocatedEntry entry = win32::LocateEntry(lpPathName);
    if (entry.isRoot)
        return fail(entry.error == ERROR_SUCCESS ? ERROR_ALREADY_EXISTS : entry.error);
    if (entry.error != ERROR_SUCCESS)
        return fail(entry.error);
    if (entry.exists)
        return fail(ERROR_ALREADY_EXISTS);
    if (const DWORD refusal = win32::WriteRefusal(entry.reg, entry.drive))
        return fail(refusal);
    const int status = ::mkdir(entry.host().c_str(), 0777);
    const int error = errno;
    entry.reg->paths->forget(entry.folder);
    if (status != 0)
        return fail(win32::ErrorOfErrno(error));
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    LocatedEntry entry;
    std::string host;
    struct stat info;
    if (!locateRemovable(lpPathName, entry, host, info))
        return FALSE;
    if (!S_ISDIR(info.st_mode))
        return fail(ERROR_DIRECTORY);
    const int status = ::rmdir(host.c_str());
    const int error = errno;
    entry.reg->paths->forget(entry.folder);
    entry.reg->paths->forget(host);
    if (status != 0)
        return fail(win32::ErrorOfErrno(error == EEXIST ? ENOTEMPTY : error));
    return TRUE;
}

DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    const Located file = win32::Locate(lpszLongPath);
    if (file.error != ERROR_SUCCESS) {
        SetLastError(file.error);
        return 0;
    }
    const win32::MachineRegistry* reg = file.reg;
    const std::u16string given = reg->codePage->toUnicode(lpszLongPath);

    // Each component of the path as given is looked up in the folder it leads to; the
    // text between components (drive, separators, "." and "..") is kept as it is.
    auto isSeparator = [](char16_t c) { return c == u'\\' || c == u'/'; };
    size_t start = 0;
    if (given.size() >= 2 && given[1] == u':')
        start = 2;
    std::u16string out = given.substr(0, start);
    std::u16string walked = out; // the path so far, as given
    while (start < given.size()) {
        size_t end = start;
        while (end < given.size() && !isSeparator(given[end]))
            ++end;
        if (end == start) {
            out += given[start];
            walked += given[start];
            start = end + 1;
            continue;
        }
        const std::u16string part = given.substr(start, end - start);
        std::u16string shortPart = part;
        if (part != u"." && part != u".." && !win32::IsShortName(part)) {
            const auto folder = win32::FullWindowsPath(walked.empty() ? u"." : walked);
            const auto where =
                folder ? reg->paths->resolve(*folder) : win32::MachinePaths::Resolved{};
            const auto listing = where.status == win32::MachinePaths::Status::Found
                                     ? reg->paths->list(where.host)
                                     : nullptr;
            const win32::FolderListing::Entry* entry =
                listing ? listing->find(part, win32::Utf16ToUtf8(part)) : nullptr;
            if (entry) {
                const auto shortNames = win32::ShortNamesOf(where.host, *listing);
                const std::u16string& shortName =
                    shortNames[size_t(entry - listing->entries.data())];
                if (!shortName.empty())
                    shortPart = shortName;
            }
        }
        out += shortPart;
        walked += part;
        start = end;
    }

    const std::string result = reg->codePage->fromUnicode(out);
    if (!lpszShortPath || cchBuffer < result.size() + 1)
        return DWORD(result.size() + 1);
    std::memmove(lpszShortPath, result.c_str(), result.size() + 1);
    return DWORD(result.size());
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    const win32::MachineRegistry* reg = win32::MachineRegistry::current();
    const std::string folder = reg ? reg->codePage->fromUnicode(win32::CurrentFolder())
                                   : std::string("C:\\WINDOWS\\system32");
    if (!lpBuffer || nBufferLength < folder.size() + 1)
        return DWORD(folder.size() + 1);
    std::memcpy(lpBuffer, folder.c_str(), folder.size() + 1);
    return DWORD(folder.size());
}

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!*lpFileName) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    const win32::MachineRegistry* reg = win32::MachineRegistry::current();
    if (!reg) {
        SetLastError(ERROR_NOT_READY);
        return 0;
    }
    const std::u16string given = reg->codePage->toUnicode(lpFileName);
    std::string result = lpFileName;
    if (const auto full = win32::FullWindowsPath(given)) {
        result = reg->codePage->fromUnicode(*full);
        const char16_t last = given.back();
        if ((last == u'\\' || last == u'/') && result.back() != '\\')
            result += '\\';
    }
    if (!lpBuffer || nBufferLength < result.size() + 1)
        return DWORD(result.size() + 1);
    std::memmove(lpBuffer, result.c_str(), result.size() + 1);
    if (lpFilePart) {
        const size_t slash = result.find_last_of("\\/");
        *lpFilePart = slash + 1 < result.size() ? lpBuffer + slash + 1 : nullptr;
    }
    return DWORD(result.size());
}
