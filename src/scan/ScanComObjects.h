#pragma once
// The COM registration scan: each interface's proxy/stub class must be registered, and
// each type library's 32-bit file must exist.

#include "scan/TFixRegistry.h"

#include <string>

// Over the interfaces, then the type libraries, below HKEY_CLASSES_ROOT; on a 64-bit
// installation then over those of its 32-bit programs (below Wow6432Node). A type
// library's "win32" file is looked for as a 32-bit program sees the files too.
void ScanComObjects(TFixRegistry& engine);

// Judges "<interfacesPath>\<interfaceName>\<subKeyName>" below HKEY_CLASSES_ROOT, opened
// from `interfaces`, the open interfaces key ("Interface", or "Wow6432Node\Interface"):
// its default value must name a class of `classes` (ASCII upper-case names). A missing
// key is fine.
void CheckProxyStub(TFixRegistry& engine, const TFixRegistry::TNameSet& classes, HKEY interfaces,
                    const std::string& interfaceName, const std::string& subKeyName,
                    const std::string& interfacesPath = "Interface");
