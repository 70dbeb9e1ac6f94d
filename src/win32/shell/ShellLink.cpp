#include "win32/shell/ShellLink.h"

#include "win32/base/CodePage.h"
#include "win32/files/Drives.h"
#include "win32/host/RegularFile.h"
#include "win32/registry/MachineRegistry.h"
#include "win32/system/Environment.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace win32 {

namespace {

// Header fields and flags (MS-SHLLINK 2.1).
constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHasLinkTargetIdList = 0x001;
constexpr uint32_t kHasLinkInfo = 0x002;
constexpr uint32_t kHasName = 0x004;
constexpr uint32_t kHasRelativePath = 0x008;
constexpr uint32_t kHasWorkingDir = 0x010;
constexpr uint32_t kHasArguments = 0x020;
constexpr uint32_t kHasIconLocation = 0x040;
constexpr uint32_t kIsUnicode = 0x080;
constexpr uint32_t kForceNoLinkInfo = 0x100;
constexpr uint32_t kHasExpString = 0x200;

constexpr uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr uint32_t kCommonNetworkRelativeLinkAndPathSuffix = 0x2;
constexpr uint32_t kEnvironmentBlock = 0xA0000001;
constexpr uint8_t kMyComputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                     0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

[[noreturn]] void damaged(const std::string& what) {
    throw ShellLinkError("not a valid shell link: " + what);
}

// A bounds-checked view of the file.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t size() const { return size_; }
    const uint8_t* at(size_t offset, size_t length, const char* what) const {
        if (offset > size_ || length > size_ - offset)
            damaged(what);
        return data_ + offset;
    }
    uint16_t u16(size_t offset, const char* what) const {
        const uint8_t* p = at(offset, 2, what);
        return uint16_t(p[0] | p[1] << 8);
    }
    uint32_t u32(size_t offset, const char* what) const {
        const uint8_t* p = at(offset, 4, what);
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    // A zero-terminated ANSI text starting at `offset` within [0, end).
    std::string ansi(size_t offset, size_t end, const char* what) const {
        if (end > size_)
            damaged(what);
        std::string out;
        for (size_t i = offset;; ++i) {
            if (i >= end)
                damaged(what);
            if (data_[i] == 0)
                return out;
            out += char(data_[i]);
        }
    }
    std::u16string unicode(size_t offset, size_t end, const char* what) const {
        if (end > size_)
            damaged(what);
        std::u16string out;
        for (size_t i = offset;; i += 2) {
            if (i + 2 > end)
                damaged(what);
            const char16_t c = char16_t(data_[i] | data_[i + 1] << 8);
            if (c == 0)
                return out;
            out += c;
        }
    }

private:
    const uint8_t* data_;
    size_t size_;
};

std::string joinPath(std::string base, const std::string& suffix) {
    if (suffix.empty())
        return base;
    if (!base.empty() && base.back() != '\\')
        base += '\\';
    return base + suffix;
}

void readLinkInfo(const Reader& file, size_t start, const CodePage& ansi, ShellLinkData& out) {
    const uint32_t size = file.u32(start, "LinkInfo size");
    const uint32_t headerSize = file.u32(start + 4, "LinkInfo header");
    if (size < 0x1C || headerSize < 0x1C || headerSize > size)
        damaged("LinkInfo sizes");
    const Reader info(file.at(start, size, "LinkInfo"), size);
    const uint32_t flags = info.u32(8, "LinkInfo flags");
    const uint32_t localOffset = info.u32(16, "LocalBasePath offset");
    const uint32_t networkOffset = info.u32(20, "CommonNetworkRelativeLink offset");
    const uint32_t suffixOffset = info.u32(24, "CommonPathSuffix offset");
    const bool unicode = headerSize >= 0x24;
    std::string suffix = info.ansi(suffixOffset, size, "CommonPathSuffix");
    if (unicode && info.u32(32, "CommonPathSuffixUnicode offset"))
        suffix = ansi.fromUnicode(
            info.unicode(info.u32(32, "CommonPathSuffixUnicode offset"), size, "suffix"));
    if (flags & kVolumeIdAndLocalBasePath) {
        std::string base = info.ansi(localOffset, size, "LocalBasePath");
        if (unicode && info.u32(28, "LocalBasePathUnicode offset"))
            base = ansi.fromUnicode(
                info.unicode(info.u32(28, "LocalBasePathUnicode offset"), size, "base path"));
        out.localPath = joinPath(base, suffix);
    }
    if (flags & kCommonNetworkRelativeLinkAndPathSuffix) {
        const uint32_t linkSize = info.u32(networkOffset, "CommonNetworkRelativeLink size");
        if (linkSize < 0x14)
            damaged("CommonNetworkRelativeLink size");
        const Reader link(info.at(networkOffset, linkSize, "CommonNetworkRelativeLink"), linkSize);
        const uint32_t netNameOffset = link.u32(8, "NetName offset");
        std::string share = link.ansi(netNameOffset, linkSize, "NetName");
        if (netNameOffset > 0x14 && link.u32(0x14, "NetNameUnicode offset"))
            share = ansi.fromUnicode(
                link.unicode(link.u32(0x14, "NetNameUnicode offset"), linkSize, "NetName"));
        out.networkPath = joinPath(share, suffix);
    }
}

// The path an ID list of My Computer, a drive and file-system items names.
std::string pathOfIdList(const Reader& file, size_t start, size_t end, const CodePage& ansi) {
    std::string path;
    bool underComputer = false;
    for (size_t at = start; at + 2 <= end;) {
        const uint16_t itemSize = file.u16(at, "ID list item");
        if (itemSize == 0)
            break;
        if (itemSize < 3 || itemSize > end - at)
            damaged("ID list item size");
        const Reader item(file.at(at, itemSize, "ID list item"), itemSize);
        at += itemSize;
        const uint8_t type = item.at(2, 1, "item type")[0];
        if (type == 0x1F) { // a root folder: only My Computer leads to a path
            underComputer =
                itemSize >= 20 && std::memcmp(item.at(4, 16, "CLSID"), kMyComputer, 16) == 0;
            if (!underComputer)
                return {};
            continue;
        }
        if ((type & 0x70) == 0x20) { // a volume: "C:\"
            if (!underComputer || itemSize < 4)
                return {};
            path = item.ansi(3, itemSize, "volume name");
            continue;
        }
        if ((type & 0x70) != 0x30 || path.empty() || itemSize < 15)
            return {};
        // A file entry: its primary (often 8.3) name, then the extension block that holds
        // the long name.
        std::string name;
        size_t nameEnd = 0;
        if (type & 0x04) {
            const std::u16string wide = item.unicode(14, itemSize, "item name");
            name = ansi.fromUnicode(wide);
            nameEnd = 14 + 2 * (wide.size() + 1);
        } else {
            name = item.ansi(14, itemSize, "item name");
            nameEnd = 14 + name.size() + 1;
        }
        size_t ext = (nameEnd + 1) & ~size_t(1);
        if (ext + 8 <= itemSize) {
            const uint16_t extSize = item.u16(ext, "extension size");
            const uint16_t version = item.u16(ext + 2, "extension version");
            if (extSize >= 8 && extSize <= itemSize - ext &&
                item.u32(ext + 4, "extension signature") == 0xBEEF0004 && version >= 3) {
                size_t longName = ext + 18;
                if (version >= 7)
                    longName += 18;
                longName += 2; // the long string size
                if (version >= 9)
                    longName += 4;
                if (version >= 8)
                    longName += 4;
                if (longName < ext + extSize) {
                    const std::u16string wide = item.unicode(longName, ext + extSize, "long name");
                    if (!wide.empty())
                        name = ansi.fromUnicode(wide);
                }
            }
        }
        if (path.back() != '\\')
            path += '\\';
        path += name;
    }
    return path;
}

} // namespace

