#pragma once
// Where the keys read from one hive file are made: in large blocks rather than one by
// one, so that building them calls no allocator and letting go of a tree of millions of
// them frees a few hundred blocks. A key let go of while the hive is mounted leaves its
// place to the next key read. The blocks go when the hive and every key made in them
// are gone.

#if defined(__SANITIZE_ADDRESS__)
#define HW_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HW_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef HW_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace hive {

class KeyArena {
public:
    KeyArena() = default;
    ~KeyArena() {
#ifdef HW_ADDRESS_SANITIZER
        for (const auto& [block, size] : sizes_)
            ASAN_UNPOISON_MEMORY_REGION(block, size);
#endif
    }
    KeyArena(const KeyArena&) = delete;
    KeyArena& operator=(const KeyArena&) = delete;

    // With the hive's mutex held: keys are read one at a time.
    void* allocate(size_t bytes, size_t alignment) {
        if (void* place = reuse(bytes))
            return place;
        const size_t skip =
            (alignment - reinterpret_cast<uintptr_t>(next_) % alignment) % alignment;
        if (!next_ || left_ < skip + bytes) {
            const size_t size = std::max(kBlockBytes, bytes + alignment);
            blocks_.push_back(std::make_unique<std::byte[]>(size));
#ifdef HW_ADDRESS_SANITIZER
            sizes_.emplace_back(blocks_.back().get(), size);
#endif
            next_ = blocks_.back().get();
            left_ = size;
            return allocate(bytes, alignment);
        }
        std::byte* at = next_ + skip;
        next_ = at + bytes;
        left_ -= skip + bytes;
        users_.fetch_add(1, std::memory_order_relaxed);
        return at;
    }
    // One user fewer (a key, or the hive); true for the last, who deletes the arena.
    bool release() {
        return users_.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }
    // A key's place, given back from any thread, for the next key of its size; a checked
    // build still catches its use after it is gone.
    void recycle(void* at, size_t bytes) {
        std::lock_guard guard(freeLock_);
        if (freeSize_ == 0)
            freeSize_ = bytes; // every key of a hive takes the same room
        if (bytes == freeSize_ && bytes >= sizeof(void*)) {
            *static_cast<void**>(at) = free_;
            free_ = at;
        }
#ifdef HW_ADDRESS_SANITIZER
        ASAN_POISON_MEMORY_REGION(at, bytes);
#endif
    }

private:
    void* reuse(size_t bytes) {
        std::lock_guard guard(freeLock_);
        if (!free_ || bytes != freeSize_)
            return nullptr;
        void* at = free_;
#ifdef HW_ADDRESS_SANITIZER
        ASAN_UNPOISON_MEMORY_REGION(at, bytes);
#endif
        free_ = *static_cast<void**>(at);
        users_.fetch_add(1, std::memory_order_relaxed);
        return at;
    }

    static constexpr size_t kBlockBytes = 64 << 10; // a few hundred keys
    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    std::byte* next_ = nullptr;
    size_t left_ = 0;
    std::atomic<size_t> users_{1}; // the hive that reads into it
    std::mutex freeLock_;
    void* free_ = nullptr; // places given back, each holding the next
    size_t freeSize_ = 0;
#ifdef HW_ADDRESS_SANITIZER
    std::vector<std::pair<std::byte*, size_t>> sizes_;
#endif
};

// For std::allocate_shared: each key and its count of owners in one place of the arena.
template <typename T> struct KeyArenaAllocator {
    using value_type = T;
    explicit KeyArenaAllocator(KeyArena* arena) : arena(arena) {}
    template <typename U>
    KeyArenaAllocator(const KeyArenaAllocator<U>& other) : arena(other.arena) {}
    T* allocate(size_t n) { return static_cast<T*>(arena->allocate(n * sizeof(T), alignof(T))); }
    void deallocate(T* at, size_t n) {
        arena->recycle(at, n * sizeof(T));
        if (arena->release())
            delete arena;
    }
    template <typename U> bool operator==(const KeyArenaAllocator<U>& other) const {
        return arena == other.arena;
    }
    KeyArena* arena;
};

} // namespace hive
