#pragma once
// The hive manager: the machine's list of loaded hives, and one long operation on them
// at a time (compaction, backup into a profile folder, restore from one) on a worker
// thread of its own.

#include "compact/THive.h"
#include "registry/DeviceFileMapper.h"
#include "scan/UiDispatcher.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TBackupThread;

// What the worker does.
enum THiveOperation { hoCompact = 0, hoBackup = 1, hoRestore = 2 };

class THiveManager {
public:
    // Raised on the worker thread: a receiver that updates windows hands the value to
    // the user-interface thread without waiting for it (the manager's destructor waits
    // on that thread for the worker).
    using TProgressEvent = std::function<void(THiveManager* Sender, int percent)>;
    // Raised on the user-interface thread once the worker has ended.
    using TDoneEvent = std::function<void(THiveManager* Sender, bool success)>;

    // Made on the user-interface thread with a booted machine; `ui` must outlive the
    // manager. Raises the mapper's EDeviceFileMapper.
    explicit THiveManager(UiDispatcher& ui);
    // Stops a running operation and waits for its worker to end; OnDone is not raised.
    ~THiveManager();
    THiveManager(const THiveManager&) = delete;
    THiveManager& operator=(const THiveManager&) = delete;

    TProgressEvent OnProgress;
    TDoneEvent OnDone;
    // The profile folder (a host path) for a backup or a restore; set before Start.
    std::string Folder;
    // In hive-list order; changes only while no operation runs.
    std::vector<std::unique_ptr<THive>> Hives;

    const TDeviceFileMapper& Mapper() const { return mapper_; }

    // --- user-interface thread ---
    // Appends a hive for each value of the machine's hive list whose data is not empty
    // (the list is not cleared first). Raises std::runtime_error "Error Scanning For
    // Registry Hives" when the list's key cannot be opened, and the mapper's errors.
    void ScanHives();
    // Starts `mode` on a new worker and returns at once; does nothing while one runs.
    void Start(int mode);
    // A worker exists and has not been told to stop.
    bool IsBusy() const;
    // The running operation ends before its next hive.
    void Stop();
    // The result of the last operation, as OnDone reported it.
    bool Success() const { return success_; }
    // Why the last operation failed, when it says: the error that ended it, or the step
    // of a restore that was refused. Empty after a success.
    std::string LastError() const;

    // --- the operations, on the worker thread (or on the caller's, for tests) ---
    // Called directly, each clears the stop request first (Start clears it for the
    // worker, before the worker exists, so that a Stop right after Start holds). A
    // compaction leaves a hive alone whose restore waits for the next start, counting
    // the restored copy's size as the hive's saved size.
    void Compact();
    void Backup();
    void Restore();
    bool StopRequested() const { return stopRequested_; }

private:
    friend class TBackupThread;
    // The operations themselves, leaving the stop request as it is.
    void CompactHives();
    void BackupHives();
    void RestoreHives();
    // The end handler, on the user-interface thread.
    void OperationEnded();
    void RaiseProgress(int percent);
    void SetLastError(const std::string& text);

    UiDispatcher& ui_;
    TDeviceFileMapper mapper_;
    std::unique_ptr<TBackupThread> thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> success_{false};
    mutable std::mutex errorLock_;
    std::string lastError_;
    // End handlers still queued when the manager is destroyed find this gone.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};
