#pragma once
// The two roads of a restore: an undo file goes to the registry editor for import, any
// other entry of "Registry Backup" is a backup profile restored by the hive manager.

#include <string>

// The entry's name contains ".reg" anywhere, compared without regard to case.
bool IsUndoFileName(const std::string& name);

// Starts the registry editor ("REGEDIT /SC /C " and the file's short path) without a
// window to import the undo file `file`; true when it started. The import runs on its
// own and its outcome is not seen here.
bool ImportRegFile(const std::string& file);
