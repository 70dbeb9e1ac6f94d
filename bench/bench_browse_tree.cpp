// The browse-key window on a key with 100,000 subkeys (HKCU\Software\Wide of the big
// machine): expanding it reads, sorts and shows the level, and the window paints the
// rows in view, at the top and at the end of the level. Each must take well under a
// second, so that the window never freezes for longer.

#include "BigMachine.h"

#include "ui/RegistryTreeModel.h"
#include "ui/TfrmBrowsekey.h"

#include "OffscreenApplication.h"

#include <QApplication>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

// A browse window with HKCU\Software open and the wide key in view, not yet expanded.
struct WideKeyWindow {
    std::unique_ptr<ui::TfrmBrowsekey> window = std::make_unique<ui::TfrmBrowsekey>();
    QModelIndex wide;

    WideKeyWindow() {
        auto& model = *window->Model();
        window->show();
        const QModelIndex hkcu = model.FindChild(model.TopIndex(), "HKEY_CURRENT_USER");
        window->Tree()->expand(hkcu);
        const QModelIndex software = model.FindChild(hkcu, "Software");
        window->Tree()->expand(software);
        wide = model.FindChild(software, bench::kWideKey);
        window->Tree()->scrollTo(wide);
        window->repaint();
    }
};

void BM_BrowseTreeExpandWideKey(benchmark::State& state) {
    if (!bench::PrepareWindowOnBigMachine(state))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        WideKeyWindow shown;
        state.ResumeTiming();
        shown.window->Tree()->expand(shown.wide);
        benchmark::DoNotOptimize(shown.window->grab());
        QApplication::processEvents();
        state.PauseTiming();
        if (shown.window->Model()->rowCount(shown.wide) != 100000)
            state.SkipWithError("the wide key did not show 100,000 subkeys");
        shown.window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BrowseTreeExpandWideKey)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_BrowseTreeScrollToTheEndOfTheWideKey(benchmark::State& state) {
    if (!bench::PrepareWindowOnBigMachine(state))
        return;
    WideKeyWindow shown;
    shown.window->Tree()->expand(shown.wide);
    shown.window->repaint();
    auto& model = *shown.window->Model();
    const int rows = model.rowCount(shown.wide);
    int row = rows - 1;
    for (auto _ : state) {
        // Each time rows not painted before, so their has-subkeys test runs.
        shown.window->Tree()->scrollTo(model.index(row, 0, shown.wide));
        benchmark::DoNotOptimize(shown.window->Tree()->viewport()->grab());
        row = row > 100 ? row - 100 : rows - 1;
    }
}
BENCHMARK(BM_BrowseTreeScrollToTheEndOfTheWideKey)->Unit(benchmark::kMillisecond);

} // namespace
