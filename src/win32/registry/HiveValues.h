#pragma once
// Reading and making value data as the hive stores it.

#include "win32/base/HiveTree.h"

#include <optional>

namespace win32 {

// The text of a REG_SZ / REG_EXPAND_SZ value, without its terminator; empty when the
// value is missing or of another type.
std::optional<std::u16string> StringValue(const HiveKey& key, std::u16string_view name);
// A REG_DWORD value, or a string holding a decimal number.
std::optional<uint32_t> DwordValue(const HiveKey& key, std::u16string_view name);
// The key at `path` (backslash-separated) below `from`, case-insensitive, following links.
HiveKey* FindKey(HiveKey* from, std::u16string_view path);

Bytes StringData(std::u16string_view text); // UTF-16LE with its terminator
Bytes DwordData(uint32_t value);
std::u16string DataAsText(const Bytes& data); // UTF-16LE up to the first NUL

} // namespace win32
