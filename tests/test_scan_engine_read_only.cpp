// Scans of a machine mounted read-only, whose registry is read without the registry's
// lock (built under ThreadSanitizer too): two engines scanning at once, on threads of
// their own, find what one finds alone.

#include "registry/OSInfo.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include "win32/registry/Registry.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cctype>
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

namespace {

// A tree walked as scanners walk one: keys of both classes hives, names and values that
// differ by case, a key with more subkeys than one list holds.
std::string walkMachine() {
    std::string reg;
    for (int k = 0; k < 6; ++k) {
        for (int s = 0; s < 4; ++s) {
            reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Walk\\Key" + std::to_string(k) + "\\Sub" +
                   std::to_string(s) + "\\Leaf]\n\"v\"=\"" + std::to_string(k * 10 + s) + "\"\n";
        }
        reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{0000000" + std::to_string(k) +
               "-0000-0000-C000-000000000046}\\InprocServer32]\n@=\"server" + std::to_string(k) +
               ".dll\"\n";
        reg += "[HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{1000000" + std::to_string(k) +
               "-0000-0000-C000-000000000046}\\LocalServer32]\n@=\"user" + std::to_string(k) +
               ".exe\"\n";
    }
    for (int n = 0; n < 700; ++n)
        reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Walk\\Wide\\Entry" + std::to_string(n) + "]\n";
    return reg;
}

// The keys below `key` as a scan reads them: each subkey named, then opened from its
// parent by that name (every other one spelt in upper case, which the enumeration did
// not give), its values listed, and closed.
void Dump(HKEY key, const std::string& path, std::string& out) {
    DWORD subkeys = 0, longest = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    out += path + " " + std::to_string(subkeys) + "/" + std::to_string(longest) + "/" +
           std::to_string(values) + "\n";
    for (DWORD i = 0;; ++i) {
        char name[256], data[256];
        DWORD size = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &size, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        out += "  " + std::string(name, size) + "=" + std::string(data, dataSize) + "\n";
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string open(name, size);
        if (i % 2)
            for (char& c : open)
                c = char(std::toupper(static_cast<unsigned char>(c)));
        HKEY child = nullptr;
        ASSERT_EQ(RegOpenKeyExA(key, open.c_str(), 0, KEY_READ, &child), ERROR_SUCCESS) << open;
        Dump(child, path + "\\" + std::string(name, size), out);
        RegCloseKey(child);
    }
}

std::string DumpOf(HKEY root, const char* path) {
    std::string out;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "cannot open " + std::string(path);
    Dump(key, path, out);
    RegCloseKey(key);
    return out;
}

} // namespace

TEST(ScanReadOnlyMount, KeysLetGoOfAfterAWalkAreReadAgainAsStored) {
    TestMachine machine(walkMachine());
    const std::string walk = DumpOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk");
    const std::string classes = DumpOf(HKEY_CLASSES_ROOT, "CLSID");
    const std::string leaf = DumpOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk\\Key3\\Sub2");
    ASSERT_NE(walk.find("Entry699"), std::string::npos);
    ASSERT_NE(classes.find("user5.exe"), std::string::npos);
    machine.shutdown();
    win32::BootOptions options;
    options.readOnly = true;
    machine.boot(options);

    // A handle held below keys the walks let go of keeps its key and the way to it.
    HKEY held = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk\\Key3\\Sub2", 0, KEY_READ, &held),
              ERROR_SUCCESS);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(DumpOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk"), walk);
        EXPECT_EQ(DumpOf(HKEY_CLASSES_ROOT, "CLSID"), classes);
    }
    std::string fromHeld;
    Dump(held, "SOFTWARE\\Walk\\Key3\\Sub2", fromHeld);
    EXPECT_EQ(fromHeld, leaf);
    RegCloseKey(held);

    // Walks on several threads at once, each letting go of what it closes.
    std::vector<std::string> seen(3);
    std::vector<std::thread> threads;
    for (auto& result : seen)
        threads.emplace_back([&result] {
            result =
                DumpOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\Walk") + DumpOf(HKEY_CLASSES_ROOT, "CLSID");
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& result : seen)
        EXPECT_EQ(result, walk + classes);
}
