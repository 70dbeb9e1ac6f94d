#include "win32/base/SecurityDescriptor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace win32 {

namespace {

uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

constexpr size_t kAclHeader = 8;
constexpr size_t kDescriptorHeader = 20;

bool parseNumber(std::string_view text, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

size_t SidLength(const uint8_t* data, size_t available) {
    if (!data || available < 8 || data[0] != SID_REVISION || data[1] > SID_MAX_SUB_AUTHORITIES)
        return 0;
    const size_t length = 8 + 4 * size_t(data[1]);
    return length <= available ? length : 0;
}

std::string SidToText(const SidBytes& sid) {
    if (SidLength(sid.data(), sid.size()) != sid.size())
        return {};
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | sid[i];
    std::string text = "S-1-";
    if (authority >= (uint64_t(1) << 32)) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(authority));
        text += hex;
    } else {
        text += std::to_string(authority);
    }
    for (size_t i = 0; i < sid[1]; ++i)
        text += "-" + std::to_string(get32(&sid[8 + 4 * i]));
    return text;
}

std::optional<SidBytes> SidFromText(std::string_view text) {
    if (text.size() < 2 || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
        return std::nullopt;
    std::vector<std::string_view> parts;
    size_t start = 2;
    while (true) {
        const size_t dash = text.find('-', start);
        parts.push_back(text.substr(start, dash == std::string_view::npos ? dash : dash - start));
        if (dash == std::string_view::npos)
            break;
        start = dash + 1;
    }
    if (parts.size() < 2 || parts.size() - 2 > SID_MAX_SUB_AUTHORITIES)
        return std::nullopt;
    uint64_t revision = 0, authority = 0;
    if (!parseNumber(parts[0], revision) || revision != SID_REVISION ||
        !parseNumber(parts[1], authority) || authority >= (uint64_t(1) << 48))
        return std::nullopt;
    SidBytes sid(8, 0);
    sid[0] = SID_REVISION;
    sid[1] = uint8_t(parts.size() - 2);
    for (int i = 0; i < 6; ++i)
        sid[2 + i] = uint8_t(authority >> (8 * (5 - i)));
    for (size_t i = 2; i < parts.size(); ++i) {
        uint64_t sub = 0;
        if (!parseNumber(parts[i], sub) || sub > 0xFFFFFFFFu)
            return std::nullopt;
        sid.resize(sid.size() + 4);
        put32(sid, sid.size() - 4, uint32_t(sub));
    }
    return sid;
}

SidBytes MakeSid(uint64_t authority, std::initializer_list<uint32_t> subAuthorities) {
    SidBytes sid(8, 0);
    sid[0] = SID_REVISION;
    sid[1] = uint8_t(subAuthorities.size());
    for (int i = 0; i < 6; ++i)
        sid[2 + i] = uint8_t(authority >> (8 * (5 - i)));
    for (const uint32_t sub : subAuthorities) {
        sid.resize(sid.size() + 4);
        put32(sid, sid.size() - 4, sub);
    }
    return sid;
}

std::optional<AccessList> ParseAccessList(const uint8_t* data, size_t available) {
    if (!data || available < kAclHeader)
        return std::nullopt;
    const size_t size = get16(data + 2);
    const size_t count = get16(data + 4);
    if (size < kAclHeader || size > available)
        return std::nullopt;
    AccessList list;
    list.revision = data[0];
    size_t at = kAclHeader;
    for (size_t i = 0; i < count; ++i) {
        if (size - at < 4)
            return std::nullopt;
        const uint8_t* p = data + at;
        const size_t aceSize = get16(p + 2);
        if (aceSize < 4 || aceSize > size - at)
            return std::nullopt;
        Ace ace;
        ace.type = p[0];
        ace.flags = p[1];
        if (ace.type == ACCESS_ALLOWED_ACE_TYPE || ace.type == ACCESS_DENIED_ACE_TYPE ||
            ace.type == SYSTEM_AUDIT_ACE_TYPE) {
            if (aceSize < 8)
                return std::nullopt;
            ace.mask = get32(p + 4);
            const size_t sidLength = SidLength(p + 8, aceSize - 8);
            if (!sidLength)
                return std::nullopt;
            ace.sid.assign(p + 8, p + 8 + sidLength);
        } else {
            ace.raw.assign(p, p + aceSize);
        }
        list.aces.push_back(std::move(ace));
        at += aceSize;
    }
    return list;
}

std::vector<uint8_t> SerializeAccessList(const AccessList& list) {
    std::vector<uint8_t> out(kAclHeader, 0);
    out[0] = list.revision;
    for (const Ace& ace : list.aces) {
        const size_t at = out.size();
        if (!ace.hasSid()) {
            out.insert(out.end(), ace.raw.begin(), ace.raw.end());
            continue;
        }
        out.resize(at + 8, 0);
        out[at] = ace.type;
        out[at + 1] = ace.flags;
        put32(out, at + 4, ace.mask);
        out.insert(out.end(), ace.sid.begin(), ace.sid.end());
        put16(out, at + 2, uint16_t(out.size() - at));
    }
    put16(out, 2, uint16_t(out.size()));
    put16(out, 4, uint16_t(list.aces.size()));
    return out;
}

std::optional<SecurityDescriptor> ParseSecurityDescriptor(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kDescriptorHeader || bytes[0] != 1)
        return std::nullopt;
    SecurityDescriptor sd;
    sd.control = get16(&bytes[2]);
    if (!(sd.control & SE_SELF_RELATIVE))
        return std::nullopt;
    const uint8_t* base = bytes.data();
    const size_t size = bytes.size();
    auto sidAt = [&](uint32_t offset, std::optional<SidBytes>& out) {
        if (offset == 0)
            return true;
        if (offset >= size)
            return false;
        const size_t length = SidLength(base + offset, size - offset);
        if (!length)
            return false;
        out = SidBytes(base + offset, base + offset + length);
        return true;
    };
    auto aclAt = [&](uint32_t offset, std::optional<AccessList>& out) {
        if (offset == 0)
            return true; // a null list
        if (offset >= size)
            return false;
        out = ParseAccessList(base + offset, size - offset);
        return out.has_value();
    };
    sd.saclPresent = sd.control & SE_SACL_PRESENT;
    sd.daclPresent = sd.control & SE_DACL_PRESENT;
    if (!sidAt(get32(&bytes[4]), sd.owner) || !sidAt(get32(&bytes[8]), sd.group))
        return std::nullopt;
    if (sd.saclPresent && !aclAt(get32(&bytes[12]), sd.sacl))
        return std::nullopt;
    if (sd.daclPresent && !aclAt(get32(&bytes[16]), sd.dacl))
        return std::nullopt;
    return sd;
}

