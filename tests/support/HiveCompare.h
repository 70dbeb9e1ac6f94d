#pragma once
// Comparing two hive trees key by key.

#include "win32/HiveKey.h"

namespace testing_support {

// Expects the same names, times, class names, descriptors, values and subkey order. A key
// without a descriptor in `expected` must come back with its parent's (the root's: the
// default one).
void ExpectSameTree(const win32::HiveKey& expected, const win32::HiveKey& actual);

} // namespace testing_support
