#pragma once
// Profile folders in "Registry Backup" as whole things: a backup builds its profile in a
// hidden folder beside it and gives it its name only when it is complete, so that a
// listing never shows half a profile and a re-used name is replaced in one step.

#include <string>

// The hidden folder a backup into `folder` builds its profile in: "." + name + ".partial"
// in the same parent folder.
std::string PartialProfileFolder(const std::string& folder);
// Whether `name` (a name in "Registry Backup") is such a folder's.
bool IsPartialProfileName(const std::string& name);
// Removes what killed backups left in `parent`: every folder named as above.
void RemovePartialProfiles(const std::string& parent);

// Empty when `path` is no symbolic link (or does not exist); otherwise a sentence that
// names it as `what` ("The backup folder", "The profile folder").
std::string SymbolicLinkProblem(const std::string& path, const std::string& what);

// A folder that is a profile in full: no symbolic link, its "config.ini" names five
// hives, and each of those is a file of the folder.
bool IsWholeProfile(const std::string& folder);

// Gives the complete profile `partial` the name `folder`: a new name in one rename; an
// existing empty folder or profile is exchanged with it in one step and then removed.
// Syncs the parent folder. Returns why not, empty on success; `partial` is then gone.
std::string PublishProfile(const std::string& partial, const std::string& folder);

// Flushes the file or folder at `path` to disk. Returns errno, 0 on success.
int SyncPath(const std::string& path);
