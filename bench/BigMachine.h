#pragma once
// The machine the registry benchmarks run on, generated once per process in a
// temporary folder (removed at exit). Its SOFTWARE hive holds, besides what a new
// machine has, SOFTWARE\Big\<100>\<100>\<100> (1,010,100 keys, each leaf with one
// small value). The user's hive holds Software\Wide with 100,000 subkeys of varied
// length and case, and Software\Wide70000 with 70,000: the most libhivex lists under
// one key, so that its own lookup can serve as the floor there. Software\ManyValues holds
// 100,000 values of varied type, name and case, ten of them of a megabyte each.

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct BigMachine {
    std::string folder;
    std::string softwareHive;    // host path of the SOFTWARE hive file
    std::string userHive;        // host path of the user's NTUSER.DAT
    size_t softwareKeyCount = 0; // every key of the SOFTWARE hive, its root included
    // Names to open below the wide keys and below SOFTWARE\Big: 100,000 picks each, from a
    // fixed seed, every one spelled in a case that differs at random from the stored name.
    std::vector<std::string> wideLookups;
    std::vector<std::string> wide70000Lookups;
    std::vector<std::string> bigLookups;
};

inline constexpr const char* kWideKey = "Wide";             // below HKCU\Software
inline constexpr const char* kWide70000Key = "Wide70000";   // below HKCU\Software
inline constexpr const char* kBigKey = "Big";               // below HKLM\SOFTWARE
inline constexpr const char* kManyValuesKey = "ManyValues"; // below HKCU\Software
inline constexpr int kManyValuesCount = 100000;

// Generates the machine on the first call. Throws std::runtime_error when it cannot.
const BigMachine& TheBigMachine();

// Boots the big machine read-only unless a machine is booted already.
void BootBigMachine();
// Shuts the booted machine down, if any.
void ShutdownBigMachine();

} // namespace bench
