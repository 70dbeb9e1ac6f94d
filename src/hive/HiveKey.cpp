#include "hive/HiveKey.h"

#include <QChar>
#include <algorithm>

namespace hive {

namespace {
// Below this many subkeys a scan is faster than keeping a hash index.
constexpr size_t kIndexThreshold = 16;
} // namespace

char16_t UpcaseNonAscii(char16_t c) {
    if (c >= 0xD800 && c <= 0xDFFF)
        return c; // surrogates compare as they are
    const char32_t up = QChar::toUpper(char32_t(c));
    return up <= 0xFFFF ? char16_t(up) : c;
}

std::u16string UpcaseName(std::u16string_view name) {
    std::u16string out(name);
    for (auto& c : out)
        c = UpcaseChar(c);
    return out;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = UpcaseChar(a[i]);
        const char16_t y = UpcaseChar(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareNames(a, b) == 0;
}

HiveKey* HiveKey::subkeyAt(size_t index) const {
    if (index < subkeys_.size())
        return subkeys_[index].get();
    index -= subkeys_.size();
    return index < volatile_.size() ? volatile_[index].get() : nullptr;
}

std::vector<std::shared_ptr<HiveKey>>::const_iterator
HiveKey::lowerBound(std::u16string_view name) const {
    return std::lower_bound(subkeys_.begin(), subkeys_.end(), name,
                            [](const std::shared_ptr<HiveKey>& k, std::u16string_view n) {
                                return CompareNames(k->name, n) < 0;
                            });
}

HiveKey* HiveKey::findSubkey(std::u16string_view wanted) const {
    for (const auto& k : volatile_)
        if (NamesEqual(k->name, wanted))
            return k.get();
    if (sorted_) {
        const auto it = lowerBound(wanted);
        return it != subkeys_.end() && NamesEqual((*it)->name, wanted) ? it->get() : nullptr;
    }
    if (subkeys_.size() <= kIndexThreshold) {
        for (const auto& k : subkeys_)
            if (NamesEqual(k->name, wanted))
                return k.get();
        return nullptr;
    }
    if (!indexed_) {
        index_.clear();
        index_.reserve(subkeys_.size());
        for (const auto& k : subkeys_)
            index_.emplace(UpcaseName(k->name), k.get()); // the first of equal names wins
        indexed_ = true;
    }
    const auto it = index_.find(UpcaseName(wanted));
    return it == index_.end() ? nullptr : it->second;
}

void HiveKey::appendLoadedSubkey(std::shared_ptr<HiveKey> child) {
    child->parent = this;
    if (child->isVolatile) {
        volatile_.push_back(std::move(child));
        return;
    }
    if (!subkeys_.empty() && CompareNames(subkeys_.back()->name, child->name) >= 0)
        sorted_ = false;
    indexed_ = false;
    subkeys_.push_back(std::move(child));
}

HiveKey* HiveKey::insertSubkey(std::shared_ptr<HiveKey> child) {
    child->parent = this;
    HiveKey* raw = child.get();
    if (child->isVolatile) {
        volatile_.push_back(std::move(child));
        return raw;
    }
    if (indexed_)
        index_.emplace(UpcaseName(raw->name), raw);
    // In a list out of order there is no right place; the end is as good as any.
    const auto pos = sorted_ ? lowerBound(raw->name) : subkeys_.end();
    subkeys_.insert(pos, std::move(child));
    return raw;
}

std::shared_ptr<HiveKey> HiveKey::removeSubkey(HiveKey* child) {
    auto erase = [&](std::vector<std::shared_ptr<HiveKey>>& list, auto it) {
        std::shared_ptr<HiveKey> keep = *it;
        list.erase(it);
        return keep;
    };
    if (sorted_ && !child->isVolatile) {
        const auto it = lowerBound(child->name);
        if (it != subkeys_.end() && it->get() == child)
            return erase(subkeys_, it);
    }
    for (auto* list : {&subkeys_, &volatile_}) {
        const auto it = std::find_if(list->begin(), list->end(),
                                     [child](const auto& k) { return k.get() == child; });
        if (it == list->end())
            continue;
        if (indexed_)
            indexed_ = false; // rebuilt on the next lookup
        return erase(*list, it);
    }
    return nullptr;
}

namespace {
// Below this, comparing every name is quicker than keeping an index.
constexpr size_t kIndexedValueCount = 32;
} // namespace

void HiveKey::indexValues() const {
    valueIndex_.clear();
    valueIndex_.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        valueIndex_.emplace(UpcaseName(values[i].name), i);
}

int HiveKey::findValue(std::u16string_view wanted) const {
    const bool indexed = values.size() >= kIndexedValueCount;
    if (indexed) {
        if (valueIndex_.empty())
            indexValues();
        // Names are unique in a key: a position holding the name is its only place.
        const auto it = valueIndex_.find(UpcaseName(wanted));
        if (it != valueIndex_.end() && it->second < values.size() &&
            NamesEqual(values[it->second].name, wanted))
            return int(it->second);
    }
    for (size_t i = 0; i < values.size(); ++i)
        if (NamesEqual(values[i].name, wanted)) {
            if (indexed) // the list changed since the index was built
                indexValues();
            return int(i);
        }
    return -1;
}

void HiveKey::markDeleted() {
    deleted = true;
    for (const auto* list : {&subkeys_, &volatile_})
        for (const auto& k : *list)
            k->markDeleted();
}

} // namespace hive
