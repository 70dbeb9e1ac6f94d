// RegReplaceKey and the replacements it leaves for the next start of the machine.
//
// The requests are kept in a text file at the machine's root, one per line: the hive
// file, the new file and the old-file name, as Windows paths separated by tabs, and
// "dense" in a fourth field for a compaction's copy. Making them is journaled: see
// README.md beside this file.

#include "win32/registry/PendingReplacements.h"
#include "hive/HostFiles.h"
#include "win32/base/HiveTree.h"
#include "win32/host/MachineLock.h"
#include "win32/host/MachinePaths.h"
#include "win32/host/RegularFile.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/registry/Registry.h"
#include "win32/registry/RegistryViews.h"

#include <QByteArray>
#include <QList>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <sys/stat.h>

using namespace win32;

namespace {

constexpr const char* kPendingFileName = "hivewarden-pending-replacements.txt";
constexpr const char* kJournalFileName = "hivewarden-replacement-journal.txt";
constexpr const char* kDenseMark = "dense";

struct Replacement {
    std::u16string hive, newFile, oldFile;
    bool denseSave = false;
};

std::string pendingPath(const std::string& folder) {
    return folder + "/" + kPendingFileName;
}

std::string journalPath(const std::string& folder) {
    return folder + "/" + kJournalFileName;
}

std::vector<Replacement> readList(const std::string& path) {
    std::vector<Replacement> out;
    RegularFile file(path);
    std::string text;
    if (!file.readAll(text, std::numeric_limits<size_t>::max()))
        return out;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() != 3 && fields.size() != 4)
            continue;
        auto wide = [](const QByteArray& f) { return Utf8ToUtf16(f.toStdString()); };
        out.push_back({wide(fields[0]), wide(fields[1]), wide(fields[2]),
                       fields.size() == 4 && fields[3] == kDenseMark});
    }
    return out;
}

std::vector<Replacement> readPending(const std::string& folder) {
    return readList(pendingPath(folder));
}

// Writes `list` to `path` whole or not at all; an empty list removes the file. Returns
// 0, or the errno of the failure.
int writeList(const std::string& path, const std::vector<Replacement>& list) {
    if (list.empty()) {
        const int error = hive::RemoveFile(path);
        if (error == ENOENT)
            return 0;
        if (error != 0)
            return error;
        hive::SyncFolderOf(path);
        return 0;
    }
    std::string text;
    for (const auto& r : list)
        text += Utf16ToUtf8(r.hive) + "\t" + Utf16ToUtf8(r.newFile) + "\t" +
                Utf16ToUtf8(r.oldFile) + (r.denseSave ? std::string("\t") + kDenseMark : "") + "\n";
    try {
        ReplaceFileAtomically(path, Bytes(text.begin(), text.end()));
    } catch (const hive::FileError& e) {
        return e.error;
    } catch (const std::exception&) {
        return EIO;
    }
    return 0;
}

// A name as Windows compares names: the folders that exist as spelled on disk, the rest as
// given, without regard to case.
std::u16string comparable(const MachinePaths& paths, const std::string& host) {
    return UpcaseName(paths.toWindows(host).value_or(Utf8ToUtf16(host)));
}

bool sameFile(const std::string& a, const std::string& b) {
    const auto first = MachineRegistry::fileIdentity(a);
    return first && first == MachineRegistry::fileIdentity(b);
}

bool exists(const std::string& host) {
    struct stat info;
    return ::lstat(host.c_str(), &info) == 0;
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
    if (where.status == MachinePaths::Status::PathMissing) {
        why = "the folder of " + Utf16ToUtf8(name) + " does not exist";
        return std::nullopt;
    }
    if (!where.drive->writable) {
        why = Utf16ToUtf8(name) + " is on drive " + std::string(1, where.drive->letter) +
              ":, which is read-only";
        return std::nullopt;
    }
    return where.host;
}

// One replacement as host files.
struct Step {
    std::string hive, fresh, old;
};

std::optional<Step> stepOf(const MachinePaths& paths, const Replacement& r, std::string& why) {
    Step step;
    const auto hive = hostOf(paths, r.hive, why);
    const auto fresh = hive ? hostOf(paths, r.newFile, why) : std::nullopt;
    const auto old = fresh ? hostOf(paths, r.oldFile, why) : std::nullopt;
    if (!old)
        return std::nullopt;
    return Step{*hive, *fresh, *old};
}

