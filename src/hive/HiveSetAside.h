#pragma once
// Putting a recovered or repaired hive in the place of the file it was read from, while
// keeping that file and its logs as they were, beside it.

#include "hive/HiveKey.h"

#include <string>
#include <vector>

namespace hive {

// The name the original of `hostPath` is kept under (NAME.hwpre, NAME.LOG1.hwpre, ...).
std::string SetAsideFileOf(const std::string& hostPath);

// Copies the hive at `hostPath` and its `logs` to their set-aside names (a number is added
// when a set kept earlier is in the way), then replaces the hive with `clean` (a hive file
// whose sequence numbers agree) and empties the logs, as Windows does once it has applied
// them. Each step is one rename of a synced file, so a process killed at any point leaves
// either the original hive with its logs, or the clean hive (which Windows takes as it is,
// whatever its logs hold). Returns the copies' names, the hive's first. Throws
// std::runtime_error naming the file that failed; the originals are in place until the
// hive is replaced.
std::vector<std::string> SetAsideAndReplace(const std::string& hostPath,
                                            const std::vector<std::string>& logs,
                                            const Bytes& clean);

} // namespace hive
