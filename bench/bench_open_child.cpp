// Opening one child among many siblings must not be a linear search. Random children
// (fixed seed, case shuffled) of SOFTWARE\Wide (70,000 subkeys, libhivex's limit) are
// opened with RegOpenKeyExA + RegCloseKey; the same over SOFTWARE\Big (100 subkeys)
// shows whether the cost grows with the number of siblings. The floor is libhivex's
// own lookup, hivex_node_get_child from the parent node, on the same hive file.

#include "BigMachine.h"
#include "HivexHandle.h"

#include "win32/Registry.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace {

const std::vector<std::string>& lookupsBelow(const bench::BigMachine& machine,
                                             const std::string& parent) {
    return parent == bench::kWideKey ? machine.wideLookups : machine.bigLookups;
}

// Opens per second and CPU time per open.
void countOpens(benchmark::State& state, size_t opensPerIteration) {
    const int64_t opens = int64_t(state.iterations()) * int64_t(opensPerIteration);
    state.SetItemsProcessed(opens);
    state.counters["per_open"] = benchmark::Counter(double(opens), benchmark::Counter::kIsRate |
                                                                       benchmark::Counter::kInvert);
}

void OpenChildWithRegistry(benchmark::State& state, std::string parent) {
    HKEY parentKey = nullptr;
    const std::vector<std::string>* lookups = nullptr;
    try {
        lookups = &lookupsBelow(bench::TheBigMachine(), parent);
        bench::BootBigMachine();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\" + parent).c_str(), 0, KEY_READ,
                      &parentKey) != ERROR_SUCCESS) {
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
void OpenChildWithLibhivex(benchmark::State& state, std::string parent) {
    const std::vector<std::string>* lookups = nullptr;
    bench::HivexHandle hive;
    try {
        const bench::BigMachine& machine = bench::TheBigMachine();
        lookups = &lookupsBelow(machine, parent);
        hive = bench::OpenHivex(machine.softwareHive);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const hive_node_h parentNode =
        hivex_node_get_child(hive.get(), hivex_root(hive.get()), parent.c_str());
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

BENCHMARK_CAPTURE(OpenChildWithRegistry, wide_70000_siblings, std::string(bench::kWideKey))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithRegistry, big_100_siblings, std::string(bench::kBigKey))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithLibhivex, wide_70000_siblings, std::string(bench::kWideKey))
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenChildWithLibhivex, big_100_siblings, std::string(bench::kBigKey))
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
