#pragma once
// The hive worker: runs one operation of a hive manager on a thread of its own.

#include <atomic>
#include <functional>
#include <thread>

class THiveManager;

class TBackupThread {
public:
    // Created suspended: the thread starts with Resume. `mode` as THiveOperation; any
    // other mode does nothing.
    TBackupThread(THiveManager& owner, int mode);
    // Waits for the thread to end.
    ~TBackupThread();
    TBackupThread(const TBackupThread&) = delete;
    TBackupThread& operator=(const TBackupThread&) = delete;

    // Called on the worker thread when the operation has ended, however it ended.
    std::function<void()> OnTerminate;

    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    void WaitFor();

private:
    void Execute();

    THiveManager& owner_;
    const int mode_;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};
