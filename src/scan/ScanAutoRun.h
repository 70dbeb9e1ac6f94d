#pragma once
// The run-at-start-up scan: every command under the run keys must start a program.

#include "scan/TFixRegistry.h"

#include <string>

// The seven run keys, in order, each through ScanRunKey.
void ScanAutoRun(TFixRegistry& engine);
// One run key's values: a command that mentions "dumprep" is passed over; any other
// that no process can be started from is recorded. A value that is not a string
// ends the scan.
void ScanRunKey(TFixRegistry& engine, HKEY root, const std::string& keyPath);
