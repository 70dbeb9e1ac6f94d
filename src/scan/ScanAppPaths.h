#pragma once
// The application path scan: each application's key must name its program and its
// folders must exist.

#include "scan/TFixRegistry.h"

#include <array>
#include <string_view>

// Application names the scan passes over, compared ignoring ASCII case.
extern const std::array<std::string_view, 5> AppPathSkipList;

// The keys below "App Paths" in ascending order of their names: a key whose default
// value is empty is recorded, and so is one whose "Path" names a folder that does not
// exist. One key can give both records.
void ScanAppPaths(TFixRegistry& engine);
