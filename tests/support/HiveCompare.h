#pragma once
// Comparing two hive trees key by key.

#include "hive/HiveKey.h"

namespace testing_support {

// Expects the same names, times, class names, descriptors, values and subkey order. A key
// without a descriptor in `expected` must come back with its parent's (the root's: the
// default one).
void ExpectSameTree(const hive::HiveKey& expected, const hive::HiveKey& actual);

} // namespace testing_support
