#pragma once
// The machine the whole-scan benchmark runs on, generated once per process in a
// temporary folder (removed at exit): a new machine whose class store holds over
// 300,000 keys (20,000 classes, 20,000 interfaces with proxy/stub references, 5,000 type
// libraries, program ids, extensions with their file classes), 5,000 services, 2,000
// uninstall entries, thousands of application paths, run commands, fonts, help files
// and shared DLLs, the software keys of 500 vendors and 200 start-menu folders; with the
// files they name. About one reference in a hundred points nowhere.

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct ScanBenchMachine {
    std::string folder;
    std::vector<std::string> hiveFiles; // host paths of the hives the scan reads
    // Host paths of the files and folders the scan looks for, present or not.
    std::vector<std::string> checkedPaths;
    size_t classKeyCount = 0; // keys below SOFTWARE\Classes
    size_t keyCount = 0;      // every key of the three hives, their roots included
};

// Generates the machine in `machine.folder` (an empty folder that exists), its counts of
// each kind of entry scaled by `scale` (1 gives the machine described above).
void GenerateScanBenchMachine(ScanBenchMachine& machine, double scale);

// Generates the machine on the first call, in a temporary folder, or in the new folder
// HIVEWARDEN_SCAN_BENCH_FOLDER names (kept then). Throws std::runtime_error when it cannot.
const ScanBenchMachine& TheScanBenchMachine();

} // namespace bench
