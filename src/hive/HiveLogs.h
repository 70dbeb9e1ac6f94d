#pragma once
// Bringing a hive that Windows did not finish writing up to date from its transaction
// logs, in memory, as Windows does when it loads it: the old single-file format (a base
// block copy, a dirty vector and the dirty pages) and the new one (HvLE log entries,
// checked by their hashes and applied in sequence order across .LOG1 and .LOG2).

#include "hive/HiveKey.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hive {

// One log file beside a hive: its name (for messages) and its bytes.
struct HiveLogFile {
    std::string name;
    Bytes bytes;
};

// What recovery did, for the user: which logs it used and how much it applied, and why
// it stopped or passed a log over.
struct LogRecovery {
    bool applied = false; // the hive below is the recovered one
    bool newFormat = false;
    uint32_t entriesApplied = 0; // new format: log entries
    uint32_t pagesApplied = 0;   // old format: 512-byte dirty pages
    uint32_t firstSequence = 0;  // new format: of the first and last entries applied
    uint32_t lastSequence = 0;
    std::vector<std::string> logsUsed; // names, in the order applied
    std::vector<std::string> notes;    // a log passed over, an entry that ended recovery
    Bytes hive;                        // the recovered file, consistent (when applied)

    // "applied 4 log entries (sequence 2 to 5) from NAME.LOG1 and NAME.LOG2"
    std::string summary() const;
};

// Whether a hive's base block says Windows did not finish writing the file: its two
// sequence numbers differ or its checksum is wrong.
bool HiveNeedsRecovery(const uint8_t* data, size_t size);

// Applies the logs to `primary` (a dirty hive file). `logs` may hold any of the hive's
// .LOG, .LOG1 and .LOG2, empty or invalid ones included: each is checked before use.
// Never throws for bad input; a hive no log applies to comes back with applied false.
LogRecovery RecoverFromLogs(const Bytes& primary, const std::vector<HiveLogFile>& logs);

// The log files beside the hive at `hostPath` (NAME.LOG, NAME.LOG1, NAME.LOG2), matched
// without regard to case as Windows names them either way; regular files only.
std::vector<std::string> FindLogFiles(const std::string& hostPath);

// Marvin32 of `data`, the hash that guards each new-format log entry.
uint64_t Marvin32(uint64_t seed, const uint8_t* data, size_t size);
// The seed Windows uses for log entries.
constexpr uint64_t kLogEntrySeed = 0x82EF4D887A4E55C5ull;

} // namespace hive
