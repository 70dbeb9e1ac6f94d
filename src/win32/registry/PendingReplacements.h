#pragma once
// Hive replacements that RegReplaceKey records for the machine's next start.
//
// An offline machine's next start is its next boot, after the program lets it go: the
// replacements wait while the program holds the machine, and are made when it releases it
// (win32/machine/Machine.h), or by PerformReplacements. All replacements that wait for a
// machine are one change: they are made together or not at all, through a journal that
// any later mount completes before it reads a hive (README.md beside this file).
//
// RegReplaceKeyA (Registry.h) needs SeRestorePrivilege and SeBackupPrivilege enabled
// (ERROR_PRIVILEGE_NOT_HELD). The hive file keeps its content under the old-file name at
// the next start, so that name must be free: a file of that name, a mounted hive, or a
// name another pending replacement uses fails with ERROR_ALREADY_EXISTS, as Windows fails
// a rename onto an existing name. A new file that is a mounted hive or another pending
// replacement's new file fails with ERROR_SHARING_VIOLATION (it is in use); a folder on
// the way to either name that does not exist with ERROR_PATH_NOT_FOUND; a name on a drive
// that is not writable (host/MachinePaths.h) with ERROR_WRITE_PROTECT; a list that cannot
// be written with ERROR_DISK_FULL or ERROR_CANTWRITE.

#include "win32/base/WinTypes.h"
#include "win32/host/MachinePaths.h"

#include <string>
#include <vector>

namespace win32 {

class MachineLock;
class MachineRegistry;

// A replacement RegReplaceKey recorded, as Windows paths on the machine's drives.
struct PendingReplacement {
    std::string hive, newFile, oldFile; // UTF-8
    // The new file is a dense save of the hive itself (a compaction): should the hive
    // change before the replacement is made, the copy is made again from it, so that the
    // replacement never undoes later work. Any other new file (a restored profile's copy)
    // is put in place as it is.
    bool denseSave = false;
};
// The replacements waiting in `folder` for the next start, in the order they were made.
std::vector<PendingReplacement> PendingReplacementsOf(const std::string& folder);

// While one is open, the replacements RegReplaceKeyA asks for on the booted machine are
// kept aside and written to the machine's list together by Commit, or not at all: a
// program that asks for several (a restore's five hives) never leaves some of them
// waiting without the others, whatever stops it.
class ReplacementBatch {
public:
    ReplacementBatch();
    ~ReplacementBatch(); // forgets what was not committed
    ReplacementBatch(const ReplacementBatch&) = delete;
    ReplacementBatch& operator=(const ReplacementBatch&) = delete;
    // ERROR_SUCCESS; ERROR_DISK_FULL or ERROR_CANTWRITE when the list could not be
    // written (nothing of the batch then waits); ERROR_INVALID_HANDLE without a booted
    // machine. The batch is closed either way.
    LONG Commit();

private:
    bool open_ = false;
};

struct ReplacementOutcome {
    PendingReplacement replacement;
    std::string error; // empty when it was made; else why not (it stays pending)
};
struct ReplacementRun {
    // Set when no replacement was tried (the machine is in use, ...): why.
    std::string refused;
    std::vector<ReplacementOutcome> outcomes; // in the order they were recorded
    // Set when the list of what stays pending could not be rewritten.
    std::string listError;
    // `refused`, or one line per replacement not made (its hive and new file, then why),
    // and `listError`.
    std::vector<std::string> problems() const;
    // Whether every replacement that waited was made (true when none waited).
    bool allMade() const { return problems().empty(); }
};

// Performs the hive replacements that RegReplaceKey recorded for `folder`, as the next
// start of Windows does: each hive file takes its old-file name and the new file takes
// its place. They are one change: when any of them cannot be made (its old-file name is
// taken, its new file is gone or no sound hive, ...), none is made and all stay pending,
// each with why. No file is ever overwritten. A change that a stopped process left
// unfinished is completed first. The machine must not be booted in this process. The
// machine's lock is taken for the time it takes, unless `held` is that lock already;
// drives given in `granted` are writable.
ReplacementRun PerformReplacements(const std::string& folder, const MachineLock* held = nullptr,
                                   const std::vector<GrantedDrive>& granted = {});
// The same, giving PerformReplacements(folder).problems(): empty when all were made.
std::vector<std::string> PerformPendingReplacements(const std::string& folder);

// Whether a process was stopped while it made the replacements of the machine in
// `folder` (its journal is there): until they are completed, the hives on disk may be a
// mix of before and after, or one may be missing.
bool HasUnfinishedReplacements(const std::string& folder);
// Completes them; the caller holds the machine's lock. Returns why it could not (the
// journal then stays), empty when nothing was unfinished or all is done now.
std::string CompleteUnfinishedReplacements(const std::string& folder, const MachinePaths& paths);

// Before the booted machine is released: a compaction's copy of a hive that may have
// changed since the copy was made is made again from the live hive. Returns one line for
// each copy that could not be made again (its replacement must not be made). The caller
// holds the registry's lock.
std::vector<std::string> RefreshDenseCopies(MachineRegistry& reg);

} // namespace win32
