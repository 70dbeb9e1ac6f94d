#pragma once
// The program folder: where "system.dat" and "Registry Backup" live.
//
// Its base is the executable's folder when that is writable, otherwise the per-user
// application data folder; HIVEWARDEN_PROGRAM_FOLDER names another base, and tests
// and the command-line program may point it elsewhere. Since the program maintains more than one
// Windows installation, each has a program folder of its own below the base, named by the
// installation's identity (InstallationIdentity.h), so that a profile or undo file of one machine
// can never be restored onto another.

#include <string>

// Host path with a trailing "/". Does not depend on a booted machine.
std::string BaseProgramFolder();
// The booted machine's folder below the base (created when missing); the base itself
// while no machine is booted. Host path with a trailing "/".
std::string ProgramFolder();
// Sets the base; an empty folder returns to the default.
void SetProgramFolder(const std::string& folder);
// ProgramFolder() + "system.dat".
std::string StoreFilePath();
// ProgramFolder() + "Registry Backup/": the backup profiles and undo files.
std::string RegistryBackupFolder();
