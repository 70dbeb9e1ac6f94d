#pragma once
// Path resolution and changes on KeyViews, shared by the registry functions, the
// boot and the importer. Callers hold MachineRegistry::lock, except readers of a
// read-only mount, which change nothing.

#include "win32/registry/MachineRegistry.h"

#include <string_view>

namespace win32 {

// Splits a subkey path at single backslashes; one trailing backslash is allowed.
// False for a path that begins with a backslash or holds an empty component.
bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts);

// The key a symbolic-link key points at (the key itself when it is none).
HiveKey* FollowLinks(HiveKey* key);

// Drops the deleted parts of a view; ERROR_KEY_DELETED when nothing is left, and
// ERROR_FILE_NOT_FOUND for an empty view (HKEY_CURRENT_USER without the user's profile).
LONG LiveView(const KeyView& view, KeyView& out);

// Opens `path` below `from`. ERROR_FILE_NOT_FOUND, ERROR_BAD_PATHNAME, ERROR_KEY_DELETED.
LONG OpenView(const KeyView& from, std::u16string_view path, KeyView& out);

// Opens or creates `path` below `from`, with the parents it lacks.
LONG CreateView(MachineRegistry& reg, const KeyView& from, std::u16string_view path,
                bool makeVolatile, KeyView& out, bool& created);

// The predefined root of a long or short root name (HKEY_LOCAL_MACHINE, HKLM, ...),
// null when the name is not one of them.
HKEY RootFromName(std::u16string_view name);
// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\x" into the root handle and the subkey path.
bool SplitFullKeyPath(std::u16string_view full, HKEY& root, std::u16string_view& subkey);

// Whether DeleteOneKey (wholeTree false) or DeleteKeyTree would delete the key.
LONG CheckKeyDeletable(const MachineRegistry& reg, const HiveKey* key, bool wholeTree);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some, or is a
// hive root, a link, protected or read-only).
LONG DeleteOneKey(MachineRegistry& reg, HiveKey* key);
// Deletes a key with its whole subtree; nothing is deleted when any key of it is protected.
LONG DeleteKeyTree(MachineRegistry& reg, HiveKey* key);
// Whether a key the machine's ini protects still refuses `right` (DELETE for the key,
// KEY_SET_VALUE for its values): until its DACL grants the right to the current user's
// own SID (a grant to the user's groups does not count). False for unprotected keys.
bool ProtectionHolds(const MachineRegistry& reg, const HiveKey* key, uint32_t right);
// Whether the key may be changed: part of a hive, and the machine not read-only.
LONG CheckWritable(const MachineRegistry& reg, const HiveKey* key);

// Sets a value (UTF-16 name, raw bytes as the hive stores them).
LONG SetViewValue(MachineRegistry& reg, const KeyView& view, std::u16string_view name, DWORD type,
                  Bytes data);
LONG DeleteViewValue(MachineRegistry& reg, const KeyView& view, std::u16string_view name);
const HiveValue* FindViewValue(const KeyView& view, std::u16string_view name);
// The position of a value in the key (HiveKey::findValue), safe for readers of a
// read-only mount on several threads at once; -1 when absent.
int FindValueOf(const HiveKey& key, std::u16string_view name);

} // namespace win32