ShellLinkData ParseShellLink(const std::vector<uint8_t>& bytes, const CodePage& ansi) {
    const Reader file(bytes.data(), bytes.size());
    if (file.u32(0, "header") != kHeaderSize ||
        std::memcmp(file.at(4, 16, "header"), kLinkClsid, 16) != 0)
        damaged("no shell link header");
    ShellLinkData out;
    out.flags = file.u32(20, "link flags");
    size_t at = kHeaderSize;
    if (out.flags & kHasLinkTargetIdList) {
        const uint16_t listSize = file.u16(at, "ID list size");
        file.at(at + 2, listSize, "ID list");
        out.idListPath = pathOfIdList(file, at + 2, at + 2 + listSize, ansi);
        at += 2 + listSize;
    }
    if ((out.flags & kHasLinkInfo) && !(out.flags & kForceNoLinkInfo)) {
        readLinkInfo(file, at, ansi, out);
        at += file.u32(at, "LinkInfo size");
    } else if (out.flags & kHasLinkInfo) {
        at += file.u32(at, "LinkInfo size");
    }
    for (const auto& [flag, field] :
         {std::pair{kHasName, &out.name}, std::pair{kHasRelativePath, &out.relativePath},
          std::pair{kHasWorkingDir, &out.workingDirectory},
          std::pair{kHasArguments, &out.arguments},
          std::pair{kHasIconLocation, &out.iconLocation}}) {
        if (!(out.flags & flag))
            continue;
        const size_t count = file.u16(at, "string length");
        at += 2;
        if (out.flags & kIsUnicode) {
            const uint8_t* p = file.at(at, 2 * count, "string");
            std::u16string text(count, u'\0');
            for (size_t i = 0; i < count; ++i)
                text[i] = char16_t(p[2 * i] | p[2 * i + 1] << 8);
            *field = ansi.fromUnicode(text);
            at += 2 * count;
        } else {
            const uint8_t* p = file.at(at, count, "string");
            field->assign(reinterpret_cast<const char*>(p), count);
            at += count;
        }
    }
    // Extra data blocks, up to the terminal block (a size below 4).
    while (at + 4 <= file.size()) {
        const uint32_t size = file.u32(at, "extra data size");
        if (size < 4)
            break;
        file.at(at, size, "extra data block");
        if (size >= 8 && file.u32(at + 4, "extra data signature") == kEnvironmentBlock &&
            (out.flags & kHasExpString)) {
            if (size < 0x314)
                damaged("environment block size");
            std::string target = file.ansi(at + 8, at + 8 + 260, "environment target");
            const std::u16string wide =
                file.unicode(at + 8 + 260, at + 8 + 260 + 520, "environment target");
            if (!wide.empty())
                target = ansi.fromUnicode(wide);
            out.environmentTarget = target;
        }
        at += size;
    }
    return out;
}

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

