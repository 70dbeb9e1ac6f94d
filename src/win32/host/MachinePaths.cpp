#include "win32/host/MachinePaths.h"

#include "win32/base/CodePage.h"
#include "win32/base/HiveTree.h"
#include "win32/host/FileLookupSession.h"
#include "win32/host/MachineFolder.h"
#include "win32/host/MachineIni.h"
#include "win32/host/ShortNames.h"
#include "win32/host/TextTable.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <stdexcept>
#include <sys/stat.h>

namespace win32 {

namespace {

// The longest path Windows accepts at all (the "\\?\" limit); nothing longer names a file.
constexpr size_t kMaxPathUnits = 32767;
// A folder changed less than this long before it was listed may change again without
// its times changing (coarse clocks, two-second FAT times): such a listing is not kept.
constexpr long kRacySeconds = 2;
// Folders kept in the cache; beyond that it starts afresh.
constexpr size_t kMaxCachedFolders = 8192;

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

std::string canonicalFolder(const std::string& path, const std::string& what) {
    const auto canonical = realPath(path);
    if (!canonical)
        throw std::runtime_error(what + " does not exist: " + path);
    struct stat info;
    if (::stat(canonical->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw std::runtime_error(what + " is not a folder: " + path);
    return *canonical;
}

char16_t upperLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

// Windows ignores trailing dots and spaces of a name: "foo. " opens "foo".
std::u16string_view stripTrailingDotsAndSpaces(std::u16string_view name) {
    while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        name.remove_suffix(1);
    return name;
}

struct DrivePath {
    char16_t letter = u'C';
    std::vector<std::u16string_view> parts;
};

// The drive and the components below its root of an absolute path, with "." and ".."
// applied as Windows applies them (textually, never above the drive's root).
std::optional<DrivePath> splitDrivePath(std::u16string_view path) {
    if (path.size() > kMaxPathUnits || path.find(u'\0') != std::u16string_view::npos)
        return std::nullopt;

    DrivePath out;
    std::u16string_view rest;
    if (path.size() >= 2 && path[1] == u':') {
        out.letter = upperLetter(path[0]);
        if (out.letter < u'A' || out.letter > u'Z')
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
            if (!out.parts.empty())
                out.parts.pop_back();
            continue;
        }
        // Stripping can never yield "." or "..": those end in a dot themselves.
        const std::u16string_view name = stripTrailingDotsAndSpaces(piece);
        if (!name.empty())
            out.parts.push_back(name);
    }
    return out;
}

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The Windows name of a host name, upper-cased. Most names are ASCII, whose UTF-16
// form is the bytes themselves.
std::u16string widenUpper(std::string_view name) {
    if (!isAscii(name))
        return UpcaseName(Utf8ToUtf16(name));
    std::u16string out(name.size(), u'\0');
    for (size_t i = 0; i < name.size(); ++i)
        out[i] = UpcaseChar(char16_t(name[i]));
    return out;
}

// The UTF-8 form of a Windows name; nullopt when it has none that leads back to it (a
// lone surrogate: a stand-in character would name another file).
std::optional<std::string> narrow(std::u16string_view name) {
    bool ascii = true;
    for (const char16_t c : name)
        ascii = ascii && c < 0x80;
    if (ascii)
        return std::string(name.begin(), name.end());
    std::string utf8 = Utf16ToUtf8(name);
    if (Utf8ToUtf16(utf8) != name)
        return std::nullopt;
    return utf8;
}

// A host name that is not valid UTF-8 has no Windows spelling that leads back to it.
bool isValidUtf8(std::string_view name) {
    return isAscii(name) || Utf16ToUtf8(Utf8ToUtf16(name)) == name;
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

// True when resolve() would read the name back as the same entry.
bool hasWindowsSpelling(std::string_view name) {
    if (name.empty() || name.find('\\') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    if (name.back() == '.' || name.back() == ' ')
        return false;
    return isValidUtf8(name);
}

struct CloseDir {
    void operator()(DIR* listing) const { ::closedir(listing); }
};

struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};

    static FolderIdentity of(const struct stat& info) {
        return {info.st_dev, info.st_ino, info.st_mtim, info.st_ctim};
    }
    bool operator==(const FolderIdentity& o) const {
        return device == o.device && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
    // A change sets both times to the present: it shows as long as either time is
    // older than the clock's granularity.
    bool settledAt(const timespec& now) const {
        const time_t older = std::min(modified.tv_sec, changed.tv_sec);
        return now.tv_sec - older > kRacySeconds;
    }
};

unsigned char typeOf(mode_t mode) {
    if (S_ISDIR(mode))
        return DT_DIR;
    if (S_ISREG(mode))
        return DT_REG;
    if (S_ISLNK(mode))
        return DT_LNK;
    return DT_UNKNOWN;
}

} // namespace

const FolderListing::Entry* FolderListing::find(std::u16string_view name,
                                                std::string_view exactUtf8) const {
    // The entries' names are upper-cased already; the wanted one is upper-cased as it is
    // compared, unit by unit, in the order of `byUpper`.
    const auto compareUpper = [name](const std::u16string& upper) {
        const size_t n = std::min(upper.size(), name.size());
        for (size_t i = 0; i < n; ++i) {
            const char16_t wanted = UpcaseChar(name[i]);
            if (upper[i] != wanted)
                return upper[i] < wanted ? -1 : 1;
        }
        return upper.size() == name.size() ? 0 : upper.size() < name.size() ? -1 : 1;
    };
    auto it = std::lower_bound(byUpper.begin(), byUpper.end(), name,
                               [this, &compareUpper](uint32_t i, std::u16string_view) {
                                   return compareUpper(entries[i].upper) < 0;
                               });
    const Entry* best = nullptr;
    for (; it != byUpper.end() && compareUpper(entries[*it].upper) == 0; ++it) {
        const Entry& entry = entries[*it];
        if (entry.name == exactUtf8)
            return &entry;
        if (!best)
            best = &entry; // the smallest: names with one upper case lie in byte order
    }
    return best;
}

struct MachinePaths::CachedListing {
    FolderIdentity identity;
    std::shared_ptr<const FolderListing> listing;
    // The lookup session that last found the listing current, and the count of the
    // program's own changes then.
    std::atomic<uint64_t> checkedInSession{0};
    std::atomic<uint64_t> checkedAtChange{0};
    // A listing read while its folder's times were too recent to tell a later change is
    // trusted only by the session that read it, until the program's next change.
    bool settled = true;
};

MachinePaths::MachinePaths(const std::string& machineRoot, const std::vector<GrantedDrive>& granted)
    : MachinePaths(machineRoot,
                   MachineIni::load(canonicalFolder(machineRoot, "Machine folder") + "/" +
                                    kMachineIniFileName),
                   granted) {}

MachinePaths::MachinePaths(const std::string& machineRoot, const MachineIni& ini,
                           const std::vector<GrantedDrive>& granted)
    : granted_(granted) {
    static std::atomic<uint64_t> serials{0};
    serial_ = ++serials;
    MachineDrive c;
    c.letter = 'C';
    c.root = canonicalFolder(machineRoot, "Machine folder");
    c.device = u"\\Device\\HarddiskVolume1";
    drives_.push_back(std::move(c));
    addDrives(ini, granted);
}

MachinePaths::~MachinePaths() = default;

void MachinePaths::addDrives(const MachineIni& ini, const std::vector<GrantedDrive>& granted) {
    const std::string iniName = root() + "/" + kMachineIniFileName;
    auto letterOf = [&](const std::string& name, const std::string& section) {
        if (name.size() == 2 && name[1] == ':')
            return char(upperLetter(char16_t(name[0])));
        if (name.size() != 1 || upperLetter(char16_t(name[0])) < u'A' ||
            upperLetter(char16_t(name[0])) > u'Z')
            throw std::runtime_error(iniName + ": [" + section + "] entry \"" + name +
                                     "\" is not a drive letter");
        return char(upperLetter(char16_t(name[0])));
    };

    auto isGranted = [&](char letter) {
        return std::any_of(granted.begin(), granted.end(),
                           [&](const GrantedDrive& g) { return upperLetter(g.letter) == letter; });
    };
    for (const auto& [name, folder] : ini.entries("Drives")) {
        const char letter = letterOf(name, "Drives");
        if (letter < 'A' || letter > 'Z')
            throw std::runtime_error(iniName + ": [Drives] entry \"" + name +
                                     "\" is not a drive letter");
        if (drive(char16_t(letter)))
            throw std::runtime_error(iniName + ": drive " + std::string(1, letter) +
                                     ": is given twice (C: is the machine folder)");
        if (folder.empty())
            throw std::runtime_error(iniName + ": drive " + std::string(1, letter) +
                                     ": has no folder");
        if (isGranted(letter))
            continue; // the user's mapping wins
        MachineDrive d;
        d.letter = letter;
        d.root = canonicalFolder(folder[0] == '/' ? folder : root() + "/" + folder,
                                 "The folder of drive " + std::string(1, letter) + ":");
        // The ini comes with the machine: it may not make a host folder outside it writable.
        d.writable = isInside(d.root, root());
        drives_.push_back(std::move(d));
    }
    for (const GrantedDrive& g : granted) {
        const char letter = char(upperLetter(char16_t(g.letter)));
        const std::string given = std::string(1, g.letter) + "=" + g.folder;
        if (letter < 'A' || letter > 'Z' || letter == 'C')
            throw std::runtime_error("Drive " + given +
                                     ": the letter must be one of A to Z other than C (C: is "
                                     "the machine folder)");
        if (drive(char16_t(letter)))
            throw std::runtime_error("Drive " + std::string(1, letter) + ": is given twice");
        if (g.folder.empty())
            throw std::runtime_error("Drive " + given + ": has no folder");
        MachineDrive d;
        d.letter = letter;
        d.root = canonicalFolder(g.folder[0] == '/' ? g.folder : root() + "/" + g.folder,
                                 "The folder of drive " + std::string(1, letter) + ":");
        drives_.push_back(std::move(d));
    }
    std::sort(drives_.begin(), drives_.end(),
              [](const MachineDrive& a, const MachineDrive& b) { return a.letter < b.letter; });

    int volume = 2;
    for (MachineDrive& d : drives_)
        if (d.letter != 'C')
            d.device = u"\\Device\\HarddiskVolume" + Utf8ToUtf16(std::to_string(volume++));
    for (const auto& [name, device] : ini.entries("DosDevices")) {
        const char letter = letterOf(name, "DosDevices");
        auto it = std::find_if(drives_.begin(), drives_.end(),
                               [&](const MachineDrive& d) { return d.letter == letter; });
        if (it == drives_.end())
            throw std::runtime_error(iniName + ": [DosDevices] names drive " +
                                     std::string(1, letter) + ":, which is not in [Drives]");
        // The hive list names the hive files on C: by its volume.
        if (letter == 'C')
            throw std::runtime_error(iniName + ": [DosDevices] cannot change drive C:, which "
                                               "is \\Device\\HarddiskVolume1");
        if (device.size() < 2 || device[0] != '\\')
            throw std::runtime_error(iniName + ": [DosDevices] " + name + " = " + device +
                                     " is not a device path");
        it->device = Utf8ToUtf16(device);
    }
}

const MachineDrive* MachinePaths::drive(char16_t letter) const {
    letter = upperLetter(letter);
    for (const MachineDrive& d : drives_)
        if (char16_t(d.letter) == letter)
            return &d;
    return nullptr;
}

std::shared_ptr<const FolderListing> MachinePaths::cached(const std::string& hostFolder) const {
    std::shared_ptr<CachedListing> entry;
    {
        std::lock_guard guard(cacheLock_);
        const auto it = cache_.find(hostFolder);
        if (it == cache_.end())
            return nullptr;
        entry = it->second;
    }
    const uint64_t session = FileLookupSession::Current();
    const uint64_t changes = FileLookupSession::ChangeCount();
    if (session && entry->checkedInSession.load(std::memory_order_relaxed) == session &&
        entry->checkedAtChange.load(std::memory_order_relaxed) == changes)
        return entry->listing;
    struct stat info;
    if (entry->settled && ::stat(hostFolder.c_str(), &info) == 0 &&
        FolderIdentity::of(info) == entry->identity) {
        if (session) {
            entry->checkedInSession.store(session, std::memory_order_relaxed);
            entry->checkedAtChange.store(changes, std::memory_order_relaxed);
        }
        return entry->listing;
    }
    std::lock_guard guard(cacheLock_);
    const auto it = cache_.find(hostFolder);
    if (it != cache_.end() && it->second == entry)
        cache_.erase(it);
    return nullptr;
}

std::shared_ptr<const FolderListing> MachinePaths::read(const std::string& hostFolder) const {
    // Before reading: a change of the program's own made meanwhile ends the trust at once.
    const uint64_t session = FileLookupSession::Current();
    const uint64_t changes = FileLookupSession::ChangeCount();
    std::unique_ptr<DIR, CloseDir> dir(::opendir(hostFolder.c_str()));
    if (!dir)
        return nullptr;
    // The times before reading: a change made while we read shows as a change later.
    struct stat info;
    if (::fstat(::dirfd(dir.get()), &info) != 0)
        return nullptr;
    const FolderIdentity identity = FolderIdentity::of(info);

    auto listing = std::make_shared<FolderListing>();
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == ".." || !hasWindowsSpelling(name))
            continue;
        listing->entries.push_back(
            {std::string(name), widenUpper(name), static_cast<unsigned char>(entry->d_type)});
    }
    std::sort(listing->entries.begin(), listing->entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    const auto& entries = listing->entries;
    listing->byUpper.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        listing->byUpper[i] = uint32_t(i);
    // Stable: among equal upper-case names the byte-wise order of `entries` stays.
    std::stable_sort(
        listing->byUpper.begin(), listing->byUpper.end(),
        [&entries](uint32_t a, uint32_t b) { return entries[a].upper < entries[b].upper; });

    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const bool settled = identity.settledAt(now);
    if (settled || session) {
        auto entry = std::make_shared<CachedListing>();
        entry->identity = identity;
        entry->listing = listing;
        entry->settled = settled;
        if (session) {
            entry->checkedInSession.store(session, std::memory_order_relaxed);
            entry->checkedAtChange.store(changes, std::memory_order_relaxed);
        }
        std::lock_guard guard(cacheLock_);
        if (cache_.size() >= kMaxCachedFolders)
            cache_.clear();
        cache_[hostFolder] = std::move(entry);
    }
    return listing;
}

std::shared_ptr<const FolderListing> MachinePaths::list(const std::string& hostFolder) const {
    if (auto listing = cached(hostFolder))
        return listing;
    return read(hostFolder);
}

void MachinePaths::forget(const std::string& hostFolder) const {
    FileLookupSession::Changed();
    std::lock_guard guard(cacheLock_);
    cache_.erase(hostFolder);
}

namespace {

// The host folders a lookup session has resolved, by the Windows folder as spelled
// ("C\a\b"): the many files a scan looks for below one folder resolve that folder, and
// each folder on the way to it, once, and find it again by the spelling of their own
// folder. A folder's listing, once the session has it, is kept with it.
struct ResolvedFolder {
    std::string host;
    std::shared_ptr<const FolderListing> listing; // null until a look-up in it needed it
};
struct ResolvedFolders {
    uint64_t session = 0, changes = 0, serial = 0;
    TextTable<char16_t, ResolvedFolder> bySpelling;
    size_t listingsKept = 0; // no more than the cache of listings holds
};
thread_local ResolvedFolders t_folders;
constexpr size_t kMaxResolvedFolders = 1 << 16;
constexpr size_t kMaxResolvedText = size_t(16) << 20;

// The memo of the calling thread's session for the mapping `serial`; null without a session.
ResolvedFolders* resolvedFolders(uint64_t serial) {
    const uint64_t session = FileLookupSession::Current();
    if (!session)
        return nullptr;
    const uint64_t changes = FileLookupSession::ChangeCount();
    ResolvedFolders& memo = t_folders;
    if (memo.session != session || memo.changes != changes || memo.serial != serial ||
        memo.bySpelling.size() >= kMaxResolvedFolders ||
        memo.bySpelling.textSize() >= kMaxResolvedText) {
        memo.bySpelling.clear();
        memo.listingsKept = 0;
        memo.session = session;
        memo.changes = changes;
        memo.serial = serial;
    }
    return &memo;
}

} // namespace

void ForgetSessionFolders() {
    t_folders = ResolvedFolders{};
}

MachinePaths::Resolved MachinePaths::resolve(std::u16string_view windowsPath) const {
    Resolved out;
    const auto split = splitDrivePath(windowsPath);
    if (!split)
        return out;
    out.drive = drive(split->letter);
    if (!out.drive)
        return out;
    const std::string& driveRoot = out.drive->root;
    const size_t count = split->parts.size();

    std::string path = driveRoot;
    // The index of the first component that does not exist; count when all do.
    size_t missing = count;
    bool folderMissing = false; // the folder the missing component was looked for in
    size_t first = 0;
    // The folders on the way, as spelled ("C\a\b"): prefixEnd[k] ends the one of k + 1
    // components. The walk starts below the deepest one the session has resolved: most
    // often the path's own folder, found at the first look.
    ResolvedFolders* folders = count >= 2 ? resolvedFolders(serial_) : nullptr;
    // Kept by the thread from call to call, for their capacity: resolve() calls nothing
    // that resolves.
    thread_local std::u16string spelling;
    thread_local std::vector<size_t> prefixEnd;
    spelling.clear();
    prefixEnd.clear();
    // The memo's entry for the folder `path` while it is the one a component is looked
    // for in, to keep its listing with it.
    uint32_t pathEntry = TextTable<char16_t, ResolvedFolder>::npos;
    if (folders) {
        spelling.reserve(windowsPath.size() + 1);
        spelling.push_back(split->letter);
        prefixEnd.reserve(count - 1);
        for (size_t i = 0; i + 1 < count; ++i) {
            (spelling += u'\\') += split->parts[i];
            prefixEnd.push_back(spelling.size());
        }
        for (size_t k = count - 1; k > 0; --k) {
            const uint32_t found =
                folders->bySpelling.find(std::u16string_view(spelling).substr(0, prefixEnd[k - 1]));
            if (found != folders->bySpelling.npos) {
                path = folders->bySpelling.at(found).host;
                pathEntry = found;
                first = k;
                break;
            }
        }
    }
    for (size_t i = first; i < count; ++i) {
        const std::u16string_view part = split->parts[i];
        const bool last = i + 1 == count;
        auto utf8 = narrow(part);
        if (!utf8 || utf8->find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
            out.drive = nullptr;
            return out;
        }
        const std::string& wanted = *utf8;
        if (missing < count) {
            path = joinHost(path, wanted);
            continue;
        }

        std::optional<std::string> name;
        unsigned char type = DT_UNKNOWN;
        struct stat info;
        bool infoKnown = false;
        // The listing is the memo's when it keeps one, else held here.
        const FolderListing* listing = nullptr;
        std::shared_ptr<const FolderListing> held;
        if (pathEntry != TextTable<char16_t, ResolvedFolder>::npos)
            listing = folders->bySpelling.at(pathEntry).listing.get();
        if (!listing) {
            held = cached(path);
            listing = held.get();
        }
        std::string next;
        if (!listing) {
            // The exact spelling spares reading a folder whose listing is not at hand.
            next = joinHost(path, wanted);
            if (::lstat(next.c_str(), &info) == 0) {
                name = wanted;
                type = typeOf(info.st_mode);
                infoKnown = true;
            } else {
                next.clear();
                held = read(path);
                listing = held.get();
                if (!listing)
                    folderMissing = true;
            }
        }
        if (held && pathEntry != TextTable<char16_t, ResolvedFolder>::npos &&
            folders->listingsKept < kMaxCachedFolders) {
            folders->bySpelling.at(pathEntry).listing = held;
            ++folders->listingsKept;
        }
        pathEntry = TextTable<char16_t, ResolvedFolder>::npos;
        if (listing) {
            const FolderListing::Entry* entry = listing->find(part, wanted);
            // Registry entries often hold the 8.3 form ("C:\PROGRA~1\COMMON~1").
            if (!entry && part.find(u'~') != std::u16string_view::npos && IsShortName(part)) {
                const auto shortNames = ShortNamesOf(path, *listing);
                const std::u16string upper = UpcaseName(part);
                for (size_t k = 0; k < shortNames.size() && !entry; ++k)
                    if (shortNames[k] == upper)
                        entry = &listing->entries[k];
            }
            if (entry) {
                name = entry->name;
                type = entry->type;
            }
        }
        if (!name) {
            missing = i;
            path = joinHost(path, wanted);
            continue;
        }

        if (next.empty())
            next = joinHost(path, *name);
        if (type == DT_UNKNOWN) {
            if (::lstat(next.c_str(), &info) != 0) {
                missing = i; // vanished while we looked
                path = std::move(next);
                continue;
            }
            type = typeOf(info.st_mode);
            infoKnown = true;
        }
        if (type == DT_LNK) {
            // A link we cannot resolve (dangling, a loop) cannot be shown to stay inside.
            const auto target = realPath(next);
            if (!target || !isInside(*target, driveRoot)) {
                out.status = Status::Outside;
                return out;
            }
            path = *target;
        } else {
            path = std::move(next);
            if (last && infoKnown) {
                out.info = info;
                out.infoKnown = true;
            }
        }
        // Every component so far exists, and `path` is where the folder lies.
        if (folders && !last) {
            const std::u16string_view folder =
                std::u16string_view(spelling).substr(0, prefixEnd[i]);
            pathEntry = folders->bySpelling.find(folder);
            if (pathEntry == folders->bySpelling.npos)
                pathEntry = folders->bySpelling.insert(folder, {path, nullptr});
        }
    }

    out.host = std::move(path);
    if (missing == count)
        out.status = Status::Found;
    else if (missing + 1 == count && !folderMissing)
        out.status = Status::LastMissing;
    else
        out.status = Status::PathMissing;
    if (out.status != Status::Found)
        out.infoKnown = false;
    return out;
}

std::optional<std::string> MachinePaths::toHost(std::u16string_view windowsPath) const {
    Resolved r = resolve(windowsPath);
    if (r.status == Status::NoDrive || r.status == Status::Outside)
        return std::nullopt;
    return std::move(r.host);
}

std::optional<std::u16string> MachinePaths::toWindows(const std::string& hostPath) const {
    if (hostPath.empty() || hostPath[0] != '/')
        return std::nullopt;
    const auto parts = splitHost(hostPath);
    // The drive whose folder holds the path most closely: a drive may lie inside another.
    const MachineDrive* best = nullptr;
    size_t bestDepth = 0;
    for (const MachineDrive& d : drives_) {
        const auto rootParts = splitHost(d.root);
        if (parts.size() < rootParts.size() || (best && rootParts.size() < bestDepth))
            continue;
        if (std::equal(rootParts.begin(), rootParts.end(), parts.begin())) {
            best = &d;
            bestDepth = rootParts.size();
        }
    }
    if (!best)
        return std::nullopt;

    std::u16string out = std::u16string(1, char16_t(best->letter)) + u":\\";
    for (size_t i = bestDepth; i < parts.size(); ++i) {
        // ".." would need the file system to say where it leads.
        if (parts[i] == ".." || !hasWindowsSpelling(parts[i]))
            return std::nullopt;
        if (i > bestDepth)
            out += u'\\';
        out += Utf8ToUtf16(parts[i]);
    }
    return out;
}

} // namespace win32
