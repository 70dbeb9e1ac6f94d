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

namespace {

// The process id the lock file of the folder open as `folderFd` names, or empty.
std::string holderOf(int folderFd) {
    const int fd = ::openat(folderFd, kMachineLockFileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    char holder[32] = {};
    const ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
    ::close(fd);
    std::string pid = n > 0 ? std::string(holder, size_t(n)) : std::string();
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
        pid.pop_back();
    return pid.find_first_not_of("0123456789") == std::string::npos ? pid : std::string();
}

} // namespace

MachineLock::~MachineLock() {
    release();
}

MachineLock::MachineLock(MachineLock&& other) noexcept
    : folderFd_(other.folderFd_), fd_(other.fd_), folder_(std::move(other.folder_)) {
    other.folderFd_ = -1;
    other.fd_ = -1;
}

MachineLock& MachineLock::operator=(MachineLock&& other) noexcept {
    if (this != &other) {
        release();
        folderFd_ = other.folderFd_;
        fd_ = other.fd_;
        folder_ = std::move(other.folder_);
        other.folderFd_ = -1;
        other.fd_ = -1;
    }
    return *this;
}

MachineLock MachineLock::acquire(const std::string& folder) {
    return take(folder, true);
}

MachineLock MachineLock::acquireShared(const std::string& folder) {
    return take(folder, false);
}

MachineLock MachineLock::take(const std::string& folder, bool exclusive) {
    // A folder replaced while it is locked (the sandbox made anew) is no longer the
    // machine of that name: try again on the folder that has the name now.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0)
            throw std::runtime_error("Cannot open the machine folder " + folder + ": " +
                                     std::strerror(errno) + ".");
        if (::flock(folderFd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            const int error = errno;
            const std::string pid = holderOf(folderFd);
            ::close(folderFd);
            if (error == EWOULDBLOCK)
                throw std::runtime_error(
                    "The machine " + folder + " is in use by another process" +
                    (pid.empty() ? std::string(", which has it open for reading")
                                 : " (process " + pid + "), which holds the lock file " + folder +
                                       "/" + kMachineLockFileName) +
                    ".");
            throw std::runtime_error("Cannot lock the machine folder " + folder + ": " +
                                     std::strerror(error) + ".");
        }
        struct stat held, named;
        if (::fstat(folderFd, &held) != 0 || ::stat(folder.c_str(), &named) != 0 ||
            held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
            ::close(folderFd);
            continue;
        }
        MachineLock lock;
        lock.folderFd_ = folderFd;
        lock.folder_ = folder;
        if (!exclusive)
            return lock;
        const int fd = ::openat(folderFd, kMachineLockFileName,
                                O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            throw std::runtime_error("Cannot create the lock file " + folder + "/" +
                                     kMachineLockFileName + ": " + std::strerror(errno) + ".");
        lock.fd_ = fd;
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
            // The pid only makes a second process's message more helpful.
        }
        return lock;
    }
    throw std::runtime_error("Cannot lock the machine folder " + folder +
                             ": it keeps being replaced.");
}

void MachineLock::release() {
    if (fd_ >= 0) {
        // Through the folder's descriptor: the folder may have been moved meanwhile, and
        // the file of that name at the old place may be another process's lock.
        ::unlinkat(folderFd_, kMachineLockFileName, 0);
        ::close(fd_);
        fd_ = -1;
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
        folderFd_ = -1;
    }
}

bool MachineLock::holds(const std::string& folder) const {
    return fd_ >= 0 && folder_ == folder;
}

} // namespace win32
