#include "store/StoreIo.h"

#include "hive/HostFiles.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace store::io {

namespace {

struct Faults {
    int64_t calls = 0;
    bool diskLimited = false;
    int64_t diskFree = 0;
    int64_t crashAt = -1;
    bool crashed = false;
};

std::mutex& faultsMutex() {
    static std::mutex mutex;
    return mutex;
}

Faults& faults() {
    static Faults state;
    return state;
}

enum class Verdict { Proceed, CutHalfWay, Refuse };

// Counts the call and says whether it may happen.
Verdict admit() {
    std::lock_guard lock(faultsMutex());
    Faults& f = faults();
    const int64_t call = f.calls++;
    if (f.crashed)
        return Verdict::Refuse;
    if (call == f.crashAt) {
        f.crashed = true;
        return Verdict::CutHalfWay;
    }
    return Verdict::Proceed;
}

int64_t fileSize(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? int64_t(info.st_size) : 0;
}

int64_t writeAll(int fd, int64_t offset, const void* data, int64_t size) {
    const auto* bytes = static_cast<const char*>(data);
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, bytes + done, static_cast<size_t>(size - done),
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

int64_t WriteAt(int fd, int64_t offset, const void* data, int64_t size) {
    if (offset < 0 || size < 0) {
        errno = EINVAL;
        return 0;
    }
    const Verdict verdict = admit();
    if (verdict == Verdict::Refuse) {
        errno = EIO;
        return 0;
    }
    int64_t allowed = verdict == Verdict::CutHalfWay ? size / 2 : size;
    {
        std::lock_guard lock(faultsMutex());
        Faults& f = faults();
        if (f.diskLimited) {
            const int64_t room = fileSize(fd) + f.diskFree;
            allowed = std::max<int64_t>(0, std::min(allowed, room - offset));
        }
    }
    const int64_t before = fileSize(fd);
    const int64_t done = writeAll(fd, offset, data, allowed);
    {
        std::lock_guard lock(faultsMutex());
        Faults& f = faults();
        if (f.diskLimited)
            f.diskFree -= std::max<int64_t>(0, offset + done - before);
    }
    if (done == allowed && allowed < size)
        errno = verdict == Verdict::CutHalfWay ? EIO : ENOSPC;
    return done;
}

bool Truncate(int fd, int64_t length) {
    if (admit() != Verdict::Proceed) {
        errno = EIO;
        return false;
    }
    const int64_t before = fileSize(fd);
    int result;
    do
        result = ::ftruncate(fd, static_cast<off_t>(length));
    while (result != 0 && errno == EINTR);
    if (result != 0)
        return false;
    std::lock_guard lock(faultsMutex());
    Faults& f = faults();
    if (f.diskLimited)
        f.diskFree += before - length;
    return true;
}

bool Sync(int fd) {
    if (admit() != Verdict::Proceed) {
        errno = EIO;
        return false;
    }
    // The data and the length, which is all a reader needs back after a power loss.
    return ::fdatasync(fd) == 0;
}

bool SyncDirectoryOf(const std::string& path) {
    if (admit() != Verdict::Proceed) {
        errno = EIO;
        return false;
    }
    errno = hive::SyncFolderOf(path);
    return errno == 0;
}

void InjectFullDisk(int64_t bytes) {
    std::lock_guard lock(faultsMutex());
    faults().diskLimited = true;
    faults().diskFree = bytes;
}

void InjectCrashAtCall(int64_t call) {
    std::lock_guard lock(faultsMutex());
    faults().crashAt = call;
}

void ClearFaults() {
    std::lock_guard lock(faultsMutex());
    faults() = Faults{};
}

int64_t CallCount() {
    std::lock_guard lock(faultsMutex());
    return faults().calls;
}

bool Crashed() {
    std::lock_guard lock(faultsMutex());
    return faults().crashed;
}

} // namespace store::io
