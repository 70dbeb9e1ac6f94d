// The windowed program on a large machine, offscreen, as a user watches it: the longest
// time the window's thread goes without processing events (at most 50 ms) while
//  - the Registry Wizard scans, and the time from the end of the scan to the Result page
//    filled and painted, on the generated scan machine (300,000 class keys, about 1,800
//    problems) and on a machine whose scan finds 10,000 problems;
//  - the program starts and mounts the generated machine, until the home window is up;
//  - the Result page repairs every problem found there, the hives written at its end;
//  - the Backup page restores the undo file of that repair.

#include "ScanBenchMachine.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"
#include "store/ProgramFolder.h"
#include "ui/MessageBox.h"
#include "ui/ProgramStart.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmRepair.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"
#include "win32/registry/RegImport.h"

#include "OffscreenApplication.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <ctime>
#include <filesystem>
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

// The longest time the window's thread goes without a turn of its event loop between
// Start and Stop: the gaps between turns, and those from Start to the first turn and
// from the last turn to Stop (work that never lets the loop turn is one long gap). Beside
// it, the processor time the thread spent in its longest busy gap: on a loaded machine a
// gap may be the thread waiting for a processor rather than working.
class StallMeter {
public:
    StallMeter() {
        tick_.setInterval(0);
        QObject::connect(&tick_, &QTimer::timeout, [this] { turn(); });
        clock_.start();
    }
    void Start() {
        last_ = clock_.nsecsElapsed();
        lastCpu_ = threadCpuNs();
        tick_.start();
    }
    void Stop() {
        turn();
        tick_.stop();
        last_ = -1;
    }
    double longestMs() const { return longestMs_; }
    double longestBusyMs() const { return longestBusyMs_; }

private:
    static qint64 threadCpuNs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    void turn() {
        if (last_ < 0)
            return;
        const qint64 now = clock_.nsecsElapsed(), cpu = threadCpuNs();
        longestMs_ = std::max(longestMs_, (now - last_) / 1e6);
        longestBusyMs_ = std::max(longestBusyMs_, (cpu - lastCpu_) / 1e6);
        last_ = now;
        lastCpu_ = cpu;
    }

    QElapsedTimer clock_;
    QTimer tick_;
    qint64 last_ = -1, lastCpu_ = 0;
    double longestMs_ = 0, longestBusyMs_ = 0;
};

bool homeWindowShown() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<ui::TfrmMain*>(window) && window->isVisible())
            return true;
    return false;
}

// The program started on the generated machine: from its start to the home window up.
void BM_ProgramStartBigMachine(benchmark::State& state) {
    const std::string machine = bench::TheScanBenchMachine().folder;
    bench::OffscreenApplication();
    shutdownAnyMachine();
    QTemporaryDir programFolder;
    qputenv("HIVEWARDEN_PROGRAM_FOLDER", programFolder.path().toLocal8Bit());
    ui::SetMessageBoxAnswerer([](const ui::MessageBoxRequest&) { return QMessageBox::Ok; });
    double longestStall = 0, longestBusy = 0, startMs = 0;
    for (auto _ : state) {
        bool shown = false;
        QElapsedTimer clock;
        StallMeter meter;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!shown && homeWindowShown()) {
                shown = true;
                meter.Stop();
                startMs = std::max(startMs, clock.nsecsElapsed() / 1e6);
                for (QWidget* window : QApplication::topLevelWidgets())
                    if (qobject_cast<ui::TfrmMain*>(window))
                        window->close();
            }
        });
        watch.start(1);
        clock.start();
        meter.Start();
        if (ui::RunHivewarden({"hivewarden", "--machine", QString::fromStdString(machine)}) != 0)
            state.SkipWithError("the program did not start on the machine");
        longestStall = std::max(longestStall, meter.longestMs());
        longestBusy = std::max(longestBusy, meter.longestBusyMs());
        if (!shown)
            state.SkipWithError("the home window never came up");
    }
    ui::SetMessageBoxAnswerer({});
    qunsetenv("HIVEWARDEN_PROGRAM_FOLDER");
    state.counters["longest_stall_ms"] = longestStall;
    state.counters["longest_busy_ms"] = longestBusy;
    state.counters["start_to_home_ms"] = startMs;
}
BENCHMARK(BM_ProgramStartBigMachine)->Unit(benchmark::kMillisecond)->Iterations(2);

