#pragma once
// Names of files that come from a machine's data (its hive list, a profile's config.ini,
// a record of the program's store): each must name an entry of the folder it belongs
// to, never a path that leads out of it.

#include <string>
#include <string_view>

namespace win32 {

// Why `name` is no plain file name, as the end of a sentence ("holds a \"/\""); empty
// when it is one. Refused: an empty name, "." and "..", a name of dots alone, and any
// "/", "\", ":" (a drive or a stream), NUL or other control character.
std::string PlainFileNameFault(std::string_view name);
inline bool IsPlainFileName(std::string_view name) {
    return PlainFileNameFault(name).empty();
}

} // namespace win32
