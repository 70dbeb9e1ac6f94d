#pragma once
// Undo files: registry keys and values appended to a .reg file in the import format of
// the registry editor, so that importing the file brings back exactly what was there.

#include "win32/base/WinTypes.h"

#include <stdexcept>
#include <string>

// The undo file could not be created, written or flushed, or a value could not be read
// completely. Nothing may be deleted on the strength of an export that raised it.
class EExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Appends `keyPath` below `root` (one trailing backslash dropped) with its whole subtree
// to `fileName`, a host path; a new file starts with the header of the machine's platform
// family. With `valueName` given, each key of the tree holding a value of that name
// contributes only that value. A key below HKEY_CLASSES_ROOT is written as the machine's
// and the user's classes keys it is made of, each with its own values. When the call
// returns, the file is complete on disk. Throws EExportError.
void ExportRegKey(HKEY root, const std::string& keyPath, const std::string& fileName,
                  const std::string& valueName);
