#include "scan/TFixThread.h"

#include "win32/host/FileLookupSession.h"

TFixThread::TFixThread(TFixRegistry& owner, UiDispatcher& ui, TRepairItems items, Scanners scanners)
    : owner_(owner), ui_(ui), items_(items), scanners_(std::move(scanners)), handOver_(ui) {}

TFixThread::~TFixThread() {
    WaitFor();
}

void TFixThread::Resume() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { Execute(); });
}

void TFixThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TFixThread::Execute() {
    try {
        RunScan();
    } catch (const std::exception& e) {
        error_ = e.what();
        if (error_.empty())
            error_ = "Scan error";
    } catch (...) {
        error_ = "Scan error";
    }
    if (OnTerminate)
        ui_.Post(OnTerminate);
}

void TFixThread::RunScan() {
    // A scan only reads: each folder it looks into is read from the disk once.
    const win32::FileLookupSession lookups;
    for (int n = 0; n < kRepairItemCount; ++n) {
        if (owner_.IsStopped())
            return;
        const auto item = static_cast<TRepairItem>(n);
        if (!items_.Contains(item))
            continue;
        owner_.RaiseStatus(item);
        if (scanners_[size_t(n)])
            scanners_[size_t(n)](owner_);
    }
}
