#pragma once
// The in-memory tree of one hive: keys with their values, class names,
// security descriptors and times, exactly as the hive file holds them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

struct HiveKey : std::enable_shared_from_this<HiveKey> {
    // nk flags
    static constexpr uint16_t kFlagHiveEntry = 0x0004;
    static constexpr uint16_t kFlagNoDelete = 0x0008;
    static constexpr uint16_t kFlagCompressedName = 0x0020;

    std::u16string name;
    HiveKey* parent = nullptr;   // not owning; null for a hive root
    MountedHive* hive = nullptr; // the mounted hive holding the key, null while detached

    std::vector<HiveValue> values;         // stored order
    std::optional<Bytes> className;        // raw UTF-16LE bytes as stored
    std::shared_ptr<const Bytes> security; // self-relative security descriptor
    uint64_t lastWriteTime = 0;            // FILETIME
    uint16_t flags = 0;
    StoredNameForm nameForm;

    bool isVolatile = false;   // never written to a file
    bool deleted = false;      // set on the whole subtree when it is deleted
    bool protectedKey = false; // refuses deletion until access is granted
    bool readDenied = false;   // the user may not open it for reading
    // A symbolic link (CurrentControlSet and the like): opening the key opens the target.
    std::weak_ptr<HiveKey> linkTarget;

    // Subkeys: the stable ones in hive order (sorted by upper-cased name), then the volatile ones.
    const std::vector<std::shared_ptr<HiveKey>>& stableSubkeys() const { return subkeys_; }
    const std::vector<std::shared_ptr<HiveKey>>& volatileSubkeys() const { return volatile_; }
    size_t subkeyCount() const { return subkeys_.size() + volatile_.size(); }
    // Enumeration order: stable subkeys, then volatile ones.
    HiveKey* subkeyAt(size_t index) const;

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
    // Marks this key and its whole subtree deleted.
    void markDeleted();

private:
    std::vector<std::shared_ptr<HiveKey>> subkeys_;
    std::vector<std::shared_ptr<HiveKey>> volatile_;
    bool sorted_ = true; // subkeys_ strictly ascending by CompareNames
    // Only for a stable list out of order: upper-cased name -> subkey.
    mutable std::unordered_map<std::u16string, HiveKey*> index_;
    mutable bool indexed_ = false;
    // Upper-cased value name -> position in `values`; built for long value lists only.
    mutable std::unordered_map<std::u16string, size_t> valueIndex_;
    void indexValues() const;
    std::vector<std::shared_ptr<HiveKey>>::const_iterator
    lowerBound(std::u16string_view name) const;
};

} // namespace hive
