#include "win32/HiveKey.h"

#include <QChar>
#include <algorithm>

namespace win32 {

namespace {
// Below this many subkeys a scan is faster than keeping a hash index.
constexpr size_t kIndexThreshold = 16;
} // namespace

char16_t UpcaseChar(char16_t c) {
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
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

void HiveKey::indexInsert(HiveKey* child) const {
    if (indexed_)
        index_.emplace(UpcaseName(child->name), child);
}

HiveKey* HiveKey::findSubkey(std::u16string_view wanted) const {
    if (subkeyCount() <= kIndexThreshold) {
        for (const auto* list : {&subkeys_, &volatile_})
            for (const auto& k : *list)
                if (NamesEqual(k->name, wanted))
                    return k.get();
        return nullptr;
    }
    if (!indexed_) {
        index_.clear();
        index_.reserve(subkeyCount());
        indexed_ = true;
        for (const auto* list : {&subkeys_, &volatile_})
            for (const auto& k : *list)
                index_.emplace(UpcaseName(k->name), k.get());
    }
    const auto it = index_.find(UpcaseName(wanted));
    return it == index_.end() ? nullptr : it->second;
}

void HiveKey::appendLoadedSubkey(std::shared_ptr<HiveKey> child) {
    child->parent = this;
    indexInsert(child.get());
    (child->isVolatile ? volatile_ : subkeys_).push_back(std::move(child));
}

HiveKey* HiveKey::insertSubkey(std::shared_ptr<HiveKey> child) {
    child->parent = this;
    auto& list = child->isVolatile ? volatile_ : subkeys_;
    const auto pos = std::lower_bound(
        list.begin(), list.end(), child->name,
        [](const std::shared_ptr<HiveKey>& k, const std::u16string& n) {
            return CompareNames(k->name, n) < 0;
        });
    HiveKey* raw = child.get();
    indexInsert(raw);
    list.insert(pos, std::move(child));
    return raw;
}

std::shared_ptr<HiveKey> HiveKey::removeSubkey(HiveKey* child) {
    for (auto* list : {&subkeys_, &volatile_}) {
        const auto it = std::find_if(list->begin(), list->end(),
                                     [child](const auto& k) { return k.get() == child; });
        if (it == list->end())
            continue;
        std::shared_ptr<HiveKey> keep = *it;
        list->erase(it);
        if (indexed_)
            index_.erase(UpcaseName(child->name));
        return keep;
    }
    return nullptr;
}

int HiveKey::findValue(std::u16string_view wanted) const {
    for (size_t i = 0; i < values.size(); ++i)
        if (NamesEqual(values[i].name, wanted))
            return int(i);
    return -1;
}

void HiveKey::markDeleted() {
    deleted = true;
    for (const auto* list : {&subkeys_, &volatile_})
        for (const auto& k : *list)
            k->markDeleted();
}

} // namespace win32
