// The Registry Wizard scanning a large machine, offscreen, as a user watches it: the
// longest time the window's thread goes without processing events while the scan runs,
// and the time from the end of the scan to the Result page filled and painted. Two
// machines: the generated scan machine (300,000 class keys, about 1,800 problems) and
// a machine whose scan finds 10,000 problems.

#include "ScanBenchMachine.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"
#include "store/ProgramFolder.h"
#include "ui/TfrmRepair.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/RegImport.h"

#include "OffscreenApplication.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>

namespace {

// The other benchmarks leave their machine booted; one machine is booted at a time.
void shutdownAnyMachine() {
    if (win32::IsMachineBooted())
        win32::ShutdownMachine();
}

// A new machine whose shared DLL list names 10,000 files that are not there.
const std::string& TenThousandProblemsMachine() {
    static QTemporaryDir dir;
    static std::string folder;
    if (!folder.empty())
        return folder;
    folder = dir.filePath("machine").toStdString();
    win32::CreateMachine(folder, {});
    shutdownAnyMachine();
    const std::string reg = dir.filePath("shared.reg").toStdString();
    {
        std::ofstream text(reg, std::ios::binary);
        text << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                "\\SharedDLLs]\r\n";
        for (int n = 0; n < 10000; ++n)
            text << "\"C:\\\\Program Files\\\\Gone " << n / 100 << "\\\\lib" << n
                 << ".dll\"=dword:00000001\r\n";
    }
    win32::BootMachine(folder);
    win32::RegImportFile(reg);
    win32::ShutdownMachine();
    return folder;
}

struct WizardRun {
    double longestStallMs = 0;
    double scanMs = 0;
    double resultMs = 0; // the end of the scan to the Result page filled and painted
    size_t problems = 0;
};

WizardRun runWizard(const std::string& machine) {
    bench::OffscreenApplication();
    shutdownAnyMachine();
    win32::BootOptions options;
    options.readOnly = true;
    win32::BootMachine(machine, options);
    InitOSInfo();
    QTemporaryDir programFolder;
    SetProgramFolder(programFolder.path().toStdString());
    WizardRun run;
    {
        ui::TfrmRepair wizard;
        wizard.show();
        auto* sections = wizard.findChild<QTableWidget*>("gdItems");
        for (int row = 0; row < sections->rowCount(); ++row)
            sections->item(row, 0)->setCheckState(Qt::Checked);
        QApplication::processEvents();

        QElapsedTimer clock;
        qint64 scanEnded = -1, resultShown = -1, lastTick = -1;
        // A timer of no interval fires on every pass of the event loop: the gaps between
        // its firings are the times the thread was busy elsewhere.
        QTimer tick;
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            if (lastTick >= 0 && scanEnded < 0)
                run.longestStallMs = std::max(run.longestStallMs, (now - lastTick) / 1e6);
            lastTick = now;
        });
        TFixRegistry& engine = wizard.Engine();
        auto finished = engine.OnFinished;
        engine.OnFinished = [&](TFixRegistry* sender) {
            scanEnded = clock.nsecsElapsed();
            finished(sender);
            wizard.findChild<QListView*>("gdResult")->viewport()->repaint();
            wizard.repaint();
            resultShown = clock.nsecsElapsed();
        };
        clock.start();
        tick.start();
        wizard.actNext->trigger();
        wizard.actNext->trigger();
        while (resultShown < 0)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick.stop();
        run.scanMs = scanEnded / 1e6;
        run.resultMs = (resultShown - scanEnded) / 1e6;
        run.problems = engine.InvalidDataList().size();
    }
    SetProgramFolder("");
    win32::ShutdownMachine();
    return run;
}

void report(benchmark::State& state, const std::string& machine) {
    double longestStall = 0, resultMs = 0, scanMs = 0;
    size_t problems = 0;
    for (auto _ : state) {
        const WizardRun run = runWizard(machine);
        longestStall = std::max(longestStall, run.longestStallMs);
        resultMs = std::max(resultMs, run.resultMs);
        scanMs += run.scanMs;
        problems = run.problems;
    }
    state.counters["longest_stall_ms"] = longestStall;
    state.counters["scan_end_to_result_ms"] = resultMs;
    state.counters["scan_ms"] = scanMs / double(state.iterations());
    state.counters["problems"] = double(problems);
}

void BM_WizardScanBigMachine(benchmark::State& state) {
    report(state, bench::TheScanBenchMachine().folder);
}
BENCHMARK(BM_WizardScanBigMachine)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_WizardTenThousandProblems(benchmark::State& state) {
    report(state, TenThousandProblemsMachine());
}
BENCHMARK(BM_WizardTenThousandProblems)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
