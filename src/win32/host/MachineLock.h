#pragma once
// The lock that keeps the processes working on a machine from stepping on each other:
// any number of read-only mounts at once, or one process that changes the machine.
//
// The lock is held on the machine folder itself (flock on the folder), so that a
// read-only mount writes nothing into it; a process that changes the machine also keeps
// its process id in the folder's lock file, for the messages of the others.

#include <string>

namespace win32 {

class MachineLock {
public:
    MachineLock() = default;
    ~MachineLock();
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;
    MachineLock(MachineLock&& other) noexcept;
    MachineLock& operator=(MachineLock&& other) noexcept;

    // Takes the machine in `folder` for changing it: no other process may hold it in
    // either way. Throws std::runtime_error, a sentence naming the machine (and the
    // holder's process id when it changes the machine), when another process holds it.
    static MachineLock acquire(const std::string& folder);
    // Takes the machine in `folder` for reading it: other readers may hold it too, a
    // process that changes it may not. Creates no file. Throws as acquire.
    static MachineLock acquireShared(const std::string& folder);
    // Removes the lock file (of the folder locked, wherever it has been moved since)
    // and lets go of the lock.
    void release();
    // Whether this is the lock of the machine in `folder`, held for changing it.
    bool holds(const std::string& folder) const;
    bool held() const { return folderFd_ >= 0; }

private:
    static MachineLock take(const std::string& folder, bool exclusive);

    int folderFd_ = -1; // the machine folder, flocked
    int fd_ = -1;       // the lock file, for a lock held for changing the machine
    std::string folder_;
};

} // namespace win32