// Every problem of the generated machine repaired from the Result page (with its undo
// file, the hives written at the end), then that undo file restored from the Backup page;
// on a copy of the machine.
void BM_WizardRepairAndRestoreBigMachine(benchmark::State& state) {
    const std::string original = bench::TheScanBenchMachine().folder;
    bench::OffscreenApplication();
    ui::SetMessageBoxAnswerer([](const ui::MessageBoxRequest&) { return QMessageBox::Ok; });
    double repairStall = 0, restoreStall = 0, repairBusy = 0, restoreBusy = 0, repairMs = 0,
           restoreMs = 0;
    size_t repaired = 0;
    for (auto _ : state) {
        state.PauseTiming();
        shutdownAnyMachine();
        QTemporaryDir copy;
        const std::string machine = copy.filePath("machine").toStdString();
        std::filesystem::copy(original, machine, std::filesystem::copy_options::recursive);
        win32::BootMachine(machine);
        InitOSInfo();
        QTemporaryDir programFolder;
        SetProgramFolder(programFolder.path().toStdString());
        {
            ui::TfrmRepair wizard;
            wizard.show();
            auto* sections = wizard.findChild<QTableWidget*>("gdItems");
            for (int row = 0; row < sections->rowCount(); ++row)
                sections->item(row, 0)->setCheckState(Qt::Checked);
            wizard.actNext->trigger();
            wizard.actNext->trigger();
            while (wizard.Engine().IsRunning() || wizard.PageIndex() != ui::TfrmRepair::pgResult)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            wizard.actCheckall->trigger();
            const size_t found = wizard.Engine().InvalidDataList().size();
            state.ResumeTiming();

            StallMeter meter;
            QApplication::processEvents();
            QElapsedTimer clock;
            clock.start();
            meter.Start();
            // The pass runs in the action, turning the loop as it goes.
            wizard.actRepair->trigger();
            meter.Stop();
            repairMs += clock.nsecsElapsed() / 1e6;
            repairStall = std::max(repairStall, meter.longestMs());
            repairBusy = std::max(repairBusy, meter.longestBusyMs());
            repaired = found - wizard.Engine().InvalidDataList().size();
        }
        {
            ui::TfrmRepair wizard;
            wizard.WizardMode = ui::TfrmRepair::wmBackup;
            wizard.show();
            auto* list = wizard.findChild<QListView*>("gdRestore");
            list->setCurrentIndex(list->model()->index(0, 0));
            StallMeter meter;
            QApplication::processEvents();
            QElapsedTimer clock;
            clock.start();
            meter.Start();
            wizard.findChild<QAction*>("actRestore")->trigger();
            meter.Stop();
            restoreMs += clock.nsecsElapsed() / 1e6;
            restoreStall = std::max(restoreStall, meter.longestMs());
            restoreBusy = std::max(restoreBusy, meter.longestBusyMs());
        }
        state.PauseTiming();
        SetProgramFolder("");
        win32::ShutdownMachine();
        state.ResumeTiming();
    }
    ui::SetMessageBoxAnswerer({});
    const double runs = double(state.iterations());
    state.counters["repair_longest_stall_ms"] = repairStall;
    state.counters["restore_longest_stall_ms"] = restoreStall;
    state.counters["repair_longest_busy_ms"] = repairBusy;
    state.counters["restore_longest_busy_ms"] = restoreBusy;
    state.counters["repair_ms"] = repairMs / runs;
    state.counters["restore_ms"] = restoreMs / runs;
    state.counters["repaired"] = double(repaired);
}
BENCHMARK(BM_WizardRepairAndRestoreBigMachine)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
