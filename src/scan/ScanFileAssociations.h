#pragma once
// The file association scan: each extension key below HKEY_CLASSES_ROOT must name a
// registered class.

#include "scan/TFixRegistry.h"

// Over the top-level key names in ascending byte order; only names beginning with "."
// (after trimming) are judged, and a default value that holds "CLSID" is not.
void ScanFileAssociations(TFixRegistry& engine);
