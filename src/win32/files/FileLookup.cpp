#include "win32/files/FileLookup.h"

#include "win32/base/CodePage.h"
#include "win32/base/FileSystemView.h"
#include "win32/files/FileSystemRedirection.h"
#include "win32/files/Files.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/system/Environment.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <sys/statfs.h>
#include <sys/xattr.h>

namespace win32 {

namespace {

constexpr long kFuseMagic = 0x65735546;

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

char16_t upperLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

// Characters no Windows file name holds (a ":" only after a drive letter).
bool hasInvalidCharacter(std::u16string_view path) {
    for (size_t i = 0; i < path.size(); ++i) {
        switch (const char16_t c = path[i]) {
        case u'*':
        case u'?':
        case u'<':
        case u'>':
        case u'|':
        case u'"':
            return true;
        case u':':
            if (i != 1)
                return true;
            break;
        default:
            if (c < 0x20)
                return true;
        }
    }
    return false;
}

// Whether the file system of a device keeps Windows' attributes (ntfs-3g).
bool keepsNtfsAttributes(const std::string& path, dev_t device) {
    // Most files a thread looks at lie on one device.
    thread_local dev_t lastDevice = 0;
    thread_local int lastAnswer = -1;
    if (lastAnswer >= 0 && lastDevice == device)
        return lastAnswer == 1;
    static std::mutex lock;
    static std::map<dev_t, bool> known;
    {
        std::lock_guard guard(lock);
        if (const auto it = known.find(device); it != known.end()) {
            lastDevice = device;
            lastAnswer = it->second ? 1 : 0;
            return it->second;
        }
    }
    struct statfs fs {};
    const bool fuse = ::statfs(path.c_str(), &fs) == 0 && fs.f_type == kFuseMagic;
    std::lock_guard guard(lock);
    known[device] = fuse;
    lastDevice = device;
    lastAnswer = fuse ? 1 : 0;
    return fuse;
}

} // namespace

std::u16string CurrentFolder() {
    const MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return u"C:\\WINDOWS\\system32";
    // The machine's environment is read once for its boot: the folder is made once for
    // each mapping and view a thread meets.
    struct Known {
        uint64_t serial = 0;
        std::u16string folder;
    };
    thread_local Known t_known[2];
    Known& known = t_known[ThreadFileSystemView() == FileSystemView::Wow64 ? 1 : 0];
    const uint64_t serial = reg->paths->serial();
    if (known.serial != serial) {
        const auto root = EnvironmentVariable("SystemRoot");
        known.folder = root ? reg->codePage->toUnicode(*root) + u"\\system32"
                            : std::u16string(u"C:\\WINDOWS\\system32");
        known.serial = serial;
    }
    return known.folder;
}

std::optional<std::u16string> FullWindowsPath(std::u16string_view path) {
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return std::nullopt;
    // The drive and what follows its root; the current folder only for a relative path.
    std::u16string cwd;
    char16_t letter;
    std::u16string_view given = path, below;
    if (path.size() >= 2 && path[1] == u':') {
        letter = upperLetter(path[0]);
        given = path.substr(2);
        if (given.empty() || !isSeparator(given[0])) {
            cwd = CurrentFolder();
            if (letter == upperLetter(cwd[0])) // "C:name" is in drive C:'s current folder
                below = std::u16string_view(cwd).substr(2);
        }
    } else if (!path.empty() && isSeparator(path[0])) {
        cwd = CurrentFolder();
        letter = upperLetter(cwd[0]);
    } else {
        cwd = CurrentFolder();
        letter = upperLetter(cwd[0]);
        below = std::u16string_view(cwd).substr(2);
    }

    std::u16string out;
    out.reserve(3 + below.size() + given.size());
    out += letter;
    out += u":\\";
    // The components of the current folder (when the path starts there), then the path's
    // own, with "." and ".." applied as they come.
    auto add = [&out](std::u16string_view text) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = start;
            while (end < text.size() && !isSeparator(text[end]))
                ++end;
            std::u16string_view piece = text.substr(start, end - start);
            start = end + 1;
            if (piece.empty() || piece == u".")
                continue;
            if (piece == u"..") {
                if (out.size() > 3)
                    out.resize(std::max<size_t>(out.rfind(u'\\'), 3));
                continue;
            }
            while (!piece.empty() && (piece.back() == u'.' || piece.back() == u' '))
                piece.remove_suffix(1);
            if (piece.empty())
                continue;
            if (out.size() > 3)
                out += u'\\';
            out += piece;
        }
    };
    add(below);
    add(given);
    return out;
}

