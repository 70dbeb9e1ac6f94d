#pragma once
// The most recently used records of a store file, by offset. New entries enter at the
// front, a hit changes places with the front entry, and the entry in the last place is
// the one given up when room is needed.

#include "store/StoreFormat.h"

#include <cstdint>
#include <vector>

class TfxRegCacheManager {
public:
    explicit TfxRegCacheManager(int capacity);

    // The position of the offset's entry after moving it to the front (always 0), or -1.
    int Find(int32_t offset);
    void Add(int32_t offset, const store::StoreRecord& record);
    // An all-zero record for a position outside the entries.
    store::StoreRecord Get(int position) const;
    void Update(int position, int32_t offset, const store::StoreRecord& record);
    void Delete(int position);
    void Clear();

    int Count() const { return static_cast<int>(entries_.size()); }
    int Capacity() const { return capacity_; }
    // The offset held at a position, for inspection; 0 outside the entries.
    int32_t OffsetAt(int position) const;

private:
    struct Entry {
        int32_t offset;
        store::StoreRecord record;
    };
    int indexOf(int32_t offset) const;

    int capacity_;
    std::vector<Entry> entries_;
};
