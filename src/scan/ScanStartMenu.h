#pragma once
// The start menu scan: the user's start-menu order keys of program folders that are
// gone, or that hold only shortcuts to files that are gone.

#include "scan/TFixRegistry.h"

#include <string>
#include <vector>

// Over the subkeys of the user's "MenuOrder\Start Menu2\Programs" key, or of
// "MenuOrder\Start Menu\Programs" when that one is missing.
void ScanStartMenu(TFixRegistry& engine);

// Whether the programs folder `folderName` exists (in the common programs folder, or on
// the NT family in the user's) and holds no shortcuts, or at least one shortcut to an
// existing file.
bool StartMenuFolderValid(const std::string& folderName);

// Adds to `list` each file below `folder` whose extension (from the last ".") equals
// `extension` ignoring ASCII case, as folder + "\" + name, depth first in the file
// system's order; subfolders are entered when `recursive`.
void FindFilesByExt(const std::string& folder, const std::string& extension, bool recursive,
                    std::vector<std::string>& list);
