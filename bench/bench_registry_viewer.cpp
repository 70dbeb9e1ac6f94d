// The registry viewer on a key with 100,000 values (HKCU\Software\ManyValues of the big
// machine, ten of them of a megabyte): selecting the key reads and sorts its values and
// the window paints the rows in view; selecting the last value by name finds and shows
// it. Each must take well under a second, so that the window never freezes for longer.

#include "BigMachine.h"
#include "OffscreenApplication.h"

#include "ui/RegistryValueModel.h"
#include "ui/RegistryViewer.h"

#include <QApplication>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <string>

namespace {

const std::string kManyValues =
    std::string("HKEY_CURRENT_USER\\Software\\") + bench::kManyValuesKey;

void BM_RegistryViewerSelectKeyWithManyValues(benchmark::State& state) {
    if (!bench::PrepareWindowOnBigMachine(state))
        return;
    ui::RegistryViewer viewer;
    viewer.show();
    for (auto _ : state) {
        state.PauseTiming();
        viewer.SelectKeyLocation("HKEY_CURRENT_USER\\Software");
        viewer.repaint();
        state.ResumeTiming();
        viewer.SelectKeyLocation(kManyValues);
        benchmark::DoNotOptimize(viewer.grab());
        QApplication::processEvents();
        state.PauseTiming();
        // The values and the default value, not set.
        if (viewer.ValueModel()->rowCount() != bench::kManyValuesCount + 1)
            state.SkipWithError("the key did not show its 100,000 values");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RegistryViewerSelectKeyWithManyValues)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_RegistryViewerSelectTheLastOfManyValues(benchmark::State& state) {
    if (!bench::PrepareWindowOnBigMachine(state))
        return;
    ui::RegistryViewer viewer;
    viewer.show();
    viewer.SelectKeyLocation(kManyValues);
    const auto& values = *viewer.ValueModel();
    const std::string last = values.Name(values.rowCount() - 1);
    for (auto _ : state) {
        state.PauseTiming();
        viewer.SelectValue("");
        viewer.repaint();
        state.ResumeTiming();
        if (!viewer.SelectValue(last))
            state.SkipWithError("the last value was not found");
        benchmark::DoNotOptimize(viewer.ValueList()->viewport()->grab());
    }
}
BENCHMARK(BM_RegistryViewerSelectTheLastOfManyValues)->Unit(benchmark::kMillisecond);

} // namespace
