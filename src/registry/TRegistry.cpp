#include "registry/TRegistry.h"

#include "win32/registry/Registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::string quoted(const char* what, const std::string& name) {
    return std::string(what) + " '" + name + "'";
}

[[noreturn]] void invalidType(const std::string& name) {
    throw ERegistryException(quoted("Invalid data type for", name));
}

[[noreturn]] void readFailed(const std::string& name) {
    throw ERegistryException(quoted("Failed to get data for", name));
}

TRegDataType dataTypeOf(DWORD type) {
    switch (type) {
    case REG_SZ:
        return TRegDataType::rdString;
    case REG_EXPAND_SZ:
        return TRegDataType::rdExpandString;
    case REG_DWORD:
        return TRegDataType::rdInteger;
    case REG_BINARY:
        return TRegDataType::rdBinary;
    default:
        return TRegDataType::rdUnknown;
    }
}

} // namespace

TRegistry::TRegistry(REGSAM access) : access_(access) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

HKEY TRegistry::baseKeyFor(const std::string& path, const char*& relative) const {
    relative = path.c_str();
    if (!path.empty() && path.front() == '\\') {
        ++relative;
        return root_;
    }
    return current_ ? current_ : root_;
}

bool TRegistry::open(const std::string& key, REGSAM access, bool canCreate) {
    const char* relative = nullptr;
    const HKEY base = baseKeyFor(key, relative);
    HKEY opened = nullptr;
    const LONG rc = canCreate ? RegCreateKeyExA(base, relative, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                access, nullptr, &opened, nullptr)
                              : RegOpenKeyExA(base, relative, 0, access, &opened);
    if (rc != ERROR_SUCCESS)
        return false;
    CloseKey();
    current_ = opened;
    return true;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    return open(key, access_, canCreate);
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    return open(key, KEY_READ, false);
}

void TRegistry::CloseKey() {
    held_ = nullptr;
    if (current_) {
        RegCloseKey(current_);
        current_ = nullptr;
    }
}

bool TRegistry::KeyExists(const std::string& key) {
    const char* relative = nullptr;
    const HKEY base = baseKeyFor(key, relative);
    HKEY opened = nullptr;
    const LONG rc = RegOpenKeyExA(base, relative, 0, KEY_READ, &opened);
    if (rc == ERROR_SUCCESS)
        RegCloseKey(opened);
    return rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DENIED;
}

bool TRegistry::ValueExists(const std::string& name) {
    DWORD type = 0, size = 0;
    return queryInfo(name, type, size);
}

void TRegistry::GetKeyNames(std::vector<std::string>& list) {
    enumerateNames(list, false);
}

void TRegistry::GetValueNames(std::vector<std::string>& list) {
    enumerateNames(list, true);
}

namespace {

// Room for any key name (255 characters, two bytes each in a double-byte code page);
// value names may be longer and grow their buffer when they are.
constexpr size_t kNameRoom = 512;

} // namespace

namespace {

// The next entry of a list being refilled: the one already there when there is one, so
// that its string's room serves again.
template <typename T> T& nextEntry(std::vector<T>& list, size_t& count) {
    if (count == list.size())
        list.emplace_back();
    return list[count++];
}

} // namespace

