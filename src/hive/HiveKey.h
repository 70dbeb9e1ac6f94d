#pragma once
// The in-memory tree of one hive: keys with their values, class names,
// security descriptors and times, exactly as the hive file holds them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hive {

// The registry that mounts a tree defines this: the mounted hive a key belongs to.
// The format's own code only carries the pointer.
class MountedHive;

using Bytes = std::vector<uint8_t>;

// Upper-cases one UTF-16 unit the way the registry compares names.
char16_t UpcaseNonAscii(char16_t c);
inline char16_t UpcaseChar(char16_t c) {
    if (c < 0x80) // nearly every name: kept inline for the lookups that compare names
        return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    return UpcaseNonAscii(c);
}
std::u16string UpcaseName(std::u16string_view name);
// Negative, zero or positive, comparing the upper-cased names unit by unit:
// the order of a hive's subkey lists.
int CompareNames(std::u16string_view a, std::u16string_view b);
bool NamesEqual(std::u16string_view a, std::u16string_view b);

// How a name read from a file was stored, where writing it the usual way (one byte a
// character when every character fits, else UTF-16) would not give the same bytes back.
// Names are written back exactly as they were read.
struct StoredNameForm {
    bool wide = false;              // UTF-16 although every character fits one byte
    std::optional<uint8_t> oddByte; // a byte left over after the last UTF-16 unit
    bool operator==(const StoredNameForm&) const = default;
};

struct HiveValue {
    HiveValue() = default;
    HiveValue(std::u16string name, uint32_t type, Bytes data)
        : name(std::move(name)), type(type), data(std::move(data)) {}

    std::u16string name; // empty for the default value
    uint32_t type = 0;
    Bytes data;
    StoredNameForm nameForm;
};

struct HiveKey;

// One value of a key read where the file holds it, building nothing: views into the
// mapped file, valid while the key's hive is mounted.
struct StoredValue {
    const uint8_t* name = nullptr; // one byte a character when `narrowName`, else UTF-16LE
    uint32_t nameBytes = 0;
    bool narrowName = false;
    uint32_t type = 0;
    uint32_t size = 0; // bytes of data
    // The data in one piece; null for data kept in big data segments, which
    // HiveKey::copyStoredData gathers.
    const uint8_t* data = nullptr;
    const uint8_t* segmentList = nullptr; // offsets of the segments, for big data

    size_t nameUnits() const { return narrowName ? nameBytes : nameBytes / 2; }
    char16_t nameAt(size_t i) const {
        return narrowName ? char16_t(name[i]) : char16_t(name[2 * i] | name[2 * i + 1] << 8);
    }
    // The name as HiveValue holds it, into `out` (its room kept for the next call).
    void nameInto(std::u16string& out) const;
};

// What a read of a key's values where they lie found.
enum class StoredRead {
    Found,
    Missing, // no such value (or index past the last)
    Built,   // the key's values are built (changed, or damage was found): read values()
};

// Where the keys of a hive read from a file lie until someone asks for them: a key read
// from it is built with its name and times; its values, its class name and descriptor,
// and its subkeys are each read on first use. Damage found there is left out, listed
// here, and keeps the hive from being written back unless the hive is being salvaged.
class HiveSource {
public:
    virtual ~HiveSource() = default;
    // The subkeys stored for `key`, in file order; `built` holds those read already, which
    // take their place in the list. Called once per key, with `mutex` held.
    virtual void readSubkeys(HiveKey& key, std::vector<std::shared_ptr<HiveKey>>& built) = 0;
    // The stored subkey named `name` (compared as stored, without reading its siblings):
    // nullptr when there is none. Returns false when the list cannot be searched that way
    // (out of order, or damaged), so the caller reads the whole list. With `mutex` held.
    virtual bool findStoredSubkey(HiveKey& key, std::u16string_view name,
                                  std::shared_ptr<HiveKey>& found) = 0;
    // Enumerating a key's stored subkeys without building them, each with `mutex` held:
    // how many the list holds (-1 when it cannot be read so: damaged, and then the caller
    // reads the whole list); the cell of one of them (1; 0 past the last; -1 damaged); a
    // cell's name and last-write time (false when it is no key); whether a cell's name is
    // `name`; the subkey of `key` at a cell, built (null when it cannot be read).
    virtual int64_t storedSubkeyCount(const HiveKey& key) = 0;
    virtual int storedSubkeyCell(const HiveKey& key, uint64_t index, uint32_t& cell) = 0;
    virtual bool storedKeyName(uint32_t cell, std::u16string& name, uint64_t* lastWrite) = 0;
    virtual bool storedKeyNamed(uint32_t cell, std::u16string_view name) = 0;
    virtual std::shared_ptr<HiveKey> readStoredSubkey(HiveKey& key, uint32_t cell) = 0;
    // The values stored for `key`, in stored order. Called once per key, with `mutex` held.
    virtual void readValues(HiveKey& key, std::vector<HiveValue>& values) = 0;
    // Whether every value stored for `key` checks out, so that they may be read where they
    // lie; counts their data as readValues does. Once per key, with `mutex` held.
    virtual bool checkStoredValues(const HiveKey& key) = 0;
    // Value data counted against the file's size for a key is given back when the key
    // lets go of its values, so that reading them again counts them once more.
    virtual void forgetData(uint64_t bytes) = 0;
    // The reads of values where they lie, for a key checkStoredValues accepted; without the
    // lock. Each checks the cells it reads again, and throws nothing: damage found there
    // (the file changed under the mount) gives false, and the key builds its values.
    virtual bool storedValueCount(const HiveKey& key, uint32_t& count) const = 0;
    virtual StoredRead storedValueAt(const HiveKey& key, uint32_t index,
                                     StoredValue& value) const = 0;
    // Copies the `value.size` bytes of data into `out`.
    virtual bool copyStoredData(const HiveKey& key, const StoredValue& value,
                                uint8_t* out) const = 0;
    // The class name and security descriptor stored for `key`. Once per key, `mutex` held.
    virtual void readClassAndSecurity(HiveKey& key, std::optional<Bytes>& className,
                                      std::shared_ptr<const Bytes>& security) = 0;