std::vector<uint8_t> SerializeSecurityDescriptor(const SecurityDescriptor& sd) {
    std::vector<uint8_t> out(kDescriptorHeader, 0);
    out[0] = 1;
    uint16_t control = uint16_t(sd.control | SE_SELF_RELATIVE);
    control = uint16_t(sd.daclPresent ? control | SE_DACL_PRESENT : control & ~SE_DACL_PRESENT);
    control = uint16_t(sd.saclPresent ? control | SE_SACL_PRESENT : control & ~SE_SACL_PRESENT);
    put16(out, 2, control);
    auto append = [&](size_t field, const std::vector<uint8_t>& part) {
        out.resize((out.size() + 3) & ~size_t(3), 0);
        put32(out, field, uint32_t(out.size()));
        out.insert(out.end(), part.begin(), part.end());
    };
    if (sd.owner)
        append(4, *sd.owner);
    if (sd.group)
        append(8, *sd.group);
    if (sd.saclPresent && sd.sacl)
        append(12, SerializeAccessList(*sd.sacl));
    if (sd.daclPresent && sd.dacl)
        append(16, SerializeAccessList(*sd.dacl));
    return out;
}

uint32_t MapGenericKeyRights(uint32_t mask) {
    if (mask & GENERIC_READ)
        mask |= KEY_READ;
    if (mask & GENERIC_WRITE)
        mask |= KEY_WRITE;
    if (mask & GENERIC_EXECUTE)
        mask |= KEY_EXECUTE;
    if (mask & GENERIC_ALL)
        mask |= KEY_ALL_ACCESS;
    return mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

bool AccessGranted(const SecurityDescriptor& sd, const std::vector<std::string>& sids,
                   uint32_t desired) {
    uint32_t remaining = MapGenericKeyRights(desired);
    if (!sd.daclPresent || !sd.dacl)
        return true;
    auto holds = [&](const SidBytes& sid) {
        const std::string text = SidToText(sid);
        return std::any_of(sids.begin(), sids.end(), [&](const std::string& s) {
            return s.size() == text.size() &&
                   std::equal(s.begin(), s.end(), text.begin(), [](char a, char b) {
                       return std::toupper(uint8_t(a)) == std::toupper(uint8_t(b));
                   });
        });
    };
    if (sd.owner && holds(*sd.owner))
        remaining &= ~(READ_CONTROL | WRITE_DAC);
    for (const Ace& ace : sd.dacl->aces) {
        if (remaining == 0)
            break;
        if (!ace.hasSid() || (ace.flags & INHERIT_ONLY_ACE) || !holds(ace.sid))
            continue;
        const uint32_t mask = MapGenericKeyRights(ace.mask);
        if (ace.type == ACCESS_DENIED_ACE_TYPE && (mask & remaining))
            return false;
        if (ace.type == ACCESS_ALLOWED_ACE_TYPE)
            remaining &= ~mask;
    }
    return remaining == 0;
}

} // namespace win32
