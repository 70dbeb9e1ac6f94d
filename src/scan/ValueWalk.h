#pragma once
// The walk over one key's values that the run, font, help file and shared DLL scanners
// share, and the way every scanner records a problem.

#include "registry/TRegistry.h"
#include "scan/TFixRegistry.h"

#include <functional>
#include <string>

// Judges one value of the open key of `reg`; records a problem itself.
using TValueTest = std::function<void(TRegistry& reg, const std::string& valueName)>;

// Skips the key when `keyLocation` is excluded or the key does not open; otherwise
// raises OnKeyChange with `keyPath` and, for each value in the registry's order, raises
// progress over the values, stops when the scan is stopped, and runs the test. An error
// a test raises ends the walk and goes to the caller.
void WalkKeyValues(TFixRegistry& engine, HKEY root, const std::string& keyPath,
                   const std::string& keyLocation, const TValueTest& test);

// Adds the record and then raises OnFound for it.
void ReportProblem(TFixRegistry& engine, TRepairItem category, const std::string& keyLocation,
                   const std::string& valueName, const std::string& valueData,
                   const std::string& diagnosis);

// "File "<path>" does not exist".
std::string FileMissingText(const std::string& path);
