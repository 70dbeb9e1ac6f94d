#pragma once
// Hive replacements that RegReplaceKey records for the machine's next start.
//
// RegReplaceKeyA (Registry.h) needs SeRestorePrivilege and SeBackupPrivilege enabled
// (ERROR_PRIVILEGE_NOT_HELD). The hive file keeps its content under the old-file name at
// the next start, so that name must be free: a file of that name, a mounted hive, or a
// name another pending replacement uses fails with ERROR_ALREADY_EXISTS, as Windows fails
// a rename onto an existing name. A new file that is a mounted hive or another pending
// replacement's new file fails with ERROR_SHARING_VIOLATION (it is in use); a folder on
// the way to either name that does not exist with ERROR_PATH_NOT_FOUND; a name on a drive
// that is not writable (host/MachinePaths.h) with ERROR_WRITE_PROTECT.

#include "win32/host/MachinePaths.h"

#include <string>
#include <vector>

namespace win32 {

class MachineLock;

// A replacement RegReplaceKey recorded, as Windows paths on the machine's drives.
struct PendingReplacement {
    std::string hive, newFile, oldFile; // UTF-8
};
// The replacements waiting in `folder` for the next start, in the order they were made.
std::vector<PendingReplacement> PendingReplacementsOf(const std::string& folder);

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
};

// Performs the hive replacements that RegReplaceKey recorded for `folder`, as the next
// start of Windows does: each hive file takes its old-file name and the new file takes
// its place. No file is ever overwritten: a replacement whose old-file name is taken, or
// that fails in any other way, is not made, leaves its files as they were and stays
// pending. The machine must not be booted. The machine's lock is taken for the time it
// takes, unless `held` is that lock already; drives given in `granted` are writable.
ReplacementRun PerformReplacements(const std::string& folder, const MachineLock* held = nullptr,
                                   const std::vector<GrantedDrive>& granted = {});
// The same, giving PerformReplacements(folder).problems(): empty when all were made.
std::vector<std::string> PerformPendingReplacements(const std::string& folder);

} // namespace win32
