#pragma once
// What the key browser reads of the live registry: whether a key has subkeys, and its
// subkey names in the order the browser shows them.

#include "win32/base/WinTypes.h"

#include <string>
#include <vector>

// Opens the key with query-value access and asks for the number of its subkeys; any
// failure counts as none. An empty path is the root itself.
bool KeyHasSubKeys(HKEY root, const std::string& keyPath);

// The subkey names of the key, sorted without regard to letter case (the code page's
// upper case); empty when the key cannot be opened.
std::vector<std::string> SortedSubKeyNames(HKEY root, const std::string& keyPath);
