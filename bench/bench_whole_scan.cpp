// A whole scan of all twelve sections over a large generated machine, as a user waits
// for it (mounting the machine included), against its floor: plain libhivex reading
// every key and value of the same hive files, and one stat of each file the scan
// looks for.

#include "HivexHandle.h"
#include "ScanBenchMachine.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"
#include "support/ScanHarness.h"
#include "win32/machine/Machine.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

// Seconds spent mounting, and in each section, summed over the iterations.
double g_mountSeconds = 0;
std::array<double, kRepairItemCount> g_sectionSeconds{};

// The machine is shut down outside the timed part: the user has the result by then.
size_t scanOnce(const bench::ScanBenchMachine& machine, benchmark::State& state) {
    const auto started = Clock::now();
    win32::BootOptions options;
    options.readOnly = true;
    win32::BootMachine(machine.folder, options);
    InitOSInfo();
    auto sectionStart = Clock::now();
    g_mountSeconds += std::chrono::duration<double>(sectionStart - started).count();
    int section = -1;
    const auto endSection = [&] {
        const auto now = Clock::now();
        if (section >= 0)
            g_sectionSeconds[section] += std::chrono::duration<double>(now - sectionStart).count();
        sectionStart = now;
    };
    size_t found = 0;
    {
        testing_support::TestUiLoop ui;
        TFixRegistry engine(ui);
        bool finished = false;
        engine.ScanItems = TRepairItems::All();
        engine.OnStatus = [&](TFixRegistry*, TRepairItem item, const std::string&) {
            endSection();
            section = item;
        };
        engine.OnFinished = [&](TFixRegistry*) {
            endSection();
            finished = true;
        };
        engine.Start();
        if (!ui.RunUntil([&] { return finished; }))
            throw std::runtime_error("the scan did not end");
        if (!engine.LastScanError().empty())
            throw std::runtime_error(engine.LastScanError());
        found = engine.InvalidDataList().size();
    }
    state.PauseTiming();
    win32::ShutdownMachine();
    state.ResumeTiming();
    return found;
}

void BM_WholeScan(benchmark::State& state) {
    const auto& machine = bench::TheScanBenchMachine();
    size_t found = 0;
    g_mountSeconds = 0;
    g_sectionSeconds.fill(0);
    for (auto _ : state)
        found = scanOnce(machine, state);
    state.counters["problems"] = double(found);
    const double n = double(state.iterations());
    state.counters["mount_ms"] = g_mountSeconds * 1000 / n;
    for (int i = 0; i < kRepairItemCount; ++i)
        state.counters["s" + std::to_string(i) + "_ms"] = g_sectionSeconds[i] * 1000 / n;
    state.counters["classKeys"] = double(machine.classKeyCount);
}

size_t walkNode(hive_h* h, hive_node_h node) {
    size_t values = 0;
    free(hivex_node_name(h, node));
    if (hive_value_h* list = hivex_node_values(h, node)) {
        for (hive_value_h* v = list; *v; ++v) {
            ++values;
            free(hivex_value_key(h, *v));
            hive_type type;
            size_t length;
            if (hivex_value_type(h, *v, &type, &length) == 0 &&
                (type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ))
                free(hivex_value_string(h, *v));
        }
        free(list);
    }
    if (hive_node_h* children = hivex_node_children(h, node)) {
        for (hive_node_h* c = children; *c; ++c)
            values += walkNode(h, *c);
        free(children);
    }
    return values;
}

void BM_WholeScanFloor(benchmark::State& state) {
    const auto& machine = bench::TheScanBenchMachine();
    size_t values = 0, present = 0;
    for (auto _ : state) {
        values = present = 0;
        for (const std::string& file : machine.hiveFiles) {
            bench::HivexHandle h = bench::OpenHivex(file);
            values += walkNode(h.get(), hivex_root(h.get()));
        }
        struct stat info;
        for (const std::string& path : machine.checkedPaths)
            present += ::stat(path.c_str(), &info) == 0;
    }
    state.counters["values"] = double(values);
    state.counters["filesPresent"] = double(present);
}

BENCHMARK(BM_WholeScanFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeScan)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
