#pragma once
// Values under "\Options" that several windows write.

#include <string>
#include <string_view>

// Writes a string under "\Options", creating the file and the key as needed
// ("LastScan", "LastBackup", "LastCompact").
void WriteOptionString(const std::string& storeFile, std::string_view name, std::string_view text);

// Empties "LastScan", "LastBackup" and "LastCompact" when the file and "\Options"
// exist; creates nothing otherwise.
void ResetLastRunValues(const std::string& storeFile);
