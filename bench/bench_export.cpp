// Undo files of a whole real SYSTEM hive (30,756 keys): ExportRegKey on the mounted
// hive, again and again (its own cost once the keys are built, on a writable and on a
// read-only mount) and once per fresh mount, against libhivex's own exporter,
// hivexregedit --export, on the same file.

#include "backup/ExportRegKey.h"
#include "support/MachineFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <optional>

namespace {

struct RealSystemMachine {
    std::optional<testing_support::TestMachine> machine;
    std::string systemHive; // host path of the real hive inside the machine
};

// The test machine with the shared SYSTEM hive in place of its own; booted.
RealSystemMachine& realSystem() {
    static RealSystemMachine real;
    if (!real.machine) {
        real.machine.emplace();
        real.machine->shutdown();
        const std::string config = real.machine->hostPath("WINDOWS/system32/config");
        if (const auto hive = testing_support::SharedHive("SYSTEM", config))
            real.systemHive = *hive;
        real.machine->boot();
    }
    return real;
}

// The machine, or null with the benchmark skipped when the shared hives are absent.
RealSystemMachine* realSystemOrSkip(benchmark::State& state) {
    RealSystemMachine& real = realSystem();
    if (!real.systemHive.empty())
        return &real;
    state.SkipWithError("the shared test hives are absent");
    return nullptr;
}

// In memory where the host allows, as hivexregedit's output to a pipe is.
QTemporaryDir outputFolder() {
    return QTemporaryDir(QFile::exists("/dev/shm") ? "/dev/shm/hw_bench_export" : QString());
}

void BM_ExportRegKeyOfSystem(benchmark::State& state) {
    if (!realSystemOrSkip(state))
        return;
    const QTemporaryDir dir = outputFolder();
    const std::string file = dir.path().toStdString() + "/undo.reg";
    for (auto _ : state) {
        QFile::remove(QString::fromStdString(file));
        ExportRegKey(HKEY_LOCAL_MACHINE, "SYSTEM", file, "");
    }
    state.counters["bytes"] = double(QFile(QString::fromStdString(file)).size());
}
BENCHMARK(BM_ExportRegKeyOfSystem)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same on a read-only mount, as the command-line program mounts the machine: calls
// take no registry lock, so this is the walk's and the text's own cost once the keys are
// built.
void BM_ExportRegKeyOfSystemReadOnly(benchmark::State& state) {
    RealSystemMachine* machine = realSystemOrSkip(state);
    if (!machine)
        return;
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    machine->machine->shutdown();
    machine->machine->boot(readOnly);
    const QTemporaryDir dir = outputFolder();
    const std::string file = dir.path().toStdString() + "/undo.reg";
    for (auto _ : state) {
        QFile::remove(QString::fromStdString(file));
        ExportRegKey(HKEY_LOCAL_MACHINE, "SYSTEM", file, "");
    }
    machine->machine->shutdown(); // booted as the other benchmarks expect it
    machine->machine->boot();
    state.counters["bytes"] = double(QFile(QString::fromStdString(file)).size());
}
BENCHMARK(BM_ExportRegKeyOfSystemReadOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The export as the command-line program makes it: the first one after a read-only mount,
// which builds every key it reads. Mounting before and tearing down after are left out.
void BM_ExportRegKeyOfSystemFreshMount(benchmark::State& state) {
    RealSystemMachine* machine = realSystemOrSkip(state);
    if (!machine)
        return;
    RealSystemMachine& real = *machine;
    const QTemporaryDir dir = outputFolder();
    const std::string file = dir.path().toStdString() + "/undo.reg";
    win32::BootOptions readOnly;
    readOnly.readOnly = true;
    for (auto _ : state) {
        state.PauseTiming();
        real.machine->shutdown();
        real.machine->boot(readOnly);
        QFile::remove(QString::fromStdString(file));
        state.ResumeTiming();
        ExportRegKey(HKEY_LOCAL_MACHINE, "SYSTEM", file, "");
    }
    real.machine->shutdown(); // booted as the other benchmarks expect it
    real.machine->boot();
    state.counters["bytes"] = double(QFile(QString::fromStdString(file)).size());
}
BENCHMARK(BM_ExportRegKeyOfSystemFreshMount)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_HivexregeditExportOfSystem(benchmark::State& state) {
    RealSystemMachine* machine = realSystemOrSkip(state);
    if (!machine)
        return;
    RealSystemMachine& real = *machine;
    for (auto _ : state) {
        const auto result =
            testing_support::RunProcess("hivexregedit", {"--export", real.systemHive, "\\"});
        if (result.exitCode != 0) {
            state.SkipWithError("hivexregedit failed");
            return;
        }
        state.counters["bytes"] = double(result.out.size());
    }
}
BENCHMARK(BM_HivexregeditExportOfSystem)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
