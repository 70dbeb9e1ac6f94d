#pragma once
// A long read-only job on one thread (a scan checks every file the registry names) may
// take the machine's folders as they were when it first looked at each: while the thread
// holds a session, a folder listing it has checked against the disk once is used without
// asking the disk again, and file attributes it has read are kept. The program's own
// changes to files end that trust at once (FileLookupSession::Changed).

#include <cstdint>

namespace win32 {

class FileLookupSession {
public:
    FileLookupSession();
    ~FileLookupSession();
    FileLookupSession(const FileLookupSession&) = delete;
    FileLookupSession& operator=(const FileLookupSession&) = delete;

    // The session the calling thread holds (its outermost one), 0 when none.
    static uint64_t Current();
    // Counts the program's own changes to files; what a session kept before the latest
    // change is not used after it.
    static uint64_t ChangeCount();
    static void Changed();

private:
    bool outermost_;
};

} // namespace win32
