#pragma once
// The shared DLL scan: every file with a shared reference count must exist.

#include "scan/TFixRegistry.h"

// The values of the SharedDlls key: the name is the file, the data its count; on a
// 64-bit installation then those of the 32-bit programs' key, whose files are the ones
// a 32-bit program sees. A value that is not a 32-bit integer ends the scan.
void ScanSharedDlls(TFixRegistry& engine);
