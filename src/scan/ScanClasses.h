#pragma once
// The classes scan: every string value anywhere below HKEY_CLASSES_ROOT that names a
// folder that does not exist.

#include "scan/TFixRegistry.h"

#include <string>

// Over the top-level keys in the registry's order, each with ScanClassKey.
void ScanClasses(TFixRegistry& engine);

// One key below HKEY_CLASSES_ROOT and, depth first, its subkeys: a key's values come
// before its subkeys, and the scan's stop is checked before every value and subkey. An
// excluded key is skipped with its whole subtree.
void ScanClassKey(TFixRegistry& engine, const std::string& path);
