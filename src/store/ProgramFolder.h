#pragma once
// The program folder: where "system.dat" and "Registry Backup" live. It is the
// executable's folder when that is writable, otherwise the per-user application data
// folder; HIVEWARDEN_PROGRAM_FOLDER names another. Tests and the command-line program may
// point it elsewhere.

#include <string>

// Host path with a trailing "/".
std::string ProgramFolder();
// An empty folder returns to the default.
void SetProgramFolder(const std::string& folder);
// ProgramFolder() + "system.dat".
std::string StoreFilePath();
