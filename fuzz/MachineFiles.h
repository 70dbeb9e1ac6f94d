#pragma once
// What the fuzz targets that boot a machine do with its files: whole files in and out, and
// which of them are hives.

#include "hive/HiveFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzz_support {

inline hive::Bytes ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return hive::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWhole(const std::string& path, const hive::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        std::abort(); // a broken harness must not pass for a clean run
}

inline bool IsHiveFile(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return name == "SYSTEM" || name == "SOFTWARE" || name == "SAM" || name == "SECURITY" ||
           name == "DEFAULT" || name == "NTUSER.DAT" || name == "UsrClass.dat";
}

} // namespace fuzz_support
