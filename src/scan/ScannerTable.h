#pragma once
// Which scanner each category runs.

#include "scan/TFixRegistry.h"

#include <array>

// The program's scanners, indexed by category; an engine starts with these.
std::array<TFixRegistry::TScanner, kRepairItemCount> BuiltInScanners();
