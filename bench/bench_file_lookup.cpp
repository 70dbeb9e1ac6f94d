// A scan asks whether each file the registry names exists, spelled as the registry
// spells it. GetFileAttributesA over 4,000 such paths (half of them missing, every one
// in another letter case than on disk) in a machine with 3,000 files in system32 and
// 1,000 more in 50 program folders: with the folder listings kept ("Cached") and with
// every folder changed so recently that no listing may be kept ("Uncached", each
// lookup of a missing or differently spelled name reads its folder). "Session" asks as a
// scan does, in a lookup session of its own each time, every path three times in as many
// spellings; "SessionAsWritten" asks every path three times spelled alike, its folder as
// on disk, as a registry mostly names files; "CreateProcess" judges a command line naming
// each file (an image's header read when it is found), each file named by two command
// lines.

#include "scan/CanStartProcess.h"
#include "win32/files/Files.h"
#include "win32/host/FileLookupSession.h"
#include "win32/machine/Machine.h"
#include "win32/machine/MachineCreator.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct LookupMachine {
    QTemporaryDir dir;
    std::string folder;
    std::vector<std::string> folders;      // host folders holding the files
    std::vector<std::string> lookups;      // Windows paths
    std::vector<std::string> asWritten;    // the same paths, each folder spelled as on disk
    std::vector<std::string> respelled[2]; // the same paths in two other letter cases
};

std::string flipCase(std::string text, std::mt19937& random) {
    for (char& c : text)
        if (std::isalpha(static_cast<unsigned char>(c)) && random() % 2)
            c = std::isupper(static_cast<unsigned char>(c)) ? char(std::tolower(c))
                                                            : char(std::toupper(c));
    return text;
}

LookupMachine& theMachine() {
    static LookupMachine* machine = [] {
        auto m = new LookupMachine;
        if (!m->dir.isValid())
            throw std::runtime_error("Cannot make a temporary folder");
        m->folder = m->dir.path().toStdString() + "/machine";
        win32::CreateMachine(m->folder, {});
        std::mt19937 random(7);
        auto addFiles = [&](const std::string& windowsFolder, const std::string& hostFolder,
                            int count, const char* stem) {
            fs::create_directories(hostFolder);
            m->folders.push_back(hostFolder);
            for (int i = 0; i < count; ++i) {
                char name[64];
                std::snprintf(name, sizeof name, "%s%04d.dll", stem, i);
                std::ofstream(hostFolder + "/" + name) << "MZ";
                m->lookups.push_back(flipCase(windowsFolder + "\\" + name, random));
                m->asWritten.push_back(windowsFolder + "\\" + name);
                std::snprintf(name, sizeof name, "gone%s%04d.dll", stem, i);
                m->lookups.push_back(flipCase(windowsFolder + "\\" + name, random));
                m->asWritten.push_back(windowsFolder + "\\" + name);
            }
        };
        addFiles("C:\\WINDOWS\\system32", m->folder + "/WINDOWS/system32", 3000, "Lib");
        for (int v = 0; v < 50; ++v) {
            const std::string vendor = "Vendor " + std::to_string(v);
            addFiles("C:\\Program Files\\" + vendor, m->folder + "/Program Files/" + vendor, 20,
                     "Part");
        }
        m->folders.push_back(m->folder + "/WINDOWS");
        m->folders.push_back(m->folder + "/Program Files");
        m->folders.push_back(m->folder);
        std::shuffle(m->lookups.begin(), m->lookups.end(), random);
        std::shuffle(m->asWritten.begin(), m->asWritten.end(), random);
        for (auto& other : m->respelled)
            for (const std::string& path : m->lookups)
                other.push_back(flipCase(path, random));
        return m;
    }();
    return *machine;
}

// Sets the folders' modification times `age` seconds back (their change times become
// the present either way).
void ageFolders(const LookupMachine& machine, time_t age) {
    const timespec times[2] = {{::time(nullptr) - age, 0}, {::time(nullptr) - age, 0}};
    for (const std::string& folder : machine.folders)
        ::utimensat(AT_FDCWD, folder.c_str(), times, 0);
}

void bootLookupMachine() {
    if (win32::IsMachineBooted())
        win32::ShutdownMachine();
    win32::BootMachine(theMachine().folder, {.readOnly = true});
}

void run(benchmark::State& state, bool cached) {
    LookupMachine& machine = theMachine();
    ageFolders(machine, cached ? 3600 : 0);
    bootLookupMachine();
    size_t found = 0, missing = 0;
    for (auto _ : state) {
        if (!cached) {
            // Keep every folder "just changed", so that no listing is kept.
            state.PauseTiming();
            ageFolders(machine, 0);
            state.ResumeTiming();
        }
        for (const std::string& path : machine.lookups) {
            if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                ++missing;
            else
                ++found;
        }
    }
    win32::ShutdownMachine();
    if (found != missing)
        state.SkipWithError("half of the paths should exist");
    state.SetItemsProcessed(int64_t(state.iterations() * machine.lookups.size()));
}

void BM_GetFileAttributes_Session(benchmark::State& state) {
    LookupMachine& machine = theMachine();
    ageFolders(machine, 0); // a machine just copied: no listing outlives a session
    bootLookupMachine();
    size_t found = 0;
    for (auto _ : state) {
        const win32::FileLookupSession session;
        for (const auto* paths : {&machine.lookups, &machine.respelled[0], &machine.respelled[1]})
            for (const std::string& path : *paths)
                found += GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    win32::ShutdownMachine();
    if (found != state.iterations() * machine.lookups.size() * 3 / 2)
        state.SkipWithError("half of the paths should exist");
    state.SetItemsProcessed(int64_t(state.iterations() * machine.lookups.size() * 3));
}

void BM_GetFileAttributes_SessionAsWritten(benchmark::State& state) {
    LookupMachine& machine = theMachine();
    ageFolders(machine, 0);
    bootLookupMachine();
    size_t found = 0;
    for (auto _ : state) {
        const win32::FileLookupSession session;
        for (int round = 0; round < 3; ++round)
            for (const std::string& path : machine.asWritten)
                found += GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    win32::ShutdownMachine();
    if (found != state.iterations() * machine.asWritten.size() * 3 / 2)
        state.SkipWithError("half of the paths should exist");
    state.SetItemsProcessed(int64_t(state.iterations() * machine.asWritten.size() * 3));
}

void BM_CreateProcess_Session(benchmark::State& state) {
    LookupMachine& machine = theMachine();
    ageFolders(machine, 0);
    bootLookupMachine();
    std::vector<std::string> commands;
    for (size_t i = 0; i < machine.lookups.size(); ++i) {
        commands.push_back("\"" + machine.lookups[i] + "\" /s");
        commands.push_back(machine.respelled[0][i] + " /tray");
    }
    size_t started = 0;
    for (auto _ : state) {
        const win32::FileLookupSession session;
        for (const std::string& command : commands)
            started += CanStartProcess(command);
    }
    win32::ShutdownMachine();
    if (started != state.iterations() * machine.lookups.size())
        state.SkipWithError("half of the commands should start");
    state.SetItemsProcessed(int64_t(state.iterations() * commands.size()));
}

void BM_GetFileAttributes_Cached(benchmark::State& state) {
    run(state, true);
}
void BM_GetFileAttributes_Uncached(benchmark::State& state) {
    run(state, false);
}

BENCHMARK(BM_GetFileAttributes_Cached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileAttributes_Uncached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileAttributes_Session)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileAttributes_SessionAsWritten)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateProcess_Session)->Unit(benchmark::kMillisecond);

} // namespace
