// Imports arbitrary bytes as a .reg file into a booted machine, writes the changed hives
// and reads them back. The import must report or throw std::runtime_error, never crash,
// hang or touch memory it should not; whatever it leaves in the registry must be written
// as hives that load again, and the machine must never lose its hives.
//
// Each input starts from the same new machine: its hive files are put back before the
// machine is booted.

#include "MachineFiles.h"
#include "hive/HiveFile.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/RegImport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

struct PristineMachine {
    std::string folder;
    std::map<std::string, hive::Bytes> hives; // host path -> bytes of the new machine
};

using fuzz_support::IsHiveFile;
using fuzz_support::ReadWhole;
using fuzz_support::WriteWhole;

const PristineMachine& Pristine() {
    static const PristineMachine machine = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_reg_import_XXXXXX";
        if (!::mkdtemp(folder.data()))
            std::abort();
        // Not destroyed at exit, so the handler below still finds it.
        static const std::string* const root = new std::string(folder);
        std::atexit([] { fs::remove_all(*root); });
        PristineMachine out;
        out.folder = folder + "/machine";
        win32::CreateMachine(out.folder, {});
        for (const auto& entry : fs::recursive_directory_iterator(out.folder))
            if (entry.is_regular_file() && IsHiveFile(entry.path()))
                out.hives[entry.path().string()] = ReadWhole(entry.path().string());
        if (out.hives.size() != 7)
            std::abort();
        return out;
    }();
    return machine;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const PristineMachine& machine = Pristine();
    for (const auto& [path, bytes] : machine.hives)
        WriteWhole(path, bytes);
    win32::BootOptions options;
    options.lazyFlushMilliseconds = 1 << 30; // written below, not in the background
    win32::BootMachine(machine.folder, options);
    try {
        win32::RegImportData(hive::Bytes(data, data + size));
    } catch (const std::runtime_error&) {
    }
    try {
        win32::ShutdownMachine(); // writes the changed hives
    } catch (const std::runtime_error&) {
        // A tree the format cannot hold is refused; the file on disk stays the old one.
    }
    for (const auto& [path, bytes] : machine.hives)
        hive::LoadHiveFile(path); // throws, and so fails the run, when a hive is lost
    return 0;
}
