#pragma once
// What the boot found wrong with a hive file it mounted, and what it did about it: a hive
// that Windows did not finish writing (brought up to date from its logs, or not), or a
// damaged one (read without what could not be read soundly).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace win32 {

struct HiveCondition {
    enum class State {
        Recovered, // Windows did not finish it; its logs brought it up to date
        Stale,     // Windows did not finish it, and no log could bring it up to date
        Damaged,   // parts of it could not be read soundly and were left out
    };
    State state = State::Recovered;
    std::string hostPath;
    std::string registryPath; // \REGISTRY\MACHINE\SYSTEM

    // Recovered: how much the logs gave, and from which of them.
    uint32_t entriesApplied = 0; // new-format log entries
    uint32_t pagesApplied = 0;   // old-format dirty pages
    std::vector<std::string> logsUsed;
    std::string recoverySummary;    // "applied 4 log entries (sequence 2 to 5) from ..."
    std::vector<std::string> notes; // a log passed over, an entry that ended recovery

    // Damaged: each part left out, where (at most a few hundred), and how many in all.
    std::vector<std::string> damage;
    size_t damageCount = 0;

    // A writable mount put a clean hive in the file's place: where the original file
    // and its logs were kept. Empty for a read-only mount, which changes no file.
    std::vector<std::string> keptFiles;

    // One paragraph for the user: what is wrong and what the mount did about it.
    std::string message;
};

} // namespace win32
