#include "win32/registry/HiveValues.h"

#include "win32/base/WinTypes.h"
#include "win32/registry/RegistryViews.h"

#include <cstring>

namespace win32 {

namespace {

std::u16string textOf(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty())
        std::memcpy(text.data(), data, text.size() * 2);
    const auto nul = text.find(u'\0');
    if (nul != std::u16string::npos)
        text.resize(nul);
    return text;
}

// The type and data of the value `name` of `key`; false when there is none. A key whose
// values were never changed is read where the hive file holds them (its data gathered
// into `buffer` when the file keeps it in pieces), building nothing.
bool readValue(const HiveKey& key, std::u16string_view name, uint32_t& type, const uint8_t*& data,
               size_t& size, Bytes& buffer) {
    for (;;) {
        hive::StoredValue stored;
        switch (key.findStoredValue(name, stored)) {
        case hive::StoredRead::Found:
            type = stored.type;
            size = stored.size;
            data = stored.data;
            if (data)
                return true;
            buffer.resize(size);
            if (!key.copyStoredData(stored, buffer.data()))
                continue; // the values are built now
            data = buffer.data();
            return true;
        case hive::StoredRead::Missing:
            return false;
        case hive::StoredRead::Built:
            break;
        }
        const int index = key.findValue(name);
        if (index < 0)
            return false;
        const HiveValue& value = key.values()[size_t(index)];
        type = value.type;
        data = value.data.data();
        size = value.data.size();
        return true;
    }
}

} // namespace

std::u16string DataAsText(const Bytes& data) {
    return textOf(data.data(), data.size());
}

std::optional<std::u16string> StringValue(const HiveKey& key, std::u16string_view name) {
    uint32_t type = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
    Bytes buffer;
    if (!readValue(key, name, type, data, size, buffer))
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    return textOf(data, size);
}

std::optional<uint32_t> DwordValue(const HiveKey& key, std::u16string_view name) {
    uint32_t type = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
    Bytes buffer;
    if (!readValue(key, name, type, data, size, buffer))
        return std::nullopt;
    if (type == REG_DWORD && size >= 4) {
        uint32_t out;
        std::memcpy(&out, data, 4);
        return out;
    }
    if (type == REG_SZ) {
        const std::u16string text = textOf(data, size);
        if (text.empty() || text.size() > 9)
            return std::nullopt;
        uint32_t out = 0;
        for (const char16_t c : text) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            out = out * 10 + uint32_t(c - u'0');
        }
        return out;
    }
    return std::nullopt;
}

HiveKey* FindKey(HiveKey* from, std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    if (!from || !SplitKeyPath(path, parts))
        return nullptr;
    HiveKey* key = from;
    for (const auto part : parts) {
        key = FollowLinks(key->findSubkey(part));
        if (!key)
            return nullptr;
    }
    return key;
}

Bytes StringData(std::u16string_view text) {
    Bytes out((text.size() + 1) * 2, 0);
    if (!text.empty())
        std::memcpy(out.data(), text.data(), text.size() * 2);
    return out;
}

Bytes DwordData(uint32_t value) {
    Bytes out(4);
    std::memcpy(out.data(), &value, 4);
    return out;
}

} // namespace win32
