#include "compact/THiveManager.h"

#include "compact/TBackupThread.h"
#include "registry/TRegistry.h"

#include <stdexcept>

namespace {

constexpr char kHiveListKey[] = "SYSTEM\\CurrentControlSet\\Control\\hivelist";

} // namespace

THiveManager::THiveManager(UiDispatcher& ui) : ui_(ui) {}

THiveManager::~THiveManager() {
    if (thread_) {
        stopRequested_ = true;
        thread_->Terminate();
        thread_->WaitFor();
        thread_.reset();
    }
}

void THiveManager::ScanHives() {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(kHiveListKey, false))
        throw std::runtime_error("Error Scanning For Registry Hives");
    std::vector<std::string> names;
    reg.GetValueNames(names);
    for (const std::string& name : names) {
        const std::string data = reg.ReadString(name);
        if (!data.empty())
            Hives.push_back(std::make_unique<THive>(name, mapper_, data));
    }
}

void THiveManager::Compact() {
    stopRequested_ = false;
    CompactHives();
}

void THiveManager::Backup() {
    stopRequested_ = false;
    BackupHives();
}

void THiveManager::Restore() {
    stopRequested_ = false;
    RestoreHives();
}

void THiveManager::Start(int mode) {
    if (thread_)
        return;
    // Cleared here, not on the worker: a Stop right after Start must not be lost.
    stopRequested_ = false;
    thread_ = std::make_unique<TBackupThread>(*this, mode);
    thread_->OnTerminate = [this, alive = std::weak_ptr<char>(alive_)] {
        ui_.Post([this, alive] {
            if (!alive.expired())
                OperationEnded();
        });
    };
    thread_->Resume();
}

bool THiveManager::IsBusy() const {
    return thread_ && !thread_->Terminated();
}

void THiveManager::Stop() {
    stopRequested_ = true;
}

std::string THiveManager::LastError() const {
    std::lock_guard guard(errorLock_);
    return lastError_;
}

void THiveManager::SetLastError(const std::string& text) {
    std::lock_guard guard(errorLock_);
    lastError_ = text;
}

void THiveManager::OperationEnded() {
    if (!thread_)
        return;
    thread_->WaitFor();
    thread_.reset();
    if (OnDone)
        OnDone(this, success_);
}

void THiveManager::RaiseProgress(int percent) {
    if (OnProgress)
        OnProgress(this, percent);
}
