#include "scan/TFixRegistry.h"

#include "scan/ScannerTable.h"
#include "scan/TFixThread.h"

#include <stdexcept>

TFixRegistry::TFixRegistry(UiDispatcher& ui)
    : ui_(ui), scanners_(BuiltInScanners()), uiThread_(std::this_thread::get_id()) {}

TFixRegistry::~TFixRegistry() {
    if (FixThread) {
        // The worker may be waiting for this thread to take a record; it must not wait
        // for a thread that is waiting for it.
        StopRequested = true;
        FixThread->Terminate();
        FixThread->HandOver().Abandon();
        FixThread->WaitFor();
        FixThread.reset();
    }
}

void TFixRegistry::SetScanner(TRepairItem item, TScanner scanner) {
    if (item < kRepairItemCount)
        scanners_[item] = std::move(scanner);
}

void TFixRegistry::Start() {
    if (FixThread)
        return;
    invalidDataList_.clear();
    lastScanError_.clear();
    StopRequested = false;
    FixThread = std::make_unique<TFixThread>(*this, ui_, ScanItems, scanners_);
    FixThread->OnTerminate = [this, alive = std::weak_ptr<char>(alive_)] {
        if (!alive.expired())
            ScanEnded();
    };
    FixThread->Resume();
}

void TFixRegistry::Stop() {
    StopRequested = true;
}

bool TFixRegistry::IsRunning() const {
    return FixThread && !FixThread->Terminated();
}

void TFixRegistry::ScanEnded() {
    if (!FixThread)
        return;
    FixThread->WaitFor();
    lastScanError_ = FixThread->Error();
    FixThread.reset();
    if (OnFinished)
        OnFinished(this);
}

bool TFixRegistry::IsStopped() const {
    return (FixThread && FixThread->Terminated()) || ui_.IsShuttingDown() || StopRequested;
}

void TFixRegistry::AddInvalidData(TRepairItem category, const std::string& keyLocation,
                                  const std::string& diagnosis, const std::string& valueData,
                                  const std::string& valueName) {
    const TInvalidRegData record{category, keyLocation, valueName, valueData, diagnosis};
    if (!FixThread || std::this_thread::get_id() == uiThread_) {
        invalidDataList_.push_back(record);
        return;
    }
    // The record stays alive while the user-interface thread copies it: Invoke returns
    // only after the copy, or once the copy can no longer happen.
    const bool appended =
        FixThread->HandOver().Invoke([this, &record] { invalidDataList_.push_back(record); });
    // Given up because the scan is ending: the record goes with it. Otherwise the list
    // could not take it, and a scan that silently lost a problem would look complete.
    if (!appended && !IsStopped())
        throw std::runtime_error("The list of problems could not take another record");
}

void TFixRegistry::RaiseProgress(size_t index, size_t count) {
    if (!OnProgressing || count == 0)
        return;
    // Whole numbers throughout: (index + 1) / count * 100 in floating point would
    // come out one short for lists such as 29 of 100.
    const auto percent = static_cast<int>((static_cast<unsigned long long>(index) + 1) * 100 /
                                          static_cast<unsigned long long>(count));
    OnProgressing(this, percent);
}

void TFixRegistry::RaiseKeyChange(const std::string& keyPath) {
    if (OnKeyChange)
        OnKeyChange(this, keyPath);
}

void TFixRegistry::RaiseFound(TRepairItem category) {
    if (OnFound)
        OnFound(this, category);
}

void TFixRegistry::RaiseStatus(TRepairItem item) {
    if (OnStatus)
        OnStatus(this, item, std::string());
}
