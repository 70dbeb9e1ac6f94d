#pragma once
// Internal to the layer: what the machine's files are, asked of the disk once for each
// lookup session. A thread that holds a session (host/FileLookupSession.h: a scan) takes
// each host file as it first found it: its kind and attributes are read once, and its
// first bytes (what tells an executable image) only when a check asks for them, once.
// The program's own changes to files end that at once, as they end the session's trust
// in folder listings. Without a session every question goes to the disk.

#include "win32/base/WinTypes.h"
#include "win32/files/Files.h"
#include "win32/host/MachinePaths.h"

#include <string>
#include <sys/types.h>

namespace win32 {

struct FileFacts {
    DWORD error = ERROR_SUCCESS; // what the host path gave instead of its facts
    mode_t mode = 0;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
};
// The file a resolved path found (`where.status` is Found), links followed.
FileFacts FactsOf(const MachinePaths::Resolved& where);

struct FileHead {
    DWORD error = ERROR_SUCCESS; // ERROR_FILE_NOT_FOUND, or ERROR_ACCESS_DENIED when it
                                 // is no regular file or cannot be read
    unsigned char size = 0;      // fewer than two bytes in a shorter file
    char bytes[2] = {};
    bool startsWith(const char (&two)[3]) const {
        return size == 2 && bytes[0] == two[0] && bytes[1] == two[1];
    }
};
// The first two bytes of the regular file at a host path.
FileHead HeadOf(const std::string& hostPath);

} // namespace win32
