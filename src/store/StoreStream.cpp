#include "store/StoreStream.h"

#include "store/StoreError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

StoreStream::StoreStream(const std::string& fileName, Mode mode)
    : fileName_(fileName), mode_(mode) {
    const int flags = mode == Mode::ReadWrite ? O_RDWR | O_CREAT : O_RDONLY;
    fd_ = ::open(fileName.c_str(), flags | O_CLOEXEC, 0666);
    if (fd_ < 0)
        throw StoreError("Cannot open the settings file \"" + fileName +
                         "\": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw StoreError("Cannot open the settings file \"" + fileName + "\": not a file");
    }
}

StoreStream::~StoreStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t StoreStream::readAt(int64_t offset, void* buffer, int64_t size) const {
    if (offset < 0 || size < 0)
        return 0;
    auto* bytes = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, bytes + done, static_cast<size_t>(size - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t StoreStream::writeAt(int64_t offset, const void* buffer, int64_t size) {
    if (offset < 0 || size < 0 || mode_ != Mode::ReadWrite)
        return 0;
    const auto* bytes = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, bytes + done, static_cast<size_t>(size - done),
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

int64_t StoreStream::size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        return 0;
    return static_cast<int64_t>(info.st_size);
}

} // namespace store
