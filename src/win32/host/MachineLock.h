#pragma once
// The lock that lets one process at a time mount a machine for writing.

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

    // Takes the lock of the machine in `folder`. Throws std::runtime_error naming the
    // lock file (and the holder's process id) when another process holds it.
    static MachineLock acquire(const std::string& folder);
    // Removes the lock file and lets go of the lock.
    void release();
    // Whether this is the lock of the machine in `folder`, held.
    bool holds(const std::string& folder) const;

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace win32
