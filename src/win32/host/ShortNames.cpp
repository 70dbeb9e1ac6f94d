#include "win32/host/ShortNames.h"

#include "win32/base/CodePage.h"
#include "win32/base/HiveTree.h"

#include <algorithm>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <tuple>
#include <unordered_set>

namespace win32 {

namespace {

constexpr long kFuseMagic = 0x65735546;

// Characters an 8.3 name may hold besides letters and digits.
bool isShortNameSymbol(char16_t c) {
    return std::u16string_view(u"!#$%&'()-@^_`{}~").find(c) != std::u16string_view::npos;
}

bool isShortNameChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           isShortNameSymbol(c);
}

// One part of a long name as it goes into a short name.
std::u16string cleaned(std::u16string_view part) {
    std::u16string out;
    for (const char16_t c : part) {
        if (c == u' ' || c == u'.')
            continue;
        if (c >= u'a' && c <= u'z')
            out += char16_t(c - u'a' + u'A');
        else if (isShortNameChar(c))
            out += c;
        else
            out += u'_';
    }
    return out;
}

struct Parts {
    std::u16string base; // cleaned, whole
    std::u16string ext;  // cleaned, at most three characters
};

Parts partsOf(std::u16string_view name) {
    while (!name.empty() && name.front() == u'.')
        name.remove_prefix(1);
    const size_t dot = name.rfind(u'.');
    Parts parts;
    parts.base = cleaned(dot == std::u16string_view::npos ? name : name.substr(0, dot));
    if (dot != std::u16string_view::npos)
        parts.ext = cleaned(name.substr(dot + 1)).substr(0, 3);
    if (parts.base.empty())
        parts.base = u"_";
    return parts;
}

std::u16string numbered(std::u16string_view stem, int number, const std::u16string& ext) {
    std::u16string name(stem);
    name += u'~';
    name += char16_t(u'0' + number);
    if (!ext.empty())
        name += u"." + ext;
    return name;
}

std::u16string hashed(std::u16string_view longName) {
    uint32_t hash = 2166136261u;
    for (const char16_t c : UpcaseName(longName)) {
        hash = (hash ^ (c & 0xFF)) * 16777619u;
        hash = (hash ^ (c >> 8)) * 16777619u;
    }
    const uint32_t four = (hash ^ (hash >> 16)) & 0xFFFF;
    std::u16string out;
    for (int shift = 12; shift >= 0; shift -= 4)
        out += char16_t(u"0123456789ABCDEF"[(four >> shift) & 0xF]);
    return out;
}

// When a name was made, as far as the host keeps it: the birth time, else the inode.
std::tuple<int64_t, uint32_t, uint64_t> ageOf(const std::string& path) {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_INO, &info) != 0)
        return {0, 0, 0};
    if (info.stx_mask & STATX_BTIME)
        return {info.stx_btime.tv_sec, info.stx_btime.tv_nsec, info.stx_ino};
    return {0, 0, info.stx_ino};
}

} // namespace

bool IsShortName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..")
        return false;
    const size_t dot = name.find(u'.');
    const std::u16string_view base = name.substr(0, dot);
    const std::u16string_view ext =
        dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 ||
        (dot != std::u16string_view::npos && ext.empty()))
        return false;
    return std::all_of(base.begin(), base.end(), isShortNameChar) &&
           std::all_of(ext.begin(), ext.end(), isShortNameChar);
}

std::vector<std::u16string> ShortNamesOf(const std::string& hostFolder,
                                         const FolderListing& listing) {
    const auto& entries = listing.entries;
    std::vector<std::u16string> out(entries.size());
    std::unordered_set<std::u16string> taken;
    std::vector<size_t> longNames;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (IsShortName(Utf8ToUtf16(entries[i].name)))
            taken.insert(entries[i].upper);
        else
            longNames.push_back(i);
    }

    // ntfs-3g shows the short names Windows stored.
    struct statfs fs {};
    if (!longNames.empty() && ::statfs(hostFolder.c_str(), &fs) == 0 && fs.f_type == kFuseMagic) {
        std::vector<size_t> rest;
        for (const size_t i : longNames) {
            char value[64];
            const std::string path = hostFolder + "/" + entries[i].name;
            const ssize_t size =
                ::lgetxattr(path.c_str(), "system.ntfs_dos_name", value, sizeof value);
            const std::u16string stored =
                size > 0 ? Utf8ToUtf16(std::string_view(value, size_t(size))) : u"";
            if (IsShortName(stored)) {
                out[i] = UpcaseName(stored);
                taken.insert(out[i]);
            } else {
                rest.push_back(i);
            }
        }
        longNames = std::move(rest);
    }

    // Names compete only with those of the same six characters and extension.
    std::map<std::u16string, std::vector<size_t>> groups;
    std::vector<Parts> parts(entries.size());
    for (const size_t i : longNames) {
        parts[i] = partsOf(Utf8ToUtf16(entries[i].name));
        groups[parts[i].base.substr(0, 6) + u"." + parts[i].ext].push_back(i);
    }
    for (auto& [key, members] : groups) {
        if (members.size() > 1) {
            std::vector<std::pair<std::tuple<int64_t, uint32_t, uint64_t>, size_t>> aged;
            for (const size_t i : members)
                aged.push_back({ageOf(hostFolder + "/" + entries[i].name), i});
            std::sort(aged.begin(), aged.end(), [&](const auto& a, const auto& b) {
                return std::tie(a.first, entries[a.second].name) <
                       std::tie(b.first, entries[b.second].name);
            });
            for (size_t k = 0; k < aged.size(); ++k)
                members[k] = aged[k].second;
        }
        for (const size_t i : members) {
            const Parts& p = parts[i];
            std::u16string chosen;
            for (int n = 1; n <= 4 && chosen.empty(); ++n) {
                std::u16string candidate = numbered(p.base.substr(0, 6), n, p.ext);
                if (!taken.count(candidate))
                    chosen = std::move(candidate);
            }
            const std::u16string stem = p.base.substr(0, 2) + hashed(Utf8ToUtf16(entries[i].name));
            for (int n = 1; n <= 9 && chosen.empty(); ++n) {
                std::u16string candidate = numbered(stem, n, p.ext);
                if (!taken.count(candidate))
                    chosen = std::move(candidate);
            }
            if (chosen.empty()) // nine hash collisions in one folder: a name all the same
                chosen = numbered(stem, 1, p.ext);
            taken.insert(chosen);
            out[i] = std::move(chosen);
        }
    }
    return out;
}

} // namespace win32
