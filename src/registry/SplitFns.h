#pragma once
// Text operations on key paths and folder paths: splitting at a separator, joining
// with a backslash, and searching without regard to case. Positions are 1-based,
// text is in the machine's ANSI code page.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The path unchanged when it ends in a backslash that is a character of its own (not
// the second byte of a double-byte character), else the path with "\" appended; an
// empty path gives "\".
std::string AddTrailingBackslash(const std::string& path);

// Skips separators from `position`, returns the characters up to the next separator
// or the end, and leaves `position` just past that separator. A separator byte that
// is the second byte of a double-byte character is part of the character.
std::string NextToken(std::string_view text, char separator, size_t& position);

// Clears the list, then adds the pieces between separators from left to right. A run
// of separators counts as one; separators at either end give no empty piece.
void SplitByChar(std::string_view text, char separator, std::vector<std::string>& list);

// Position of the first occurrence of `pattern` in `text` at or after `start`,
// comparing both through the code page's upper case; 0 when there is none, when the
// pattern is empty or longer than the rest of the text. `start` must be at least 1.
size_t FindTextFrom(std::string_view text, std::string_view pattern, size_t start = 1);
