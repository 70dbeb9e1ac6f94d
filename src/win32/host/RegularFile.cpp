#include "win32/host/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace win32 {

RegularFile::RegularFile(const std::string& hostPath) {
    // Without O_NONBLOCK the open of a pipe would wait for a writer.
    const int fd = ::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    if (::fstat(fd, &info_) != 0) {
        error_ = errno;
        ::close(fd);
        return;
    }
    if (!S_ISREG(info_.st_mode)) {
        notRegular_ = true;
        error_ = EACCES;
        ::close(fd);
        return;
    }
    fd_ = fd;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RegularFile::readAll(std::string& out, size_t limit) {
    out.clear();
    if (fd_ < 0) {
        errno = error_;
        return false;
    }
    if (info_.st_size > 0 && size_t(info_.st_size) > limit) {
        errno = EFBIG;
        return false;
    }
    // The file may grow while it is read: the limit holds for what is read too.
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (size_t(got) > limit - out.size()) {
            out.clear();
            errno = EFBIG;
            return false;
        }
        out.append(buffer, size_t(got));
    }
}

} // namespace win32
