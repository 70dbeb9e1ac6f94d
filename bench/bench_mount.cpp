// Mounting a hive where it lies: the real SYSTEM hive mounted and HKLM\SYSTEM\Select read,
// against libhivex's open of the same file and the same key; the hives of the generated
// scan machine mounted, against libhivex's open of them; and a generated 1 GiB
// SOFTWARE hive mounted with one section of it read whole. Peak memory is measured in a
// child process for each, as the growth of its peak resident set over what it started
// with, so that what the benchmark program holds does not count.

#include "HivexHandle.h"
#include "ScanBenchMachine.h"
#include "hive/HiveFile.h"
#include "support/MachineFixture.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
uint64_t StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string wanted = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(wanted, 0) == 0)
            return std::stoull(line.substr(wanted.size()));
    return 0;
}

struct ChildResult {
    double peakMiB = -1; // growth of the peak resident set, file pages included
    double seconds = 0;
};

// Runs `work` once in a child process and measures it there.
ChildResult InChild(const std::function<void()>& work) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        // The peak starts again at what the child holds now (Linux 4.0 and later).
        std::ofstream("/proc/self/clear_refs") << "5";
        const uint64_t before = StatusKiB("VmRSS");
        const auto start = std::chrono::steady_clock::now();
        ChildResult result;
        try {
            work();
            result.seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            result.peakMiB = double(StatusKiB("VmHWM") - before) / 1024.0;
        } catch (...) {
        }
        [[maybe_unused]] const auto wrote = ::write(fds[1], &result, sizeof result);
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildResult result;
    if (pid < 0 || ::read(fds[0], &result, sizeof result) != ssize_t(sizeof result))
        result = {};
    ::close(fds[0]);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
    return result;
}

const std::string& SystemHive() {
    static QTemporaryDir dir;
    static const std::string path =
        testing_support::SharedHive("SYSTEM", dir.path().toStdString()).value_or("");
    return path;
}

void MountAndReadSelect(const std::string& path) {
    const hive::LoadedHive mounted = hive::MountHiveFile(path, {.salvage = true});
    const hive::HiveKey* select = mounted.root->findSubkey(u"Select");
    if (!select || select->values().empty())
        throw std::runtime_error("no Select key");
    benchmark::DoNotOptimize(select->values().front().data.data());
}

void HivexOpenAndReadSelect(const std::string& path) {
    const bench::HivexHandle hive = bench::OpenHivex(path);
    const hive_node_h select = hivex_node_get_child(hive.get(), hivex_root(hive.get()), "Select");
    if (!select)
        throw std::runtime_error("no Select key");
    hive_value_h* values = hivex_node_values(hive.get(), select);
    benchmark::DoNotOptimize(values);
    free(values);
}

void Report(benchmark::State& state, const std::function<void()>& work) {
    for (auto _ : state)
        work();
    const ChildResult child = InChild(work);
    state.counters["peak_rss_MiB"] = child.peakMiB;
}

