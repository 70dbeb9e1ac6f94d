#pragma once
// Every system call through which the store changes a file, in one place: tests make them
// fail as a full disk would, or stop them dead as a killed process or a power loss would.

#include <cstdint>
#include <string>

namespace store::io {

// The number of bytes written: fewer than asked when the write failed (errno tells why).
int64_t WriteAt(int fd, int64_t offset, const void* data, int64_t size);
bool Truncate(int fd, int64_t length);
bool Sync(int fd);
// Makes the creation of `path` itself durable.
bool SyncDirectoryOf(const std::string& path);

// ---- faults, for tests ----

// From now on files may grow by `bytes` more bytes in all; a write that needs more room
// stops short with ENOSPC. Shrinking a file gives its room back.
void InjectFullDisk(int64_t bytes);
// The call numbered `call` (counted from 0 since the last ClearFaults) is the last one
// that happens: a write there is cut half way, anything else is not done. Every later
// call does nothing and fails, as if the process had died there.
void InjectCrashAtCall(int64_t call);
void ClearFaults();
// Calls made since the last ClearFaults, faulty or not.
int64_t CallCount();
bool Crashed();

} // namespace store::io
