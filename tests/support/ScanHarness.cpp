#include "support/ScanHarness.h"

#include "registry/OSInfo.h"

namespace testing_support {

ScanOutcome ScanMachine(TRepairItems items, const std::vector<std::string>& exclusions,
                        const std::function<void(TFixRegistry&)>& prepare) {
    InitOSInfo();
    TestUiLoop ui;
    TFixRegistry engine(ui);
    ScanOutcome outcome; // the event vectors are written by the worker, read after its end
    bool finished = false;
    engine.ScanItems = items;
    engine.ExcludeKEYList = exclusions;
    engine.OnStatus = [&](TFixRegistry*, TRepairItem item, const std::string&) {
        outcome.statuses.push_back(item);
    };
    engine.OnKeyChange = [&](TFixRegistry*, const std::string& key) {
        outcome.keys.push_back(key);
    };
    engine.OnProgressing = [&](TFixRegistry*, int percent) { outcome.percents.push_back(percent); };
    // The list is read here only after the worker's own record went in, and the
    // user-interface thread changes it only while the worker waits.
    engine.OnFound = [&](TFixRegistry* sender, TRepairItem item) {
        outcome.found.emplace_back(sender->InvalidDataList().size(), item);
    };
    engine.OnFinished = [&](TFixRegistry*) { finished = true; };
    if (prepare)
        prepare(engine);
    engine.Start();
    outcome.ended = ui.RunUntil([&] { return finished; });
    if (!outcome.ended) {
        engine.Stop();
        ui.RunUntil([&] { return finished; });
    }
    outcome.records = engine.InvalidDataList();
    outcome.error = engine.LastScanError();
    return outcome;
}

} // namespace testing_support