// Why the replacement cannot be made as its files are now, empty when it can.
std::string vet(const Replacement& r, const Step& step) {
    if (!exists(step.hive))
        return "the hive file " + Utf16ToUtf8(r.hive) + " is missing";
    if (!exists(step.fresh))
        return "the new file " + Utf16ToUtf8(r.newFile) + " is missing";
    if (exists(step.old))
        return "the old-file name " + Utf16ToUtf8(r.oldFile) + " is taken; nothing was overwritten";
    try {
        LoadHiveFile(step.fresh); // a file that is no sound hive never takes a hive's place
    } catch (const HiveFileError& e) {
        return e.what();
    }
    return {};
}

// Brings one journaled replacement to its end, from whichever step it reached: the hive
// goes to its old-file name, then the new file takes its place. Every step can be
// repeated; what exists tells how far it went. Returns why not, empty when done.
std::string finish(const Step& step) {
    const bool hive = exists(step.hive), fresh = exists(step.fresh), old = exists(step.old);
    if (hive && !fresh && old)
        return {}; // made
    if (hive && fresh && !old) {
        if (const int error = hive::RenameNoReplace(step.hive, step.old); error != 0)
            return "cannot rename " + step.hive + " to " + step.old + ": " + std::strerror(error);
    } else if (!(!hive && fresh && old)) {
        return "its files are not as the journal left them (" + step.hive +
               (hive ? " exists, " : " is missing, ") + step.fresh +
               (fresh ? " exists, " : " is missing, ") + step.old +
               (old ? " exists)" : " is missing)");
    }
    if (const int error = hive::RenameNoReplace(step.fresh, step.hive); error != 0)
        return "cannot move " + step.fresh + " to " + step.hive + ": " + std::strerror(error);
    return {};
}

// Makes the journaled replacements to their end and closes the journal. Returns why not.
std::string rollForward(const std::string& root, const std::vector<Step>& steps,
                        const std::vector<Replacement>& journaled) {
    for (const Step& step : steps)
        if (std::string why = finish(step); !why.empty())
            return why + "; the change is completed by the next command that mounts the machine";
    // The renames must be on disk before the journal that redoes them goes.
    for (const Step& step : steps) {
        hive::SyncFolderOf(step.hive);
        hive::SyncFolderOf(step.old);
    }
    std::vector<Replacement> pending = readPending(root);
    std::erase_if(pending, [&](const Replacement& r) {
        for (const Replacement& done : journaled)
            if (NamesEqual(done.hive, r.hive))
                return true;
        return false;
    });
    if (const int error = writeList(pendingPath(root), pending); error != 0)
        return pendingPath(root) + " could not be rewritten: " + std::strerror(error);
    if (const int error = hive::RemoveFile(journalPath(root)); error != 0 && error != ENOENT)
        return "cannot remove " + journalPath(root) + ": " + std::strerror(error);
    hive::SyncFolderOf(journalPath(root));
    return {};
}

PendingReplacement toPublic(const Replacement& r) {
    return {Utf16ToUtf8(r.hive), Utf16ToUtf8(r.newFile), Utf16ToUtf8(r.oldFile), r.denseSave};
}

// The replacements a ReplacementBatch holds back, while one is open (under the registry's
// lock).
std::optional<std::vector<Replacement>> g_batch;

} // namespace

LONG RegReplaceKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpNewFile, LPCSTR lpOldFile) {
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return ERROR_INVALID_HANDLE;
    MachineRegistry::ReadScope reading(reg);
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
    std::vector<Replacement> pending = g_batch ? *g_batch : readPending(reg->folder);
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
    const MachineRegistry::DenseSave* saved = reg->denseSaveOf(fresh.host);
    const bool dense = saved && saved->hive == key->hive;
    pending.push_back({hiveWin, *paths.toWindows(fresh.host), *paths.toWindows(old.host), dense});
    if (g_batch) {
        *g_batch = std::move(pending);
        return ERROR_SUCCESS;
    }
    const int error = writeList(pendingPath(reg->folder), pending);
    return error == 0 ? ERROR_SUCCESS : error == ENOSPC ? ERROR_DISK_FULL : ERROR_CANTWRITE;
}

