#pragma once
// File name patterns as FindFirstFile matches them.

#include <string_view>

namespace win32 {

// True when `name` matches `pattern`, without regard to case. "*" matches any run of
// characters and "?" any one, with the DOS rules Windows keeps: "?" also matches
// nothing at the end of the name or before a period, "*." followed by more of the
// pattern stops at the name's last period, a period before "*" or "?" at the end
// also matches the end of a name without extension, and "*.*" matches every name.
bool MatchesFilePattern(std::u16string_view pattern, std::u16string_view name);

} // namespace win32