    // Damage found after the mount, one sentence per part left out.
    std::vector<std::string> damage() const;
    size_t damageCount() const;
    // Whether the tree is being salvaged: then a damaged part left out is what the user
    // asked for, and writing the rest back is allowed.
    virtual bool salvaging() const = 0;

    // Held while keys are read from the source: readers may share a mounted hive.
    mutable std::mutex mutex;
    // The subkey an enumeration named last (by the cells of its parent and its own), which
    // the lookup that usually follows finds without searching the list. Under `mutex`.
    struct Named {
        uint32_t parentCell = UINT32_MAX;
        uint32_t cell = 0;
    } lastNamed;

    // Whether the keys read from now on may be let go of once nobody uses them
    // (HiveKey::releaseIfUnused): set when nothing will change the tree any more. Keys read
    // before stay as they are, with whatever was set on them.
    std::atomic<bool> keysReleasable{false};

protected:
    void noteDamage(std::string sentence);
    // Adds to what `key` counted of the file's value data.
    static void countedFor(const HiveKey& key, uint64_t bytes);

private:
    mutable std::mutex damageMutex_;
    std::vector<std::string> damage_;
    std::atomic<size_t> damageCount_{0}; // read without the lock by every release
};

struct HiveKey : std::enable_shared_from_this<HiveKey> {
    // nk flags
    static constexpr uint16_t kFlagHiveEntry = 0x0004;
    static constexpr uint16_t kFlagNoDelete = 0x0008;
    static constexpr uint16_t kFlagCompressedName = 0x0020;

    HiveKey() = default;
    ~HiveKey();
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;

    std::u16string name;
    HiveKey* parent = nullptr;   // not owning; null for a hive root
    MountedHive* hive = nullptr; // the mounted hive holding the key, null while detached

    uint64_t lastWriteTime = 0; // FILETIME
    uint16_t flags = 0;
    StoredNameForm nameForm;

    bool isVolatile = false;   // never written to a file
    bool deleted = false;      // set on the whole subtree when it is deleted
    bool protectedKey = false; // refuses deletion until access is granted
    bool readDenied = false;   // the user may not open it for reading

    // Values in stored order; a key read from a file reads them on first use.
    const std::vector<HiveValue>& values() const {
        loadPart(kValuesPending);
        return values_;
    }
    std::vector<HiveValue>& values() {
        loadPart(kValuesPending);
        return values_;
    }
    // Raw UTF-16LE bytes as stored; none when the key has no class name.
    const std::optional<Bytes>& className() const;
    void setClassName(std::optional<Bytes> className);
    // Self-relative security descriptor; null when the key has none of its own.
    const std::shared_ptr<const Bytes>& security() const;
    void setSecurity(std::shared_ptr<const Bytes> security);
    // A symbolic link (CurrentControlSet and the like): opening the key opens the target.
    const std::weak_ptr<HiveKey>& linkTarget() const;
    void setLinkTarget(const std::shared_ptr<HiveKey>& target);

    // Subkeys: the stable ones in hive order (sorted by upper-cased name), then the volatile ones.
    const std::vector<std::shared_ptr<HiveKey>>& stableSubkeys() const {
        loadSubkeys();
        return subkeys_;
    }
    const std::vector<std::shared_ptr<HiveKey>>& volatileSubkeys() const;
    size_t subkeyCount() const;
    // Enumeration order: stable subkeys, then volatile ones.
    HiveKey* subkeyAt(size_t index) const;
    // The name (and last-write time) of the subkey subkeyAt(index) gives, without building
    // the subkey when it was not read yet; false past the last. A lookup of the name
    // just given finds the subkey without searching the list.
    bool subkeyNameAt(size_t index, std::u16string& name, uint64_t* lastWrite = nullptr) const;

