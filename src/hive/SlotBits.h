#pragma once
// One bit for each 4-byte slot of a hive's bins: where a cell starts, or which cells a
// check has reached. Plain words rather than std::vector<bool>: the check of a large hive
// sets and tests a bit for each of its million cells, and a word's address can be
// fetched ahead of the test.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace hive {

class SlotBits {
public:
    // `count` bits, all clear. A large set is taken from the system whole, its pages
    // zeroed and mapped in one call: nearly every page of it is written soon, and
    // faulting them in one by one (a read of a zero page, then a copy on write) costs
    // more than the check that writes them.
    void assign(size_t count) {
        clear();
        const size_t bytes = ((count + 63) / 64) * sizeof(uint64_t);
        void* words = nullptr;
        if (bytes >= kMappedBytes) {
            words = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
            if (words == MAP_FAILED)
                throw std::bad_alloc();
            mappedBytes_ = bytes;
        } else {
            words = std::calloc(bytes ? bytes : 1, 1);
            if (!words)
                throw std::bad_alloc();
        }
        words_ = static_cast<uint64_t*>(words);
        count_ = count;
    }
    void clear() {
        if (mappedBytes_)
            ::munmap(words_, mappedBytes_);
        else
            std::free(words_);
        words_ = nullptr;
        mappedBytes_ = 0;
        count_ = 0;
    }
    SlotBits() = default;
    ~SlotBits() { clear(); }
    SlotBits(const SlotBits&) = delete;
    SlotBits& operator=(const SlotBits&) = delete;
    size_t size() const { return count_; }

    bool test(size_t bit) const { return (words_[bit / 64] >> (bit % 64)) & 1; }
    void set(size_t bit) { words_[bit / 64] |= uint64_t(1) << (bit % 64); }
    // Sets the bit; whether it was set already.
    bool testAndSet(size_t bit) {
        uint64_t& word = words_[bit / 64];
        const uint64_t mask = uint64_t(1) << (bit % 64);
        const bool was = word & mask;
        word |= mask;
        return was;
    }
    // Where the bit lies, for fetching it ahead of its test.
    const void* wordOf(size_t bit) const { return words_ + bit / 64; }

private:
    static constexpr size_t kMappedBytes = 256 << 10;
    uint64_t* words_ = nullptr;
    size_t mappedBytes_ = 0; // non-zero when the words are a mapping of their own
    size_t count_ = 0;
};

} // namespace hive
