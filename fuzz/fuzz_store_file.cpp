// Opens arbitrary bytes as a settings store and works on it: opening, reading, listing
// and changing must succeed or throw StoreError, never crash, hang or touch memory
// outside the file's records. The first bytes of the input choose the operations.

#include "store/StoreError.h"
#include "store/fxRegistryFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string temporaryFile() {
    static const std::string path = "/tmp/fuzz_store_file." + std::to_string(::getpid());
    return path;
}

void walk(TfxRegFile& store, const std::string& path, int depth) {
    if (depth > 8 || !store.OpenKey(path, false))
        return;
    std::vector<std::string> values, keys;
    store.GetValueNames(values);
    for (const std::string& name : values)
        store.ReadString(name);
    store.GetKeyNames(keys);
    for (const std::string& name : keys)
        walk(store, path + "\\" + name, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t operations = data[0];
    const std::string path = temporaryFile();
    // Each input starts without the journal an earlier one left.
    std::remove((path + "-journal").c_str());
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, file);
        std::fclose(file);
    } else {
        return 0;
    }
    try {
        TfxRegFile store(path);
        walk(store, "\\", 0);
        if (operations & 1) {
            store.OpenKey("\\Options", true);
            store.WriteString("LastScan", "December 08,2026 9:5 pm");
        }
        if (operations & 2) {
            store.OpenKey("\\Restores\\20261208210500", true);
            store.WriteInteger("Action", 1);
            store.WriteBool("Action", true);
        }
        if (operations & 4)
            store.DeleteKey("\\Restores");
        if (operations & 8) {
            store.CloseKey();
            store.DeleteValue("LastScan");
        }
        walk(store, "\\", 0);
    } catch (const StoreError&) {
    }
    return 0;
}
