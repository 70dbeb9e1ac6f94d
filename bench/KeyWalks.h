#pragma once
// Depth-first walks over every key of a tree, counting the keys: one through the
// registry functions of the booted machine, one through plain libhivex on a hive
// file (the floor the first is compared with).

#include "win32/base/WinTypes.h"

#include <cstddef>
#include <string>

namespace bench {

// RegEnumKeyExA + RegOpenKeyExA for every key below `root`; the count includes root.
// Throws std::runtime_error when a call fails or the tree is deeper than 512 levels.
size_t WalkWithRegistry(HKEY root);

// hivex_open, then hivex_node_children and hivex_node_name for every node.
// Throws std::runtime_error when libhivex fails or the tree is deeper than 512 levels.
size_t WalkWithLibhivex(const std::string& hivePath);

} // namespace bench
