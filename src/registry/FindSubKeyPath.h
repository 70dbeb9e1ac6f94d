#pragma once
// Finding a subkey by name anywhere below a key.

#include "win32/base/WinTypes.h"

#include <string>

// Walks the tree below `keyPath` depth first for a subkey whose name equals `name`,
// ignoring case. At each key, while subkey names are left, a hit among the remaining
// names sets `foundPath` to that key's path + "\" + the name as the registry spells
// it; then the walk descends into the first remaining name and drops it. The last
// hit in this order wins; without a hit `foundPath` is left as it was. Keys that
// cannot be opened are passed over.
void FindSubKeyPath(HKEY root, const std::string& keyPath, const std::string& name,
                    std::string& foundPath);
