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

} // namespace hive
