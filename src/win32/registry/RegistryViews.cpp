#include "win32/registry/RegistryViews.h"

#include "win32/base/HiveTree.h"
#include "win32/base/SecurityDescriptor.h"

namespace win32 {

namespace {

// Windows refuses key names longer than this, and trees deeper than 512 levels.
constexpr size_t kMaxKeyNameLength = 255;
constexpr int kMaxDepth = 512;

HiveKey* findChild(HiveKey* parent, std::u16string_view name) {
    return parent ? FollowLinks(parent->findSubkey(name)) : nullptr;
}

std::shared_ptr<HiveKey> shared(HiveKey* key) {
    return key ? key->shared_from_this() : nullptr;
}

int depthInHive(const HiveKey* key) {
    int depth = 0;
    for (; key && key->hive && key != key->hive->root.get(); key = key->parent)
        ++depth;
    return depth;
}

bool subtreeHasProtected(const MachineRegistry& reg, const HiveKey* key) {
    std::vector<const HiveKey*> stack{key};
    while (!stack.empty()) {
        const HiveKey* k = stack.back();
        stack.pop_back();
        if (ProtectionHolds(reg, k, DELETE))
            return true;
        for (size_t i = 0; i < k->subkeyCount(); ++i)
            stack.push_back(k->subkeyAt(i));
    }
    return false;
}

} // namespace

bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (!path.empty() && path.back() == u'\\')
        path.remove_suffix(1);
    if (path.empty())
        return true;
    size_t start = 0;
    while (true) {
        const size_t end = path.find(u'\\', start);
        const auto part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (part.empty())
            return false;
        parts.push_back(part);
        if (end == std::u16string_view::npos)
            return true;
        start = end + 1;
    }
}

HiveKey* FollowLinks(HiveKey* key) {
    for (int hops = 0; key && hops < 8; ++hops) {
        const auto target = key->linkTarget().lock();
        if (!target)
            return key;
        key = target.get();
    }
    return key && key->linkTarget().expired() ? key : nullptr;
}

