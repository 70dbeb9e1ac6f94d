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

std::vector<std::string> HiveSource::damage() const {
    std::lock_guard lock(damageMutex_);
    return damage_;
}

size_t HiveSource::damageCount() const {
    std::lock_guard lock(damageMutex_);
    return damageCount_;
}

void HiveSource::noteDamage(std::string sentence) {
    constexpr size_t kMaxNotes = 200; // as many as a salvaging read lists
    std::lock_guard lock(damageMutex_);
    if (damage_.size() < kMaxNotes)
        damage_.push_back(std::move(sentence));
    ++damageCount_;
}

void HiveKey::readLazily(std::shared_ptr<HiveSource> source, uint32_t cell, bool subkeysPending) {
    source_ = std::move(source);
    cell_ = cell;
    pending_.store(source_ && subkeysPending, std::memory_order_release);
}

void HiveKey::loadPendingSubkeys() const {
    std::lock_guard lock(source_->mutex);
    if (!pending_.load(std::memory_order_relaxed))
        return; // another reader was first
    auto* self = const_cast<HiveKey*>(this);
    if (deleted) {
        // Nothing reads below a deleted key, whose parent may be gone: what was read stays.
        for (auto& k : found_)
            self->subkeys_.push_back(std::move(k));
    } else {
        source_->readSubkeys(*self, found_);
    }
    found_.clear();
    found_.shrink_to_fit();
    pending_.store(false, std::memory_order_release);
}

std::vector<HiveKey*> HiveKey::loadedSubkeys() const {
    std::vector<HiveKey*> out;
    if (pending_.load(std::memory_order_acquire)) {
        std::lock_guard lock(source_->mutex);
        if (pending_.load(std::memory_order_relaxed) && !deleted) {
            for (const auto& k : found_)
                out.push_back(k.get());
            return out;
        }
    }
    for (const auto* list : {&subkeys_, &volatile_})
        for (const auto& k : *list)
            out.push_back(k.get());
    return out;
}

void HiveKey::assignHive(MountedHive* mounted) {
    std::vector<HiveKey*> stack{this};
    while (!stack.empty()) {
        HiveKey* key = stack.back();
        stack.pop_back();
        key->hive = mounted;
        for (HiveKey* child : key->loadedSubkeys())
            stack.push_back(child);
    }
}

HiveKey* HiveKey::subkeyAt(size_t index) const {
    loadSubkeys();
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
    if (pending_.load(std::memory_order_acquire)) {
        std::unique_lock lock(source_->mutex);
        if (pending_.load(std::memory_order_relaxed) && !deleted) {
            for (const auto& k : found_)
                if (NamesEqual(k->name, wanted))
                    return k.get();
            std::shared_ptr<HiveKey> found;
            if (source_->findStoredSubkey(*const_cast<HiveKey*>(this), wanted, found)) {
                if (!found)
                    return nullptr;
                found_.push_back(found);
                return found.get();
            }
        }
        lock.unlock();
        loadSubkeys();
    }
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
    auto& index = indexes().subkeys;
    if (!indexed_) {
        index.clear();
        index.reserve(subkeys_.size());
        for (const auto& k : subkeys_)
            index.emplace(UpcaseName(k->name), k.get()); // the first of equal names wins
        indexed_ = true;
    }
    const auto it = index.find(UpcaseName(wanted));
    return it == index.end() ? nullptr : it->second;
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
    loadSubkeys();
    child->parent = this;
    HiveKey* raw = child.get();
    if (child->isVolatile) {
        volatile_.push_back(std::move(child));
        return raw;
    }
    if (indexed_)
        indexes().subkeys.emplace(UpcaseName(raw->name), raw);
    // In a list out of order there is no right place; the end is as good as any.
    const auto pos = sorted_ ? lowerBound(raw->name) : subkeys_.end();
    subkeys_.insert(pos, std::move(child));
    return raw;
}

std::shared_ptr<HiveKey> HiveKey::removeSubkey(HiveKey* child) {
    loadSubkeys();
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
    auto& index = indexes().values;
    index.clear();
    index.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        index.emplace(UpcaseName(values[i].name), i);
}

int HiveKey::findValue(std::u16string_view wanted) const {
    const bool indexed = values.size() >= kIndexedValueCount;
    if (indexed) {
        if (!indexes_ || indexes_->values.empty())
            indexValues();
        // Names are unique in a key: a position holding the name is its only place.
        const auto& index = indexes_->values;
        const auto it = index.find(UpcaseName(wanted));
        if (it != index.end() && it->second < values.size() &&
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
    // Subkeys not read yet take the mark from their parent when they are read.
    std::vector<HiveKey*> stack{this};
    while (!stack.empty()) {
        HiveKey* key = stack.back();
        stack.pop_back();
        key->deleted = true;
        for (HiveKey* child : key->loadedSubkeys())
            stack.push_back(child);
    }
}

} // namespace hive
