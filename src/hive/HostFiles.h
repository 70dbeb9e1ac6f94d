#pragma once
// Names of host files that must survive a crash: renaming without ever replacing, and
// flushing the folder that holds a new or renamed name.

#include <string>

namespace hive {

// Gives `from` the name `to` unless something of that name exists; the test and the
// rename are one step, so a file that appears meanwhile is never overwritten. Returns 0,
// or errno (EEXIST when `to` exists).
int RenameNoReplace(const std::string& from, const std::string& to);

// The folder that holds `path` ("." or "/" where the path says so).
std::string ParentFolder(const std::string& path);

// Flushes the folder that holds `path`, so that a name made or changed in it survives a
// power loss. Returns 0, or errno (EINVAL from a file system that cannot flush folders).
int SyncFolderOf(const std::string& path);

// Removes `path` (not a folder); 0, or errno (ENOENT when it was not there).
int RemoveFile(const std::string& path);

// Every step that changes what a later process finds on disk (a write, a flush, a rename,
// a removal) passes here first, so that tests can stop the program at each of them:
// HIVEWARDEN_FAULT_AT=N kills the process at the N-th such step, as a power cut or a
// kill would; HIVEWARDEN_FAULT_AT=N:enospc fails that step (and every write after it)
// with ENOSPC instead, as a full disk does. Returns 0, or the errno the step must fail
// with. Without the variable it does nothing.
int FaultPoint();

} // namespace hive
