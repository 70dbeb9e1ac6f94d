#include "win32/registry/MachineRegistry.h"

#include "win32/base/HiveTree.h"

#include <atomic>
#include <sys/stat.h>

namespace win32 {

namespace {
std::unique_ptr<MachineRegistry> g_registry;
std::atomic<MachineRegistry*> g_current{nullptr};
} // namespace

MachineRegistry* MachineRegistry::current() {
    return g_current.load();
}

void setCurrentRegistry(std::unique_ptr<MachineRegistry> registry) {
    g_current.store(registry.get());
    g_registry = std::move(registry);
}

std::unique_ptr<MachineRegistry> takeCurrentRegistry() {
    g_current.store(nullptr);
    return std::move(g_registry);
}

MachineRegistry::~MachineRegistry() {
    stopFlusher();
}

namespace {
// Handle values: kFirstHandle + 4 * slot, well clear of the predefined keys.
constexpr uintptr_t kFirstHandle = 0x1000;
} // namespace

HKEY MachineRegistry::addHandle(KeyView view, REGSAM access) {
    size_t slot = handles_.size();
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        handles_.emplace_back();
    }
    Handle& entry = handles_[slot].emplace();
    entry.view = std::move(view);
    entry.access = access;
    return reinterpret_cast<HKEY>(kFirstHandle + 4 * slot);
}

MachineRegistry::Handle* MachineRegistry::handle(HKEY h) {
    const auto value = reinterpret_cast<uintptr_t>(h);
    if (predefined_.empty()) {
        auto add = [this](HKEY key, KeyView view) {
            Handle entry;
            entry.view = std::move(view);
            entry.access = KEY_ALL_ACCESS;
            predefined_.emplace(reinterpret_cast<uintptr_t>(key), std::move(entry));
        };
        add(HKEY_LOCAL_MACHINE, {localMachine, nullptr, false});
        add(HKEY_USERS, {users, nullptr, false});
        add(HKEY_CURRENT_USER, {currentUser, nullptr, false});
        add(HKEY_CLASSES_ROOT, {machineClasses, userClasses, true});
        if (currentConfig)
            add(HKEY_CURRENT_CONFIG, {currentConfig, nullptr, false});
    }
    if (const auto it = predefined_.find(value); it != predefined_.end())
        return &it->second;
    if (value < kFirstHandle || value % 4 != 0 || (value - kFirstHandle) / 4 >= handles_.size())
        return nullptr;
    auto& slot = handles_[(value - kFirstHandle) / 4];
    return slot ? &*slot : nullptr;
}

bool MachineRegistry::closeHandle(HKEY h) {
    const auto value = reinterpret_cast<uintptr_t>(h);
    if (!handle(h))
        return false;
    if (predefined_.count(value))
        return true; // closing a predefined key does nothing
    const size_t slot = (value - kFirstHandle) / 4;
    handles_[slot].reset();
    freeSlots_.push_back(slot);
    return true;
}

std::optional<std::pair<uint64_t, uint64_t>>
MachineRegistry::fileIdentity(const std::string& host) {
    struct stat info;
    if (::stat(host.c_str(), &info) != 0)
        return std::nullopt;
    return std::pair<uint64_t, uint64_t>(info.st_dev, info.st_ino);
}

void MachineRegistry::keyChanged(HiveKey* key) {
    ++generation;
    if (!key)
        return;
    key->lastWriteTime = FileTimeNow();
    if (Hive* hive = key->hive; hive && !key->isVolatile) {
        if (!hive->dirty)
            hive->changedAt = std::chrono::steady_clock::now();
        hive->dirty = true;
        ++hive->changes;
        flusherWake_.notify_all();
    }
}

void MachineRegistry::flushHive(Hive& hive) {
    HiveWriteOptions options = hive.writeOptions();
    // Counting on, as Windows does, keeps entries of an old transaction log from looking
    // newer than what is written now.
    options.sequence = hive.sequence + 1;
    Bytes bytes;
    try {
        bytes = WriteHive(*hive.root, options);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(hive.hostPath + ": " + e.what());
    }
    ReplaceFileAtomically(hive.hostPath, bytes);
    hive.sequence = options.sequence;
    hive.dirty = false;
}

void MachineRegistry::flushDirty(bool all) {
    const auto now = std::chrono::steady_clock::now();
    std::string failures;
    for (auto& hive : hives) {
        if (!hive->dirty || (!all && now - hive->changedAt < flushDelay_))
            continue;
        try {
            flushHive(*hive);
        } catch (const std::exception& e) {
            failures += (failures.empty() ? "" : "; ") + std::string(e.what());
        }
    }
    lastFlushError = failures;
    if (!failures.empty())
        throw std::runtime_error(failures);
}

void MachineRegistry::startFlusher(int delayMilliseconds) {
    flushDelay_ = std::chrono::milliseconds(delayMilliseconds);
    flusherStop_ = false;
    flusher_ = std::thread([this] {
        std::unique_lock guard(lock);
        while (!flusherStop_) {
            auto due = std::chrono::steady_clock::time_point::max();
            for (const auto& hive : hives)
                if (hive->dirty)
                    due = std::min(due, hive->changedAt + flushDelay_);
            if (due == std::chrono::steady_clock::time_point::max())
                flusherWake_.wait(guard);
            else
                flusherWake_.wait_until(guard, due);
            if (flusherStop_)
                break;
            try {
                flushDirty(false);
            } catch (const std::exception&) {
                // Kept in lastFlushError; the hive stays dirty and is tried again at the
                // next change, at RegFlushKey and at shutdown.
                for (auto& hive : hives)
                    if (hive->dirty)
                        hive->changedAt = std::chrono::steady_clock::now();
            }
        }
    });
}

void MachineRegistry::stopFlusher() {
    {
        std::lock_guard guard(lock);
        flusherStop_ = true;
    }
    flusherWake_.notify_all();
    if (flusher_.joinable())
        flusher_.join();
}

} // namespace win32
