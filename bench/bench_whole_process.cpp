// The command-line program as a user runs it, a whole process from start to exit, side by
// side with its yardsticks run the same way:
// - `hivewarden-cli scan --json` on generated machines of about 30,000 and 120,000 keys,
//   against the floor program (bench/floor): libhivex reading every key and value of the
//   same hives and one stat of each file the scan looks for;
// - `hivewarden-cli export HKLM\SYSTEM` of a real SYSTEM hive against
//   `hivexregedit --export` of the same file.
// Wall time is read around fork and wait4, and peak memory is wait4's ru_maxrss, by a
// small program of its own (bench/floor/Measure.cpp). The runs of
// the two commands alternate, and each ratio is the median of the pairs' ratios.
// HIVEWARDEN_BENCH_CLI names another build of hivewarden-cli to measure.

#include "ScanBenchMachine.h"
#include "support/MachineFixture.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRuns = 7;
// Keys of the full-size generated machine; a smaller one is scaled from it.
constexpr double kFullMachineKeys = 336000;

struct Measured {
    double seconds = 0;
    double peakMiB = 0;
    int exitCode = -1;
};

// Runs `argv` with empty input, its output to `out` and its errors thrown away, through
// the small measuring program (its peak memory is then the command's own).
Measured runMeasured(const std::vector<std::string>& argv, const std::string& out) {
    std::vector<std::string> all = {HW_MEASURE_PROGRAM, out};
    all.insert(all.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const std::string& arg : all)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int report[2];
    if (::pipe(report) != 0)
        throw std::runtime_error("cannot make a pipe");
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("cannot start " + argv[0]);
    if (child == 0) {
        ::dup2(report[1], STDOUT_FILENO);
        ::close(report[0]);
        ::close(report[1]);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(report[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Measured m;
    long peakKiB = 0;
    if (std::sscanf(text.c_str(), "%lf %ld %d", &m.seconds, &peakKiB, &m.exitCode) != 3)
        throw std::runtime_error("hivewarden-measure failed for " + argv[0]);
    m.peakMiB = double(peakKiB) / 1024;
    return m;
}

// The command-line program measured: the one built with the benchmarks, or another build
// HIVEWARDEN_BENCH_CLI names (to compare two builds with the same yardsticks).
std::string cliProgram() {
    const char* other = std::getenv("HIVEWARDEN_BENCH_CLI");
    return other && *other ? other : HW_CLI_PROGRAM;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A temporary folder removed at exit, with what the commands need in it.
class Scratch {
public:
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/hivewarden-proc-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder from " + pattern);
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct ProcessMachine {
    Scratch scratch;
    bench::ScanBenchMachine machine;
    std::string pathsFile; // the checked paths, one a line, for the floor program
    std::string programFolder;
};

const ProcessMachine& machineOf(int keys) {
    static std::map<int, std::unique_ptr<ProcessMachine>> made;
    auto& slot = made[keys];
    if (!slot) {
        slot = std::make_unique<ProcessMachine>();
        const std::string& base = slot->scratch.path();
        slot->machine.folder = base + "/machine";
        slot->programFolder = base + "/program";
        std::filesystem::create_directory(slot->machine.folder);
        std::filesystem::create_directory(slot->programFolder);
        bench::GenerateScanBenchMachine(slot->machine, keys / kFullMachineKeys);
        slot->pathsFile = base + "/checked-paths.txt";
        std::ofstream paths(slot->pathsFile);
        for (const std::string& path : slot->machine.checkedPaths)
            paths << path << '\n';
    }
    return *slot;
}

void BM_ScanProcessVsFloor(benchmark::State& state) {
    const ProcessMachine& m = machineOf(int(state.range(0)));
    const std::string out = m.scratch.path() + "/out.txt";
    const std::vector<std::string> scan = {
        cliProgram(),    "--machine", m.machine.folder, "--program-folder",
        m.programFolder, "scan",      "--json"};
    std::vector<std::string> floor = {HW_SCAN_FLOOR_PROGRAM, m.pathsFile};
    floor.insert(floor.end(), m.machine.hiveFiles.begin(), m.machine.hiveFiles.end());
    // Once each unmeasured: the files in the page cache, as they are for every run after.
    if (runMeasured(scan, out).exitCode != 0 || runMeasured(floor, out).exitCode != 0) {
        state.SkipWithError("the scan or the floor program failed");
        return;
    }
    std::vector<double> scanMs, floorMs, ratio, scanMiB, floorMiB;
    for (auto _ : state) {
        const Measured s = runMeasured(scan, out);
        const Measured f = runMeasured(floor, out);
        if (s.exitCode != 0 || f.exitCode != 0) {
            state.SkipWithError("the scan or the floor program failed");
            return;
        }
        state.SetIterationTime(s.seconds);
        scanMs.push_back(s.seconds * 1000);
        floorMs.push_back(f.seconds * 1000);
        ratio.push_back(s.seconds / f.seconds);
        scanMiB.push_back(s.peakMiB);
        floorMiB.push_back(f.peakMiB);
    }
    state.counters["keys"] = double(m.machine.keyCount);
    state.counters["scan_ms"] = median(scanMs);
    state.counters["floor_ms"] = median(floorMs);
    state.counters["time_ratio"] = median(ratio);
    state.counters["scan_MiB"] = median(scanMiB);
    state.counters["floor_MiB"] = median(floorMiB);
    state.counters["MiB_over_floor"] = median(scanMiB) - median(floorMiB);
    state.counters["MiB_ratio"] = median(scanMiB) / median(floorMiB);
}
BENCHMARK(BM_ScanProcessVsFloor)
    ->Arg(30000)
    ->Arg(120000)
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ExportProcessVsHivexregedit(benchmark::State& state) {
    Scratch scratch;
    const std::string programFolder = scratch.path() + "/program";
    std::filesystem::create_directory(programFolder);
    testing_support::TestMachine machine;
    machine.shutdown();
    const auto hive =
        testing_support::SharedHive("SYSTEM", machine.hostPath("WINDOWS/system32/config"));
    if (!hive) {
        state.SkipWithError("the shared test hives are absent");
        return;
    }
    const std::string reg = scratch.path() + "/system.reg";
    const std::string out = scratch.path() + "/out.txt";
    const std::vector<std::string> ours = {
        cliProgram(),  "--machine", machine.folder(), "--program-folder",
        programFolder, "export",    "HKLM\\SYSTEM",   reg};
    const std::vector<std::string> theirs = {"hivexregedit", "--export", *hive, "\\"};
    // The export appends: each run starts from no file.
    const auto runOurs = [&] {
        std::filesystem::remove(reg);
        return runMeasured(ours, out);
    };
    if (runOurs().exitCode != 0 || runMeasured(theirs, out).exitCode != 0) {
        state.SkipWithError("hivewarden-cli export or hivexregedit failed");
        return;
    }
    std::vector<double> oursMs, theirsMs, faster, oursMiB, theirsMiB;
    for (auto _ : state) {
        const Measured a = runOurs();
        const Measured b = runMeasured(theirs, out);
        if (a.exitCode != 0 || b.exitCode != 0) {
            state.SkipWithError("hivewarden-cli export or hivexregedit failed");
            return;
        }
        state.SetIterationTime(a.seconds);
        oursMs.push_back(a.seconds * 1000);
        theirsMs.push_back(b.seconds * 1000);
        faster.push_back(b.seconds / a.seconds);
        oursMiB.push_back(a.peakMiB);
        theirsMiB.push_back(b.peakMiB);
    }
    state.counters["export_ms"] = median(oursMs);
    state.counters["hivexregedit_ms"] = median(theirsMs);
    state.counters["times_faster"] = median(faster);
    state.counters["export_MiB"] = median(oursMiB);
    state.counters["hivexregedit_MiB"] = median(theirsMiB);
}
BENCHMARK(BM_ExportProcessVsHivexregedit)
    ->Iterations(kRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