bool TRegistry::GetKeyNameAt(DWORD index, std::string& name) {
    if (!current_)
        return false;
    thread_local std::vector<char> buffer(kNameRoom);
    for (;;) {
        DWORD size = DWORD(buffer.size());
        const LONG rc = RegEnumKeyExA(current_, index, buffer.data(), &size, nullptr, nullptr,
                                      nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return false;
        name.assign(buffer.data(), size);
        return true;
    }
}

void TRegistry::enumerateNames(std::vector<std::string>& list, bool values) {
    size_t count = 0;
    // Kept by the thread: a walk lists every key it passes.
    thread_local std::vector<char> name(kNameRoom);
    for (DWORD i = 0; current_; ++i) {
        DWORD size = DWORD(name.size());
        const LONG rc = values ? RegEnumValueA(current_, i, name.data(), &size, nullptr, nullptr,
                                               nullptr, nullptr)
                               : RegEnumKeyExA(current_, i, name.data(), &size, nullptr, nullptr,
                                               nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            name.resize(name.size() * 4);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        nextEntry(list, count).assign(name.data(), size);
    }
    list.resize(count);
}

namespace {

// Calls `take(name, type, data)` for every value of `key`, in order, each read once.
template <typename Take> void readEveryValue(HKEY key, Take take) {
    thread_local std::vector<char> name(kNameRoom), data(1024);
    for (DWORD i = 0; key; ++i) {
        DWORD nameSize = DWORD(name.size()), dataSize = DWORD(data.size()), type = 0;
        const LONG rc = RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (rc == ERROR_MORE_DATA) {
            // The data's size comes back; a name too long for its buffer says nothing.
            if (dataSize > data.size())
                data.resize(size_t(dataSize) + 1);
            else
                name.resize(name.size() * 4);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        take(std::string_view(name.data(), nameSize), type,
             std::string_view(data.data(), dataSize));
    }
}

} // namespace

void TRegistry::GetTextValues(std::vector<TRegTextValue>& list) {
    size_t count = 0;
    readEveryValue(current_, [&](std::string_view name, DWORD type, std::string_view data) {
        TRegTextValue& value = nextEntry(list, count);
        value.Name.assign(name);
        value.IsText = type == REG_SZ || type == REG_EXPAND_SZ;
        if (value.IsText)
            value.Text.assign(data.begin(), std::find(data.begin(), data.end(), '\0'));
        else
            value.Text.clear();
    });
    list.resize(count);
}

namespace {

// Whether reading each value by its name, as the code page gives it, finds that value
// again: no name the conversion could have changed ('?' stands for what the code page
// lacks), none cut short by a zero, and no two equal but for case.
bool NamesReadBack(const std::vector<TRegValue>& list) {
    thread_local std::vector<const std::string*> sorted;
    sorted.clear();
    for (const TRegValue& value : list) {
        for (const char c : value.Name)
            if (c == '\0' || c == '?' || uint8_t(c) >= 0x80)
                return false;
        sorted.push_back(&value.Name);
    }
    const auto less = [](const std::string* a, const std::string* b) {
        return std::lexicographical_compare(
            a->begin(), a->end(), b->begin(), b->end(),
            [](char x, char y) { return std::toupper(uint8_t(x)) < std::toupper(uint8_t(y)); });
    };
    std::sort(sorted.begin(), sorted.end(), less);
    for (size_t i = 1; i < sorted.size(); ++i)
        if (!less(sorted[i - 1], sorted[i]))
            return false;
    return true;
}

} // namespace

void TRegistry::GetValues(std::vector<TRegValue>& list) {
    held_ = nullptr;
    size_t count = 0;
    readEveryValue(current_, [&](std::string_view name, DWORD type, std::string_view data) {
        TRegValue& value = nextEntry(list, count);
        value.Name.assign(name);
        value.Type = type;
        value.Data.assign(data);
    });
    list.resize(count);
    const bool readsBack = NamesReadBack(list);
    for (TRegValue& value : list)
        value.ReadsBack = readsBack;
}

void TRegistry::ReadFrom(const TRegValue* value) {
    held_ = value && value->ReadsBack && current_ ? value : nullptr;
}

LONG TRegistry::queryValue(const std::string& name, DWORD* type, BYTE* data, DWORD* size) const {
    if (!current_)
        return ERROR_INVALID_HANDLE;
    if (!held_ || name != held_->Name)
        return RegQueryValueExA(current_, name.c_str(), nullptr, type, data, size);
    // As RegQueryValueExA hands out data.
    if (type)
        *type = held_->Type;
    if (!size)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD needed = DWORD(held_->Data.size());
    if (!data || *size < needed) {
        const bool more = data != nullptr;
        *size = needed;
        return more ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }
    if (needed)
        std::memcpy(data, held_->Data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

bool TRegistry::GetKeyInfo(TRegKeyInfo& info) {
    info = TRegKeyInfo{};
    if (!current_)
        return false;
    const LONG rc = RegQueryInfoKeyA(current_, nullptr, nullptr, nullptr, &info.NumSubKeys,
                                     &info.MaxSubKeyLen, nullptr, &info.NumValues,
                                     &info.MaxValueLen, &info.MaxDataLen, nullptr, &info.FileTime);
    if (rc != ERROR_SUCCESS) {
        info = TRegKeyInfo{};
        return false;
    }
    return true;
}

bool TRegistry::queryInfo(const std::string& name, DWORD& type, DWORD& size, LONG* result) const {
    size = 0;
    const LONG rc = queryValue(name, &type, nullptr, &size);
    if (result)
        *result = rc;
    return rc == ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
    DWORD type = 0, size = 0;
    return queryInfo(name, type, size) ? dataTypeOf(type) : TRegDataType::rdUnknown;
}

int TRegistry::GetDataSize(const std::string& name) {
    DWORD type = 0, size = 0;
    return queryInfo(name, type, size) ? int(size) : -1;
}

void TRegistry::readData(const std::string& name, void* buffer, DWORD& size) const {
    if (queryValue(name, nullptr, static_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        readFailed(name);
}

std::string TRegistry::ReadString(const std::string& name) {
    // One call reads type and text together into the thread's buffer: a scan reads the
    // strings of every key it passes, and each call looks the value up by its name.
    thread_local std::vector<char> buffer(1024);
    for (;;) {
        DWORD type = 0, size = DWORD(buffer.size());
        const LONG rc = queryValue(name, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
        // A value that is not there reads as the empty text: the scanners read a key's
        // default value without asking first, and judge an empty one.
        if (rc == ERROR_FILE_NOT_FOUND)
            return {};
        if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
            readFailed(name);
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            invalidType(name);
        if (rc == ERROR_MORE_DATA) {
            buffer.resize(size_t(size) + 1);
            continue;
        }
        return std::string(buffer.data(), std::find(buffer.data(), buffer.data() + size, '\0'));
    }
}

int32_t TRegistry::ReadInteger(const std::string& name) {
    DWORD type = 0, size = 0;
    if (!queryInfo(name, type, size))
        readFailed(name);
    if (type != REG_DWORD)
        invalidType(name);
    if (size != sizeof(int32_t))
        readFailed(name); // a malformed DWORD: no number can be made of it
    int32_t value = 0;
    readData(name, &value, size);
    return value;
}

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int size) {
    DWORD type = 0, needed = 0;
    if (!queryInfo(name, type, needed))
        readFailed(name);
    const TRegDataType kind = dataTypeOf(type);
    if (kind != TRegDataType::rdBinary && kind != TRegDataType::rdUnknown)
        invalidType(name);
    if (size < 0 || needed > DWORD(size))
        readFailed(name);
    DWORD got = DWORD(size);
    readData(name, buffer, got);
    return int(got);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    held_ = nullptr; // the key is read from now on
    if (!current_ || RegSetValueExA(current_, name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()),
                                    DWORD(value.size() + 1)) != ERROR_SUCCESS)
        throw ERegistryException(quoted("Failed to set data for", name));
}

bool TRegistry::DeleteValue(const std::string& name) {
    held_ = nullptr;
    return current_ && RegDeleteValueA(current_, name.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::DeleteKey(const std::string& key) {
    const char* start = nullptr;
    const HKEY base = baseKeyFor(key, start);
    std::string relative = start;
    while (!relative.empty() && relative.back() == '\\')
        relative.pop_back();
    // An empty path would name the base key itself, which is never what a caller
    // deleting "a key below" means.
    if (relative.empty())
        return false;
    return RegDeleteTreeA(base, relative.c_str()) == ERROR_SUCCESS;
}
