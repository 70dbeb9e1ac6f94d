#include "store/fxRegCacheManager.h"

#include <utility>

TfxRegCacheManager::TfxRegCacheManager(int capacity) : capacity_(capacity > 0 ? capacity : 1) {
    entries_.reserve(static_cast<size_t>(capacity_));
}

int TfxRegCacheManager::indexOf(int32_t offset) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].offset == offset)
            return static_cast<int>(i);
    return -1;
}

int TfxRegCacheManager::Find(int32_t offset) {
    const int found = indexOf(offset);
    if (found < 0)
        return -1;
    // A swap, not a shift: the former first entry takes the found entry's place.
    std::swap(entries_[0], entries_[static_cast<size_t>(found)]);
    return 0;
}

void TfxRegCacheManager::Add(int32_t offset, const store::StoreRecord& record) {
    if (indexOf(offset) >= 0)
        return;
    if (Count() >= capacity_)
        entries_.pop_back();
    entries_.insert(entries_.begin(), Entry{offset, record});
}

store::StoreRecord TfxRegCacheManager::Get(int position) const {
    if (position < 0 || position >= Count())
        return {};
    return entries_[static_cast<size_t>(position)].record;
}

void TfxRegCacheManager::Update(int position, int32_t offset, const store::StoreRecord& record) {
    if (position < 0 || position >= Count())
        return;
    entries_[static_cast<size_t>(position)] = Entry{offset, record};
}

void TfxRegCacheManager::Delete(int position) {
    if (position < 0 || position >= Count())
        return;
    entries_.erase(entries_.begin() + position);
}

void TfxRegCacheManager::Clear() {
    entries_.clear();
}

int32_t TfxRegCacheManager::OffsetAt(int position) const {
    if (position < 0 || position >= Count())
        return 0;
    return entries_[static_cast<size_t>(position)].offset;
}