Located Locate(LPCSTR path) {
    Located out;
    out.reg = MachineRegistry::current();
    if (!path) {
        out.error = ERROR_INVALID_PARAMETER;
        return out;
    }
    if (!out.reg) {
        out.error = ERROR_NOT_READY;
        return out;
    }
    if (!*path) {
        out.error = ERROR_PATH_NOT_FOUND;
        return out;
    }
    const std::u16string text = out.reg->codePage->toUnicode(path);
    if (hasInvalidCharacter(text)) {
        out.error = ERROR_INVALID_NAME;
        return out;
    }
    out.trailingSeparator = isSeparator(text.back());
    auto full = FullWindowsPath(text);
    if (!full) {
        out.error = ERROR_PATH_NOT_FOUND;
        return out;
    }
    out.full = RedirectForThreadView(std::move(*full));
    out.where = out.reg->paths->resolve(out.full);
    switch (out.where.status) {
    case MachinePaths::Status::Found:
        out.error = ERROR_SUCCESS;
        break;
    case MachinePaths::Status::LastMissing:
        out.error = ERROR_FILE_NOT_FOUND;
        break;
    case MachinePaths::Status::PathMissing:
    case MachinePaths::Status::NoDrive:
        out.error = ERROR_PATH_NOT_FOUND;
        break;
    case MachinePaths::Status::Outside:
        out.error = ERROR_ACCESS_DENIED;
        break;
    }
    return out;
}

LocatedEntry LocateEntry(LPCSTR path) {
    LocatedEntry out;
    const Located located = Locate(path);
    out.reg = located.reg;
    if (located.full.empty()) {
        out.error = located.error;
        return out;
    }
    const size_t slash = located.full.rfind(u'\\');
    if (slash + 1 == located.full.size()) {
        out.isRoot = true;
        out.error = located.error;
        return out;
    }
    const std::u16string parent = located.full.substr(0, slash == 2 ? 3 : slash);
    const std::u16string name = located.full.substr(slash + 1);
    const MachinePaths::Resolved folder = out.reg->paths->resolve(parent);
    if (folder.status == MachinePaths::Status::Outside) {
        out.error = ERROR_ACCESS_DENIED;
        return out;
    }
    const auto listing =
        folder.status == MachinePaths::Status::Found ? out.reg->paths->list(folder.host) : nullptr;
    if (!listing) {
        out.error = ERROR_PATH_NOT_FOUND;
        return out;
    }
    const std::string wanted = Utf16ToUtf8(name);
    if (Utf8ToUtf16(wanted) != name) {
        out.error = ERROR_INVALID_NAME;
        return out;
    }
    out.folder = folder.host;
    out.drive = folder.drive;
    if (const FolderListing::Entry* entry = listing->find(name, wanted)) {
        out.name = entry->name;
        out.exists = true;
    } else {
        out.name = wanted;
    }
    return out;
}

DWORD WriteRefusal(const MachineRegistry* reg, const MachineDrive* drive) {
    if (reg && reg->readOnly)
        return ERROR_ACCESS_DENIED;
    if (drive && !drive->writable)
        return ERROR_WRITE_PROTECT;
    return ERROR_SUCCESS;
}

DWORD AttributesOf(const std::string& hostPath, const struct stat& info) {
    if (keepsNtfsAttributes(hostPath, info.st_dev)) {
        unsigned char stored[4];
        if (::getxattr(hostPath.c_str(), "system.ntfs_attrib_be", stored, sizeof stored) == 4) {
            const DWORD attributes = DWORD(stored[0]) << 24 | DWORD(stored[1]) << 16 |
                                     DWORD(stored[2]) << 8 | DWORD(stored[3]);
            if (attributes)
                return attributes;
        }
    }
    DWORD attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else if ((info.st_mode & 0222) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeOf(const timespec& time) {
    // 100-nanosecond units since 1 January 1601.
    const int64_t units =
        (int64_t(time.tv_sec) + 11644473600LL) * 10000000LL + int64_t(time.tv_nsec) / 100;
    const uint64_t value = units < 0 ? 0 : uint64_t(units);
    return {DWORD(value & 0xFFFFFFFF), DWORD(value >> 32)};
}

DWORD ErrorOfErrno(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_WRITE_FAULT;
    }
}

} // namespace win32