LONG LiveView(const KeyView& view, KeyView& out) {
    out = view;
    if (out.key && out.key->deleted)
        out.key.reset();
    if (out.userClass && out.userClass->deleted)
        out.userClass.reset();
    if (out.empty()) // an empty view: a predefined key whose hive is not mounted
        return view.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

namespace {

// Opens `path` below `from`; with `reg` set, creates the keys that are missing.
LONG walkView(MachineRegistry* reg, const KeyView& from, std::u16string_view path,
              bool makeVolatile, KeyView& out, bool& created) {
    created = false;
    KeyView live;
    if (const LONG rc = LiveView(from, live); rc != ERROR_SUCCESS)
        return rc;
    thread_local std::vector<std::u16string_view> parts; // kept: most calls walk a path
    if (!SplitKeyPath(path, parts))
        return ERROR_BAD_PATHNAME;
    HiveKey* key = live.key.get();
    HiveKey* user = live.userClass.get();
    for (const auto part : parts) {
        HiveKey* nextKey = findChild(key, part);
        HiveKey* nextUser = findChild(user, part);
        if (!nextKey && !nextUser) {
            if (!reg)
                return ERROR_FILE_NOT_FOUND;
            // A new key of a merged view goes to the machine's classes unless only the
            // user's part exists.
            HiveKey* parent = key ? key : user;
            if (const LONG rc = CheckWritable(*reg, parent); rc != ERROR_SUCCESS)
                return rc;
            if (part.size() > kMaxKeyNameLength)
                return ERROR_INVALID_PARAMETER;
            if (depthInHive(parent) + 1 > kMaxDepth)
                return ERROR_INVALID_PARAMETER;
            if (parent->isVolatile && !makeVolatile)
                return ERROR_CHILD_MUST_BE_VOLATILE;
            auto child = std::make_shared<HiveKey>();
            child->name = std::u16string(part);
            child->hive = parent->hive;
            child->setSecurity(parent->security());
            child->isVolatile = makeVolatile;
            HiveKey* raw = parent->insertSubkey(std::move(child));
            reg->keyChanged(parent);
            raw->lastWriteTime = parent->lastWriteTime;
            created = true;
            (key ? nextKey : nextUser) = raw;
        }
        key = nextKey;
        user = nextUser;
    }
    out = KeyView{shared(key), shared(user), live.merged};
    return ERROR_SUCCESS;
}

} // namespace

LONG OpenView(const KeyView& from, std::u16string_view path, KeyView& out) {
    bool created = false;
    return walkView(nullptr, from, path, false, out, created);
}

bool ProtectionHolds(const MachineRegistry& reg, const HiveKey* key, uint32_t right) {
    if (!key->protectedKey)
        return false;
    // The machine's standard descriptors grant Administrators everything: only a grant
    // that names the user lifts the protection.
    const auto sd = key->security() ? ParseSecurityDescriptor(*key->security()) : std::nullopt;
    return !sd || !AccessGranted(*sd, {Utf16ToUtf8(reg.userSid)}, right);
}

LONG CheckWritable(const MachineRegistry& reg, const HiveKey* key) {
    if (!key || !key->hive || reg.readOnly)
        return ERROR_ACCESS_DENIED;
    return key->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG CreateView(MachineRegistry& reg, const KeyView& from, std::u16string_view path,
                bool makeVolatile, KeyView& out, bool& created) {
    return walkView(&reg, from, path, makeVolatile, out, created);
}

HKEY RootFromName(std::u16string_view name) {
    static const struct {
        const char16_t* longName;
        const char16_t* shortName;
        HKEY root;
    } roots[] = {
        {u"HKEY_CLASSES_ROOT", u"HKCR", HKEY_CLASSES_ROOT},
        {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
        {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
        {u"HKEY_USERS", u"HKU", HKEY_USERS},
        {u"HKEY_PERFORMANCE_DATA", u"HKPD", HKEY_PERFORMANCE_DATA},
        {u"HKEY_CURRENT_CONFIG", u"HKCC", HKEY_CURRENT_CONFIG},
        {u"HKEY_DYN_DATA", u"HKDD", HKEY_DYN_DATA},
    };
    for (const auto& r : roots)
        if (NamesEqual(name, r.longName) || NamesEqual(name, r.shortName))
            return r.root;
    return nullptr;
}

bool SplitFullKeyPath(std::u16string_view full, HKEY& root, std::u16string_view& subkey) {
    const size_t slash = full.find(u'\\');
    root = RootFromName(full.substr(0, slash));
    subkey = slash == std::u16string_view::npos ? std::u16string_view{} : full.substr(slash + 1);
    return root != nullptr;
}

LONG CheckKeyDeletable(const MachineRegistry& reg, const HiveKey* key, bool wholeTree) {
    if (const LONG rc = CheckWritable(reg, key); rc != ERROR_SUCCESS)
        return rc;
    if (!key->parent || key == key->hive->root.get() || !key->linkTarget().expired())
        return ERROR_ACCESS_DENIED;
    if (wholeTree ? subtreeHasProtected(reg, key)
                  : ProtectionHolds(reg, key, DELETE) || key->subkeyCount() > 0)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

namespace {

LONG deleteKey(MachineRegistry& reg, HiveKey* key, bool wholeTree) {
    if (const LONG rc = CheckKeyDeletable(reg, key, wholeTree); rc != ERROR_SUCCESS)
        return rc;
    HiveKey* parent = key->parent;
    const auto keep = parent->removeSubkey(key);
    key->markDeleted();
    reg.keyChanged(parent);
    return ERROR_SUCCESS;
}

} // namespace

LONG DeleteOneKey(MachineRegistry& reg, HiveKey* key) {
    return deleteKey(reg, key, false);
}

LONG DeleteKeyTree(MachineRegistry& reg, HiveKey* key) {
    return deleteKey(reg, key, true);
}

int FindValueOf(const HiveKey& key, std::u16string_view name) {
    // A key of a long value list builds its index of them at the first lookup; on a
    // read-only mount, which readers use without the registry's lock, two threads must
    // not build it at once. Short lists keep no index and need no lock.
    constexpr size_t kIndexedValues = 32;
    if (key.values().size() < kIndexedValues)
        return key.findValue(name);
    static std::mutex indexLock;
    std::lock_guard guard(indexLock);
    return key.findValue(name);
}

const HiveValue* FindViewValue(const KeyView& view, std::u16string_view name) {
    for (HiveKey* key : {view.userClass.get(), view.key.get()}) {
        if (!key)
            continue;
        const int index = FindValueOf(*key, name);
        if (index >= 0)
            return &key->values()[size_t(index)];
    }
    return nullptr;
}

LONG SetViewValue(MachineRegistry& reg, const KeyView& view, std::u16string_view name, DWORD type,
                  Bytes data) {
    HiveKey* key = view.primary();
    if (const LONG rc = CheckWritable(reg, key); rc != ERROR_SUCCESS)
        return rc;
    if (name.size() > 16383)
        return ERROR_INVALID_PARAMETER;
    const int index = key->findValue(name);
    if (index >= 0) {
        key->values()[size_t(index)].type = type;
        key->values()[size_t(index)].data = std::move(data);
    } else {
        key->values().push_back({std::u16string(name), type, std::move(data)});
    }
    reg.keyChanged(key);
    return ERROR_SUCCESS;
}

LONG DeleteViewValue(MachineRegistry& reg, const KeyView& view, std::u16string_view name) {
    bool found = false;
    // In a merged view the value leaves the view only when both parts lose it.
    for (HiveKey* key : {view.userClass.get(), view.key.get()}) {
        if (!key)
            continue;
        const int index = key->findValue(name);
        if (index < 0)
            continue;
        if (const LONG rc = CheckWritable(reg, key); rc != ERROR_SUCCESS)
            return rc;
        if (ProtectionHolds(reg, key, KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        key->values().erase(key->values().begin() + index);
        reg.keyChanged(key);
        found = true;
    }
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

} // namespace win32