void BM_MountSystemAndReadSelect(benchmark::State& state) {
    if (SystemHive().empty()) {
        state.SkipWithError("the shared test hives are absent");
        return;
    }
    Report(state, [] { MountAndReadSelect(SystemHive()); });
}
BENCHMARK(BM_MountSystemAndReadSelect)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_HivexOpenSystemAndReadSelect(benchmark::State& state) {
    if (SystemHive().empty()) {
        state.SkipWithError("the shared test hives are absent");
        return;
    }
    Report(state, [] { HivexOpenAndReadSelect(SystemHive()); });
}
BENCHMARK(BM_HivexOpenSystemAndReadSelect)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Every hive a scan reads of the generated machine of 336,000 keys (its SOFTWARE is about
// 60 MB): what a command's boot checks before it reads a key, against libhivex's open of
// the same files.
void BM_MountScanMachineHives(benchmark::State& state) {
    const bench::ScanBenchMachine& machine = bench::TheScanBenchMachine();
    const auto work = [&] {
        for (const std::string& path : machine.hiveFiles)
            benchmark::DoNotOptimize(hive::MountHiveFile(path).root.get());
    };
    Report(state, work);
    state.counters["keys"] = double(machine.keyCount);
}
BENCHMARK(BM_MountScanMachineHives)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_HivexOpenScanMachineHives(benchmark::State& state) {
    const bench::ScanBenchMachine& machine = bench::TheScanBenchMachine();
    const auto work = [&] {
        for (const std::string& path : machine.hiveFiles)
            benchmark::DoNotOptimize(bench::OpenHivex(path).get());
    };
    Report(state, work);
    state.counters["keys"] = double(machine.keyCount);
}
BENCHMARK(BM_HivexOpenScanMachineHives)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A SOFTWARE hive of about 1 GiB: a Classes section of the size a real one has, and the
// bulk of the file in the values of other sections.
class BigSoftwareHive {
public:
    static constexpr int kClasses = 20000;
    static constexpr int kBlobs = 1000;
    static constexpr size_t kBlobBytes = 1 << 20;

    BigSoftwareHive() {
        char pattern[] = "/tmp/hw_bench_mount_XXXXXX";
        if (::mkdtemp(pattern))
            folder_ = pattern;
        path_ = folder_ + "/SOFTWARE";
        // Made in a child of its own: the tree in memory is larger than the file.
        InChild([this] { write(); });
        if (!std::ifstream(path_).good())
            path_.clear();
    }
    ~BigSoftwareHive() {
        if (!folder_.empty()) {
            std::remove(path_.c_str());
            ::rmdir(folder_.c_str());
        }
    }
    const std::string& path() const { return path_; }

private:
    void write() const {
        auto root = std::make_shared<hive::HiveKey>();
        root->name = u"SOFTWARE";
        auto add = [](hive::HiveKey& parent, std::u16string name) {
            auto key = std::make_shared<hive::HiveKey>();
            key->name = std::move(name);
            return parent.insertSubkey(std::move(key));
        };
        auto number = [](const char16_t* prefix, int n) {
            std::u16string name = prefix;
            for (const char c : std::to_string(100000 + n).substr(1))
                name += char16_t(c);
            return name;
        };
        const hive::Bytes text{'x', 0, '.', 0, 'd', 0, 'l', 0, 'l', 0, 0, 0};
        hive::HiveKey* classes = add(*root, u"Classes");
        for (int i = 0; i < kClasses; ++i) {
            hive::HiveKey* cls = add(*classes, number(u"Class", i));
            cls->values().push_back({u"", 1, text});
            add(*cls, u"InprocServer32")->values().push_back({u"", 1, text});
        }
        hive::HiveKey* bulk = add(*root, u"Bulk");
        for (int i = 0; i < kBlobs; ++i)
            add(*bulk, number(u"Blob", i))
                ->values()
                .push_back({u"Data", 3, hive::Bytes(kBlobBytes, uint8_t(i))});
        const hive::Bytes bytes = hive::WriteHive(*root, {});
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    std::string folder_;
    std::string path_;
};

// Every key and value below `key`, read.
size_t ReadWhole(const hive::HiveKey& key) {
    size_t count = key.values().size();
    for (const auto& child : key.stableSubkeys())
        count += 1 + ReadWhole(*child);
    return count;
}

void BM_MountBigSoftwareAndReadClasses(benchmark::State& state) {
    const BigSoftwareHive big;
    if (big.path().empty()) {
        state.SkipWithError("the 1 GiB hive could not be made");
        return;
    }
    ChildResult child;
    for (auto _ : state) {
        child = InChild([&] {
            const hive::LoadedHive mounted = hive::MountHiveFile(big.path());
            const size_t read = ReadWhole(*mounted.root->findSubkey(u"Classes"));
            if (read != size_t(BigSoftwareHive::kClasses) * 4)
                throw std::runtime_error("the section reads wrong");
        });
        state.SetIterationTime(child.seconds);
    }
    state.counters["peak_rss_MiB"] = child.peakMiB;
    state.counters["file_MiB"] =
        double(std::ifstream(big.path(), std::ios::ate).tellg()) / (1 << 20);
}
BENCHMARK(BM_MountBigSoftwareAndReadClasses)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

} // namespace
