#pragma once
// Hive replacements that RegReplaceKey records for the machine's next start.

#include <string>
#include <vector>

namespace win32 {

// Performs the hive replacements that RegReplaceKey recorded for `folder`, as the next
// start of Windows does: each hive file is renamed to its old-file name and the new
// file takes its place. The machine must not be booted. Returns one line per
// replacement that could not be made (an empty list when all were made).
std::vector<std::string> PerformPendingReplacements(const std::string& folder);

// A replacement RegReplaceKey recorded, as Windows paths on the machine's drive C:.
struct PendingReplacement {
    std::string hive, newFile, oldFile; // UTF-8
};
// The replacements waiting in `folder` for the next start, in the order they were made.
std::vector<PendingReplacement> PendingReplacementsOf(const std::string& folder);

} // namespace win32
