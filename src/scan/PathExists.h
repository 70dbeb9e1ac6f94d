#pragma once
// Whether the paths scanners judge exist on the machine. Paths are Windows paths, taken
// as given: matched without regard to case, by short names too, a relative one from the
// current folder; a path that a link leads off the machine does not exist.

#include <string>

// An existing file; a folder does not count.
bool FileExists(const std::string& path);
// An existing folder.
bool DirectoryExists(const std::string& path);
// An existing file or folder: one look at the path where FileExists || DirectoryExists
// would take two.
bool FileOrFolderExists(const std::string& path);

// The path with its environment references expanded, as ExpandEnvironmentStrings
// expands them (quotes and semicolons kept).
std::string ExpandEnvironmentText(const std::string& path);

// A path written in a value as programs read it: as it stands, or with its environment
// references expanded (a REG_EXPAND_SZ value, or a program that expands what it reads).
// `folderCounts`: an existing folder is found too.
bool ReferenceExists(const std::string& path, bool folderCounts = false);
