#pragma once
// A table from texts to values, for what a lookup session remembers by spelling or by
// host path. A scan looks up tens of thousands of paths, most of them once: a look-up
// here hashes the text once, finds its slot in one array and compares the text kept in
// one block, where a map of strings follows a chain of nodes and copies the key to look
// it up. Entries are only added, or all dropped at once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace win32 {

template <typename Char, typename Value> class TextTable {
public:
    using Text = std::basic_string_view<Char>;
    static constexpr uint32_t npos = UINT32_MAX;

    // The index of the entry for `key`, npos when there is none.
    uint32_t find(Text key) const {
        if (slots_.empty())
            return npos;
        const uint64_t hash = hashOf(key);
        for (size_t at = hash & mask(); slots_[at].index != npos; at = (at + 1) & mask()) {
            const Slot& slot = slots_[at];
            if (slot.hash == hash && textOf(entries_[slot.index]) == key)
                return slot.index;
        }
        return npos;
    }
    // Adds an entry for `key`, which the table does not hold, and returns its index.
    uint32_t insert(Text key, Value value) {
        if ((entries_.size() + 1) * 2 > slots_.size())
            grow();
        const uint64_t hash = hashOf(key);
        size_t at = hash & mask();
        while (slots_[at].index != npos)
            at = (at + 1) & mask();
        const auto index = uint32_t(entries_.size());
        slots_[at] = {hash, index};
        entries_.push_back({texts_.size(), key.size(), std::move(value)});
        texts_.append(key);
        return index;
    }

    // Valid until the next insert.
    Value& at(uint32_t index) { return entries_[index].value; }
    const Value& at(uint32_t index) const { return entries_[index].value; }

    size_t size() const { return entries_.size(); }
    // The characters the keys take.
    size_t textSize() const { return texts_.size(); }
    void clear() {
        slots_.clear();
        entries_.clear();
        texts_.clear();
    }

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t index = npos;
    };
    struct Entry {
        size_t offset, length;
        Value value;
    };

    static uint64_t hashOf(Text key) { return std::hash<Text>{}(key); }
    size_t mask() const { return slots_.size() - 1; }
    Text textOf(const Entry& entry) const {
        return Text(texts_).substr(entry.offset, entry.length);
    }
    void grow() {
        std::vector<Slot> larger(slots_.empty() ? 64 : slots_.size() * 2);
        const size_t largerMask = larger.size() - 1;
        for (const Slot& slot : slots_) {
            if (slot.index == npos)
                continue;
            size_t at = slot.hash & largerMask;
            while (larger[at].index != npos)
                at = (at + 1) & largerMask;
            larger[at] = slot;
        }
        slots_ = std::move(larger);
    }

    std::vector<Slot> slots_; // a power of two of them, at most half in use
    std::vector<Entry> entries_;
    std::basic_string<Char> texts_;
};

} // namespace win32
