// Feeds arbitrary bytes to the .reg parser: it must return or throw std::runtime_error,
// never crash, hang or read out of bounds.

#include "win32/base/CodePage.h"
#include "win32/registry/RegFileParser.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const win32::CodePage ansi(1252);
    const hive::Bytes file(data, data + size);
    try {
        win32::ParseRegFile(file, ansi);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
