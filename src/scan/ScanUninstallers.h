#pragma once
// The uninstaller scan: each uninstall entry's command must start a program.

#include "scan/TFixRegistry.h"

// Over the entries of the machine's "Uninstall" key. Only an exclusion of the whole
// key excludes; entries are not tested one by one.
void ScanUninstallers(TFixRegistry& engine);
