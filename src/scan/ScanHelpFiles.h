#pragma once
// The help file scan: every help file the system lists must exist in its folder.

#include "scan/TFixRegistry.h"

#include <string>

// The WinHelp key, then the HTML Help key.
void ScanHelpFiles(TFixRegistry& engine);
// One help key's values: the value's name is the file, its data the folder. A value
// that is not a string ends the scan.
void ScanHelpKey(TFixRegistry& engine, HKEY root, const std::string& keyPath);
