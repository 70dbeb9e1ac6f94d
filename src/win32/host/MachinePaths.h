#pragma once
// Windows paths on the machine's drives mapped into host folders.
//
// Drive C: is the machine folder; more drives come from the [Drives] section of the
// machine's hivewarden-machine.ini (see files/Drives.h) and from the user (GrantedDrive).
// The ini comes with the machine, which may be a stranger's disk image: a drive it maps to a
// host folder outside the machine folder is read-only. Windows paths are case-insensitive,
// the host's usually are not: every component that exists on disk is matched without
// regard to case, or by its short name (ShortNames.h). The machine may be hostile: no path ever
// resolves outside the folder of its drive, whatever ".." components or symbolic links it holds.
//
// Folder listings are cached, so that looking up many paths (a scan checks every file
// the registry names) reads each folder once. A cached listing is used only while its
// folder is unchanged on disk (same inode, modification and change times), and only
// once those times are old enough that a later change cannot share them (a lookup
// session, FileLookupSession.h, keeps a listing of recent times for itself); the program
// tells the cache about its own changes through forget().

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace win32 {

class MachineIni;

struct MachineDrive {
    char letter = 'C';     // upper case
    std::string root;      // canonical host folder, no trailing slash
    std::u16string device; // \Device\HarddiskVolume1
    bool writable = true;  // false: nothing on the drive may be changed
};

// A drive the user maps (hivewarden-cli --drive D=DIR): it replaces an ini entry of the
// same letter, and it is writable wherever its folder is.
struct GrantedDrive {
    char letter = 0;    // A to Z, not C
    std::string folder; // absolute, or relative to the machine folder
};

// The entries of one host folder that have a Windows spelling.
struct FolderListing {
    struct Entry {
        std::string name;     // as on disk (UTF-8)
        std::u16string upper; // the Windows name, upper-cased
        unsigned char type;   // DT_DIR, DT_REG, DT_LNK, ... or DT_UNKNOWN
    };
    std::vector<Entry> entries; // byte-wise sorted by name
    // The entry Windows opens for `name`: the exact spelling when it exists, otherwise
    // the byte-wise smallest of the names equal without regard to case.
    const Entry* find(std::u16string_view name, std::string_view exactUtf8) const;

    // Indices of `entries` in the order of their upper-cased names (then byte-wise):
    // the names equal without regard to case lie together, the smallest first.
    std::vector<uint32_t> byUpper;
};

class MachinePaths {
public:
    // `machineRoot` is the host folder that is drive C:. The other drives are read from
    // the ini at its root, and `granted` adds to them or replaces them. Throws
    // std::runtime_error naming the folder or the entry when the root or a drive's folder
    // does not exist or a drive entry is malformed.
    explicit MachinePaths(const std::string& machineRoot,
                          const std::vector<GrantedDrive>& granted = {});
    MachinePaths(const std::string& machineRoot, const MachineIni& ini,
                 const std::vector<GrantedDrive>& granted = {});
    ~MachinePaths();
    MachinePaths(const MachinePaths&) = delete;
    MachinePaths& operator=(const MachinePaths&) = delete;

    const std::string& root() const { return drives_.front().root; }
    // Different for every mapping made in this process: what is read from a booted
    // machine and kept keeps it too, to tell its machine from the next one booted.
    uint64_t serial() const { return serial_; }
    // In letter order.
    const std::vector<MachineDrive>& drives() const { return drives_; }
    const MachineDrive* drive(char16_t letter) const;
    // The drives the user mapped, as given.
    const std::vector<GrantedDrive>& granted() const { return granted_; }

    enum class Status {
        Found,       // every component exists
        LastMissing, // the folder exists, the last component does not
        PathMissing, // a folder on the way does not exist or is no folder
        NoDrive,     // not an absolute path on one of the machine's drives
        Outside,     // a link on the way leads out of the drive's folder
    };
    struct Resolved {
        Status status = Status::NoDrive;
        std::string host;                    // for Found, LastMissing and PathMissing
        const MachineDrive* drive = nullptr; // the drive the path is on
        // For Found: the last component as resolve() had to ask the disk for it, when it
        // is no link, so that what a stat of `host` would say is known without asking again.
        bool infoKnown = false;
        struct stat info {};
    };
    // Host path (UTF-8) for a Windows path such as "C:\WINDOWS\system32\config\SYSTEM"
    // ("/" is accepted as a separator too, and a path beginning with one separator
    // is taken from the root of C:). Components that exist are spelled as on disk;
    // the first missing one and everything after it are kept as given.
    Resolved resolve(std::u16string_view windowsPath) const;
    // The host path of resolve(); empty when the path is not on one of the machine's
    // drives, is relative, or would leave the drive's folder.
    std::optional<std::string> toHost(std::u16string_view windowsPath) const;

    // The Windows path ("X:\...") of a host path inside one of the drives' folders.
    std::optional<std::u16string> toWindows(const std::string& hostPath) const;

    // The entries of a host folder, through the cache; null when it is no folder.
    std::shared_ptr<const FolderListing> list(const std::string& hostFolder) const;
    // Drops what the cache knows of a host folder whose entries the program changed.
    void forget(const std::string& hostFolder) const;

private:
    struct CachedListing;
    void addDrives(const MachineIni& ini, const std::vector<GrantedDrive>& granted);
    std::shared_ptr<const FolderListing> cached(const std::string& hostFolder) const;
    std::shared_ptr<const FolderListing> read(const std::string& hostFolder) const;

    uint64_t serial_;
    std::vector<MachineDrive> drives_;
    std::vector<GrantedDrive> granted_;
    mutable std::mutex cacheLock_;
    mutable std::unordered_map<std::string, std::shared_ptr<CachedListing>> cache_;
};

// Drops what the calling thread's lookup session kept of the folders it resolved (their
// listings among it), when the session ends.
void ForgetSessionFolders();

} // namespace win32
