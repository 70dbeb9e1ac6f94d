#pragma once
// The 32-bit view of the registry of a 64-bit installation: where a key that a 32-bit
// program names is stored. Under HKLM\SOFTWARE the 32-bit programs' keys lie below
// Wow6432Node, except the keys both kinds of program share (Classes, Clients, Policies,
// the fonts, the profile list, ...). Of the classes, Windows 7 and later redirect only
// CLSID, DirectShow, Interface, Media Type and MediaFoundation, to the classes'
// Wow6432Node; earlier versions redirect all classes but HCP. A path that names
// Wow6432Node itself is never redirected.

#include "win32/registry/MachineRegistry.h"

#include <string>
#include <vector>

namespace win32 {

// The roots a key path is given from.
enum class RegRoot { LocalMachine, Users, ClassesRoot };

using KeyPathParts = std::vector<std::u16string>;

// Rewrites `parts`, a key path below `root` as a 32-bit program names it, to where the
// key is stored.
void RedirectTo32BitView(RegRoot root, KeyPathParts& parts, bool sharedClasses);
// The path a 32-bit program names a stored key by: `parts` without the Wow6432Node that
// redirection put in.
void NameIn32BitView(RegRoot root, KeyPathParts& parts);

// Where the key of `view` lies: its root and the path below it. False for a key outside
// HKLM, HKU and the merged classes (a detached or virtual key).
bool LocateView(const MachineRegistry& reg, const KeyView& view, RegRoot& root,
                KeyPathParts& parts);

} // namespace win32
