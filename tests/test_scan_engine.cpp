// The scan engine: its worker, the hand-over of records to the user-interface thread,
// the end of a scan, exclusions and name sets.

#include "registry/TRegistry.h"
#include "scan/TFixRegistry.h"
#include "support/MachineFixture.h"
#include "support/ScanHarness.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace testing_support;

namespace {

// An engine with a loop, counting the ends of its scans.
struct Harness {
    TestUiLoop ui;
    TFixRegistry engine{ui};
    int finished = 0;

    Harness() {
        engine.OnFinished = [this](TFixRegistry* sender) {
            EXPECT_EQ(sender, &engine);
            EXPECT_FALSE(engine.IsRunning());
            ++finished;
        };
    }
    // Starts a scan and runs the loop until it has ended.
    void Scan() {
        const int before = finished;
        engine.Start();
        ASSERT_TRUE(ui.RunUntil([&] { return finished > before; })) << "the scan did not end";
    }
};

void addRecords(TFixRegistry& engine, TRepairItem category, const std::string& tag, int count) {
    for (int i = 0; i < count; ++i) {
        engine.AddInvalidData(category, "HKEY_LOCAL_MACHINE\\" + tag, "diagnosis " + tag,
                              "data " + std::to_string(i), "value " + std::to_string(i));
        engine.RaiseFound(category);
    }
}

TEST(ScanEngine, EveryRecordArrivesInOrderBeforeTheWorkerGoesOn) {
    Harness h;
    constexpr int kRecords = 10000;
    std::atomic<int> found{0};
    int notYetAppended = 0; // written by the worker, read after the scan
    h.engine.OnFound = [&](TFixRegistry*, TRepairItem item) {
        EXPECT_EQ(item, riSharedDlls);
        ++found;
    };
    h.engine.SetScanner(riSharedDlls, [&](TFixRegistry& engine) {
        for (int i = 0; i < kRecords; ++i) {
            engine.AddInvalidData(riSharedDlls, "HKEY_LOCAL_MACHINE\\K\\" + std::to_string(i),
                                  "File \"x\" does not exist", "C:\\x" + std::to_string(i),
                                  "v" + std::to_string(i));
            // The append is done on the user-interface thread before the call returns.
            if (engine.InvalidDataList().size() != size_t(i) + 1)
                ++notYetAppended;
            engine.RaiseFound(riSharedDlls);
        }
    });
    h.engine.ScanItems = {riSharedDlls};
    h.Scan();
    EXPECT_EQ(notYetAppended, 0);
    EXPECT_EQ(found, kRecords);
    const auto& list = h.engine.InvalidDataList();
    ASSERT_EQ(list.size(), size_t(kRecords));
    for (int i = 0; i < kRecords; ++i) {
        const TInvalidRegData expected{riSharedDlls, "HKEY_LOCAL_MACHINE\\K\\" + std::to_string(i),
                                       "v" + std::to_string(i), "C:\\x" + std::to_string(i),
                                       "File \"x\" does not exist"};
        ASSERT_EQ(list[size_t(i)], expected) << i;
    }
    EXPECT_EQ(h.finished, 1);
    EXPECT_EQ(h.engine.LastScanError(), "");
}

TEST(ScanEngine, CategoriesRunInAscendingOrderWithTheirStatus) {
    struct Case {
        TRepairItems items;
        std::vector<TRepairItem> statuses;
    } cases[] = {
        {{}, {}},
        {{riStartMenu, riActiveX, riSoftware}, {riActiveX, riSoftware, riStartMenu}},
        {TRepairItems::All(),
         {riActiveX, riAppPaths, riAutoRun, riClasses, riFileAssociations, riFonts, riHelpFiles,
          riSharedDlls, riSoftware, riServices, riUninstallers, riStartMenu}},
    };
    for (const Case& c : cases) {
        Harness h;
        std::vector<TRepairItem> statuses, scanned; // worker only, read after the scan
        h.engine.OnStatus = [&](TFixRegistry* sender, TRepairItem item, const std::string& desc) {
            EXPECT_EQ(sender, &h.engine);
            EXPECT_EQ(desc, "");
            statuses.push_back(item);
        };
        for (int n = 0; n < kRepairItemCount; ++n)
            h.engine.SetScanner(TRepairItem(n), [&, n](TFixRegistry&) {
                // The status of a category comes before its scanner runs.
                EXPECT_EQ(statuses.size(), scanned.size() + 1);
                scanned.push_back(TRepairItem(n));
            });
        h.engine.ScanItems = c.items;
        h.Scan();
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_EQ(scanned, c.statuses);
        EXPECT_TRUE(h.engine.InvalidDataList().empty());
        EXPECT_EQ(h.finished, 1);
    }
}

TEST(ScanEngine, StartClearsAStopMadeBeforeIt) {
    Harness h;
    h.engine.SetScanner(riFonts, [](TFixRegistry& engine) { addRecords(engine, riFonts, "F", 3); });
    h.engine.ScanItems = {riAutoRun, riFonts};
    h.engine.Stop();
    h.Scan();
    EXPECT_EQ(h.engine.InvalidDataList().size(), 3u);
}

TEST(ScanEngine, ASecondScanStartsWithAnEmptyListAndKeepsDuplicates) {
    Harness h;
    h.engine.SetScanner(riFonts, [](TFixRegistry& engine) { addRecords(engine, riFonts, "F", 3); });
    h.engine.ScanItems = {riFonts};
    h.Scan();
    ASSERT_EQ(h.engine.InvalidDataList().size(), 3u);

    bool emptyAtStart = false; // worker only, read after the scan
    h.engine.SetScanner(riFonts, [&](TFixRegistry& engine) {
        emptyAtStart = engine.InvalidDataList().empty();
        for (int i = 0; i < 2; ++i)
            engine.AddInvalidData(riFonts, "HKEY_CURRENT_USER\\Same", "d", "x", "same");
    });
    h.Scan();
    EXPECT_TRUE(emptyAtStart);
    const TInvalidRegData same{riFonts, "HKEY_CURRENT_USER\\Same", "same", "x", "d"};
    EXPECT_EQ(h.engine.InvalidDataList(), (std::vector<TInvalidRegData>{same, same}));
    EXPECT_EQ(h.finished, 2);
}

TEST(ScanEngine, AnErrorInAScannerEndsTheScanKeepingItsRecords) {
    Harness h;
    std::vector<TRepairItem> statuses; // worker only
    h.engine.OnStatus = [&](TFixRegistry*, TRepairItem item, const std::string&) {
        statuses.push_back(item);
    };
    bool laterScannerRan = false;
    h.engine.SetScanner(riActiveX,
                        [](TFixRegistry& engine) { addRecords(engine, riActiveX, "A", 2); });
    h.engine.SetScanner(riAutoRun, [](TFixRegistry& engine) {
        addRecords(engine, riAutoRun, "R", 1);
        TRegistry reg;
        reg.ReadInteger("no key is open");
    });
    h.engine.SetScanner(riFonts, [&](TFixRegistry&) { laterScannerRan = true; });
    h.engine.ScanItems = {riActiveX, riAutoRun, riFonts, riStartMenu};
    h.Scan();
    EXPECT_EQ(statuses, (std::vector<TRepairItem>{riActiveX, riAutoRun}));
    EXPECT_FALSE(laterScannerRan);
    ASSERT_EQ(h.engine.InvalidDataList().size(), 3u);
    EXPECT_EQ(h.engine.InvalidDataList()[2].Category, riAutoRun);
    EXPECT_EQ(h.engine.LastScanError(), "Failed to get data for 'no key is open'");
    EXPECT_EQ(h.finished, 1);

    // The engine scans again, and a clean scan leaves no error behind.
    h.engine.ScanItems = {riActiveX};
    h.Scan();
    EXPECT_EQ(h.engine.InvalidDataList().size(), 2u);
    EXPECT_EQ(h.engine.LastScanError(), "");

    // Anything thrown ends the scan the same way.
    h.engine.SetScanner(riActiveX, [](TFixRegistry&) { throw 42; });
    h.Scan();
    EXPECT_NE(h.engine.LastScanError(), "");
    EXPECT_EQ(h.finished, 3);
}

TEST(ScanEngine, StopEndsTheScanAtTheNextCheck) {
    Harness h;
    std::atomic<bool> laterScannerRan{false};
    h.engine.SetScanner(riActiveX, [](TFixRegistry& engine) {
        for (int i = 0; i < 1000000 && !engine.IsStopped(); ++i)
            engine.AddInvalidData(riActiveX, "HKEY_CLASSES_ROOT\\Interface", "d", "", "v");
    });
    h.engine.SetScanner(riFonts, [&](TFixRegistry&) { laterScannerRan = true; });
    h.engine.ScanItems = {riActiveX, riFonts};
    h.engine.Start();
    ASSERT_TRUE(h.ui.RunUntil([&] { return h.engine.InvalidDataList().size() >= 5; }));
    EXPECT_TRUE(h.engine.IsRunning());
    h.engine.Stop();
    // A stop request is no termination: the worker still exists until it ends.
    EXPECT_TRUE(h.engine.IsRunning());
    ASSERT_TRUE(h.ui.RunUntil([&] { return h.finished == 1; }));
    EXPECT_FALSE(h.engine.IsRunning());
    EXPECT_FALSE(laterScannerRan);
    EXPECT_LT(h.engine.InvalidDataList().size(), 1000000u);
    EXPECT_EQ(h.engine.LastScanError(), "");
}

TEST(ScanEngine, StartWhileAScanRunsChangesNothing) {
    Harness h;
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    h.engine.SetScanner(riHelpFiles, [&](TFixRegistry& engine) {
        ++runs;
        addRecords(engine, riHelpFiles, "H", 1);
        while (!release)
            std::this_thread::yield();
    });
    h.engine.ScanItems = {riHelpFiles};
    h.engine.Start();
    ASSERT_TRUE(h.ui.RunUntil([&] { return h.engine.InvalidDataList().size() == 1; }));
    h.engine.ScanItems = {};
    h.engine.Start();
    EXPECT_EQ(h.engine.InvalidDataList().size(), 1u);
    EXPECT_TRUE(h.engine.IsRunning());
    release = true;
    ASSERT_TRUE(h.ui.RunUntil([&] { return h.finished == 1; }));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(h.engine.InvalidDataList().size(), 1u);
}

TEST(ScanEngine, DestroyingTheEngineWhileTheWorkerWaitsForTheUserInterface) {
    TestUiLoop ui;
    auto engine = std::make_unique<TFixRegistry>(ui);
    std::atomic<bool> finished{false};
    std::atomic<int> added{0};
    engine->OnFinished = [&](TFixRegistry*) { finished = true; };
    engine->SetScanner(riServices, [&](TFixRegistry& e) {
        while (!e.IsStopped()) {
            e.AddInvalidData(riServices, "HKEY_LOCAL_MACHINE\\S", "d", "", "ImagePath");
            ++added;
        }
    });
    engine->ScanItems = {riServices};
    engine->Start();
    ASSERT_TRUE(ui.RunUntil([&] { return engine->InvalidDataList().size() == 1; }));
    // The worker has queued its next record and waits for this thread to take it.
    ASSERT_TRUE(ui.WaitForQueued(1));
    engine.reset();
    // What the worker queued runs on after the engine is gone, touching nothing of it.
    ui.RunPending();
    EXPECT_FALSE(finished);
    EXPECT_GE(added, 1);
}

TEST(ScanEngine, DestroyingTheEngineWhileAScannerWorks) {
    TestUiLoop ui;
    auto engine = std::make_unique<TFixRegistry>(ui);
    std::atomic<bool> started{false}, finished{false};
    engine->OnFinished = [&](TFixRegistry*) { finished = true; };
    engine->SetScanner(riUninstallers, [&](TFixRegistry& e) {
        started = true;
        while (!e.IsStopped())
            std::this_thread::yield();
    });
    engine->ScanItems = {riUninstallers};
    engine->Start();
    while (!started)
        std::this_thread::yield();
    engine.reset();
    ui.RunPending();
    EXPECT_FALSE(finished);
}

TEST(ScanEngine, ShutdownReleasesAWaitingWorkerAndStopsTheScan) {
    Harness h;
    h.engine.SetScanner(riClasses, [](TFixRegistry& engine) {
        while (!engine.IsStopped())
            engine.AddInvalidData(riClasses, "HKEY_CLASSES_ROOT\\x", "d", "", "v");
    });
    h.engine.ScanItems = {riClasses};
    h.engine.Start();
    ASSERT_TRUE(h.ui.RunUntil([&] { return h.engine.InvalidDataList().size() == 1; }));
    ASSERT_TRUE(h.ui.WaitForQueued(1));
    h.ui.shuttingDown = true;
    // The worker gives up its record without this thread taking it, and ends: its end
    // is queued behind the record while this thread still runs nothing.
    ASSERT_TRUE(h.ui.WaitForQueued(2));
    ASSERT_TRUE(h.ui.RunUntil([&] { return h.finished == 1; }));
    EXPECT_EQ(h.engine.InvalidDataList().size(), 1u);
    EXPECT_TRUE(h.engine.IsStopped());
}

TEST(ScanEngine, EventsAreRaisedOnlyWhenSet) {
    TestUiLoop ui;
    TFixRegistry engine(ui);
    engine.SetScanner(riFonts, [](TFixRegistry& e) {
        e.RaiseKeyChange("Software\\Microsoft\\Windows\\CurrentVersion\\Fonts");
        e.RaiseProgress(0, 1);
        addRecords(e, riFonts, "F", 1);
    });
    engine.ScanItems = {riFonts};
    engine.Start();
    ASSERT_TRUE(ui.RunUntil([&] { return !engine.IsRunning(); }));
    ui.RunPending(); // the end of the scan
    EXPECT_EQ(engine.LastScanError(), "");
    EXPECT_EQ(engine.InvalidDataList().size(), 1u);
}

TEST(ScanEngine, ProgressAndKeyChangeEvents) {
    Harness h;
    std::vector<int> percents; // worker only
    std::vector<std::string> keys;
    h.engine.OnProgressing = [&](TFixRegistry* sender, int percent) {
        EXPECT_EQ(sender, &h.engine);
        percents.push_back(percent);
    };
    h.engine.OnKeyChange = [&](TFixRegistry*, const std::string& key) { keys.push_back(key); };
    const std::vector<std::pair<size_t, size_t>> steps = {
        {0, 3}, {1, 3}, {2, 3}, {28, 100}, {56, 100}, {0, 1}, {4, 0}, {6, 7}, {0, 1000}};
    h.engine.SetScanner(riAppPaths, [&](TFixRegistry& engine) {
        for (const auto& [index, count] : steps)
            engine.RaiseProgress(index, count);
        engine.RaiseKeyChange("App Paths\\x.exe");
    });
    h.engine.ScanItems = {riAppPaths};
    h.Scan();
    // A list of no items raises nothing.
    EXPECT_EQ(percents, (std::vector<int>{33, 66, 100, 29, 57, 100, 100, 0}));
    EXPECT_EQ(keys, (std::vector<std::string>{"App Paths\\x.exe"}));
}

TEST(ScanEngine, RecordsAddedOnTheUserInterfaceThreadGoStraightIn) {
    TestUiLoop ui;
    TFixRegistry engine(ui);
    engine.AddInvalidData(riAutoRun, "HKEY_CURRENT_USER\\Run", "diag", "data", "name");
    const TInvalidRegData expected{riAutoRun, "HKEY_CURRENT_USER\\Run", "name", "data", "diag"};
    EXPECT_EQ(engine.InvalidDataList(), (std::vector<TInvalidRegData>{expected}));
}

TEST(ScanExclusions, EntriesMatchWholeLocationsOrContainedText) {
    TestUiLoop ui;
    TFixRegistry engine(ui);
    struct Case {
        std::vector<std::string> entries;
        std::string candidate;
        bool excluded;
    } cases[] = {
        {{"HKEY_CLASSES_ROOT\\.txt(include subkey)"}, "HKEY_CLASSES_ROOT\\.txt", true},
        {{"HKEY_CLASSES_ROOT\\.txt(include subkey)"}, "HKEY_CLASSES_ROOT\\.txtfile", true},
        {{"HKEY_CLASSES_ROOT\\.txt(include subkey)"}, "HKEY_CLASSES_ROOT\\.txt\\Shell", true},
        {{"HKEY_CLASSES_ROOT\\.txt(include subkey)"}, "hkey_classes_root\\.TXT", true},
        {{"HKEY_CLASSES_ROOT\\.txt(include subkey)"}, "HKEY_CLASSES_ROOT\\.tx", false},
        {{"hkey_classes_root\\.txt"}, "HKEY_CLASSES_ROOT\\.txt", true},
        {{"hkey_classes_root\\.txt"}, "HKEY_CLASSES_ROOT\\.txtfile", false},
        {{"hkey_classes_root\\.txt"}, "HKEY_CLASSES_ROOT\\.txt\\Shell", false},
        // Only ASCII letters fold for a plain entry; the text search folds é too.
        {{"HKEY_CURRENT_USER\\Caf\xE9"}, "HKEY_CURRENT_USER\\CAF\xC9", false},
        {{"HKEY_CURRENT_USER\\Caf\xE9(include subkey)"}, "HKEY_CURRENT_USER\\CAF\xC9", true},
        // An entry beginning with "(" excludes nothing; text after the first "(" is ignored.
        {{"(include subkey)"}, "HKEY_CLASSES_ROOT\\.txt", false},
        {{"("}, "(", false},
        {{"HKEY_USERS\\a(x)(y)"}, "HKEY_USERS\\abc", true},
        // The first match decides; later entries are tried when earlier ones miss.
        {{"HKEY_USERS\\nope", "HKEY_USERS\\x(include subkey)"}, "HKEY_USERS\\x\\y", true},
        {{}, "HKEY_USERS\\x", false},
        // The text before "(" is not trimmed.
        {{"HKEY_USERS\\x (include subkey)"}, "HKEY_USERS\\x\\y", false},
    };
    for (const Case& c : cases) {
        engine.ExcludeKEYList = c.entries;
        EXPECT_EQ(engine.IsExcluded(c.candidate), c.excluded)
            << (c.entries.empty() ? "" : c.entries.front()) << " / " << c.candidate;
    }
}

TEST(ScanExclusions, TextOfLinesBecomesTheList) {
    TestUiLoop ui;
    TFixRegistry engine(ui);
    engine.SetExcludeKEYText("HKEY_USERS\\a\r\nHKEY_USERS\\b(include subkey)\nc\rd\r\n");
    EXPECT_EQ(
        engine.ExcludeKEYList,
        (std::vector<std::string>{"HKEY_USERS\\a", "HKEY_USERS\\b(include subkey)", "c", "d"}));
    EXPECT_TRUE(engine.IsExcluded("HKEY_USERS\\a"));
    engine.SetExcludeKEYText("");
    EXPECT_TRUE(engine.ExcludeKEYList.empty());
}

TEST(ScanNameSets, CollectKeyNamesFillsBothSetsInByteOrder) {
    TestMachine machine("[HKEY_CLASSES_ROOT\\CLSID\\{b}]\n"
                        "[HKEY_CLASSES_ROOT\\CLSID\\{A}]\n"
                        "[HKEY_CLASSES_ROOT\\CLSID\\{A}x]\n"
                        "[HKEY_CLASSES_ROOT\\CLSID\\\xC9t\xE9]\n"
                        "[HKEY_CLASSES_ROOT\\CLSID\\Zed]\n");
    TFixRegistry::TNameSet upper{"KEPT"}, names{"kept"};
    ASSERT_TRUE(TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "CLSID", upper, names));
    // Byte by byte with case: upper case letters before lower case, a prefix first,
    // bytes above 127 last.
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()),
              (std::vector<std::string>{"Zed", "kept", "{A}", "{A}x", "{b}", "\xC9t\xE9"}));
    // ASCII letters only are upper-cased.
    EXPECT_EQ(std::vector<std::string>(upper.begin(), upper.end()),
              (std::vector<std::string>{"KEPT", "ZED", "{A}", "{A}X", "{B}", "\xC9T\xE9"}));

    TFixRegistry::TNameSet missingUpper{"X"}, missingNames{"x"};
    EXPECT_FALSE(
        TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "NoSuchKey", missingUpper, missingNames));
    EXPECT_EQ(missingUpper, (TFixRegistry::TNameSet{"X"}));
    EXPECT_EQ(missingNames, (TFixRegistry::TNameSet{"x"}));

    // An empty path lists the root itself.
    TFixRegistry::TNameSet rootUpper, rootNames;
    ASSERT_TRUE(TFixRegistry::CollectKeyNames(HKEY_CLASSES_ROOT, "", rootUpper, rootNames));
    EXPECT_TRUE(rootNames.count("CLSID"));
    EXPECT_TRUE(rootUpper.count("CLSID"));
}

