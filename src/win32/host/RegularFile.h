#pragma once
// Internal to the layer: opening a file of the machine (or of the program's folder) to
// read it. A name on a mounted disk may lead to a named pipe or a device, whose opening
// or reading waits for a writer that never comes: only regular files are opened, and
// the check is made on the opened descriptor, so a name replaced meanwhile cannot slip
// past it.

#include <cstddef>
#include <string>
#include <sys/stat.h>

namespace win32 {

class RegularFile {
public:
    // Follows a link at the end of the path, as reading a file does.
    explicit RegularFile(const std::string& hostPath);
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // The path names something that is no regular file (a folder, pipe, device, socket).
    bool notRegular() const { return notRegular_; }
    // errno of the failed open; EACCES when the path names no regular file.
    int error() const { return error_; }
    int fd() const { return fd_; }
    const struct stat& info() const { return info_; }

    // The whole file, when it holds at most `limit` bytes; false with errno set
    // otherwise (EFBIG when it is larger).
    bool readAll(std::string& out, size_t limit);

private:
    int fd_ = -1;
    int error_ = 0;
    bool notRegular_ = false;
    struct stat info_ {};
};

} // namespace win32
