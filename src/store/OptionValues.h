#pragma once
// Values under "\Options" that several windows write.

#include <optional>
#include <string>
#include <string_view>

// Writes a string under "\Options", creating the file and the key as needed
// ("LastScan", "LastBackup", "LastCompact").
void WriteOptionString(const std::string& storeFile, std::string_view name, std::string_view text);

// Empties "LastScan", "LastBackup" and "LastCompact" when the file and "\Options"
// exist; creates nothing otherwise.
void ResetLastRunValues(const std::string& storeFile);

// The times of the last scan, backup and compaction, as stored ("LastScan", "LastBackup",
// "LastCompact"); a value that does not exist is empty. Creates nothing.
struct TLastRunValues {
    std::optional<std::string> scan, backup, compact;
};
TLastRunValues ReadLastRunValues(const std::string& storeFile);
