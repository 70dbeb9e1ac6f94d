// Enumerating every key of a hive of a million keys: a depth-first walk with
// RegEnumKeyExA + RegOpenKeyExA over the mounted SOFTWARE hive, against a plain
// libhivex walk of the same file. Our mount reads the whole hive eagerly, so the
// mount (BootMachine + ShutdownMachine) is measured alone and with the walk.

#include "BigMachine.h"
#include "HivexHandle.h"
#include "KeyWalks.h"

#include "win32/machine/Machine.h"
#include "win32/registry/Registry.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// Walks HKLM\SOFTWARE of the booted machine; false (with the state skipped) on error.
bool walkSoftware(benchmark::State& state, const bench::BigMachine& machine) {
    HKEY software = nullptr;
    if (const LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software);
        rc != ERROR_SUCCESS) {
        state.SkipWithError(("cannot open HKLM\\SOFTWARE: error " + std::to_string(rc)).c_str());
        return false;
    }
    size_t keys = 0;
    std::string error;
    try {
        keys = bench::WalkWithRegistry(software);
    } catch (const std::exception& e) {
        error = e.what();
    }
    RegCloseKey(software);
    if (error.empty() && keys != machine.softwareKeyCount)
        error = "walked " + std::to_string(keys) + " keys, the hive has " +
                std::to_string(machine.softwareKeyCount);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return false;
    }
    return true;
}

enum class Mount { Booted, NotBooted, AsItIs };

// The generated machine, booted or not as the benchmark needs; null (with the state
// skipped) when it cannot be made.
const bench::BigMachine* prepare(benchmark::State& state, Mount mount) {
    try {
        const bench::BigMachine& machine = bench::TheBigMachine();
        if (mount == Mount::Booted)
            bench::BootBigMachine();
        else if (mount == Mount::NotBooted)
            bench::ShutdownBigMachine();
        return &machine;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

void finish(benchmark::State& state, const bench::BigMachine& machine) {
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(machine.softwareKeyCount));
    state.counters["keys"] = double(machine.softwareKeyCount);
    state.counters["per_key"] =
        benchmark::Counter(double(state.iterations()) * double(machine.softwareKeyCount),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void WalkWithRegistry(benchmark::State& state) {
    const bench::BigMachine* machine = prepare(state, Mount::Booted);
    if (!machine)
        return;
    for (auto _ : state)
        if (!walkSoftware(state, *machine))
            break;
    finish(state, *machine);
}

void WalkWithLibhivex(benchmark::State& state) {
    const bench::BigMachine* machine = prepare(state, Mount::AsItIs);
    if (!machine)
        return;
    for (auto _ : state) {
        try {
            const size_t keys = bench::WalkWithLibhivex(machine->softwareHive);
            if (keys != machine->softwareKeyCount) {
                state.SkipWithError(("libhivex walked " + std::to_string(keys) + " keys").c_str());
                break;
            }
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    finish(state, *machine);
}

// hivex_open alone: the part of the libhivex walk that reads and checks the file.
void OpenWithLibhivex(benchmark::State& state) {
    const bench::BigMachine* machine = prepare(state, Mount::AsItIs);
    if (!machine)
        return;
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(bench::OpenHivex(machine->softwareHive));
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
}

// BootMachine + ShutdownMachine with nothing changed, optionally walking in between.
void mountLoop(benchmark::State& state, bool walk) {
    const bench::BigMachine* machine = prepare(state, Mount::NotBooted);
    if (!machine)
        return;
    for (auto _ : state) {
        try {
            bench::BootBigMachine();
            const bool walked = !walk || walkSoftware(state, *machine);
            bench::ShutdownBigMachine();
            if (!walked)
                break;
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            break;
        }
    }
    finish(state, *machine);
}

void MountWithRegistry(benchmark::State& state) {
    mountLoop(state, false);
}
void MountAndWalkWithRegistry(benchmark::State& state) {
    mountLoop(state, true);
}

} // namespace

// Each run takes long enough to time once; repeat it for the spread.
void onceRepeated(benchmark::internal::Benchmark* b) {
    b->Iterations(1)->Repetitions(5)->DisplayAggregatesOnly(true)->Unit(benchmark::kMillisecond);
}

BENCHMARK(WalkWithRegistry)->Apply(onceRepeated);
BENCHMARK(WalkWithLibhivex)->Apply(onceRepeated);
BENCHMARK(OpenWithLibhivex)->Apply(onceRepeated);
BENCHMARK(MountWithRegistry)->Apply(onceRepeated);
BENCHMARK(MountAndWalkWithRegistry)->Apply(onceRepeated);
