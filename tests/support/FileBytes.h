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

// The little-endian 32-bit field at `at` of a file.
inline uint32_t Read32At(const std::string& path, uint64_t at) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(at));
    uint8_t raw[4] = {};
    in.read(reinterpret_cast<char*>(raw), 4);
    return uint32_t(raw[0]) | uint32_t(raw[1]) << 8 | uint32_t(raw[2]) << 16 |
           uint32_t(raw[3]) << 24;
}

// The four bytes of a little-endian 32-bit field.
inline std::vector<uint8_t> Le32(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

inline void Overwrite(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), off_t(at)), ssize_t(bytes.size()));
    ::close(fd);
}

} // namespace testing_support
