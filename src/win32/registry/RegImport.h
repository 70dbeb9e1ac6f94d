#pragma once
// Importing a .reg file into the booted machine, as the registry editor does.

#include "win32/registry/RegFileParser.h"

#include <string>
#include <vector>

namespace win32 {

struct RegImportResult {
    int applied = 0;                      // operations carried out
    std::vector<RegFileProblem> problems; // lines skipped, with the reason (not all listed)
    size_t skipped = 0;                   // every line skipped, listed or not
};

// Imports the file at `hostPath`. Malformed lines and operations the registry refuses
// are reported with their line numbers and skipped; the rest is imported.
// Throws std::runtime_error when the file cannot be read or is not a .reg file.
RegImportResult RegImportFile(const std::string& hostPath);
RegImportResult RegImportData(const Bytes& fileBytes);

} // namespace win32
