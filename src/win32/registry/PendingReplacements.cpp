// RegReplaceKey and the replacements it leaves for the next start of the machine.
//
// The requests are kept in a text file at the machine's root, one per line:
// the hive file, the new file and the old-file name, as Windows paths separated by tabs.

#include "win32/registry/PendingReplacements.h"
#include "win32/base/HiveTree.h"
#include "win32/host/MachineLock.h"
#include "win32/host/MachinePaths.h"
#include "win32/host/RegularFile.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/registry/RegistryViews.h"

#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace win32;

namespace {

constexpr const char* kPendingFileName = "hivewarden-pending-replacements.txt";

struct Replacement {
    std::u16string hive, newFile, oldFile;
};

std::string pendingPath(const std::string& folder) {
    return folder + "/" + kPendingFileName;
}

std::vector<Replacement> readPending(const std::string& folder) {
    std::vector<Replacement> out;
    RegularFile file(pendingPath(folder));
    std::string text;
    if (!file.readAll(text, std::numeric_limits<size_t>::max()))
        return out;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() != 3)
            continue;
        auto wide = [](const QByteArray& f) { return Utf8ToUtf16(f.toStdString()); };
        out.push_back({wide(fields[0]), wide(fields[1]), wide(fields[2])});
    }
    return out;
}

bool writePending(const std::string& folder, const std::vector<Replacement>& list) {
    if (list.empty())
        return std::remove(pendingPath(folder).c_str()) == 0 || errno == ENOENT;
    std::string text;
    for (const auto& r : list)
        text += Utf16ToUtf8(r.hive) + "\t" + Utf16ToUtf8(r.newFile) + "\t" +
                Utf16ToUtf8(r.oldFile) + "\n";
    try {
        ReplaceFileAtomically(pendingPath(folder), Bytes(text.begin(), text.end()));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void syncFolderOf(const std::string& path) {
    const int fd =
        ::open(std::filesystem::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

LONG RegReplaceKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpNewFile, LPCSTR lpOldFile) {
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return ERROR_INVALID_HANDLE;
    std::unique_lock guard(reg->lock);
    if (!lpNewFile || !lpOldFile || !*lpNewFile || !*lpOldFile)
        return ERROR_INVALID_PARAMETER;
    MachineRegistry::Handle* handle = reg->handle(hKey);
    if (!handle)
        return ERROR_INVALID_HANDLE;
    KeyView view;
    if (const LONG rc =
            OpenView(handle->view, lpSubKey ? reg->codePage->toUnicode(lpSubKey) : u"", view);
        rc != ERROR_SUCCESS)
        return rc;
    HiveKey* key = view.primary();
    if (!key->hive || key != key->hive->root.get())
        return ERROR_INVALID_PARAMETER; // only a whole hive can be replaced
    if (!PrivilegeEnabled("SeRestorePrivilege"))
        return ERROR_PRIVILEGE_NOT_HELD;
    if (reg->readOnly)
        return ERROR_ACCESS_DENIED;
    const std::u16string newWin = reg->codePage->toUnicode(lpNewFile);
    const std::u16string oldWin = reg->codePage->toUnicode(lpOldFile);
    const auto newHost = reg->paths->toHost(newWin);
    const auto oldHost = reg->paths->toHost(oldWin);
    if (!newHost || !oldHost)
        return ERROR_PATH_NOT_FOUND;
    if (!exists(*newHost))
        return ERROR_FILE_NOT_FOUND;
    try {
        LoadHiveFile(*newHost); // a file that is not a sound hive never takes a hive's place
    } catch (const HiveFileError&) {
        return ERROR_NOT_REGISTRY_FILE;
    }
    const std::u16string hiveWin = *reg->paths->toWindows(key->hive->hostPath);
    std::vector<Replacement> pending = readPending(reg->folder);
    std::erase_if(pending, [&](const Replacement& r) { return NamesEqual(r.hive, hiveWin); });
    pending.push_back(
        {hiveWin, *reg->paths->toWindows(*newHost), *reg->paths->toWindows(*oldHost)});
    return writePending(reg->folder, pending) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

namespace win32 {

std::vector<PendingReplacement> PendingReplacementsOf(const std::string& folder) {
    std::vector<PendingReplacement> out;
    for (const Replacement& r : readPending(folder))
        out.push_back({Utf16ToUtf8(r.hive), Utf16ToUtf8(r.newFile), Utf16ToUtf8(r.oldFile)});
    return out;
}

std::vector<std::string> PerformPendingReplacements(const std::string& folder) {
    std::error_code error;
    const std::string root = std::filesystem::canonical(folder, error).string();
    if (error)
        return {folder + ": no such machine folder"};
    if (MachineRegistry::current() && MachineRegistry::current()->folder == root)
        return {root + ": the machine is booted in this process; shut it down first"};
    MachineLock lock;
    try {
        lock = MachineLock::acquire(root);
    } catch (const std::exception& e) {
        return {e.what()};
    }
    const MachinePaths paths(root);
    std::vector<std::string> failures;
    for (const Replacement& r : readPending(root)) {
        const auto hive = paths.toHost(r.hive);
        const auto fresh = paths.toHost(r.newFile);
        const auto old = paths.toHost(r.oldFile);
        const std::string what = Utf16ToUtf8(r.hive) + " from " + Utf16ToUtf8(r.newFile);
        if (!hive || !fresh || !old) {
            failures.push_back(what + ": a path leads outside the machine folder");
            continue;
        }
        try {
            LoadHiveFile(*fresh);
        } catch (const HiveFileError& e) {
            failures.push_back(what + ": " + e.what());
            continue;
        }
        if (std::rename(hive->c_str(), old->c_str()) != 0) {
            failures.push_back(what + ": cannot rename the hive: " + std::strerror(errno));
            continue;
        }
        if (std::rename(fresh->c_str(), hive->c_str()) != 0) {
            const int e = errno;
            std::rename(old->c_str(), hive->c_str()); // put the hive back
            failures.push_back(what + ": cannot move the new file in: " + std::strerror(e));
            continue;
        }
        syncFolderOf(*hive);
        syncFolderOf(*old);
    }
    writePending(root, {});
    return failures;
}

} // namespace win32
