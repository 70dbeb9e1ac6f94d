#pragma once
// The registry of the booted machine: its mounted hives, the predefined roots, the
// open handles, and the background flush. Internal to the layer; the program uses
// the advapi32 functions of Registry.h.

#include "win32/base/CodePage.h"
#include "win32/base/HiveTree.h"
#include "win32/base/WinTypes.h"
#include "win32/host/MachineIni.h"
#include "win32/host/MachinePaths.h"
#include "win32/registry/HiveCondition.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// One hive file mounted in the registry.
class hive::MountedHive {
public:
    std::string hostPath;
    std::u16string registryPath;   // \REGISTRY\MACHINE\SYSTEM
    std::u16string deviceFilePath; // \Device\HarddiskVolume1\WINDOWS\system32\config\SYSTEM
    std::shared_ptr<HiveKey> root;
    std::u16string storedRootName; // the root's name in the file
    uint32_t minorVersion = 5;
    std::u16string fileNameField;
    uint32_t sequence = 1; // of the file as last read or written

    bool dirty = false;
    std::chrono::steady_clock::time_point changedAt;
    uint64_t changes = 0; // changes of its keys since it was mounted

    // How the whole hive is written as a file of its own: its format, the name its root
    // has in the file, and the file name field it came with.
    HiveWriteOptions writeOptions() const {
        HiveWriteOptions options;
        options.minorVersion = minorVersion;
        options.fileNameField = fileNameField;
        options.rootName = storedRootName;
        return options;
    }
};

namespace win32 {

class ProcessToken; // win32/security/Token.h

using Hive = hive::MountedHive;

// What a handle refers to. A key of HKEY_CLASSES_ROOT is the merged view of the
// user's classes key and the machine's: either may be absent.
struct KeyView {
    std::shared_ptr<HiveKey> key;       // the key, or the machine's part of a merged view
    std::shared_ptr<HiveKey> userClass; // the user's part of a merged view
    bool merged = false;

    bool empty() const { return !key && !userClass; }
    // The key reads go to first: the user's part of a merged view when it exists.
    HiveKey* primary() const { return userClass ? userClass.get() : key.get(); }
};

class MachineRegistry {
public:
    // The registry of the booted machine; null when none is booted.
    static MachineRegistry* current();

    std::mutex lock; // every registry call holds it

    // --- set up by the boot ---
    std::string folder;
    std::unique_ptr<MachinePaths> paths;
    MachineIni ini;
    std::unique_ptr<CodePage> codePage;
    bool readOnly = false;
    std::vector<std::unique_ptr<Hive>> hives;
    std::shared_ptr<HiveKey> localMachine;   // HKLM, not part of any hive
    std::shared_ptr<HiveKey> users;          // HKU, not part of any hive
    std::shared_ptr<HiveKey> currentUser;    // HKU\<SID>, null without the user's profile
    std::shared_ptr<HiveKey> userClasses;    // HKU\<SID>_Classes, may be null
    std::shared_ptr<HiveKey> machineClasses; // HKLM\SOFTWARE\Classes, may be null
    std::shared_ptr<HiveKey> currentConfig;  // HKCC, may be null
    std::u16string userSid;                  // empty when no user is known
    std::shared_ptr<ProcessToken> token;     // the process's access token on this machine
    // A 64-bit installation keeps a 32-bit view of parts of its registry
    // (Wow64Redirection.h); from Windows 7 on, most classes are shared by both views.
    bool wow64 = false;
    bool wow64SharedClasses = true;
    std::vector<std::string> bootWarnings;
    std::vector<HiveCondition> hiveConditions;

    // --- handles ---
    // Calls on a read-only mount take no lock: nothing changes the tree, and the handle
    // table is built for lookups without one (only opening and closing take its own
    // short lock). A writable mount's calls hold `lock`.
    struct Handle {
        // Out of line: the table holds std::optional<Handle> inside this class, where some
        // compilers cannot yet see the member initialisers.
        Handle();
        KeyView view;
        REGSAM access = 0;
        // Merged subkey and value names of a HKEY_CLASSES_ROOT view, kept while nothing
        // changes: valid while mergedGeneration is the registry's generation + 1. Built
        // under mergedLock, as the predefined key may be read by several threads at once.
        std::atomic<uint64_t> mergedGeneration{0};
        std::mutex mergedLock;
        std::vector<HiveKey*> mergedSubkeys;
        std::vector<const HiveValue*> mergedValues;
    };
    // The new handle; null when the table is full.
    HKEY addHandle(KeyView view, REGSAM access);
    // The handle's entry; null for an unknown handle. Predefined roots are resolved too.
    Handle* handle(HKEY h);
    // False for an unknown handle. `closed`, when given, takes what the handle referred to.
    bool closeHandle(HKEY h, KeyView* closed = nullptr);

