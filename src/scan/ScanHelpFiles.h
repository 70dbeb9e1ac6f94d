#pragma once
// The help file scan: every help file the system lists must exist in its folder.

#include "scan/ScanViews.h"
#include "scan/TFixRegistry.h"

#include <string>

// The WinHelp key, then the HTML Help key; on a 64-bit installation then the 32-bit
// programs' two keys.
void ScanHelpFiles(TFixRegistry& engine);
// One help key's values: the value's name is the file, its data the folder, looked for
// as `view`'s program sees the files. A value that is not a string ends the scan.
void ScanHelpKey(TFixRegistry& engine, HKEY root, const std::string& keyPath,
                 TRefView view = TRefView::Native);
