#pragma once
// The store's index in memory: the offsets of all live records, in index order.

#include <cstdint>
#include <vector>

using TfxRecList = std::vector<int32_t>;