    // Case-insensitive lookup: a binary search of the sorted subkey list, or a hash
    // index when a damaged file left the list out of order.
    HiveKey* findSubkey(std::u16string_view name) const;
    // Appends a subkey as read from a file, keeping the file's order.
    void appendLoadedSubkey(std::shared_ptr<HiveKey> child);
    // Inserts a new subkey at its sorted place.
    HiveKey* insertSubkey(std::shared_ptr<HiveKey> child);
    // Detaches a subkey; the returned pointer keeps it alive for open handles.
    std::shared_ptr<HiveKey> removeSubkey(HiveKey* child);

    // -1 when absent; case-insensitive. Keys with many values keep an index of them,
    // which a hit verifies and a miss rebuilds, so `values` may change freely.
    int findValue(std::u16string_view name) const;
    // The values of a key whose values were never built, read where the file holds them;
    // Built when they are built (or damage was found), and values() has them. No value is
    // built and nothing is kept.
    StoredRead storedValueCount(uint32_t& count) const;
    StoredRead storedValueAt(size_t index, StoredValue& value) const;
    // Case-insensitive. Long lists are read through the index findValue keeps: Built.
    StoredRead findStoredValue(std::u16string_view name, StoredValue& value) const;
    // The data of a value read by the calls above into `out` (value.size bytes); false when
    // it no longer reads, and the key's values are built.
    bool copyStoredData(const StoredValue& value, uint8_t* out) const;
    // Whether the stored values were checked for reading in place (their data counted).
    bool storedValuesChecked() const {
        return pending_.load(std::memory_order_acquire) & kValuesInPlace;
    }

    // Marks this key and its whole subtree deleted.
    void markDeleted();
    // Sets the mounted hive of this key and of every subkey (those read later take their
    // parent's).
    void assignHive(MountedHive* mounted);

    // A key read from `source`, from the key cell at `cell`: its class name and descriptor
    // are read on first use, and so are its subkeys and its values when they are pending.
    void readLazily(std::shared_ptr<HiveSource> source, uint32_t cell, bool subkeysPending,
                    bool valuesPending);
    HiveSource* source() const { return source_.get(); }
    uint32_t cell() const { return cell_; }
    // Subkeys read already, without reading the rest: for walks that must not read a hive.
    std::vector<HiveKey*> loadedSubkeys() const;

    // For a key read from a hive nothing changes, that only its parent holds (no one else
    // owns it, no one holds a key below it): lets go of what was read of it and below it.
    // The key itself goes when its parent can read it again by name; otherwise it stays,
    // reading its parts again when next asked. True when anything was let go of, and then
    // `this` may be gone. The caller makes sure no other thread reads the tree meanwhile.
    bool releaseIfUnused();

private:
    friend class HiveSource; // keeps what the key's reads counted
    // What a key read from a file has not read yet: one bit each.
    static constexpr uint8_t kSubkeysPending = 1;
    static constexpr uint8_t kValuesPending = 2;
    static constexpr uint8_t kClassPending = 4;
    // The pending values checked out: they are read where they lie until they are built.
    static constexpr uint8_t kValuesInPlace = 8;

    // Whether the values are still pending and may be read where they lie; checks them
    // on first use, building them when they do not check out.
    bool valuesInPlace() const;
    // Builds the values after a read in place found damage.
    void buildValues() const { loadPart(kValuesPending); }

    void loadSubkeys() const { loadPart(kSubkeysPending); }
    void loadPart(uint8_t part) const {
        if (pending_.load(std::memory_order_acquire) & part)
            loadPending(part);
    }
    void loadPending(uint8_t part) const;
    bool isPending(uint8_t part) const { return pending_.load(std::memory_order_acquire) & part; }

    // What most keys never have or never use, made for the few that do.
    struct Extras;
    Extras& extras() const;
    Extras* extrasIfAny() const { return extras_.load(std::memory_order_acquire); }

    std::shared_ptr<HiveSource> source_;
    uint32_t cell_ = 0;
    mutable std::atomic<uint8_t> pending_{0};
    uint8_t storedParts_ = 0;          // what the file holds to be read: pending_ when built
    mutable uint64_t countedData_ = 0; // value data its reads counted (HiveSource::forgetData)
    bool releasable_ = false;          // read while its source's keys were releasable
    bool sorted_ = true;               // subkeys_ strictly ascending by CompareNames
    mutable bool indexed_ = false;

    std::vector<std::shared_ptr<HiveKey>> subkeys_;
    std::vector<HiveValue> values_;
    mutable std::atomic<Extras*> extras_{nullptr};

    void indexValues() const;
    // Every key read below this one is releasable and held by its parent alone.
    bool subtreeUnused() const;
    // Back to what it was when read: its parts are read again when asked for.
    void forgetRead();
    std::vector<std::shared_ptr<HiveKey>>::const_iterator
    lowerBound(std::u16string_view name) const;
};

} // namespace hive
