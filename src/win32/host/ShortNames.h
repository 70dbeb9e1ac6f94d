#pragma once
// 8.3 short names, as a Windows file system gives them to names that do not fit 8.3.
//
// On an NTFS partition mounted through ntfs-3g the names Windows stored are read back;
// otherwise they are made by Windows' own rules: the name upper-cased, without spaces
// and without all periods but the last, characters DOS does not allow as "_"; the
// first six characters of the result, "~" and a number from 1 to 4, and the first
// three characters of the extension ("Program Files" is "PROGRA~1"). From the fifth
// name with the same six characters on, two characters and four hexadecimal digits
// of a hash of the long name take the place of the six. Names that compete for a
// number get them in the order they were made (their birth time, else inode), so a
// new file never takes the short name of an older one.

#include "win32/host/MachinePaths.h"

#include <string>
#include <string_view>
#include <vector>

namespace win32 {

// True for a name that is a valid 8.3 name already, in any letter case.
bool IsShortName(std::u16string_view name);

// The short name of each entry of a host folder's listing; empty for an entry whose
// name is an 8.3 name already.
std::vector<std::u16string> ShortNamesOf(const std::string& hostFolder,
                                         const FolderListing& listing);

} // namespace win32
