#pragma once
// The font scan: every font the system lists must have its file.

#include "scan/TFixRegistry.h"

#include <string>

// The font key of the running Windows (by product code): the 9x family's, or the NT
// family's for NT 4, 2000, XP, 2003, Win32s, and Vista and later whatever their code;
// none for any other product.
void ScanFonts(TFixRegistry& engine);
// One font key's values: the file named must exist as given or in the fonts folder.
// A value that is not a string ends the scan.
void ScanFontKey(TFixRegistry& engine, HKEY root, const std::string& keyPath);
