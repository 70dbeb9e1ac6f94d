#pragma once
// The file association scan: each extension key below HKEY_CLASSES_ROOT must name a
// registered class.

#include "registry/TRegistry.h"
#include "scan/TFixRegistry.h"

// Whether the open extension key of `reg` holds more than its default value: a named
// value (Content Type, PerceivedType, ...) or a subkey (OpenWithProgids, ShellNew, ...).
// Such a key is more than an association; only its default value can be stale.
bool ExtensionKeyHoldsMore(TRegistry& reg);

// Over the top-level key names in ascending byte order; only names beginning with "."
// (after trimming) are judged, and a default value that holds "CLSID" is not. An empty
// default value is reported only in a key that holds nothing more.
void ScanFileAssociations(TFixRegistry& engine);
