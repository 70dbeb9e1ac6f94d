// Scans of a machine mounted read-only, whose registry is read without the registry's
// lock (built under ThreadSanitizer too): two engines scanning at once, on threads of
// their own, find what one finds alone.

#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include "win32/registry/Registry.h"

#include <gtest/gtest.h>

#include <barrier>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

// Stale references in the merged classes (the machine's and the user's), and a run key
// long enough that its values are found through an index, all of them valid: the scans
// meet there with nothing found before (a record found is handed over through the
// user-interface thread, which would order the two scans' reads).
std::string staleMachine() {
    std::string reg = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{0BADC0DE-0000-0000-C000-000000000046}\InprocServer32]
@="C:\\Program Files\\Gone\\server.dll"
[HKEY_CURRENT_USER\Software\Classes\.gone]
@="gonefile"
[HKEY_CURRENT_USER\Software\Classes\userfile\shell\open\command]
@="\"C:\\Program Files\\Gone\\user.exe\" \"%1\""
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
)reg";
    for (int n = 0; n < 40; ++n)
        reg += "\"Tray" + std::to_string(n) + "\"=\"C:\\\\Program Files\\\\App\\\\tray.exe /" +
               std::to_string(n) + "\"\n";
    return reg;
}

} // namespace

TEST(ScanReadOnlyMount, TwoScansAtOnceFindWhatOneFindsAlone) {
    TestMachine machine(staleMachine(), {{"C:\\Program Files\\App\\tray.exe", MzImage()}});
    machine.shutdown();
    win32::BootOptions options;
    options.readOnly = true;
    machine.boot(options);
    const ScanOutcome alone = ScanMachine(TRepairItems::All());
    ASSERT_TRUE(alone.ended);
    ASSERT_EQ(alone.error, "");
    ASSERT_EQ(alone.records.size(), 3u);

    TestUiLoop ui;
    TFixRegistry first(ui), second(ui);
    int finished = 0;
    for (TFixRegistry* engine : {&first, &second}) {
        engine->ScanItems = TRepairItems::All();
        engine->OnFinished = [&](TFixRegistry*) { ++finished; };
    }
    first.Start();
    second.Start();
    ASSERT_TRUE(ui.RunUntil([&] { return finished == 2; }));
    for (const TFixRegistry* engine : {&first, &second}) {
        EXPECT_EQ(engine->LastScanError(), "");
        EXPECT_EQ(engine->InvalidDataList(), alone.records);
    }
}

// Readers of a read-only mount on several threads at once: every call answers as it does
// alone, the merged classes and a key whose values are found through an index included.
TEST(ScanReadOnlyMount, ReadersOnSeveralThreadsAnswerAsOneDoes) {
    TestMachine machine(staleMachine(), {{"C:\\Program Files\\App\\tray.exe", MzImage()}});
    machine.shutdown();
    win32::BootOptions options;
    options.readOnly = true;
    machine.boot(options);
    // The threads open their handles, then read all at once.
    constexpr int kThreads = 4;
    std::barrier opened(kThreads);
    const auto read = [](std::barrier<>* together) {
        std::vector<std::string> seen;
        HKEY run = nullptr;
        const LONG rc =
            RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                          KEY_READ, &run);
        if (together)
            together->arrive_and_wait();
        if (rc != ERROR_SUCCESS)
            return seen;
        for (int n = 39; n >= 0; --n) {
            char data[256];
            DWORD size = sizeof data, type = 0;
            const std::string name = "TRAY" + std::to_string(n);
            if (RegQueryValueExA(run, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data),
                                 &size) == ERROR_SUCCESS)
                seen.emplace_back(data);
        }
        RegCloseKey(run);
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof name;
            if (RegEnumKeyExA(HKEY_CLASSES_ROOT, i, name, &size, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            seen.emplace_back(name);
        }
        return seen;
    };
    // The threads come first: what a first read builds, they build at once.
    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] { result = read(&opened); });
    for (auto& thread : threads)
        thread.join();
    const std::vector<std::string> alone = read(nullptr);
    ASSERT_GE(alone.size(), 42u);
    for (const auto& result : results)
        EXPECT_EQ(result, alone);
}
