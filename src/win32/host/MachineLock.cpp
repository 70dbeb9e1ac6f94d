#include "win32/host/MachineLock.h"

#include "win32/host/MachineFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace win32 {

MachineLock::~MachineLock() {
    release();
}

MachineLock::MachineLock(MachineLock&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

MachineLock& MachineLock::operator=(MachineLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

MachineLock MachineLock::acquire(const std::string& folder) {
    const std::string path = folder + "/" + kMachineLockFileName;
    // The holder removes the file when it lets go; a lock taken on a file that was
    // removed meanwhile is no lock, so try again on the new file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            throw std::runtime_error("Cannot create the lock file " + path + ": " +
                                     std::strerror(errno));
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            char holder[32] = {};
            const ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
            ::close(fd);
            std::string pid = n > 0 ? std::string(holder, size_t(n)) : std::string();
            while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
                pid.pop_back();
            if (error == EWOULDBLOCK)
                throw std::runtime_error("The machine " + folder + " is in use by another process" +
                                         (pid.empty() ? "" : " (process " + pid + ")") +
                                         "; it holds the lock file " + path);
            throw std::runtime_error("Cannot lock " + path + ": " + std::strerror(error));
        }
        struct stat held, named;
        if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 ||
            held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
            ::close(fd);
            continue;
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
            // The pid only makes a second process's message more helpful.
        }
        MachineLock lock;
        lock.fd_ = fd;
        lock.path_ = path;
        return lock;
    }
    throw std::runtime_error("Cannot lock " + path + ": it keeps being replaced");
}

void MachineLock::release() {
    if (fd_ >= 0) {
        ::unlink(path_.c_str());
        ::close(fd_);
        fd_ = -1;
    }
}

bool MachineLock::holds(const std::string& folder) const {
    return fd_ >= 0 && path_ == folder + "/" + kMachineLockFileName;
}

} // namespace win32