namespace win32 {

ReplacementBatch::ReplacementBatch() {
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return;
    std::lock_guard guard(reg->lock);
    if (g_batch)
        return; // the batch already open collects these too
    g_batch = readPending(reg->folder);
    open_ = true;
}

ReplacementBatch::~ReplacementBatch() {
    if (!open_)
        return;
    if (MachineRegistry* reg = MachineRegistry::current()) {
        std::lock_guard guard(reg->lock);
        g_batch.reset();
    } else {
        g_batch.reset();
    }
}

LONG ReplacementBatch::Commit() {
    MachineRegistry* reg = MachineRegistry::current();
    if (!open_ || !reg)
        return ERROR_INVALID_HANDLE;
    std::lock_guard guard(reg->lock);
    open_ = false;
    const std::vector<Replacement> list = std::move(*g_batch);
    g_batch.reset();
    const int error = writeList(pendingPath(reg->folder), list);
    return error == 0 ? ERROR_SUCCESS : error == ENOSPC ? ERROR_DISK_FULL : ERROR_CANTWRITE;
}

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

bool HasUnfinishedReplacements(const std::string& folder) {
    return exists(journalPath(folder));
}

std::string CompleteUnfinishedReplacements(const std::string& folder, const MachinePaths& paths) {
    if (!HasUnfinishedReplacements(folder))
        return {};
    const std::vector<Replacement> journaled = readList(journalPath(folder));
    std::vector<Step> steps;
    for (const Replacement& r : journaled) {
        std::string why;
        const auto step = stepOf(paths, r, why);
        if (!step)
            return "An unfinished hive replacement cannot be completed: " + why;
        steps.push_back(*step);
    }
    if (std::string why = rollForward(folder, steps, journaled); !why.empty())
        return "An unfinished hive replacement cannot be completed: " + why;
    return {};
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
    if (std::string why = CompleteUnfinishedReplacements(root, *paths); !why.empty()) {
        run.refused = why;
        return run;
    }
    const std::vector<Replacement> pending = readPending(root);
    if (pending.empty())
        return run;

    // All of them can be made, or none is tried.
    std::vector<Step> steps;
    bool whole = true;
    for (const Replacement& r : pending) {
        std::string why;
        if (const auto step = stepOf(*paths, r, why)) {
            why = vet(r, *step);
            steps.push_back(*step);
        }
        whole = whole && why.empty();
        run.outcomes.push_back({toPublic(r), why});
    }
    auto failAll = [&run](const std::string& why) {
        for (ReplacementOutcome& o : run.outcomes)
            if (o.error.empty())
                o.error = why;
    };
    if (!whole) {
        failAll("not made, since it is one change with a replacement that cannot be made");
        return run;
    }
    // From the journal on, the change is made whole: here, or by the next mount.
    if (const int error = writeList(journalPath(root), pending); error != 0) {
        hive::RemoveFile(journalPath(root));
        failAll("cannot write " + journalPath(root) + ": " + std::strerror(error));
        return run;
    }
    if (std::string why = rollForward(root, steps, pending); !why.empty())
        failAll(why);
    return run;
}

std::vector<std::string> PerformPendingReplacements(const std::string& folder) {
    return PerformReplacements(folder).problems();
}

std::vector<std::string> RefreshDenseCopies(MachineRegistry& reg) {
    std::vector<std::string> problems;
    const MachinePaths& paths = *reg.paths;
    for (const Replacement& r : readPending(reg.folder)) {
        if (!r.denseSave)
            continue;
        const auto hiveHost = paths.toHost(r.hive);
        const auto freshHost = paths.toHost(r.newFile);
        const Hive* mounted = nullptr;
        for (const auto& h : reg.hives)
            if (hiveHost && comparable(paths, h->hostPath) == comparable(paths, *hiveHost))
                mounted = h.get();
        if (!mounted || !freshHost)
            continue; // not this machine's mounted hive: it is put in place as it is
        const MachineRegistry::DenseSave* saved = reg.denseSaveOf(*freshHost);
        const bool current = saved ? saved->hive == mounted && saved->changes == mounted->changes
                                   : mounted->changes == 0;
        if (current)
            continue;
        try {
            const Bytes bytes = WriteHive(*mounted->root, mounted->writeOptions());
            ReplaceFileAtomically(*freshHost, bytes);
            reg.recordDenseSave(*freshHost, mounted, bytes);
        } catch (const std::exception& e) {
            problems.push_back(Utf16ToUtf8(r.hive) + ": its compact copy " +
                               Utf16ToUtf8(r.newFile) +
                               " cannot be made again after later changes: " + e.what());
        }
    }
    return problems;
}

} // namespace win32
