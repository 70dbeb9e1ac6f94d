#include "win32/registry/Registry.h"

#include "win32/base/HiveTree.h"
#include "win32/registry/RegistryViews.h"
#include "win32/registry/SaveKeyToHostFile.h"
#include "win32/registry/Wow64Redirection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <type_traits>

using namespace win32;

namespace {

constexpr REGSAM kWriteAccess =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// Holds the registry lock for one call on a writable mount; `reg` is null when no
// machine is booted. A read-only mount's calls read a tree nothing changes, and take
// no lock unless `always` (a call that changes the registry's own records); they only
// keep keys from being let go of while they read.
struct Call {
    MachineRegistry* reg = MachineRegistry::current();
    MachineRegistry::ReadScope reading{reg};
    std::unique_lock<std::mutex> guard;
    explicit Call(bool always = false) {
        if (reg && (always || !reg->readOnly))
            guard = std::unique_lock(reg->lock);
    }
};

bool isUnopenable(HKEY h) {
    return h == HKEY_PERFORMANCE_DATA || h == HKEY_DYN_DATA;
}

bool isLive(const KeyView& view) {
    return !view.empty() && !(view.key && view.key->deleted) &&
           !(view.userClass && view.userClass->deleted);
}

// The live view of a handle, checking that it was opened with `needed` access: the
// handle's own view, or, when part of it was deleted, what is left of it in `scratch`.
LONG viewOf(MachineRegistry* reg, HKEY h, REGSAM needed, const KeyView*& out, KeyView& scratch,
            MachineRegistry::Handle** entry = nullptr) {
    if (!reg || isUnopenable(h))
        return ERROR_INVALID_HANDLE;
    MachineRegistry::Handle* handle = reg->handle(h);
    if (!handle)
        return ERROR_INVALID_HANDLE;
    if ((handle->access & needed) != needed && !(handle->access & MAXIMUM_ALLOWED))
        return ERROR_ACCESS_DENIED;
    if (entry)
        *entry = handle;
    if (isLive(handle->view)) {
        out = &handle->view;
        return ERROR_SUCCESS;
    }
    out = &scratch;
    return LiveView(handle->view, scratch);
}

std::u16string widen(MachineRegistry* reg, LPCSTR text) {
    return text ? reg->codePage->toUnicode(text) : std::u16string();
}

// A name or path of a reading call, widened into the thread's own buffer: the calls a
// scan makes for every key allocate nothing for it.
std::u16string_view widenForRead(MachineRegistry* reg, LPCSTR text) {
    thread_local std::u16string buffer;
    if (!text)
        return {};
    reg->codePage->toUnicode(text, buffer);
    return buffer;
}

std::u16string_view widenForRead(MachineRegistry*, LPCWSTR text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

std::u16string widen(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

bool isStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

Bytes unicodeBytes(std::u16string_view text) {
    Bytes out(text.size() * 2);
    if (!out.empty())
        std::memcpy(out.data(), text.data(), out.size());
    return out;
}

// Copies a name into a caller's buffer of *size characters (terminator included).
template <typename Char>
LONG copyName(std::basic_string_view<Char> name, Char* buffer, LPDWORD size) {
    if (!size)
        return ERROR_INVALID_PARAMETER;
    if (!buffer || *size < name.size() + 1)
        return ERROR_MORE_DATA;
    if (!name.empty())
        std::memcpy(buffer, name.data(), name.size() * sizeof(Char));
    buffer[name.size()] = Char();
    *size = DWORD(name.size());
    return ERROR_SUCCESS;
}

std::u16string classText(const HiveKey& key) {
    std::u16string cls;
    if (key.className())
        cls.assign(reinterpret_cast<const char16_t*>(key.className()->data()),
                   key.className()->size() / 2);
    return cls;
}

// Copies data into a caller's buffer by the RegQueryValueEx rules.
LONG copyData(std::string_view data, LPBYTE buffer, LPDWORD size) {
    if (!size)
        return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD needed = DWORD(data.size());
    if (!buffer) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed)
        std::memcpy(buffer, data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

void setFileTime(PFILETIME out, uint64_t time) {
    if (out) {
        out->dwLowDateTime = DWORD(time);
        out->dwHighDateTime = DWORD(time >> 32);
    }
}

// The subkeys of a merged HKEY_CLASSES_ROOT view: the union, sorted, the user's key
// standing for both where both hold one.
void refreshMerged(MachineRegistry& reg, MachineRegistry::Handle& handle, const KeyView& view) {
    if (handle.mergedGeneration.load(std::memory_order_acquire) == reg.generation + 1)
        return;
    std::lock_guard guard(handle.mergedLock);
    if (handle.mergedGeneration.load(std::memory_order_relaxed) == reg.generation + 1)
        return;
    handle.mergedSubkeys.clear();
    handle.mergedValues.clear();
    std::vector<HiveKey*> mine, theirs;
    for (auto [key, list] : {std::pair{view.userClass.get(), &mine}, {view.key.get(), &theirs}})
        if (key)
            for (size_t i = 0; i < key->subkeyCount(); ++i)
                list->push_back(key->subkeyAt(i));
    auto less = [](HiveKey* a, HiveKey* b) { return CompareNames(a->name, b->name) < 0; };
    // A hive keeps its lists sorted: only volatile keys, or a damaged list, need sorting.
    for (auto* list : {&mine, &theirs})
        if (!std::is_sorted(list->begin(), list->end(), less))
            std::stable_sort(list->begin(), list->end(), less);
    size_t i = 0, j = 0;
    while (i < mine.size() || j < theirs.size()) {
        if (j == theirs.size() || (i < mine.size() && less(mine[i], theirs[j]))) {
            handle.mergedSubkeys.push_back(mine[i++]);
        } else if (i == mine.size() || less(theirs[j], mine[i])) {
            handle.mergedSubkeys.push_back(theirs[j++]);
        } else {
            handle.mergedSubkeys.push_back(mine[i++]);
            ++j;
        }
    }
    if (view.userClass)
        for (const auto& v : view.userClass->values())
            handle.mergedValues.push_back(&v);
    if (view.key)
        for (const auto& v : view.key->values())
            if (!view.userClass || FindValueOf(*view.userClass, v.name) < 0)
                handle.mergedValues.push_back(&v);
    handle.mergedGeneration.store(reg.generation + 1, std::memory_order_release);
}

HiveKey* subkeyAt(MachineRegistry& reg, MachineRegistry::Handle& handle, const KeyView& view,
                  DWORD index) {
    if (!view.merged || !view.key || !view.userClass) {
        HiveKey* key = view.primary();
        return index < key->subkeyCount() ? key->subkeyAt(index) : nullptr;
    }
    refreshMerged(reg, handle, view);
    return index < handle.mergedSubkeys.size() ? handle.mergedSubkeys[index] : nullptr;
}

// One value as a reading call hands it out: built, or read where the hive file holds it
// (a key whose values were never changed), converting nothing until it is handed out.
struct ValueRead {
    const HiveValue* built = nullptr;
    const HiveKey* key = nullptr; // the key `stored` was read from
    hive::StoredValue stored;

    DWORD type() const { return built ? built->type : stored.type; }
    size_t size() const { return built ? built->data.size() : stored.size; }
    size_t nameUnits() const { return built ? built->name.size() : stored.nameUnits(); }
    // The name, in `buffer` when it is read in place.
    std::u16string_view name(std::u16string& buffer) const {
        if (built)
            return built->name;
        stored.nameInto(buffer);
        return buffer;
    }
    // The data as stored, gathered into `buffer` when the file keeps it in pieces; false
    // when it no longer reads (the key's values are built then: read the value again).
    bool data(std::string& buffer, std::string_view& out) const {
        if (built) {
            out = {reinterpret_cast<const char*>(built->data.data()), built->data.size()};
            return true;
        }
        if (stored.data) {
            out = {reinterpret_cast<const char*>(stored.data), stored.size};
            return true;
        }
        buffer.resize(stored.size);
        if (!key->copyStoredData(stored, reinterpret_cast<uint8_t*>(buffer.data())))
            return false;
        out = buffer;
        return true;
    }
};

// The value at `index` in enumeration order; false past the last.
bool valueAt(MachineRegistry& reg, MachineRegistry::Handle& handle, const KeyView& view,
             DWORD index, ValueRead& out) {
    out.built = nullptr;
    if (!view.merged || !view.key || !view.userClass) {
        HiveKey* key = view.primary();
        switch (key->storedValueAt(index, out.stored)) {
        case hive::StoredRead::Found:
            out.key = key;
            return true;
        case hive::StoredRead::Missing:
            return false;
        case hive::StoredRead::Built:
            break;
        }
        out.built = index < key->values().size() ? &key->values()[index] : nullptr;
        return out.built;
    }
    refreshMerged(reg, handle, view);
    out.built = index < handle.mergedValues.size() ? handle.mergedValues[index] : nullptr;
    return out.built;
}

// The value named `name` as a read of the view finds it: the user's part of a merged view
// first.
bool findValue(const KeyView& view, std::u16string_view name, ValueRead& out) {
    out.built = nullptr;
    for (HiveKey* key : {view.userClass.get(), view.key.get()}) {
        if (!key)
            continue;
        switch (key->findStoredValue(name, out.stored)) {
        case hive::StoredRead::Found:
            out.key = key;
            return true;
        case hive::StoredRead::Missing:
            continue;
        case hive::StoredRead::Built:
            break;
        }
        if (const int index = FindValueOf(*key, name); index >= 0) {
            out.built = &key->values()[size_t(index)];
            return true;
        }
    }
    return false;
}

constexpr REGSAM kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// Where a key named in a registry view is stored: `from` and `path` become the root's
// view and the stored path below it. A call that names a view on a 64-bit installation
// starts from the name of the parent key in the parent's own view, then redirects the
// whole path when the 32-bit view is asked for. Without a view flag the path is taken
// below the parent as it is stored, as a 64-bit program's call is.
void applyRegistryView(MachineRegistry& reg, const MachineRegistry::Handle& parent, REGSAM sam,
                       const KeyView*& from, std::u16string& path) {
    if (!reg.wow64 || !(sam & kViewFlags))
        return;
    RegRoot root;
    KeyPathParts parts;
    if (!LocateView(reg, *from, root, parts))
        return;
    if (parent.access & KEY_WOW64_32KEY)
        NameIn32BitView(root, parts);
    std::vector<std::u16string_view> below;
    if (!SplitKeyPath(path, below))
        return; // a malformed path fails as it is
    parts.insert(parts.end(), below.begin(), below.end());
    if (sam & KEY_WOW64_32KEY)
        RedirectTo32BitView(root, parts, reg.wow64SharedClasses);
    const HKEY predefined = root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE
                            : root == RegRoot::Users      ? HKEY_USERS
                                                          : HKEY_CLASSES_ROOT;
    const MachineRegistry::Handle* top = reg.handle(predefined);
    if (!top)
        return;
    from = &top->view;
    path.clear();
    for (const auto& part : parts)
        path += (path.empty() ? u"" : u"\\") + part;
}

// RegOpenKeyEx and RegCreateKeyEx: opens `subKey`, creating it (and its missing parents)
// when `create` is set.
LONG openKey(MachineRegistry* reg, HKEY hKey, std::u16string_view subKey, REGSAM sam, bool create,
             DWORD options, PHKEY result, LPDWORD disposition = nullptr) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if ((sam & kViewFlags) == kViewFlags)
        return ERROR_INVALID_PARAMETER; // one view or the other
    KeyView fromScratch;
    const KeyView* fromLive = nullptr;
    MachineRegistry::Handle* parent = nullptr;
    if (const LONG rc = viewOf(reg, hKey, 0, fromLive, fromScratch, &parent); rc != ERROR_SUCCESS)
        return rc;
    if (reg->readOnly && (sam & kWriteAccess))
        return ERROR_ACCESS_DENIED;
    const REGSAM parentAccess = parent->access;
    std::u16string_view path = subKey;
    std::u16string inView; // the path as the asked-for registry view stores it
    if (reg->wow64 && (sam & kViewFlags)) {
        inView = subKey;
        applyRegistryView(*reg, *parent, sam, fromLive, inView);
        path = inView;
    }
    KeyView view;
    bool created = false;
    LONG rc = OpenView(*fromLive, path, view);
    if (rc == ERROR_FILE_NOT_FOUND && create) {
        if (!(parentAccess & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        rc = CreateView(*reg, *fromLive, path, options & REG_OPTION_VOLATILE, view, created);
    }
    if (rc != ERROR_SUCCESS)
        return rc;
    if (sam & (KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | MAXIMUM_ALLOWED))
        for (const HiveKey* key : {view.key.get(), view.userClass.get()})
            if (key && key->readDenied)
                return ERROR_ACCESS_DENIED;
    const HKEY opened =
        reg->addHandle(std::move(view), sam == MAXIMUM_ALLOWED ? KEY_ALL_ACCESS : sam);
    if (!opened)
        return ERROR_NOT_ENOUGH_MEMORY; // the handle table is full
    *result = opened;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG setValue(MachineRegistry* reg, HKEY hKey, const std::u16string& name, DWORD type, Bytes data) {
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    if (const LONG rc = viewOf(reg, hKey, KEY_SET_VALUE, viewLive, viewScratch);
        rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    return SetViewValue(*reg, view, name, type, std::move(data));
}

LONG deleteValue(MachineRegistry* reg, HKEY hKey, const std::u16string& name) {
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    if (const LONG rc = viewOf(reg, hKey, KEY_SET_VALUE, viewLive, viewScratch);
        rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    return DeleteViewValue(*reg, view, name);
}

bool isPredefinedKey(HKEY hKey) {
    const auto value = reinterpret_cast<uintptr_t>(hKey);
    return value >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) &&
           value <= reinterpret_cast<uintptr_t>(HKEY_DYN_DATA);
}

// Whether the last component of `path` below `from` is a symbolic link. Opening the path
// follows the link, so deleting what it opens would delete the link's target.
bool pathEndsInLink(const KeyView& from, std::u16string_view path) {
    while (!path.empty() && path.back() == u'\\')
        path.remove_suffix(1);
    const size_t slash = path.rfind(u'\\');
    const std::u16string_view last =
        slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    KeyView parent;
    if (slash != std::u16string_view::npos &&
        OpenView(from, path.substr(0, slash), parent) != ERROR_SUCCESS)
        return false;
    const KeyView& in = slash == std::u16string_view::npos ? from : parent;
    for (HiveKey* key : {in.userClass.get(), in.key.get()}) {
        const HiveKey* child = key ? key->findSubkey(last) : nullptr;
        if (child && !child->linkTarget().expired())
            return true;
    }
    return false;
}

// The keys a delete of `subKey` below hKey acts on: both parts of a merged view.
LONG keysToDelete(MachineRegistry* reg, HKEY hKey, const std::u16string& subKey,
                  std::vector<HiveKey*>& keys) {
    KeyView fromScratch;
    const KeyView* fromLive = nullptr;
    if (const LONG rc = viewOf(reg, hKey, 0, fromLive, fromScratch); rc != ERROR_SUCCESS)
        return rc;
    const KeyView& from = *fromLive;
    KeyView view;
    if (const LONG rc = OpenView(from, subKey, view); rc != ERROR_SUCCESS)
        return rc;
    if (pathEndsInLink(from, subKey))
        return ERROR_ACCESS_DENIED;
    for (HiveKey* key : {view.userClass.get(), view.key.get()})
        if (key)
            keys.push_back(key);
    return ERROR_SUCCESS;
}

LONG deleteTree(MachineRegistry* reg, HKEY hKey, const std::u16string& subKey, bool wholeTree) {
    const bool keyItself = subKey.empty() || subKey == u"\\";
    // A predefined root is never deleted or emptied: it stands for a whole hive, or for
    // a key (the machine's classes, the hardware profile) that Windows keeps.
    if (keyItself && isPredefinedKey(hKey))
        return ERROR_ACCESS_DENIED;
    std::vector<HiveKey*> keys;
    if (const LONG rc = keysToDelete(reg, hKey, subKey, keys); rc != ERROR_SUCCESS)
        return rc;
    // A merged classes key is the user's part and the machine's: both go, or neither.
    for (HiveKey* key : keys) {
        if (wholeTree && keyItself) {
            if (const LONG rc = CheckWritable(*reg, key); rc != ERROR_SUCCESS)
                return rc;
            // Emptying a hive's root deletes the whole hive.
            if (key == key->hive->root.get())
                return ERROR_ACCESS_DENIED;
            for (size_t i = 0; i < key->subkeyCount(); ++i)
                if (const LONG rc = CheckKeyDeletable(*reg, key->subkeyAt(i), true);
                    rc != ERROR_SUCCESS)
                    return rc;
        } else if (const LONG rc = CheckKeyDeletable(*reg, key, wholeTree); rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    for (HiveKey* key : keys) {
        if (wholeTree && keyItself) {
            // RegDeleteTree without a subkey empties the key itself.
            if (const LONG rc = CheckWritable(*reg, key); rc != ERROR_SUCCESS)
                return rc;
            while (key->subkeyCount() > 0)
                if (const LONG rc = DeleteKeyTree(*reg, key->subkeyAt(0)); rc != ERROR_SUCCESS)
                    return rc;
            key->values().clear();
            reg->keyChanged(key);
            continue;
        }
        const LONG rc = wholeTree ? DeleteKeyTree(*reg, key) : DeleteOneKey(*reg, key);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    return ERROR_SUCCESS;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool parentFolderExists(const std::string& path) {
    const auto slash = path.rfind('/');
    struct stat st;
    return slash != std::string::npos && stat(path.substr(0, slash).c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

} // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    return openKey(call.reg, hKey, widenForRead(call.reg, lpSubKey), samDesired, false, 0,
                   phkResult);
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    return openKey(call.reg, hKey, widenForRead(call.reg, lpSubKey), samDesired, false, 0,
                   phkResult);
}

LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (phkResult && (!lpSubKey || !*lpSubKey)) {
        // Without a subkey RegOpenKey hands back the key it was given.
        Call call;
        KeyView viewScratch;
        const KeyView* viewLive = nullptr;
        if (const LONG rc = viewOf(call.reg, hKey, 0, viewLive, viewScratch); rc != ERROR_SUCCESS)
            return rc;
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return openKey(call.reg, hKey, widen(call.reg, lpSubKey), samDesired, true, dwOptions,
                   phkResult, lpdwDisposition);
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return openKey(call.reg, hKey, widen(lpSubKey), samDesired, true, dwOptions, phkResult,
                   lpdwDisposition);
}

LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    return RegCreateKeyExA(hKey, lpSubKey ? lpSubKey : "", 0, nullptr, REG_OPTION_NON_VOLATILE,
                           MAXIMUM_ALLOWED, nullptr, phkResult, nullptr);
}

LONG RegCloseKey(HKEY hKey) {
    Call call;
    KeyView closed;
    if (!call.reg || !call.reg->closeHandle(hKey, &closed))
        return ERROR_INVALID_HANDLE;
    call.reg->releaseClosed(std::move(closed));
    return ERROR_SUCCESS;
}

namespace {

// Names cross the ANSI functions in the code page (converted into `scratch`), the wide
// ones as they are.
std::string_view nameFor(MachineRegistry* reg, std::u16string_view name, std::string& scratch,
                         char) {
    reg->codePage->fromUnicode(name, scratch);
    return scratch;
}
std::u16string_view nameFor(MachineRegistry*, std::u16string_view name, std::string&, char16_t) {
    return name;
}

// The thread's buffer for the text an ANSI call hands out: a walk over many keys converts
// every name and string into it, never into a string of its own.
std::string& ansiScratch() {
    thread_local std::string scratch;
    return scratch;
}
// Hands a value's type and data to the caller by the RegQueryValueEx rules: strings in the
// code page for the ANSI calls (converted in `scratch`), other data as stored. False when
// the data no longer reads in place: the key's values are built, and the value is read
// again from them.
template <typename Char>
bool handOutData(MachineRegistry* reg, const ValueRead& value, LPDWORD type, LPBYTE data,
                 LPDWORD dataSize, std::string& scratch, LONG& rc) {
    if (type)
        *type = value.type();
    const bool converted = std::is_same_v<Char, char> && isStringType(value.type());
    if (!dataSize) {
        rc = data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
        return true;
    }
    if (!data && !converted) { // only the size is asked for, and it is the stored one
        *dataSize = DWORD(value.size());
        rc = ERROR_SUCCESS;
        return true;
    }
    thread_local std::string gathered;
    std::string_view raw;
    if (!value.data(gathered, raw))
        return false;
    if (converted) {
        // A string value of no data, or a lone byte, as real hives hold, converts to nothing.
        reg->codePage->fromUnicodeBytes(raw, scratch);
        raw = scratch;
    }
    rc = copyData(raw, data, dataSize);
    return true;
}

template <typename Char>
LONG enumKey(HKEY hKey, DWORD index, Char* name, LPDWORD nameSize, Char* cls, LPDWORD classSize,
             PFILETIME lastWrite) {
    Call call;
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    MachineRegistry::Handle* handle = nullptr;
    if (const LONG rc =
            viewOf(call.reg, hKey, KEY_ENUMERATE_SUB_KEYS, viewLive, viewScratch, &handle);
        rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    std::string& scratch = ansiScratch();
    // A subkey only named is not built: a walk builds the keys it opens.
    if (!cls && !classSize && !lastWrite && !(view.merged && view.key && view.userClass)) {
        thread_local std::u16string stored;
        if (!view.primary()->subkeyNameAt(index, stored))
            return ERROR_NO_MORE_ITEMS;
        return copyName(std::basic_string_view<Char>(nameFor(call.reg, stored, scratch, Char())),
                        name, nameSize);
    }
    HiveKey* key = subkeyAt(*call.reg, *handle, view, index);
    if (!key)
        return ERROR_NO_MORE_ITEMS;
    if (const LONG rc =
            copyName(std::basic_string_view<Char>(nameFor(call.reg, key->name, scratch, Char())),
                     name, nameSize);
        rc != ERROR_SUCCESS)
        return rc;
    HiveKey* target = FollowLinks(key);
    if (cls || classSize)
        if (const LONG rc = copyName(std::basic_string_view<Char>(
                                         nameFor(call.reg, classText(*target), scratch, Char())),
                                     cls, classSize);
            rc != ERROR_SUCCESS)
            return rc;
    setFileTime(lastWrite, target->lastWriteTime);
    return ERROR_SUCCESS;
}

template <typename Char>
LONG enumValue(HKEY hKey, DWORD index, Char* name, LPDWORD nameSize, LPDWORD type, LPBYTE data,
               LPDWORD dataSize) {
    Call call;
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    MachineRegistry::Handle* handle = nullptr;
    if (const LONG rc = viewOf(call.reg, hKey, KEY_QUERY_VALUE, viewLive, viewScratch, &handle);
        rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    thread_local std::u16string nameBuffer;
    std::string& scratch = ansiScratch();
    for (;;) {
        ValueRead value;
        if (!valueAt(*call.reg, *handle, view, index, value))
            return ERROR_NO_MORE_ITEMS;
        if (const LONG rc = copyName(std::basic_string_view<Char>(nameFor(
                                         call.reg, value.name(nameBuffer), scratch, Char())),
                                     name, nameSize);
            rc != ERROR_SUCCESS)
            return rc;
        LONG rc = ERROR_SUCCESS;
        if (handOutData<Char>(call.reg, value, type, data, dataSize, scratch, rc))
            return rc;
    }
}

} // namespace

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return enumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    return enumKey(hKey, dwIndex, lpName, lpcchName, lpClass, lpcchClass, lpftLastWriteTime);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
}

namespace {

template <typename Char>
LONG queryValue(HKEY hKey, const Char* valueName, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    Call call;
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    if (const LONG rc = viewOf(call.reg, hKey, KEY_QUERY_VALUE, viewLive, viewScratch);
        rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    const std::u16string_view wanted = widenForRead(call.reg, valueName);
    for (;;) {
        ValueRead value;
        if (!findValue(view, wanted, value))
            return ERROR_FILE_NOT_FOUND;
        LONG rc = ERROR_SUCCESS;
        if (handOutData<Char>(call.reg, value, type, data, dataSize, ansiScratch(), rc))
            return rc;
    }
}

} // namespace

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    return queryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    return queryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    Bytes data(lpData, lpData + cbData);
    if (isStringType(dwType))
        data = unicodeBytes(call.reg->codePage->toUnicode(
            std::string_view(reinterpret_cast<const char*>(lpData), cbData)));
    return setValue(call.reg, hKey, widen(call.reg, lpValueName), dwType, std::move(data));
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    return setValue(call.reg, hKey, widen(lpValueName), dwType, Bytes(lpData, lpData + cbData));
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    return deleteValue(call.reg, hKey, widen(call.reg, lpValueName));
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    return deleteValue(call.reg, hKey, widen(lpValueName));
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return deleteTree(call.reg, hKey, widen(call.reg, lpSubKey), false);
}

LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    return deleteTree(call.reg, hKey, widen(call.reg, lpSubKey), true);
}

LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    Call call;
    if (!call.reg)
        return ERROR_INVALID_HANDLE;
    return deleteTree(call.reg, hKey, widen(lpSubKey), true);
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    Call call;
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    MachineRegistry::Handle* handle = nullptr;
    if (const LONG rc = viewOf(call.reg, hKey, KEY_QUERY_VALUE, viewLive, viewScratch, &handle);
        rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    HiveKey* key = view.primary();
    if (lpClass || lpcchClass)
        if (const LONG rc =
                copyName(std::string_view(call.reg->codePage->fromUnicode(classText(*key))),
                         lpClass, lpcchClass);
            rc != ERROR_SUCCESS)
            return rc;
    DWORD subkeys = 0, maxSubkey = 0, maxClass = 0, values = 0, maxValueName = 0, maxValue = 0;
    if (!lpcbMaxClassLen && !(view.merged && view.key && view.userClass)) {
        // Names only: no subkey is built.
        thread_local std::u16string stored;
        for (DWORD i = 0; key->subkeyNameAt(i, stored); ++i) {
            ++subkeys;
            maxSubkey = std::max(maxSubkey, DWORD(stored.size()));
        }
    } else {
        for (DWORD i = 0; HiveKey* sub = subkeyAt(*call.reg, *handle, view, i); ++i) {
            ++subkeys;
            maxSubkey = std::max(maxSubkey, DWORD(sub->name.size()));
            // A subkey's class name is read from its hive only when the caller asks for it.
            if (lpcbMaxClassLen && sub->className())
                maxClass = std::max(maxClass, DWORD(sub->className()->size() / 2));
        }
    }
    for (ValueRead v; valueAt(*call.reg, *handle, view, values, v);) {
        ++values;
        maxValueName = std::max(maxValueName, DWORD(v.nameUnits()));
        maxValue = std::max(maxValue, DWORD(v.size()));
    }
    if (lpcSubKeys)
        *lpcSubKeys = subkeys;
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = maxSubkey;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = maxClass;
    if (lpcValues)
        *lpcValues = values;
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = maxValueName;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = maxValue;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = key->security() ? DWORD(key->security()->size()) : 0;
    setFileTime(lpftLastWriteTime, key->lastWriteTime);
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY hKey) {
    Call call(true);
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    if (const LONG rc = viewOf(call.reg, hKey, 0, viewLive, viewScratch); rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    try {
        for (HiveKey* key : {view.userClass.get(), view.key.get()}) {
            if (!key)
                continue;
            if (!key->hive) {
                call.reg->flushDirty(true); // a root above the hives: all of them
                continue;
            }
            if (key->hive->dirty)
                call.reg->flushHive(*key->hive);
        }
    } catch (const std::exception& e) {
        call.reg->lastFlushError = e.what();
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ERROR_SUCCESS;
}

namespace win32 {

LONG SaveKeyToHostFile(HKEY hKey, const std::string& hostPath) {
    Call call(true);
    KeyView viewScratch;
    const KeyView* viewLive = nullptr;
    if (const LONG rc = viewOf(call.reg, hKey, 0, viewLive, viewScratch); rc != ERROR_SUCCESS)
        return rc;
    const KeyView& view = *viewLive;
    HiveKey* key = view.primary();
    if (!key->hive)
        return ERROR_INVALID_PARAMETER;
    if (!PrivilegeEnabled("SeBackupPrivilege"))
        return ERROR_PRIVILEGE_NOT_HELD;
    if (fileExists(hostPath))
        return ERROR_ALREADY_EXISTS;
    if (!parentFolderExists(hostPath))
        return ERROR_PATH_NOT_FOUND;
    HiveWriteOptions options;
    if (key == key->hive->root.get())
        options = key->hive->writeOptions();
    else
        options.minorVersion = key->hive->minorVersion;
    try {
        const hive::Bytes bytes = WriteHive(*key, options);
        if (!CreateFileAtomically(hostPath, bytes))
            return ERROR_ALREADY_EXISTS;
        if (key == key->hive->root.get())
            call.reg->recordDenseSave(hostPath, key->hive, bytes);
    } catch (const hive::FileError& e) {
        return e.error == ENOSPC || e.error == EDQUOT ? ERROR_DISK_FULL : ERROR_CANTWRITE;
    } catch (const std::exception&) {
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

} // namespace win32

LONG RegSaveKeyA(HKEY hKey, LPCSTR lpFile, const SECURITY_ATTRIBUTES*) {
    std::optional<std::string> host;
    {
        Call call;
        if (!call.reg)
            return ERROR_INVALID_HANDLE;
        if (!lpFile || !*lpFile)
            return ERROR_INVALID_PARAMETER;
        const MachinePaths::Resolved where =
            call.reg->paths->resolve(call.reg->codePage->toUnicode(lpFile));
        if (where.drive && !where.drive->writable)
            return ERROR_WRITE_PROTECT;
        if (where.status != MachinePaths::Status::NoDrive &&
            where.status != MachinePaths::Status::Outside)
            host = where.host;
    }
    if (!host)
        return ERROR_PATH_NOT_FOUND;
    return SaveKeyToHostFile(hKey, *host);
}
