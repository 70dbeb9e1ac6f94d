#pragma once
// Text operations on the file references registry values hold: environment references,
// folder lists run together, the last backslash of a path and resource numbers.
// Text is in the machine's ANSI code page.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The text without its double quotes and semicolons, each %NAME% replaced by the
// variable's value (ExpandEnvVar). A reference to a variable that is not set, and a
// stray pair of percent signs, stay as they are and the expansion goes on after them;
// a value is not expanded again, so the expansion ends for every text.
std::string ExpandEnvText(const std::string& text);

// The text cut before the drive letter of each drive marker (":\") but the first: no
// marker gives no piece, one marker the whole text. Nothing is trimmed.
std::vector<std::string> SplitAtDrives(const std::string& text);

// Index (from 0) of the last backslash at or after `from` that is a character of its
// own, not the second byte of a double-byte character; npos when there is none.
size_t LastBackslash(std::string_view text, size_t from = 0);

// Whether the text is one whole integer as the runtime's integer conversion reads it:
// an optional sign, then decimal digits or hexadecimal ones after "$" or "0x", within
// 32 bits. Nothing may precede or follow it.
bool IsWholeInteger(std::string_view text);