void set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

// A counted UTF-16 string of the string data section.
void putStringData(std::vector<uint8_t>& out, const std::u16string& text) {
    put16(out, uint16_t(text.size()));
    for (const char16_t c : text)
        put16(out, uint16_t(c));
}

} // namespace

std::vector<uint8_t> BuildShellLink(const std::string& target, const std::string& workingDirectory,
                                    const std::string& arguments, const CodePage& ansi) {
    if (target.size() < 4 || target[1] != ':' || target[2] != '\\' || target.size() >= 260)
        throw ShellLinkError("a link target must be a full local path: " + target);
    const uint32_t flags = kHasLinkInfo | kIsUnicode |
                           (workingDirectory.empty() ? 0 : kHasWorkingDir) |
                           (arguments.empty() ? 0 : kHasArguments);
    std::vector<uint8_t> out;
    put32(out, kHeaderSize);
    out.insert(out.end(), kLinkClsid, kLinkClsid + 16);
    put32(out, flags);
    put32(out, 0x20);           // FILE_ATTRIBUTE_ARCHIVE
    out.resize(kHeaderSize, 0); // times, size and icon index unknown; hot key none
    set32(out, 0x3C, 1);        // SW_SHOWNORMAL

    // Link information: the volume and the local base path (MS-SHLLINK 2.3).
    const size_t info = out.size();
    const uint32_t headerSize = 0x1C;
    const uint32_t volumeSize = 0x11;
    put32(out, 0); // size, set below
    put32(out, headerSize);
    put32(out, kVolumeIdAndLocalBasePath);
    put32(out, headerSize);                                            // VolumeIDOffset
    put32(out, headerSize + volumeSize);                               // LocalBasePathOffset
    put32(out, 0);                                                     // no network part
    put32(out, headerSize + volumeSize + uint32_t(target.size()) + 1); // CommonPathSuffixOffset
    put32(out, volumeSize);
    put32(out, 3); // DRIVE_FIXED
    put32(out, 0x5A4E4442);
    put32(out, 0x10); // the label follows: an empty one
    out.push_back(0);
    out.insert(out.end(), target.begin(), target.end());
    out.push_back(0);
    out.push_back(0); // the common path suffix: empty
    set32(out, info, uint32_t(out.size() - info));

    if (!workingDirectory.empty())
        putStringData(out, ansi.toUnicode(workingDirectory));
    if (!arguments.empty())
        putStringData(out, ansi.toUnicode(arguments));
    put32(out, 0); // the terminal block
    return out;
}

} // namespace win32

