#include "hive/HiveKey.h"

#include <QChar>
#include <algorithm>
#include <unordered_map>

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
    // Sibling names often share a long prefix, equal unit for unit and so equal upper-cased.
    size_t i = size_t(std::mismatch(a.begin(), a.begin() + n, b.begin()).first - a.begin());
    for (; i < n; ++i) {
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
    return damageCount_.load(std::memory_order_acquire);
}

void HiveSource::noteDamage(std::string sentence) {
    constexpr size_t kMaxNotes = 200; // as many as a salvaging read lists
    std::lock_guard lock(damageMutex_);
    if (damage_.size() < kMaxNotes)
        damage_.push_back(std::move(sentence));
    damageCount_.fetch_add(1, std::memory_order_release);
}

struct HiveKey::Extras {
    std::optional<Bytes> className;
    std::shared_ptr<const Bytes> security;
    std::weak_ptr<HiveKey> linkTarget;
    std::vector<std::shared_ptr<HiveKey>> volatileSubkeys;
    // Subkeys a lookup read before the whole list was: the list takes them in their place.
    std::vector<std::shared_ptr<HiveKey>> found;
    struct Indexes {
        // Only for a stable list out of order: upper-cased name -> subkey.
        std::unordered_map<std::u16string, HiveKey*> subkeys;
        // Upper-cased value name -> position in `values`; built for long value lists only.
        std::unordered_map<std::u16string, size_t> values;
    };
    std::unique_ptr<Indexes> indexes;
    Indexes& indexesMade() {
        if (!indexes)
            indexes = std::make_unique<Indexes>();
        return *indexes;
    }
};

namespace {
const std::optional<Bytes> kNoClassName;
const std::shared_ptr<const Bytes> kNoSecurity;
const std::weak_ptr<HiveKey> kNoLink;
const std::vector<std::shared_ptr<HiveKey>> kNoKeys;
} // namespace

HiveKey::~HiveKey() {
    delete extras_.load(std::memory_order_relaxed);
    if (countedData_)
        source_->forgetData(countedData_);
}

void HiveSource::countedFor(const HiveKey& key, uint64_t bytes) {
    key.countedData_ += bytes;
}

HiveKey::Extras& HiveKey::extras() const {
    if (Extras* made = extras_.load(std::memory_order_acquire))
        return *made;
    // Readers of a read-only mount may get here at once: the first one's part stays.
    auto* mine = new Extras;
    Extras* expected = nullptr;
    if (extras_.compare_exchange_strong(expected, mine, std::memory_order_acq_rel))
        return *mine;
    delete mine;
    return *expected;
}

const std::optional<Bytes>& HiveKey::className() const {
    loadPart(kClassPending);
    const Extras* e = extrasIfAny();
    return e ? e->className : kNoClassName;
}

void HiveKey::setClassName(std::optional<Bytes> className) {
    loadPart(kClassPending);
    if (className || extrasIfAny())
        extras().className = std::move(className);
}

const std::shared_ptr<const Bytes>& HiveKey::security() const {
    loadPart(kClassPending);
    const Extras* e = extrasIfAny();
    return e ? e->security : kNoSecurity;
}

void HiveKey::setSecurity(std::shared_ptr<const Bytes> security) {
    loadPart(kClassPending);
    if (security || extrasIfAny())
        extras().security = std::move(security);
}

const std::weak_ptr<HiveKey>& HiveKey::linkTarget() const {
    const Extras* e = extrasIfAny();
    return e ? e->linkTarget : kNoLink;
}

void HiveKey::setLinkTarget(const std::shared_ptr<HiveKey>& target) {
    if (target || extrasIfAny())
        extras().linkTarget = target;
}

const std::vector<std::shared_ptr<HiveKey>>& HiveKey::volatileSubkeys() const {
    loadSubkeys();
    const Extras* e = extrasIfAny();
    return e ? e->volatileSubkeys : kNoKeys;
}

size_t HiveKey::subkeyCount() const {
    if (isPending(kSubkeysPending)) {
        std::lock_guard lock(source_->mutex);
        if (isPending(kSubkeysPending) && !deleted)
            if (const int64_t count = source_->storedSubkeyCount(*this); count >= 0)
                return size_t(count);
    }
    loadSubkeys();
    const Extras* e = extrasIfAny();
    return subkeys_.size() + (e ? e->volatileSubkeys.size() : 0);
}

