// Feeds arbitrary bytes to the hive loader: it must return or throw HiveFileError,
// never crash, hang or read out of bounds. The loader takes a path (libhivex opens
// the file itself), so each input goes through one private temporary file.

#include "hive/HiveFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string TemporaryPath() {
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/fuzz_hive_XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        std::abort();
    ::close(fd);
    return path;
}

bool WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = TemporaryPath();
    static const bool removeAtExit = std::atexit([] { ::unlink(path.c_str()); }) == 0;
    (void)removeAtExit;
    if (!WriteWhole(path, data, size))
        std::abort(); // a broken harness must not pass for a clean run
    try {
        hive::LoadHiveFile(path);
    } catch (const hive::HiveFileError&) {
    }
    return 0;
}
