#pragma once
// The scan worker: walks the categories of one scan on a thread of its own.

#include "scan/TFixRegistry.h"
#include "scan/UiHandOver.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class TFixThread {
public:
    using Scanners = std::array<TFixRegistry::TScanner, kRepairItemCount>;

    // Created suspended: the thread starts with Resume.
    TFixThread(TFixRegistry& owner, UiDispatcher& ui, TRepairItems items, Scanners scanners);
    // Waits for the thread to end.
    ~TFixThread();
    TFixThread(const TFixThread&) = delete;
    TFixThread& operator=(const TFixThread&) = delete;

    // Posted to the user-interface thread when the walk has ended, however it ended.
    std::function<void()> OnTerminate;

    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    void WaitFor();

    UiHandOver& HandOver() { return handOver_; }
    // The message of the error that ended the walk; read after WaitFor.
    const std::string& Error() const { return error_; }

private:
    void Execute();
    // The walk over the categories.
    void RunScan();

    TFixRegistry& owner_;
    UiDispatcher& ui_;
    const TRepairItems items_;
    const Scanners scanners_;
    UiHandOver handOver_;
    std::atomic<bool> terminated_{false};
    std::string error_;
    std::thread thread_;
};
