#pragma once
// The COM registration scan: each interface's proxy/stub class must be registered, and
// each type library's 32-bit file must exist.

#include "scan/TFixRegistry.h"

#include <string>

// Over the interfaces, then the type libraries, below HKEY_CLASSES_ROOT.
void ScanComObjects(TFixRegistry& engine);

// Judges "Interface\<interfaceName>\<subKeyName>" below HKEY_CLASSES_ROOT, opened from
// `interfaces`, the open "Interface" key: its default value must name a class of
// `classes` (ASCII upper-case names). A missing key is fine.
void CheckProxyStub(TFixRegistry& engine, const TFixRegistry::TNameSet& classes, HKEY interfaces,
                    const std::string& interfaceName, const std::string& subKeyName);
