#pragma once
// The store file as positioned reads and writes. Opened for reading and writing without
// excluding other openers; reads and writes at an offset leave no file position behind.

#include <cstdint>
#include <string>

namespace store {

class StoreStream {
public:
    enum class Mode { ReadWrite, ReadOnly };

    // ReadWrite creates a missing file; ReadOnly never does. Throws StoreError when the
    // file cannot be opened.
    StoreStream(const std::string& fileName, Mode mode);
    ~StoreStream();
    StoreStream(const StoreStream&) = delete;
    StoreStream& operator=(const StoreStream&) = delete;

    // The number of bytes transferred; fewer than asked at the end of the file or on error.
    int64_t readAt(int64_t offset, void* buffer, int64_t size) const;
    int64_t writeAt(int64_t offset, const void* buffer, int64_t size);
    int64_t size() const;
    bool writable() const { return mode_ == Mode::ReadWrite; }
    const std::string& fileName() const { return fileName_; }

private:
    std::string fileName_;
    Mode mode_;
    int fd_ = -1;
};

} // namespace store
