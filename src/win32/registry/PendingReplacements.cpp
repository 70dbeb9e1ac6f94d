// RegReplaceKey and the replacements it leaves for the next start of the machine.
//
// The requests are kept in a text file at the machine's root, one per line:
// the hive file, the new file and the old-file name, as Windows paths separated by tabs.

#include "win32/registry/PendingReplacements.h"
#include "hive/HostFiles.h"
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

// A name as Windows compares names: the folders that exist as spelled on disk, the rest as
// given, without regard to case.
std::u16string comparable(const MachinePaths& paths, const std::string& host) {
    return UpcaseName(paths.toWindows(host).value_or(Utf8ToUtf16(host)));
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The host path of a name in a replacement, or why it cannot be used.
std::optional<std::string> hostOf(const MachinePaths& paths, const std::u16string& name,
                                  std::string& why) {
    const MachinePaths::Resolved where = paths.resolve(name);
    if (where.status == MachinePaths::Status::NoDrive ||
        where.status == MachinePaths::Status::Outside) {
        why = Utf16ToUtf8(name) + " is not on one of the machine's drives";
        return std::nullopt;
    }
    if (!where.drive->writable) {
        why = Utf16ToUtf8(name) + " is on drive " + std::string(1, where.drive->letter) +
              ":, which is read-only";
        return std::nullopt;
    }
    return where.host;
}

// Makes one replacement; returns why it was not made (its files are then as they were).
std::string replace(const MachinePaths& paths, const Replacement& r) {
    std::string why;
    const auto hive = hostOf(paths, r.hive, why);
    const auto fresh = hive ? hostOf(paths, r.newFile, why) : std::nullopt;
    const auto old = fresh ? hostOf(paths, r.oldFile, why) : std::nullopt;
    if (!old)
        return why;
    try {
        LoadHiveFile(*fresh);
    } catch (const HiveFileError& e) {
        return e.what();
    }
    // The old-file name is taken in the same step as it is tested: nothing is overwritten.
    if (const int error = hive::RenameNoReplace(*hive, *old); error != 0)
        return error == EEXIST ? "the old-file name " + Utf16ToUtf8(r.oldFile) +
                                     " is taken; nothing was overwritten"
                               : "cannot rename the hive to " + Utf16ToUtf8(r.oldFile) + ": " +
                                     std::strerror(error);
    if (const int error = hive::RenameNoReplace(*fresh, *hive); error != 0) {
        const int back = hive::RenameNoReplace(*old, *hive);
        hive::SyncFolderOf(*hive);
        return "cannot move the new file in: " + std::string(std::strerror(error)) +
               (back == 0 ? "" : "; the hive is left as " + Utf16ToUtf8(r.oldFile));
    }
    hive::SyncFolderOf(*hive);
    hive::SyncFolderOf(*old);
    return {};
}

PendingReplacement toPublic(const Replacement& r) {
    return {Utf16ToUtf8(r.hive), Utf16ToUtf8(r.newFile), Utf16ToUtf8(r.oldFile)};
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
    if (!PrivilegeEnabled("SeRestorePrivilege") || !PrivilegeEnabled("SeBackupPrivilege"))
        return ERROR_PRIVILEGE_NOT_HELD;
    if (reg->readOnly)
        return ERROR_ACCESS_DENIED;
    const MachinePaths& paths = *reg->paths;
    using Status = MachinePaths::Status;
    const MachinePaths::Resolved fresh = paths.resolve(reg->codePage->toUnicode(lpNewFile));
    const MachinePaths::Resolved old = paths.resolve(reg->codePage->toUnicode(lpOldFile));
    for (const auto* where : {&fresh, &old})
        if (where->status == Status::NoDrive || where->status == Status::Outside ||
            where->status == Status::PathMissing)
            return ERROR_PATH_NOT_FOUND;
    if (fresh.status != Status::Found)
        return ERROR_FILE_NOT_FOUND;
    // The hive keeps its content under the old-file name: that name must be free.
    if (old.status == Status::Found)
        return ERROR_ALREADY_EXISTS;
    const MachineDrive* hiveDrive = paths.resolve(*paths.toWindows(key->hive->hostPath)).drive;
    for (const MachineDrive* drive : {fresh.drive, old.drive, hiveDrive})
        if (drive && !drive->writable)
            return ERROR_WRITE_PROTECT;
    for (const auto& mounted : reg->hives) {
        if (sameFile(mounted->hostPath, fresh.host))
            return ERROR_SHARING_VIOLATION;
        if (comparable(paths, mounted->hostPath) == comparable(paths, old.host))
            return ERROR_ALREADY_EXISTS;
    }
    try {
        LoadHiveFile(fresh.host); // a file that is not a sound hive never takes a hive's place
    } catch (const HiveFileError&) {
        return ERROR_NOT_REGISTRY_FILE;
    }
    const std::u16string hiveWin = *paths.toWindows(key->hive->hostPath);
    std::vector<Replacement> pending = readPending(reg->folder);
    std::erase_if(pending, [&](const Replacement& r) { return NamesEqual(r.hive, hiveWin); });
    // Names the other replacements will use at the next start are not free either.
    const std::u16string freshName = comparable(paths, fresh.host);
    const std::u16string oldName = comparable(paths, old.host);
    for (const Replacement& r : pending) {
        for (const std::u16string* name : {&r.newFile, &r.oldFile}) {
            const auto host = paths.toHost(*name);
            const std::u16string other = host ? comparable(paths, *host) : UpcaseName(*name);
            if (other == oldName)
                return ERROR_ALREADY_EXISTS;
            if (other == freshName)
                return ERROR_SHARING_VIOLATION;
        }
    }
    pending.push_back({hiveWin, *paths.toWindows(fresh.host), *paths.toWindows(old.host)});
    return writePending(reg->folder, pending) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

namespace win32 {

std::vector<std::string> ReplacementRun::problems() const {
    if (!refused.empty())
        return {refused};
    std::vector<std::string> out;
    for (const ReplacementOutcome& o : outcomes)
        if (!o.error.empty())
            out.push_back(o.replacement.hive + " from " + o.replacement.newFile + ": " + o.error);
    if (!listError.empty())
        out.push_back(listError);
    return out;
}

std::vector<PendingReplacement> PendingReplacementsOf(const std::string& folder) {
    std::vector<PendingReplacement> out;
    for (const Replacement& r : readPending(folder))
        out.push_back(toPublic(r));
    return out;
}

ReplacementRun PerformReplacements(const std::string& folder, const MachineLock* held,
                                   const std::vector<GrantedDrive>& granted) {
    ReplacementRun run;
    std::error_code error;
    const std::string root = std::filesystem::canonical(folder, error).string();
    if (error) {
        run.refused = folder + ": no such machine folder";
        return run;
    }
    if (MachineRegistry::current() && MachineRegistry::current()->folder == root) {
        run.refused = root + ": the machine is booted in this process; shut it down first";
        return run;
    }
    // Another process that has the machine mounted would write its hives back over ours.
    MachineLock lock;
    std::unique_ptr<MachinePaths> paths;
    try {
        if (!held || !held->holds(root))
            lock = MachineLock::acquire(root);
        paths = std::make_unique<MachinePaths>(root, granted);
    } catch (const std::exception& e) {
        run.refused = std::string(e.what()) + "; no hive was replaced";
        return run;
    }
    std::vector<Replacement> left;
    for (const Replacement& r : readPending(root)) {
        run.outcomes.push_back({toPublic(r), replace(*paths, r)});
        if (!run.outcomes.back().error.empty())
            left.push_back(r);
    }
    if (!writePending(root, left))
        run.listError = pendingPath(root) + " could not be rewritten: it still names the "
                                            "replacements that were made";
    return run;
}

std::vector<std::string> PerformPendingReplacements(const std::string& folder) {
    return PerformReplacements(folder).problems();
}

} // namespace win32
