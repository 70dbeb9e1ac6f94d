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

// Whether `path` is a file (no symbolic link) that begins as the registry editor's
// files do: "REGEDIT4" or "Windows Registry Editor Version 5.00", in single bytes or in
// UTF-16 after its byte order mark. Reads only the first line's bytes.
bool HasUndoFileHeader(const std::string& path);
