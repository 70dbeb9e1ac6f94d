// The restore of a backup profile whose SOFTWARE file was extended, sparsely, to 3 GB
// past the hive it holds (no proof file, so the hive is taken by its content): only the
// bytes its base block declares are read and copied. Reports the process's peak resident
// memory, which stays that of a restore of the plain profile.

#include "compact/THiveManager.h"
#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

void RestoreOfASparselyExtendedProfile(benchmark::State& state) {
    testing_support::TestMachine machine;
    InitOSInfo();
    testing_support::TestUiLoop ui;
    THiveManager manager(ui);
    manager.ScanHives();
    QTemporaryDir dir;
    manager.Folder = dir.path().toStdString() + "/profile";
    manager.Backup();
    if (!manager.Success()) {
        state.SkipWithError(manager.LastError().c_str());
        return;
    }
    const QString folder = QString::fromStdString(manager.Folder);
    QFile::remove(folder + "/hivewarden-profile.sha256");
    const double before = peakResidentMegabytes();
    if (state.range(0) != 0)
        QFile::resize(folder + "/SOFTWARE", qint64(3) << 30);
    for (auto _ : state) {
        manager.Restore();
        if (!manager.Success()) {
            state.SkipWithError(manager.LastError().c_str());
            return;
        }
    }
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
    state.counters["peak_rss_growth_mb"] = peakResidentMegabytes() - before;
}
// 0: the profile as the backup wrote it; 1: its SOFTWARE extended to 3 GB.
BENCHMARK(RestoreOfASparselyExtendedProfile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