void HiveKey::readLazily(std::shared_ptr<HiveSource> source, uint32_t cell, bool subkeysPending,
                         bool valuesPending) {
    source_ = std::move(source);
    cell_ = cell;
    uint8_t pending = 0;
    if (source_)
        pending = kClassPending | (subkeysPending ? kSubkeysPending : 0) |
                  (valuesPending ? kValuesPending : 0);
    storedParts_ = pending;
    releasable_ = source_ && source_->keysReleasable.load(std::memory_order_relaxed);
    pending_.store(pending, std::memory_order_release);
}

bool HiveKey::subtreeUnused() const {
    const auto unused = [](const std::shared_ptr<HiveKey>& child) {
        return child.use_count() == 1 && child->releasable_ && !child->deleted &&
               !child->protectedKey && !child->readDenied && child->subtreeUnused();
    };
    if (!std::all_of(subkeys_.begin(), subkeys_.end(), unused))
        return false;
    const Extras* e = extrasIfAny();
    return !e || (e->volatileSubkeys.empty() && e->linkTarget.expired() &&
                  std::all_of(e->found.begin(), e->found.end(), unused));
}

void HiveKey::forgetRead() {
    std::vector<std::shared_ptr<HiveKey>>().swap(subkeys_);
    std::vector<HiveValue>().swap(values_);
    if (countedData_)
        source_->forgetData(std::exchange(countedData_, 0));
    delete extras_.exchange(nullptr, std::memory_order_acq_rel);
    sorted_ = true;
    indexed_ = false;
    pending_.store(storedParts_, std::memory_order_release);
}

bool HiveKey::releaseIfUnused() {
    if (!releasable_ || deleted || protectedKey || readDenied ||
        weak_from_this().use_count() != 1 || !subtreeUnused())
        return false;
    // Damage is noted once, when first read: a part read again would note it again.
    if (source_->damageCount() != 0)
        return false;
    // A parent that has not read its whole list finds this key again by name.
    if (parent && parent->source_ == source_ && parent->isPending(kSubkeysPending))
        if (Extras* e = parent->extrasIfAny()) {
            auto& found = e->found;
            const auto it = std::find_if(found.begin(), found.end(),
                                         [this](const auto& k) { return k.get() == this; });
            if (it != found.end()) {
                HiveKey* up = parent;
                found.erase(it); // `this` goes here
                // A key a path passed through was read for this one alone.
                up->releaseIfUnused();
                return true;
            }
        }
    forgetRead();
    return true;
}

void HiveKey::loadPending(uint8_t part) const {
    std::lock_guard lock(source_->mutex);
    if (!(pending_.load(std::memory_order_relaxed) & part))
        return; // another reader was first
    auto* self = const_cast<HiveKey*>(this);
    switch (part) {
    case kSubkeysPending:
        if (Extras* e = extrasIfAny()) {
            if (deleted) {
                // Nothing reads below a deleted key, whose parent may be gone: what was
                // read stays.
                for (auto& k : e->found)
                    self->subkeys_.push_back(std::move(k));
            } else {
                source_->readSubkeys(*self, e->found);
            }
            e->found.clear();
            e->found.shrink_to_fit();
        } else if (!deleted) {
            std::vector<std::shared_ptr<HiveKey>> none;
            source_->readSubkeys(*self, none);
        }
        break;
    case kValuesPending:
        source_->readValues(*self, self->values_);
        break;
    case kClassPending: {
        std::optional<Bytes> className;
        std::shared_ptr<const Bytes> security;
        source_->readClassAndSecurity(*self, className, security);
        if (className || security) {
            Extras& e = extras();
            e.className = std::move(className);
            e.security = std::move(security);
        }
        break;
    }
    default:
        break;
    }
    pending_.fetch_and(uint8_t(~part), std::memory_order_release);
}

