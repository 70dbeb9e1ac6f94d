#include "store/PendingWrites.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace store {

void PendingWrites::write(int64_t offset, const void* data, int64_t size) {
    if (size <= 0)
        return;
    const auto* bytes = static_cast<const char*>(data);
    const int64_t last = offset + size;

    // The range that starts at or before `offset`, when it reaches it.
    auto first = ranges_.upper_bound(offset);
    if (first != ranges_.begin()) {
        auto previous = std::prev(first);
        const int64_t previousEnd = previous->first + int64_t(previous->second.size());
        if (previousEnd >= last) {
            // Inside one range: the common case of rewriting the same header or slots.
            std::memcpy(previous->second.data() + (offset - previous->first), bytes, size_t(size));
            return;
        }
        if (previousEnd >= offset)
            first = previous;
    }

    // Merge every range that overlaps or touches [offset, last).
    int64_t start = offset;
    int64_t stop = last;
    auto it = first;
    while (it != ranges_.end() && it->first <= last) {
        start = std::min(start, it->first);
        stop = std::max(stop, it->first + int64_t(it->second.size()));
        ++it;
    }
    std::string merged(size_t(stop - start), '\0');
    for (auto m = first; m != it; ++m)
        std::memcpy(merged.data() + (m->first - start), m->second.data(), m->second.size());
    std::memcpy(merged.data() + (offset - start), bytes, size_t(size));
    ranges_.erase(first, it);
    ranges_.emplace(start, std::move(merged));
}

void PendingWrites::overlay(int64_t offset, void* buffer, int64_t size) const {
    if (size <= 0 || ranges_.empty())
        return;
    auto* out = static_cast<char*>(buffer);
    const int64_t last = offset + size;
    auto it = ranges_.upper_bound(offset);
    if (it != ranges_.begin())
        --it;
    for (; it != ranges_.end() && it->first < last; ++it) {
        const int64_t from = std::max(offset, it->first);
        const int64_t to = std::min(last, it->first + int64_t(it->second.size()));
        if (from < to)
            std::memcpy(out + (from - offset), it->second.data() + (from - it->first),
                        size_t(to - from));
    }
}

int64_t PendingWrites::end() const {
    if (ranges_.empty())
        return 0;
    const auto& last = *ranges_.rbegin();
    return last.first + int64_t(last.second.size());
}

} // namespace store
