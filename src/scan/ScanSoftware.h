#pragma once
// The software scan: a vendor or program key below "Software" that holds no value
// anywhere in its tree is left over from software that is gone.

#include "scan/TFixRegistry.h"

#include <array>
#include <string>
#include <string_view>

// Software key names never judged, compared ignoring ASCII case.
extern const std::array<std::string_view, 12> SoftwareSkipList;

bool IsSkippedSoftware(const std::string& name);

// Whether no key of the tree at root\keyPath holds a value. A tree holding a key that
// cannot be opened (one the user may not read) is not judged empty: what it holds is
// unknown. Raises OnKeyChange for each key it reads.
bool KeyTreeHasNoValues(TFixRegistry& engine, HKEY root, const std::string& keyPath);

// Over HKEY_CURRENT_USER\Software, then HKEY_LOCAL_MACHINE\Software; below each, the
// vendor keys of its Wow6432Node too, where it has one.
void ScanSoftware(TFixRegistry& engine);
