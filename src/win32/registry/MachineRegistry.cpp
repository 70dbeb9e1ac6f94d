#include "win32/registry/MachineRegistry.h"

#include "win32/base/HiveTree.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {
// Handle values: kFirstHandle + 4 * slot, well clear of the predefined keys.
constexpr uintptr_t kFirstHandle = 0x1000;
const uintptr_t kFirstPredefined = reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
} // namespace

MachineRegistry::~MachineRegistry() {
    stopFlusher();
    for (auto& segment : segments_)
        delete[] segment.load(std::memory_order_relaxed);
}

MachineRegistry::Slot* MachineRegistry::slot(size_t index) const {
    if (index >= kSegmentSize * kMaxSegments)
        return nullptr;
    Slot* segment = segments_[index / kSegmentSize].load(std::memory_order_acquire);
    return segment ? &segment[index % kSegmentSize] : nullptr;
}

HKEY MachineRegistry::addHandle(KeyView view, REGSAM access) {
    std::lock_guard guard(tableLock_);
    size_t index = slotsUsed_;
    if (!freeSlots_.empty()) {
        index = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        if (index >= kSegmentSize * kMaxSegments)
            return nullptr;
        auto& segment = segments_[index / kSegmentSize];
        if (!segment.load(std::memory_order_relaxed))
            segment.store(new Slot[kSegmentSize], std::memory_order_release);
        ++slotsUsed_;
    }
    Handle& entry = slot(index)->emplace();
    entry.view = std::move(view);
    entry.access = access;
    return reinterpret_cast<HKEY>(kFirstHandle + 4 * index);
}

MachineRegistry::Handle::Handle() = default;

MachineRegistry::Handle* MachineRegistry::handle(HKEY h) {
    const auto value = reinterpret_cast<uintptr_t>(h);
    if (value - kFirstPredefined < predefined_.size()) {
        std::call_once(predefinedMade_, [this] {
            auto add = [this](HKEY key, KeyView view) {
                Handle& entry =
                    predefined_[reinterpret_cast<uintptr_t>(key) - kFirstPredefined].emplace();
                entry.view = std::move(view);
                entry.access = KEY_ALL_ACCESS;
            };
            add(HKEY_LOCAL_MACHINE, {localMachine, nullptr, false});
            add(HKEY_USERS, {users, nullptr, false});
            add(HKEY_CURRENT_USER, {currentUser, nullptr, false});
            add(HKEY_CLASSES_ROOT, {machineClasses, userClasses, true});
            if (currentConfig)
                add(HKEY_CURRENT_CONFIG, {currentConfig, nullptr, false});
        });
        Slot& entry = predefined_[value - kFirstPredefined];
        return entry ? &*entry : nullptr;
    }
    if (value < kFirstHandle || value % 4 != 0)
        return nullptr;
    Slot* entry = slot((value - kFirstHandle) / 4);
    return entry && *entry ? &**entry : nullptr;
}

bool MachineRegistry::closeHandle(HKEY h, KeyView* closed) {
    const auto value = reinterpret_cast<uintptr_t>(h);
    if (!handle(h))
        return false;
    if (value - kFirstPredefined < predefined_.size())
        return true; // closing a predefined key does nothing
    const size_t index = (value - kFirstHandle) / 4;
    std::lock_guard guard(tableLock_);
    Slot* entry = slot(index);
    if (!*entry)
        return false; // closed by another thread meanwhile
    if (closed)
        *closed = std::move((*entry)->view);
    entry->reset();
    freeSlots_.push_back(index);
    return true;
}

void MachineRegistry::enterRead() {
    for (;;) {
        activeReads_.fetch_add(1, std::memory_order_seq_cst);
        if (!releasing_.load(std::memory_order_seq_cst))
            return;
        activeReads_.fetch_sub(1, std::memory_order_seq_cst);
        while (releasing_.load(std::memory_order_acquire))
            std::this_thread::yield();
    }
}

void MachineRegistry::releaseClosed(KeyView closed) {
    if (!readOnly)
        return;
    std::unique_lock guard(releaseLock_, std::try_to_lock);
    if (!guard)
        return; // another close is letting go of keys
    releasing_.store(true, std::memory_order_seq_cst);
    // The closing call is the only one under way: no other thread holds a key of the tree
    // but through a handle, which owns it. Calls that start now wait.
    if (activeReads_.load(std::memory_order_seq_cst) == 1)
        for (std::shared_ptr<HiveKey>* part : {&closed.key, &closed.userClass}) {
            // Held by its parent's list and by this view alone: nobody else uses it.
            const bool unused = part->use_count() == 2;
            HiveKey* key = part->get();
            part->reset();
            if (unused)
                key->releaseIfUnused();
        }
    releasing_.store(false, std::memory_order_seq_cst);
}

void MachineRegistry::releaseUnusedKeys() {
    for (const auto& hive : hives)
        if (hive->root && hive->root->source())
            hive->root->source()->keysReleasable.store(true, std::memory_order_relaxed);
}

std::optional<std::pair<uint64_t, uint64_t>>
MachineRegistry::fileIdentity(const std::string& host) {
    struct stat info;
    if (::stat(host.c_str(), &info) != 0)
        return std::nullopt;
    return std::pair<uint64_t, uint64_t>(info.st_dev, info.st_ino);
}

namespace {

// Bytes hashed a block at a time, the same whether they lie in memory or in a file.
class ContentHash {
public:
    void add(const uint8_t* data, size_t size) {
        const std::string_view block(reinterpret_cast<const char*>(data), size);
        hash_ = (hash_ ^ std::hash<std::string_view>()(block)) * 0x100000001b3ULL;
    }
    uint64_t value() const { return hash_; }
    static constexpr size_t kBlock = 1 << 20;

private:
    uint64_t hash_ = 0xcbf29ce484222325ULL;
};

} // namespace

void MachineRegistry::recordDenseSave(const std::string& host, const Hive* hive,
                                      const std::vector<uint8_t>& bytes) {
    const auto identity = fileIdentity(host);
    if (!identity)
        return;
    ContentHash hash;
    for (size_t at = 0; at < bytes.size(); at += ContentHash::kBlock)
        hash.add(bytes.data() + at, std::min(ContentHash::kBlock, bytes.size() - at));
    denseSaves[*identity] = {hive, hive->changes, bytes.size(), hash.value()};
}

const MachineRegistry::DenseSave* MachineRegistry::denseSaveOf(const std::string& host) const {
    const auto identity = fileIdentity(host);
    const auto saved = identity ? denseSaves.find(*identity) : denseSaves.end();
    if (saved == denseSaves.end())
        return nullptr;
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::vector<uint8_t> block(ContentHash::kBlock);
    ContentHash hash;
    uint64_t size = 0;
    bool readWhole = true;
    for (;;) {
        size_t filled = 0;
        while (filled < block.size()) {
            const ssize_t n = ::read(fd, block.data() + filled, block.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                readWhole = n == 0;
                break;
            }
            filled += size_t(n);
        }
        if (filled > 0)
            hash.add(block.data(), filled);
        size += filled;
        if (filled < block.size() || !readWhole)
            break;
    }
    ::close(fd);
    if (!readWhole || size != saved->second.size || hash.value() != saved->second.contentHash)
        return nullptr;
    return &saved->second;
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