std::vector<HiveKey*> HiveKey::loadedSubkeys() const {
    std::vector<HiveKey*> out;
    if (isPending(kSubkeysPending)) {
        std::lock_guard lock(source_->mutex);
        if ((pending_.load(std::memory_order_relaxed) & kSubkeysPending) && !deleted) {
            if (const Extras* e = extrasIfAny())
                for (const auto& k : e->found)
                    out.push_back(k.get());
            return out;
        }
    }
    for (const auto& k : subkeys_)
        out.push_back(k.get());
    if (const Extras* e = extrasIfAny())
        for (const auto& k : e->volatileSubkeys)
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

bool HiveKey::subkeyNameAt(size_t index, std::u16string& name, uint64_t* lastWrite) const {
    if (isPending(kSubkeysPending)) {
        std::lock_guard lock(source_->mutex);
        uint32_t cell = 0;
        const int stored = isPending(kSubkeysPending) && !deleted
                               ? source_->storedSubkeyCell(*this, index, cell)
                               : -1;
        if (stored == 0)
            return false;
        if (stored > 0) {
            bool named = false;
            // A subkey read already may have changed since (its time).
            if (const Extras* e = extrasIfAny())
                for (const auto& k : e->found)
                    if (k->cell_ == cell) {
                        name = k->name;
                        if (lastWrite)
                            *lastWrite = k->lastWriteTime;
                        named = true;
                        break;
                    }
            if (named || source_->storedKeyName(cell, name, lastWrite)) {
                source_->lastNamed = {cell_, cell};
                return true;
            }
        }
    }
    const HiveKey* key = subkeyAt(index);
    if (!key)
        return false;
    name = key->name;
    if (lastWrite)
        *lastWrite = key->lastWriteTime;
    return true;
}

HiveKey* HiveKey::subkeyAt(size_t index) const {
    loadSubkeys();
    if (index < subkeys_.size())
        return subkeys_[index].get();
    index -= subkeys_.size();
    const Extras* e = extrasIfAny();
    return e && index < e->volatileSubkeys.size() ? e->volatileSubkeys[index].get() : nullptr;
}

std::vector<std::shared_ptr<HiveKey>>::const_iterator
HiveKey::lowerBound(std::u16string_view name) const {
    return std::lower_bound(subkeys_.begin(), subkeys_.end(), name,
                            [](const std::shared_ptr<HiveKey>& k, std::u16string_view n) {
                                return CompareNames(k->name, n) < 0;
                            });
}

HiveKey* HiveKey::findSubkey(std::u16string_view wanted) const {
    if (isPending(kSubkeysPending)) {
        std::unique_lock lock(source_->mutex);
        if ((pending_.load(std::memory_order_relaxed) & kSubkeysPending) && !deleted) {
            if (const Extras* e = extrasIfAny())
                for (const auto& k : e->found)
                    if (NamesEqual(k->name, wanted))
                        return k.get();
            auto* self = const_cast<HiveKey*>(this);
            // Usually the subkey an enumeration just named: no search of the list.
            if (const HiveSource::Named hint = source_->lastNamed;
                hint.parentCell == cell_ && source_->storedKeyNamed(hint.cell, wanted))
                if (auto named = source_->readStoredSubkey(*self, hint.cell)) {
                    extras().found.push_back(named);
                    return named.get();
                }
            std::shared_ptr<HiveKey> found;
            if (source_->findStoredSubkey(*self, wanted, found)) {
                if (!found)
                    return nullptr;
                extras().found.push_back(found);
                return found.get();
            }
        }
        lock.unlock();
        loadSubkeys();
    }
    if (const Extras* e = extrasIfAny())
        for (const auto& k : e->volatileSubkeys)
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
    auto& index = extras().indexesMade().subkeys;
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
        extras().volatileSubkeys.push_back(std::move(child));
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
        extras().volatileSubkeys.push_back(std::move(child));
        return raw;
    }
    if (indexed_)
        extras().indexesMade().subkeys.emplace(UpcaseName(raw->name), raw);
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
    Extras* e = extrasIfAny();
    for (auto* list : {&subkeys_, e ? &e->volatileSubkeys : nullptr}) {
        if (!list)
            continue;
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
    auto& index = extras().indexesMade().values;
    index.clear();
    index.reserve(values_.size());
    for (size_t i = 0; i < values_.size(); ++i)
        index.emplace(UpcaseName(values_[i].name), i);
}

int HiveKey::findValue(std::u16string_view wanted) const {
    const std::vector<HiveValue>& list = values();
    const bool indexed = list.size() >= kIndexedValueCount;
    if (indexed) {
        const Extras* e = extrasIfAny();
        if (!e || !e->indexes || e->indexes->values.empty())
            indexValues();
        // Names are unique in a key: a position holding the name is its only place.
        const auto& index = extrasIfAny()->indexes->values;
        const auto it = index.find(UpcaseName(wanted));
        if (it != index.end() && it->second < list.size() &&
            NamesEqual(list[it->second].name, wanted))
            return int(it->second);
    }
    for (size_t i = 0; i < list.size(); ++i)
        if (NamesEqual(list[i].name, wanted)) {
            if (indexed) // the list changed since the index was built
                indexValues();
            return int(i);
        }
    return -1;
}

void StoredValue::nameInto(std::u16string& out) const {
    out.resize(nameUnits());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = nameAt(i);
}

bool HiveKey::valuesInPlace() const {
    const uint8_t state = pending_.load(std::memory_order_acquire);
    if (!(state & kValuesPending))
        return false;
    if (state & kValuesInPlace)
        return true;
    std::lock_guard lock(source_->mutex);
    const uint8_t now = pending_.load(std::memory_order_relaxed);
    if (!(now & kValuesPending))
        return false;
    if (now & kValuesInPlace)
        return true;
    if (source_->checkStoredValues(*this)) {
        pending_.fetch_or(kValuesInPlace, std::memory_order_release);
        return true;
    }
    // Damage: the values are built as they are for any other key, leaving out what does
    // not read, and noting it.
    source_->readValues(*const_cast<HiveKey*>(this), const_cast<HiveKey*>(this)->values_);
    pending_.fetch_and(uint8_t(~kValuesPending), std::memory_order_release);
    return false;
}

StoredRead HiveKey::storedValueCount(uint32_t& count) const {
    if (!valuesInPlace())
        return StoredRead::Built;
    if (source_->storedValueCount(*this, count))
        return StoredRead::Found;
    buildValues();
    return StoredRead::Built;
}

StoredRead HiveKey::storedValueAt(size_t index, StoredValue& value) const {
    if (!valuesInPlace())
        return StoredRead::Built;
    if (index > UINT32_MAX)
        return StoredRead::Missing;
    const StoredRead read = source_->storedValueAt(*this, uint32_t(index), value);
    if (read == StoredRead::Built)
        buildValues();
    return read;
}

StoredRead HiveKey::findStoredValue(std::u16string_view wanted, StoredValue& value) const {
    uint32_t count = 0;
    if (const StoredRead read = storedValueCount(count); read != StoredRead::Found)
        return read;
    if (count >= kIndexedValueCount) {
        buildValues();
        return StoredRead::Built;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const StoredRead read = source_->storedValueAt(*this, i, value);
        if (read == StoredRead::Missing)
            break; // the file changed under the mount since the count
        if (read == StoredRead::Built) {
            buildValues();
            return read;
        }
        if (value.nameUnits() != wanted.size())
            continue;
        size_t at = 0;
        while (at < wanted.size() && UpcaseChar(value.nameAt(at)) == UpcaseChar(wanted[at]))
            ++at;
        if (at == wanted.size())
            return StoredRead::Found;
    }
    return StoredRead::Missing;
}

bool HiveKey::copyStoredData(const StoredValue& value, uint8_t* out) const {
    if (source_ && source_->copyStoredData(*this, value, out))
        return true;
    buildValues();
    return false;
}

void HiveKey::markDeleted() {
    // Subkeys not read yet take the mark from their parent when they are read. What a
    // key read already has not read of itself is read now, while the keys above it,
    // which name it in messages, are all there.
    std::vector<HiveKey*> stack{this};
    while (!stack.empty()) {
        HiveKey* key = stack.back();
        stack.pop_back();
        key->loadPart(kValuesPending);
        key->loadPart(kClassPending);
        key->deleted = true;
        for (HiveKey* child : key->loadedSubkeys())
            stack.push_back(child);
    }
}

} // namespace hive
