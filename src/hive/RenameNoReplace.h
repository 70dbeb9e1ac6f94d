#pragma once
// Renaming a host file without ever replacing what bears the new name.

#include <string>

namespace hive {

// Gives `from` the name `to` unless something of that name exists; the test and the
// rename are one step, so a file that appears meanwhile is never overwritten. Returns 0,
// or errno (EEXIST when `to` exists).
int RenameNoReplace(const std::string& from, const std::string& to);

} // namespace hive
