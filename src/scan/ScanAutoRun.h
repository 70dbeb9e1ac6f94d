#pragma once
// The run-at-start-up scan: every command under the run keys must start a program.

#include "scan/ScanViews.h"
#include "scan/TFixRegistry.h"

#include <string>

// The seven run keys, in order, each through ScanRunKey; on a 64-bit installation then
// the machine's run keys of its 32-bit programs (below Wow6432Node).
void ScanAutoRun(TFixRegistry& engine);
// One run key's values: a command that mentions "dumprep" is passed over; any other
// that no process can be started from, as `view`'s program starts it, is recorded. A
// value that is not a string ends the scan.
void ScanRunKey(TFixRegistry& engine, HKEY root, const std::string& keyPath,
                TRefView view = TRefView::Native);
