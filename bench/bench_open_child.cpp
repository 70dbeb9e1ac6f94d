// Opening one child among many siblings must not be a linear search. 100,000 random
// children (fixed seed, case shuffled) of HKCU\Software\Wide (100,000 subkeys) are
// opened with RegOpenKeyExA + RegCloseKey; the same over Software\Wide70000 and
// SOFTWARE\Big (100 subkeys) shows whether the cost grows with the number of siblings.
// The floor is libhivex's own lookup, hivex_node_get_child from the parent node, on the
// same hive files; libhivex lists at most 70,000 subkeys under a key, so its floor for
// the wide case is Wide70000.

#include "BigMachine.h"
#include "HivexHandle.h"

#include "win32/registry/Registry.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace {

struct Parent {
    HKEY root;
    const char* path;   // below the root
    const char* inHive; // the same key in its hive file, for libhivex
    bool inUserHive;
};

const Parent kWide{HKEY_CURRENT_USER, "Software\\Wide", "Software\\Wide", true};
const Parent kWide70000{HKEY_CURRENT_USER, "Software\\Wide70000", "Software\\Wide70000", true};
const Parent kBig{HKEY_LOCAL_MACHINE, "SOFTWARE\\Big", "Big", false};

const std::vector<std::string>& lookupsBelow(const bench::BigMachine& machine,
                                             const Parent& parent) {
    if (&parent == &kWide)
        return machine.wideLookups;
    return &parent == &kWide70000 ? machine.wide70000Lookups : machine.bigLookups;
}

// Opens per second and CPU time per open.
void countOpens(benchmark::State& state, size_t opensPerIteration) {
    const int64_t opens = int64_t(state.iterations()) * int64_t(opensPerIteration);
    state.SetItemsProcessed(opens);
    state.counters["per_open"] = benchmark::Counter(double(opens), benchmark::Counter::kIsRate |
                                                                       benchmark::Counter::kInvert);
}

void OpenChildWithRegistry(benchmark::State& state, const Parent* parent) {
    HKEY parentKey = nullptr;
    const std::vector<std::string>* lookups = nullptr;
    try {
        lookups = &lookupsBelow(bench::TheBigMachine(), *parent);
        bench::BootBigMachine();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    if (RegOpenKeyExA(parent->root, parent->path, 0, KEY_READ, &parentKey) != ERROR_SUCCESS) {
        state.SkipWithError("cannot open the parent key");
        return;
    }
    // The first lookup below a key builds its name index; time the opens after it.
    HKEY warm = nullptr;
    if (RegOpenKeyExA(parentKey, lookups->front().c_str(), 0, KEY_READ, &warm) == ERROR_SUCCESS)
        RegCloseKey(warm);
    for (auto _ : state) {
        for (const std::string& name : *lookups) {
            HKEY child = nullptr;
            if (RegOpenKeyExA(parentKey, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) {
                state.SkipWithError(("RegOpenKeyExA fails for " + name).c_str());
                break;
            }
            RegCloseKey(child);
        }
    }
    RegCloseKey(parentKey);
    countOpens(state, lookups->size());
}

// libhivex's lookup takes time in proportion to the number of siblings, so only the
// first state.range(0) names are looked up; compare the time per open.
void OpenChildWithLibhivex(benchmark::State& state, const Parent* parent) {
    const std::vector<std::string>* lookups = nullptr;
    bench::HivexHandle hive;
    try {
        const bench::BigMachine& machine = bench::TheBigMachine();
        lookups = &lookupsBelow(machine, *parent);
        hive = bench::OpenHivex(parent->inUserHive ? machine.userHive : machine.softwareHive);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    hive_node_h parentNode = hivex_root(hive.get());
    const std::string inHive = parent->inHive;
    for (size_t start = 0; parentNode != 0 && start <= inHive.size();) {
        const size_t end = std::min(inHive.find('\\', start), inHive.size());
        parentNode =
            hivex_node_get_child(hive.get(), parentNode, inHive.substr(start, end - start).c_str());
        start = end + 1;
    }
    if (parentNode == 0) {
        state.SkipWithError("libhivex cannot find the parent key");
        return;
    }
    const size_t count = std::min(size_t(state.range(0)), lookups->size());
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i) {
            const hive_node_h child =
                hivex_node_get_child(hive.get(), parentNode, (*lookups)[i].c_str());
            if (child == 0) {
                state.SkipWithError(("hivex_node_get_child fails for " + (*lookups)[i]).c_str());
                break;
            }
            benchmark::DoNotOptimize(child);
        }
    }
    countOpens(state, count);
}

} // namespace

BENCHMARK_CAPTURE(OpenChildWithRegistry, wide_100000_siblings, &kWide)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithRegistry, wide_70000_siblings, &kWide70000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithRegistry, big_100_siblings, &kBig)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithLibhivex, wide_70000_siblings, &kWide70000)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithLibhivex, big_100_siblings, &kBig)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