    // --- keys nobody uses (read-only mounts) ---
    // A scan walks every key once: the keys it has closed are let go of, so that its
    // memory follows the keys it holds open rather than every key it has read. Every call
    // that reads the tree of a read-only mount is a ReadScope; a close lets go of keys only
    // while no other call is under way, and a call that starts meanwhile waits for it.
    class ReadScope {
    public:
        explicit ReadScope(MachineRegistry* reg) : reg_(reg && reg->readOnly ? reg : nullptr) {
            if (reg_)
                reg_->enterRead();
        }
        ~ReadScope() {
            if (reg_)
                reg_->activeReads_.fetch_sub(1, std::memory_order_seq_cst);
        }
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;

    private:
        MachineRegistry* reg_;
    };
    // From a ReadScope of the closing call: lets go of the keys of a closed handle (and of
    // what was read below them) that nobody else holds.
    void releaseClosed(KeyView closed);
    // From now on, keys read from the hives may be let go of (a read-only mount, booted).
    void releaseUnusedKeys();

    // --- changes ---
    uint64_t generation = 0;       // bumped by every change of the tree's shape
    void keyChanged(HiveKey* key); // sets the key's time and marks its hive for flushing
    void flushDirty(bool all);     // throws std::runtime_error naming the hive
    void flushHive(Hive& hive);
    void startFlusher(int delayMilliseconds);
    void stopFlusher();
    std::string lastFlushError;
    // The dense copies of whole hives RegSaveKey wrote, by the file's identity (device and
    // inode: the file may be renamed since): of which hive, and its `changes` then (a
    // compaction's copy waiting for the release is made again when they differ).
    // A file's identity outlives it: its inode may be given to a file made later (a
    // profile's copy), which must not pass for the save. What the save wrote is known by
    // its size and a hash of its bytes, and a file is the save only while it holds them.
    struct DenseSave {
        const Hive* hive;
        uint64_t changes;
        uint64_t size;
        uint64_t contentHash;
    };
    std::map<std::pair<uint64_t, uint64_t>, DenseSave> denseSaves;
    // The identity denseSaves knows a host file by; nullopt when it cannot be read.
    static std::optional<std::pair<uint64_t, uint64_t>> fileIdentity(const std::string& host);
    // Records the file `host` just written with `bytes` as a dense save of `hive`.
    void recordDenseSave(const std::string& host, const Hive* hive,
                         const std::vector<uint8_t>& bytes);
    // The dense save the file `host` still is, unchanged since it was written; null when
    // it is none.
    const DenseSave* denseSaveOf(const std::string& host) const;

    ~MachineRegistry();

private:
    // Open handles by slot, in segments that never move, so that a lookup needs no lock;
    // closed slots are reused, as Windows reuses handle values.
    static constexpr size_t kSegmentSize = 1024;
    static constexpr size_t kMaxSegments = 4096;
    using Slot = std::optional<Handle>;
    std::array<std::atomic<Slot*>, kMaxSegments> segments_{};
    size_t slotsUsed_ = 0;          // under tableLock_
    std::vector<size_t> freeSlots_; // under tableLock_
    std::mutex tableLock_;
    Slot* slot(size_t index) const;
    // The predefined roots by their index (HKEY_CLASSES_ROOT is 0), made at the first lookup.
    std::array<Slot, 7> predefined_;
    std::once_flag predefinedMade_;

    std::atomic<int> activeReads_{0};
    std::atomic<bool> releasing_{false};
    std::mutex releaseLock_; // one close lets go of keys at a time
    void enterRead();

    std::thread flusher_;
    std::condition_variable flusherWake_;
    bool flusherStop_ = false;
    std::chrono::milliseconds flushDelay_{5000};

    friend void setCurrentRegistry(std::unique_ptr<MachineRegistry>);
};

// Installs or removes (null) the registry of the booted machine.
void setCurrentRegistry(std::unique_ptr<MachineRegistry> registry);
std::unique_ptr<MachineRegistry> takeCurrentRegistry();

// Whether the current process holds a privilege enabled (win32/security/Token.h): true without
// a booted machine and on one outside the NT family, false for a privilege the token does
// not hold or has disabled.
bool PrivilegeEnabled(const char* name);

} // namespace win32