using namespace win32;

struct ShellLinkObject {
    ULONG references = 1;
    bool loaded = false;
    std::string linkFile; // Windows path
    ShellLinkData data;
    std::string resolved; // set by a successful resolve
};

namespace {

bool windowsFileExists(const std::string& path) {
    const auto host = HostPathOf(path);
    struct stat st {};
    return host && ::stat(host->c_str(), &st) == 0;
}

std::string targetOf(const ShellLinkData& data, DWORD flags) {
    if ((flags & SLGP_UNCPRIORITY) && !data.networkPath.empty())
        return data.networkPath;
    if (!data.localPath.empty())
        return data.localPath;
    if (!data.environmentTarget.empty())
        return (flags & SLGP_RAWPATH) ? data.environmentTarget
                                      : ExpandEnvironment(data.environmentTarget);
    if (!data.idListPath.empty())
        return data.idListPath;
    return data.networkPath;
}

} // namespace

HRESULT ShellLinkCreate(HSHELLLINK* link) {
    if (!link)
        return E_POINTER;
    *link = nullptr;
    if (!ComInitializedOnThisThread())
        return CO_E_NOTINITIALIZED;
    *link = new ShellLinkObject;
    return S_OK;
}

HRESULT ShellLinkLoad(HSHELLLINK link, LPCWSTR fileName, DWORD) {
    if (!link || !fileName)
        return E_POINTER;
    MachineRegistry* reg = MachineRegistry::current();
    if (!reg)
        return E_FAIL;
    const std::string path = reg->codePage->fromUnicode(fileName);
    const auto host = HostPathOf(path);
    if (!host)
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    RegularFile file(*host);
    if (!file.isOpen())
        return HRESULT_FROM_WIN32(file.error() == ENOENT || file.error() == ENOTDIR
                                      ? ERROR_FILE_NOT_FOUND
                                      : ERROR_ACCESS_DENIED);
    constexpr size_t kLargest = 1 << 20; // link files are small; anything larger is not one
    std::string bytes;
    if (!file.readAll(bytes, kLargest))
        return HRESULT_FROM_WIN32(errno == EFBIG ? ERROR_BAD_FORMAT : ERROR_READ_FAULT);
    try {
        link->data =
            ParseShellLink(std::vector<uint8_t>(bytes.begin(), bytes.end()), *reg->codePage);
    } catch (const ShellLinkError&) {
        link->loaded = false;
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    }
    link->loaded = true;
    link->linkFile = path;
    link->resolved.clear();
    return S_OK;
}

HRESULT ShellLinkResolve(HSHELLLINK link, HWND, DWORD) {
    if (!link)
        return E_POINTER;
    if (!link->loaded)
        return E_FAIL;
    const std::string target = targetOf(link->data, 0);
    if (!target.empty() && windowsFileExists(target)) {
        link->resolved = target;
        return S_OK;
    }
    // The target moved along with the link: its path relative to the link's folder.
    if (!link->data.relativePath.empty()) {
        const size_t slash = link->linkFile.rfind('\\');
        std::string relative = link->data.relativePath;
        if (relative.rfind(".\\", 0) == 0)
            relative = relative.substr(2);
        const std::string candidate = link->linkFile.substr(0, slash + 1) + relative;
        if (slash != std::string::npos && windowsFileExists(candidate)) {
            link->resolved = candidate;
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT ShellLinkGetPath(HSHELLLINK link, LPSTR file, int cch, LPVOID findData, DWORD flags) {
    if (!link || !file || findData)
        return E_INVALIDARG;
    if (cch <= 0)
        return E_INVALIDARG;
    if (!link->loaded)
        return E_FAIL;
    std::string path = targetOf(link->data, flags);
    // A resolve that found the target elsewhere answers for the plain path.
    if (!link->resolved.empty() && path == targetOf(link->data, 0))
        path = link->resolved;
    if (path.size() >= size_t(cch)) {
        file[0] = 0;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(file, path.c_str(), path.size() + 1);
    return path.empty() ? S_FALSE : S_OK;
}

ULONG ShellLinkRelease(HSHELLLINK link) {
    if (!link)
        return 0;
    const ULONG left = --link->references;
    if (left == 0)
        delete link;
    return left;
}
