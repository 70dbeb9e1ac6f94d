#include "win32/MachinePaths.h"

#include "win32/CodePage.h"
#include "win32/HiveKey.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace win32 {

namespace {

// The longest path Windows accepts at all (the "\\?\" limit); nothing longer names a file.
constexpr size_t kMaxPathUnits = 32767;

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::string joinHost(const std::string& dir, const std::string& name) {
    return dir == "/" ? dir + name : dir + "/" + name;
}

std::optional<std::string> realPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved)
        return std::nullopt;
    return std::string(resolved.get());
}

bool isInside(const std::string& path, const std::string& root) {
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// Windows ignores trailing dots and spaces of a name: "foo. " opens "foo".
std::u16string_view stripTrailingDotsAndSpaces(std::u16string_view name) {
    while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        name.remove_suffix(1);
    return name;
}

// The components below C:\ of an absolute path on drive C:, with "." and ".." applied
// as Windows applies them (textually, never above the drive's root).
std::optional<std::vector<std::u16string_view>> splitDrivePath(std::u16string_view path) {
    if (path.size() > kMaxPathUnits || path.find(u'\0') != std::u16string_view::npos)
        return std::nullopt;

    std::u16string_view rest;
    if (path.size() >= 2 && path[1] == u':') {
        if (path[0] != u'C' && path[0] != u'c')
            return std::nullopt;
        rest = path.substr(2);
        // "C:a" is relative to the drive's current folder, which an offline machine has not.
        if (!rest.empty() && !isSeparator(rest[0]))
            return std::nullopt;
    } else if (!path.empty() && isSeparator(path[0])) {
        // Two leading separators start a UNC or device path ("\\server", "\\?\", "\\.\").
        if (path.size() >= 2 && isSeparator(path[1]))
            return std::nullopt;
        rest = path;
    } else {
        return std::nullopt;
    }

    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !isSeparator(rest[end]))
            ++end;
        const std::u16string_view piece = rest.substr(start, end - start);
        start = end + 1;

        if (piece.empty() || piece == u".")
            continue;
        if (piece == u"..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        // Stripping can never yield "." or "..": those end in a dot themselves.
        const std::u16string_view name = stripTrailingDotsAndSpaces(piece);
        if (!name.empty())
            parts.push_back(name);
    }
    return parts;
}

// A host name that is not valid UTF-8 has no Windows spelling that leads back to it.
bool isValidUtf8(std::string_view name) {
    return Utf16ToUtf8(Utf8ToUtf16(name)) == name;
}

struct CloseDir {
    void operator()(DIR* listing) const { ::closedir(listing); }
};

// The entry of `dir` that Windows would open for `wanted`: the exact spelling when it
// exists, otherwise a case-insensitive match. Among several such matches the
// byte-wise smallest wins, so the answer does not depend on the directory's order.
std::optional<std::string> findEntry(const std::string& dir, std::u16string_view wanted,
                                     const std::string& wantedUtf8) {
    struct stat info;
    if (::lstat(joinHost(dir, wantedUtf8).c_str(), &info) == 0)
        return wantedUtf8;

    std::unique_ptr<DIR, CloseDir> listing(::opendir(dir.c_str()));
    if (!listing)
        return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (!NamesEqual(Utf8ToUtf16(name), wanted) || !isValidUtf8(name))
            continue;
        if (!best || name < *best)
            best = std::string(name);
    }
    return best;
}

std::vector<std::string_view> splitHost(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view piece = path.substr(start, end - start);
        if (!piece.empty() && piece != ".")
            parts.push_back(piece);
        start = end + 1;
    }
    return parts;
}

// True when toHost would read the name back as the same entry.
bool hasWindowsSpelling(std::string_view name) {
    if (name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return false;
    if (name.back() == '.' || name.back() == ' ')
        return false;
    return isValidUtf8(name);
}

} // namespace

MachinePaths::MachinePaths(const std::string& machineRoot) {
    const auto canonical = realPath(machineRoot);
    if (!canonical)
        throw std::runtime_error("Machine folder does not exist: " + machineRoot);
    struct stat info;
    if (::stat(canonical->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw std::runtime_error("Machine folder is not a folder: " + machineRoot);
    root_ = *canonical;
}

std::optional<std::string> MachinePaths::toHost(std::u16string_view windowsPath) const {
    const auto parts = splitDrivePath(windowsPath);
    if (!parts)
        return std::nullopt;

    std::string path = root_;
    bool onDisk = true; // false from the first missing component on
    for (const std::u16string_view part : *parts) {
        const std::string wanted = Utf16ToUtf8(part);
        // A lone surrogate has no UTF-8 spelling; a stand-in character would name another file.
        if (Utf8ToUtf16(wanted) != part ||
            wanted.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
            return std::nullopt;

        const auto entry = onDisk ? findEntry(path, part, wanted) : std::nullopt;
        if (!entry) {
            onDisk = false;
            path = joinHost(path, wanted);
            continue;
        }

        const std::string next = joinHost(path, *entry);
        struct stat info;
        if (::lstat(next.c_str(), &info) != 0) {
            onDisk = false; // vanished while we looked
            path = next;
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            // A link we cannot resolve (dangling, a loop) cannot be shown to stay inside.
            const auto target = realPath(next);
            if (!target || !isInside(*target, root_))
                return std::nullopt;
            path = *target;
        } else {
            path = next;
        }
    }
    return path;
}

std::optional<std::u16string> MachinePaths::toWindows(const std::string& hostPath) const {
    if (hostPath.empty() || hostPath[0] != '/')
        return std::nullopt;
    const auto rootParts = splitHost(root_);
    const auto parts = splitHost(hostPath);
    if (parts.size() < rootParts.size())
        return std::nullopt;
    for (size_t i = 0; i < rootParts.size(); ++i)
        if (parts[i] != rootParts[i])
            return std::nullopt;

    std::u16string out = u"C:\\";
    for (size_t i = rootParts.size(); i < parts.size(); ++i) {
        // ".." would need the file system to say where it leads.
        if (parts[i] == ".." || !hasWindowsSpelling(parts[i]))
            return std::nullopt;
        if (i > rootParts.size())
            out += u'\\';
        out += Utf8ToUtf16(parts[i]);
    }
    return out;
}

} // namespace win32
