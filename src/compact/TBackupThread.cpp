#include "compact/TBackupThread.h"

#include "compact/THiveManager.h"

#include <exception>

TBackupThread::TBackupThread(THiveManager& owner, int mode) : owner_(owner), mode_(mode) {}

TBackupThread::~TBackupThread() {
    WaitFor();
}

void TBackupThread::Resume() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { Execute(); });
}

void TBackupThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TBackupThread::Execute() {
    // An error ends the operation with Success as the operation left it.
    try {
        switch (mode_) {
        case hoCompact:
            owner_.CompactHives();
            break;
        case hoBackup:
            owner_.BackupHives();
            break;
        case hoRestore:
            owner_.RestoreHives();
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        owner_.SetLastError(e.what());
    } catch (...) {
        owner_.SetLastError("Unknown error");
    }
    if (OnTerminate)
        OnTerminate();
}
