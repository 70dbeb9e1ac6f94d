#include "win32/registry/HiveValues.h"

#include "win32/base/WinTypes.h"
#include "win32/registry/RegistryViews.h"

#include <cstring>

namespace win32 {

std::u16string DataAsText(const Bytes& data) {
    std::u16string text(data.size() / 2, u'\0');
    if (!text.empty())
        std::memcpy(text.data(), data.data(), text.size() * 2);
    const auto nul = text.find(u'\0');
    if (nul != std::u16string::npos)
        text.resize(nul);
    return text;
}

std::optional<std::u16string> StringValue(const HiveKey& key, std::u16string_view name) {
    const int index = key.findValue(name);
    if (index < 0)
        return std::nullopt;
    const HiveValue& value = key.values()[size_t(index)];
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        return std::nullopt;
    return DataAsText(value.data);
}

std::optional<uint32_t> DwordValue(const HiveKey& key, std::u16string_view name) {
    const int index = key.findValue(name);
    if (index < 0)
        return std::nullopt;
    const HiveValue& value = key.values()[size_t(index)];
    if (value.type == REG_DWORD && value.data.size() >= 4) {
        uint32_t out;
        std::memcpy(&out, value.data.data(), 4);
        return out;
    }
    if (value.type == REG_SZ) {
        const std::u16string text = DataAsText(value.data);
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
