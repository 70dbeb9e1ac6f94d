#pragma once
// Files the tests write whole, and change in place as another program writing them would.

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testing_support {

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void Overwrite(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), off_t(at)), ssize_t(bytes.size()));
    ::close(fd);
}

} // namespace testing_support
