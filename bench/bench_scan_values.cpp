// The value scanners over large keys: a SharedDlls key of 4,000 counted files (half of
// them missing, each spelled in another letter case than on disk, in 20 folders) and a
// Run key of 500 commands, 50 of them followed by 30,000 characters of arguments. Each
// iteration is one whole scan of the category through the engine and its hand-over.

#include "support/MachineFixture.h"
#include "support/ScanHarness.h"
#include "win32/machine/Machine.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testing_support::FixtureFile;
using testing_support::ScanMachine;
using testing_support::TestMachine;

constexpr int kSharedFiles = 2000; // as many again are missing
constexpr int kRunValues = 500;

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

// .reg text escapes each backslash.
std::string regText(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

TestMachine& theMachine() {
    static const std::unique_ptr<TestMachine> machine = [] {
        std::vector<FixtureFile> files;
        std::string reg = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                          "SharedDlls]\n";
        for (int i = 0; i < kSharedFiles; ++i) {
            const std::string folder = "C:\\Program Files\\Vendor " + std::to_string(i % 20);
            const std::string file = folder + "\\part" + std::to_string(i) + ".dll";
            files.push_back({file, "MZ"});
            reg += "\"" + regText(upper(file)) + "\"=dword:00000001\n";
            reg += "\"" + regText(folder + "\\gone" + std::to_string(i) + ".dll") +
                   "\"=dword:00000001\n";
        }
        files.push_back({"C:\\Program Files\\My App\\app.exe", testing_support::MzImage()});
        reg += "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n";
        std::string arguments;
        while (arguments.size() < 30000)
            arguments += " /option";
        for (int i = 0; i < kRunValues; ++i) {
            const std::string program =
                i % 2 ? "C:\\Program Files\\My App\\app.exe" : "C:\\Program Files\\Gone\\app.exe";
            reg += "\"run" + std::to_string(i) + "\"=\"" + regText(program) +
                   (i % 10 == 0 ? arguments : std::string(" -tray")) + "\"\n";
        }
        auto m = std::make_unique<TestMachine>(reg, files);
        m->shutdown();
        // Folders as old as on a real disk: their listings may be kept between lookups.
        const timespec past[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        for (const auto& entry : fs::recursive_directory_iterator(m->folder()))
            if (entry.is_directory())
                ::utimensat(AT_FDCWD, entry.path().c_str(), past, 0);
        return m;
    }();
    return *machine;
}

void scan(benchmark::State& state, TRepairItem item, size_t expected) {
    TestMachine& machine = theMachine();
    if (win32::IsMachineBooted())
        win32::ShutdownMachine();
    machine.boot();
    size_t records = 0;
    for (auto _ : state)
        records = ScanMachine({item}).records.size();
    machine.shutdown();
    if (records != expected)
        state.SkipWithError("unexpected number of records");
}

void BM_ScanSharedDlls(benchmark::State& state) {
    scan(state, riSharedDlls, kSharedFiles);
    state.SetItemsProcessed(int64_t(state.iterations()) * 2 * kSharedFiles);
}

void BM_ScanAutoRun(benchmark::State& state) {
    scan(state, riAutoRun, kRunValues / 2);
    state.SetItemsProcessed(int64_t(state.iterations()) * kRunValues);
}

BENCHMARK(BM_ScanSharedDlls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanAutoRun)->Unit(benchmark::kMillisecond);

} // namespace
