#pragma once
// How the registry viewer shows a value: its type's name and its data as text, the way
// the Windows registry editor writes them in its value list.

#include "win32/base/WinTypes.h"

#include <QString>
#include <string_view>

namespace ui {

// Data texts are cut after this many characters (followed by "...") so that a huge value
// cannot hold up the list.
constexpr int kMaxValueDataChars = 4096;
// The bytes of a value that its text can show at most; the viewer keeps no more.
constexpr size_t kShownValueDataBytes = 2 * kMaxValueDataChars + 2;

// "REG_SZ", "REG_DWORD", ...; a type without a name as its number ("0x00000020").
QString ValueTypeText(DWORD type);

// The data as the list shows it. `data` is the value's data as the ANSI registry
// functions give it (strings in the machine's code page), or its first
// kShownValueDataBytes bytes.
QString ValueDataText(DWORD type, std::string_view data);

} // namespace ui