TEST(ScanCategories, NamesAndRepairs) {
    struct Row {
        TRepairItem item;
        int value;
        const char* name;
        bool deletesKey;
    } rows[] = {
        {riActiveX, 0, "Invalid Activex,OLE,COM Sections", true},
        {riAppPaths, 1, "Invalid Application Folders", true},
        {riAutoRun, 2, "Invalid Auto Run Section", false},
        {riClasses, 3, "Invalid Classes Section", true},
        {riFileAssociations, 4, "Invalid File Associations", true},
        {riFonts, 5, "Invalid Fonts", false},
        {riHelpFiles, 6, "Invalid Help Files", false},
        {riSharedDlls, 7, "Invalid Shared Dynamic Link Libraries", false},
        {riSoftware, 8, "Invalid Software Settings", true},
        {riServices, 9, "Invalid System Services", true},
        {riUninstallers, 10, "Invalid Uninstallers", true},
        {riStartMenu, 11, "Obsolete Start Menu Items", true},
    };
    static_assert(sizeof(TRepairItem) == 1);
    for (const Row& row : rows) {
        EXPECT_EQ(int(row.item), row.value);
        EXPECT_STREQ(RepairItemDisplayName(row.item), row.name);
        EXPECT_EQ(RepairItemFixDeletesKey(row.item), row.deletesKey) << row.name;
        EXPECT_STREQ(RepairItemRepairText(row.item),
                     row.deletesKey ? "Delete erroneous key entry (recommended)"
                                    : "Delete erroneous value entry (recommended)");
    }
}

TEST(ScanCategories, SetsInSixteenBits) {
    TRepairItems items{riActiveX, riFonts, riStartMenu};
    EXPECT_EQ(items.Bits(), 0x0821);
    EXPECT_TRUE(items.Contains(riFonts));
    EXPECT_FALSE(items.Contains(riAutoRun));
    items.Exclude(riFonts);
    EXPECT_EQ(items.Bits(), 0x0801);
    EXPECT_EQ(TRepairItems::FromBits(0xFFFF).Bits(), 0x0FFF);
    EXPECT_EQ(TRepairItems::All(), TRepairItems::FromBits(0x0FFF));
    EXPECT_TRUE(TRepairItems().Empty());
}

} // namespace
