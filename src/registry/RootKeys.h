#pragma once
// The predefined root keys: their long names, which operations accept which root,
// and the names the security functions give them.

#include "win32/base/WinTypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>

// A root handle as the 32-bit value Windows defines (0x80000000 HKEY_CLASSES_ROOT to
// 0x80000006 HKEY_DYN_DATA), and back. HKEY holds it sign-extended.
uint32_t RootKeyValue(HKEY root);
HKEY RootKeyFromValue(uint32_t value);

// Any of the seven long names, ignoring ASCII case; null for any other name.
HKEY RootKeyFromName(const std::string& name);
// The long name of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_USERS or HKEY_CURRENT_CONFIG; empty for any other handle.
std::string RootKeyToName(HKEY root);
// The long name of any of the seven roots; empty for any other handle.
std::string ExportRootName(HKEY root);

// Raised by BrowseRootFromName: the name followed by " - Invalid HKEY description".
class EInvalidRootName : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};
// The root of one of the five long names that RootKeyToName gives, matched exactly.
HKEY BrowseRootFromName(const std::string& name);

// The name a key has for the security functions: "MACHINE\" + key path and the like;
// for a root without such a prefix, the key path alone.
std::string SecurityObjectName(HKEY root, const std::string& keyPath);
