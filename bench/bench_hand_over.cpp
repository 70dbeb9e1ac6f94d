// What one problem costs the scan in hand-overs alone: a scanner that only adds records,
// each handed to the main thread's Qt event loop and waited for, as the command-line
// program and the windows run the engine. Wall time per record is what a real scan pays
// on top of finding the problem.

#include "OffscreenApplication.h"
#include "app/QtUiDispatcher.h"
#include "scan/TFixRegistry.h"

#include <QEventLoop>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace {

void BM_ScanHandOverOfRecords(benchmark::State& state) {
    bench::OffscreenApplication();
    const int records = int(state.range(0));
    double total = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        app::QtUiDispatcher ui;
        TFixRegistry engine(ui);
        engine.SetScanner(riSharedDlls, [records](TFixRegistry& e) {
            for (int i = 0; i < records; ++i) {
                e.AddInvalidData(riSharedDlls, "HKEY_LOCAL_MACHINE\\K\\" + std::to_string(i),
                                 "File not found", "C:\\x.dll", "v");
                e.RaiseFound(riSharedDlls);
            }
        });
        // The command-line program's receiver: one print task per record found.
        engine.OnFound = [&ui](TFixRegistry*, TRepairItem) { ui.Post([] {}); };
        engine.ScanItems = {riSharedDlls};
        QEventLoop loop;
        engine.OnFinished = [&loop](TFixRegistry*) { loop.quit(); };
        engine.Start();
        loop.exec();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        state.SetIterationTime(seconds);
        total += seconds;
        if (engine.InvalidDataList().size() != size_t(records))
            state.SkipWithError("records were lost");
    }
    state.counters["us_per_record"] =
        total / double(records) / double(std::max<int64_t>(state.iterations(), 1)) * 1e6;
}
BENCHMARK(BM_ScanHandOverOfRecords)->Arg(2000)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace
