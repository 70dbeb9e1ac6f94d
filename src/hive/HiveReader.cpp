// LoadHiveFile: libhivex vets the file as a whole when it opens it; the tree is read
// by our own walk of the mapped bytes, each offset checked before it is followed,
// because a hive may come from an infected machine. libhivex's own walk refuses keys
// with more than 70,000 subkeys and values over 8 MB, which Windows writes happily.
// MountHiveFile: the same checks over the whole file, building nothing; then each key
// is read from the mapping when it is first used (LazyHive), checked again as it is.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"
#include "hive/KeyArena.h"
#include "hive/SlotBits.h"
#include "hive/Utf16.h"

#include <hivex.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace hive {

namespace {

using namespace regf;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A read-only view of the whole file. libhivex maps the file the same way, so reading
// through a mapping costs no robustness, and it saves copying a large hive.
class FileMapping {
public:
    FileMapping() = default;
    ~FileMapping() {
        if (data_)
            ::munmap(const_cast<uint8_t*>(data_), size_);
    }
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    // Returns 0 or the errno of the failure.
    int map(int fd, size_t size) {
        void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (at == MAP_FAILED)
            return errno;
        data_ = static_cast<const uint8_t*>(at);
        size_ = size;
        return 0;
    }
    const uint8_t* get() const { return data_; }
    // Lets the kernel drop the pages read so far: they are read again when needed.
    void release() const {
        if (data_)
            ::madvise(const_cast<uint8_t*>(data_), size_, MADV_DONTNEED);
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string DescribeSize(uint64_t bytes) {
    constexpr uint64_t kKB = 1024, kMB = 1024 * 1024;
    if (bytes < kKB)
        return std::to_string(bytes) + " bytes";
    if (bytes < kMB)
        return std::to_string((bytes + kKB / 2) / kKB) + " KB";
    const uint64_t tenths = (bytes * 10 + kMB / 2) / kMB;
    if (tenths % 10 == 0 || tenths >= 100)
        return std::to_string((tenths + 5) / 10) + " MB";
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

std::u16string DecodeName(const uint8_t* bytes, size_t length, bool latin1, StoredNameForm& form) {
    std::u16string name;
    form = {};
    if (latin1) {
        name.resize(length);
        for (size_t i = 0; i < length; ++i)
            name[i] = char16_t(bytes[i]);
    } else {
        name.resize(length / 2);
        bool fitsByte = true;
        for (size_t i = 0; i < name.size(); ++i) {
            name[i] = char16_t(Read16(bytes + 2 * i));
            fitsByte = fitsByte && name[i] <= 0xFF;
        }
        form.wide = fitsByte;
        if (length % 2)
            form.oddByte = bytes[length - 1];
    }
    return name;
}

// A key or value name as the file stores it: one byte a character, or UTF-16.
struct StoredName {
    const uint8_t* bytes;
    size_t units;
    bool narrow;
    size_t size() const { return units; }
    char16_t at(size_t i) const {
        return narrow ? char16_t(bytes[i]) : char16_t(Read16(bytes + 2 * i));
    }
};

StoredName KeyNameOf(const uint8_t* nkData) {
    const uint16_t length = Read16(nkData + nk::kNameLength);
    const bool narrow = Read16(nkData + nk::kFlags) & HiveKey::kFlagCompressedName;
    return {nkData + nk::kName, narrow ? length : size_t(length / 2), narrow};
}

// CompareNames for a stored name, converting nothing.
template <typename Other> int CompareStored(const StoredName& a, const Other& b) {
    const size_t n = std::min(a.units, size_t(b.size()));
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = UpcaseChar(a.at(i));
        char16_t y;
        if constexpr (std::is_same_v<Other, StoredName>)
            y = UpcaseChar(b.at(i));
        else
            y = UpcaseChar(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.units == size_t(b.size()))
        return 0;
    return a.units < size_t(b.size()) ? -1 : 1;
}

// A part of the file that does not check out; the message says which and why. Fatal for
// a strict read; a salvaging read leaves the part out and goes on.
class Damage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HiveReader {
public:
    HiveReader(const std::string& name, const uint8_t* data, uint64_t size, bool salvage)
        : path_(name), data_(data), size_(size), salvage_(salvage) {}
    // Reads the tree into `out`, asking libhivex's opinion once the base block checks
    // out (`libhivexRefusal` gives its reason to refuse, empty when it accepts).
    // Throws HiveFileError.
    void read(LoadedHive& out, const std::function<std::string()>& libhivexRefusal);

    // For reading keys on first use. Checks the base block, the bins and every key and
    // subkey list without building a key: false when any of them is damaged, so that the
    // file is read whole instead (which says what and where). A key's values, class name
    // and descriptor are checked when the key is read. On success the reader is ready for
    // readRoot and readStoredSubkeys.
    // `releasePages` lets go of the pages read so far; called now and then, so that
    // checking a large file keeps few of its pages in memory.
    bool checkAll(LoadedHive& out, const std::function<void()>& releasePages);
    // Whether every subkey list is in ascending order, so that a lookup may search it.
    bool listsSorted() const { return listsSorted_; }
    std::shared_ptr<HiveKey> readRoot();
    void readStoredSubkeys(HiveKey& key, std::vector<std::shared_ptr<HiveKey>>& built);
    // What a lazily read key reads on first use; damage found is left out and noted.
    void readStoredValues(const HiveKey& key, std::vector<HiveValue>& values);
    void readStoredClassAndSecurity(const HiveKey& key, std::optional<Bytes>& className,
                                    std::shared_ptr<const Bytes>& security);
    // Values read where they lie (see HiveSource). The check counts the data as a read of
    // the values does, and leaves the count as it was when the values do not check out.
    bool checkStoredValues(const HiveKey& key);
    // The value data the last readStoredValues or checkStoredValues counted, and giving
    // back the share of a key let go of.
    uint64_t lastCounted() const { return counting_; }
    void forgetData(uint64_t bytes) {
        uint64_t now = dataBytes_.load();
        while (!dataBytes_.compare_exchange_weak(now, now - std::min(now, bytes))) {
        }
    }
    bool storedValueCount(const HiveKey& key, uint32_t& count) const;
    StoredRead storedValueAt(const HiveKey& key, uint32_t index, StoredValue& value) const;
    bool copyStoredData(const HiveKey& key, const StoredValue& value, uint8_t* out) const;
    // Nullopt when the list cannot be searched (damaged); else the subkey or null.
    std::optional<std::shared_ptr<HiveKey>> findStoredSubkey(HiveKey& key,
                                                             std::u16string_view name);
    // Enumerating `key`'s stored list without building a key (HiveSource's functions).
    int64_t storedSubkeyCount(const HiveKey& key);
    int storedSubkeyCell(const HiveKey& key, uint64_t index, uint32_t& cell);
    // The name (and last-write time) of the key whose cell `storedSubkeyCells` gave; false
    // when the cell is not a key.
    bool storedKeyName(uint32_t cell, std::u16string& name, uint64_t* lastWrite);
    // Whether the key at `cell` is named `name`, compared as stored.
    bool storedKeyNamed(uint32_t cell, std::u16string_view name);
    // The subkey of `key` whose cell is `cell`; null when it cannot be read.
    std::shared_ptr<HiveKey> readStoredSubkey(HiveKey& key, uint32_t cell);
    // Where lazily read keys come from, and where damage found late goes.
    void readLazily(std::weak_ptr<HiveSource> source, KeyArena* arena,
                    std::function<void(std::string)> noteDamage) {
        source_ = std::move(source);
        arena_ = arena;
        noteDamage_ = std::move(noteDamage);
        salvage_ = true; // a part found damaged now is left out, and noted
        lazy_ = true;
    }

private:
    struct Pending {
        HiveKey* key;
        uint64_t nk; // file offset of the key's cell, checked when it was read
        uint32_t depth;
    };

    // The file as a whole is unusable, salvage or not.
    [[noreturn]] void fatal(const std::string& reason) const {
        throw HiveFileError(path_ + ": " + reason);
    }
    [[noreturn]] void fail(const std::string& reason) const { throw Damage(reason); }
    // What a salvaging read leaves out, and what it costs.
    void leaveOut(const Damage& damage, const std::string& lost);
    // A null key means the reason concerns the root key itself.
    [[noreturn]] void failAt(const HiveKey* key, const std::string& reason) const {
        fail(key ? "key " + keyPath(key) + ": " + reason : reason);
    }
    // `fileOffset` is where the cell starts in the file; messages give it as the format does.
    [[noreturn]] void failCell(const HiveKey* key, const char* what, uint64_t fileOffset,
                               const std::string& problem) const {
        failAt(key, std::string(what) + " at offset " + Hex(fileOffset - kBaseBlockSize) + " " +
                        problem);
    }
    std::string keyPath(const HiveKey* key) const;

    void checkBaseBlock(LoadedHive& out);
    void findCells();
    void findCellsOfSoundBins();
    void findCellsOfBin(uint64_t bin, uint64_t binEnd);
    uint64_t nextSoundBin(uint64_t from) const;
    size_t bitIndex(uint64_t fileOffset) const { return (fileOffset - kBaseBlockSize) / 4; }
    const uint8_t* cellData(uint64_t fileOffset, uint64_t needed, uint32_t& dataSize,
                            const char* what, const HiveKey* key) const;
    // cellData's checks, counting nothing: for readers sharing the mount without its lock.
    const uint8_t* cellAt(uint64_t fileOffset, uint64_t needed, uint32_t& dataSize,
                          const char* what, const HiveKey* key) const;
    // A lazily read key's value list, checked again: its data, and the count in `count`;
    // null when the key has no values.
    const uint8_t* storedValueList(const HiveKey& key, uint32_t& count) const;
    // The value cell at `at`, checked as readValue checks it: where its name and data lie.
    // Big data's segment list is checked; each segment is checked when it is read.
    // Returns the bytes of data the value keeps out of its own cell.
    uint32_t parseValue(uint64_t at, const HiveKey& key, StoredValue& value) const;
    void copySegments(const HiveKey& key, const StoredValue& value, uint8_t* out) const;
    void markVisited(uint64_t fileOffset, const char* what, const HiveKey* key);
    // `parentOffset`: the hive-bins offset of the parent's cell, kNoOffset for the root.
    void readKey(uint64_t fileOffset, HiveKey& key, const char* what, uint32_t parentOffset);
    // The key cell's own fields (name, flags, time); returns the cell's data.
    const uint8_t* readKeyCell(uint64_t fileOffset, HiveKey& key, const char* what,
                               uint32_t parentOffset);
    void readClassAndSecurity(const uint8_t* nkData, const HiveKey& key,
                              std::optional<Bytes>& className,
                              std::shared_ptr<const Bytes>& security);
    void readValues(const uint8_t* nkData, const HiveKey& key, std::vector<HiveValue>& values);
    void readValue(uint64_t at, const HiveKey& key, std::vector<HiveValue>& values);
    void readValueData(const uint8_t* vkData, uint64_t vkOffset, HiveValue& value,
                       const HiveKey& key);
    void readBigData(uint64_t fileOffset, const uint8_t* db, uint32_t length, HiveValue& value,
                     const HiveKey& key) const;
    void readSubkeys(const Pending& current, std::vector<Pending>& pending);
    uint32_t readLeaf(uint64_t fileOffset, const uint8_t* leaf, uint32_t size, const char* what,
                      const Pending& current, std::vector<Pending>& pending);
    std::shared_ptr<const Bytes> readSecurity(uint32_t offset, const HiveKey& key);
    // The checks readKey and readSubkeys make of a key's cell and its subkey lists,
    // building nothing. A key to check, as its parent's list names it:
    struct KeyToCheck {
        uint32_t nk;       // hive-bins offset of its cell
        uint32_t parent;   // of its parent's cell, kNoOffset for the root
        uint32_t previous; // of the subkey before it in the list (checked already), or kNoOffset
        uint32_t depth;
    };
    // Checks the key's cell and its subkey list; its subkeys go to `pending`, the first
    // last, so that they are checked in the list's order.
    void checkKey(const KeyToCheck& key, std::vector<KeyToCheck>& pending);
    // Asks for the cell at `fileOffset` and its bits to be fetched from memory while other
    // work goes on: keys are checked in the order of their lists, not of the file.
    void fetchAhead(uint64_t fileOffset) const;
    // A lazily read key of `parent` at `fileOffset`: its cell's own fields, nothing more.
    std::shared_ptr<HiveKey> readLazyKey(uint64_t fileOffset, HiveKey* parent, const char* what,
                                         uint32_t parentOffset);
    // The data of a lazily read key's cell, checked again: the file may have changed
    // under the mount since.
    const uint8_t* storedKeyCell(const HiveKey& key);

    std::string path_;
    const uint8_t* data_;
    uint64_t size_;
    bool salvage_;
    LoadedHive* out_ = nullptr;
    uint64_t binsEnd_ = 0; // file offset where the hive bins end, as the header says
    uint32_t minorVersion_ = 0;
    // One bit per 4 bytes of the bins: where a cell starts, and which nk and vk cells
    // have been read already (a second visit is a cycle or a shared cell).
    SlotBits cellStarts_;
    SlotBits visited_;
    // Sum of out-of-line value data read, bounded by the file size; a key let go of takes
    // its own share back (forgetData), from any thread.
    std::atomic<uint64_t> dataBytes_{0};
    uint64_t counting_ = 0; // what the read under way has added
    bool countData_ = true; // false while building values whose data was counted already
    std::unordered_map<uint32_t, std::shared_ptr<const Bytes>> security_;
    uint32_t lastSecurityOffset_ = kNoOffset;
    std::shared_ptr<const Bytes> lastSecurity_;
    bool binsComplete_ = true; // the bins chain up to the end the header gives
    mutable uint64_t cellsRead_ = 0;
    uint64_t cellsAtRelease_ = 0;
    std::vector<std::pair<const uint8_t*, uint32_t>> leaves_; // a leaf's data and size
    // A leaf list's entry count and entry size, checked against its cell.
    std::pair<uint32_t, uint32_t> leafEntries(const uint8_t* leaf, uint32_t size) const {
        const uint32_t stride = HasSignature(leaf, "li")                               ? 4
                                : HasSignature(leaf, "lh") || HasSignature(leaf, "lf") ? 8
                                                                                       : 0;
        const uint32_t count = Read16(leaf + kListCount);
        if (stride == 0 || kListEntries + uint64_t(count) * stride > size)
            fail("not a list");
        return {count, stride};
    }
    // The leaves of the subkey list of the key whose cell data is `d`: the list itself, or
    // each leaf its index (ri) names. `key` names the key in damage notes (null while the
    // mount checks the file). Kept in leaves_, reused from key to key: most have one leaf.
    const std::vector<std::pair<const uint8_t*, uint32_t>>& subkeyLeaves(const uint8_t* d,
                                                                         HiveKey* key);
    const std::vector<std::pair<const uint8_t*, uint32_t>>& subkeyLeavesAt(uint32_t listOffset,
                                                                           HiveKey* key);
    std::function<void()> releasePages_;
    // While the whole file is checked: each cell read may have brought in a folio of the
    // page cache of its own.
    void releaseNowAndThen() {
        constexpr uint64_t kCellsBetweenReleases = 32;
        if (releasePages_ && cellsRead_ - cellsAtRelease_ > kCellsBetweenReleases) {
            releasePages_();
            cellsAtRelease_ = cellsRead_;
        }
    }
    bool listsSorted_ = true;
    bool lazy_ = false;
    std::weak_ptr<HiveSource> source_;
    KeyArena* arena_ = nullptr; // where lazily read keys are made
    std::function<void(std::string)> noteDamage_;
    // Subkeys read before their list was: readLeaf puts them in their place.
    std::vector<std::shared_ptr<HiveKey>>* built_ = nullptr;
};

std::string HiveReader::keyPath(const HiveKey* key) const {
    constexpr size_t kShownAtEachEnd = 4; // a 512-level path would drown the message
    std::vector<const HiveKey*> chain;
    for (const HiveKey* k = key; k && chain.size() <= kMaxKeyDepth + 1; k = k->parent)
        chain.push_back(k);
    std::u16string path;
    for (size_t i = chain.size(); i-- > 0;) {
        const size_t fromRoot = chain.size() - 1 - i;
        if (fromRoot == kShownAtEachEnd && i > kShownAtEachEnd) {
            path += u"\\...";
            i = kShownAtEachEnd;
            continue;
        }
        if (fromRoot != 0)
            path += u'\\';
        path += chain[i]->name;
    }
    std::string quoted = "\"";
    quoted += Utf16ToUtf8(path);
    quoted += '"';
    return quoted;
}

void HiveReader::checkBaseBlock(LoadedHive& out) {
    const uint8_t* b = data_;
    if (size_ < 4 || std::memcmp(b, "regf", 4) != 0)
        fatal("not a registry hive (no regf signature)");
    if (size_ < kBaseBlockSize)
        fatal("the file is truncated (" + std::to_string(size_) +
              " bytes, shorter than the 4096-byte hive header)");
    if (Read32(b + base::kChecksum) != BaseBlockChecksum(b)) {
        const std::string damage = "the header is damaged (its checksum does not match)";
        if (!salvage_)
            fatal(damage);
        if (out_)
            leaveOut(Damage(damage), "its other fields are used as they are");
    }
    const uint32_t major = Read32(b + base::kMajorVersion);
    const uint32_t minor = Read32(b + base::kMinorVersion);
    if (major != 1)
        fatal("unsupported hive format version " + std::to_string(major) + "." +
              std::to_string(minor));
    const uint32_t binsSize = Read32(b + base::kBinsSize);
    if (binsSize == 0 || binsSize % kPageSize != 0)
        fatal("the header's hive-bins size (" + std::to_string(binsSize) +
              ") is not a whole number of 4096-byte pages");
    binsEnd_ = uint64_t(kBaseBlockSize) + binsSize;
    if (binsEnd_ > size_) {
        std::string said = DescribeSize(binsSize), has = DescribeSize(size_ - kBaseBlockSize);
        if (said == has) {
            said = std::to_string(binsSize) + " bytes";
            has = std::to_string(size_ - kBaseBlockSize) + " bytes";
        }
        const std::string damage =
            "the file is truncated (header says " + said + " of hive bins, file has " + has + ")";
        if (!salvage_)
            fatal(damage);
        if (out_)
            leaveOut(Damage(damage), "what was stored beyond its end is lost");
        binsEnd_ = size_;
    }
    const uint64_t root = uint64_t(kBaseBlockSize) + Read32(b + base::kRootOffset);
    if (root < kBaseBlockSize + kBinHeaderSize || root + 4 + nk::kName > binsEnd_)
        fatal("the root key offset " + Hex(Read32(b + base::kRootOffset)) +
              " lies outside the hive bins");

    minorVersion_ = minor;
    out.minorVersion = minor;
    StoredNameForm unused;
    std::u16string name = DecodeName(b + base::kFileName, base::kFileNameBytes, false, unused);
    name.resize(std::min(name.size(), name.find(u'\0')));
    out.fileNameField = std::move(name);
    const uint32_t primary = Read32(b + base::kPrimarySequence);
    const uint32_t secondary = Read32(b + base::kSecondarySequence);
    out.sequence = std::max(primary, secondary);
    out.dirty = HiveNeedsRecovery(b, size_t(size_));
}

void HiveReader::leaveOut(const Damage& damage, const std::string& lost) {
    if (lazy_) {
        noteDamage_(std::string(damage.what()) + ": " + lost);
        return;
    }
    if (out_->damage.size() < LoadedHive::kMaxDamageNotes)
        out_->damage.push_back(std::string(damage.what()) + ": " + lost);
    ++out_->damageCount;
}

// Notes where each cell of each bin starts, so that an offset into the middle of a
// cell, or into a bin header, is never taken for a cell. A damaged bin ends the notes
// for what follows it: only an offset that leads there is then refused. A salvaging read
// goes on after a damaged bin with the next sound one.
void HiveReader::findCells() {
    const uint8_t* b = data_;
    cellStarts_.assign(bitIndex(binsEnd_) + 1);
    visited_.assign(bitIndex(binsEnd_) + 1);
    if (!salvage_) {
        findCellsOfSoundBins();
        return;
    }
    for (uint64_t bin = kBaseBlockSize; bin + kBinHeaderSize <= binsEnd_;) {
        const uint32_t binSize = Read32(b + bin + bin::kSize);
        const bool signed_ = std::memcmp(b + bin, "hbin", 4) == 0;
        const bool sized =
            binSize >= kPageSize && binSize % kPageSize == 0 && binSize <= binsEnd_ - bin;
        const uint64_t next = nextSoundBin(bin + kPageSize);
        if (!signed_ || Read32(b + bin + bin::kOffset) != bin - kBaseBlockSize) {
            leaveOut(Damage("the hive bins from offset " + Hex(bin - kBaseBlockSize) + " to " +
                            Hex(next - kBaseBlockSize) + " have no sound bin header"),
                     "what they hold is left out");
            bin = next;
            continue;
        }
        // A size that does not lead to the next bin is damaged: the bin reaches as far as
        // the next sound bin header then.
        if (!sized || next != bin + binSize) {
            if (next != binsEnd_ ||
                binsEnd_ == kBaseBlockSize + uint64_t(Read32(b + base::kBinsSize)))
                leaveOut(Damage("the bin at offset " + Hex(bin - kBaseBlockSize) +
                                " gives a wrong size"),
                         "its cells are read up to the next sound bin");
            findCellsOfBin(bin, next);
            bin = next;
            continue;
        }
        findCellsOfBin(bin, next);
        bin = next;
    }
}

// The bins up to the first damaged header, and the cells of each. A cell's place follows
// from the size of the one before it, so the walk of one bin waits for memory at every
// cell: the cells of a few bins are walked side by side, their waits overlapping.
void HiveReader::findCellsOfSoundBins() {
    constexpr size_t kBinsSideBySide = 8;
    constexpr uint64_t kBytesBetweenReleases = 16 << 20;
    struct Walk {
        uint64_t cell;
        uint64_t end;
        bool broken;
    };
    Walk walks[kBinsSideBySide];
    uint64_t released = kBaseBlockSize;
    uint64_t bin = kBaseBlockSize;
    for (bool more = true; more;) {
        if (releasePages_ && bin - released > kBytesBetweenReleases) {
            releasePages_();
            released = bin;
        }
        size_t count = 0;
        while (count < kBinsSideBySide) {
            if (bin + kBinHeaderSize > binsEnd_) {
                more = false;
                break;
            }
            const uint32_t binSize = Read32(data_ + bin + bin::kSize);
            if (std::memcmp(data_ + bin, "hbin", 4) != 0 || binSize < kPageSize ||
                binSize % kPageSize != 0 || binSize > binsEnd_ - bin) {
                binsComplete_ = false;
                more = false;
                break;
            }
            walks[count++] = {bin + kBinHeaderSize, bin + binSize, false};
            bin += binSize;
        }
        // The pages of the next few bins are asked for while these are walked: most bins
        // are one page.
        for (uint64_t page = bin; page < std::min(binsEnd_, bin + kBinsSideBySide * kPageSize);
             page += kPageSize)
            __builtin_prefetch(data_ + page);
        for (bool stepped = true; stepped;) {
            stepped = false;
            for (size_t i = 0; i < count; ++i) {
                Walk& walk = walks[i];
                if (walk.broken || walk.cell + 4 > walk.end)
                    continue;
                const int64_t size = int32_t(Read32(data_ + walk.cell));
                const uint64_t length = uint64_t(size < 0 ? -size : size);
                if (length < 8 || length % 4 != 0 || length > walk.end - walk.cell) {
                    walk.broken = true;
                    continue;
                }
                cellStarts_.set(bitIndex(walk.cell));
                walk.cell += length;
                stepped = true;
            }
        }
        for (size_t i = 0; i < count; ++i)
            if (walks[i].cell != walks[i].end)
                binsComplete_ = false;
    }
}

// The file offset of the first sound bin header from `from` on, or the end of the bins.
uint64_t HiveReader::nextSoundBin(uint64_t from) const {
    for (uint64_t at = from; at + kBinHeaderSize <= binsEnd_; at += kPageSize)
        if (std::memcmp(data_ + at, "hbin", 4) == 0 &&
            Read32(data_ + at + bin::kOffset) == at - kBaseBlockSize)
            return at;
    return binsEnd_;
}

void HiveReader::findCellsOfBin(uint64_t bin, uint64_t binEnd) {
    const uint8_t* b = data_;
    auto cellLength = [&](uint64_t cell) -> uint64_t {
        const int64_t size = int32_t(Read32(b + cell));
        const uint64_t length = uint64_t(size < 0 ? -size : size);
        return length < 8 || length % 4 != 0 || length > binEnd - cell ? 0 : length;
    };
    const uint64_t first = bin + kBinHeaderSize;
    uint64_t cell = first;
    for (; cell + 4 <= binEnd;) {
        const uint64_t length = cellLength(cell);
        if (length == 0)
            break;
        cellStarts_.set(bitIndex(cell));
        cell += length;
    }
    if (cell != binEnd && first < binEnd)
        binsComplete_ = false;
    if (!salvage_ || cell == binEnd || first >= binEnd)
        return;
    // The chain of cells broke. Every cell behind the break still chains to the end of
    // the bin: taking each place from which a chain of sound sizes ends exactly there
    // finds them again, wherever the damage lies.
    const size_t slots = size_t((binEnd - first) / 4);
    std::vector<bool> reachesEnd(slots + 1, false);
    reachesEnd[slots] = (binEnd - first) % 4 == 0;
    for (size_t i = slots; i-- > 0;) {
        const uint64_t at = first + 4 * uint64_t(i);
        if (at + 4 > binEnd)
            continue;
        const uint64_t length = cellLength(at);
        if (length != 0 && at + length <= binEnd) {
            const uint64_t next = (at + length - first) / 4;
            reachesEnd[i] = at + length == binEnd || (next <= slots && reachesEnd[next]);
        }
        if (reachesEnd[i])
            cellStarts_.set(bitIndex(at));
    }
    leaveOut(Damage("the cells of the bin at offset " + Hex(bin - kBaseBlockSize) +
                    " do not chain up at offset " + Hex(cell - kBaseBlockSize)),
             "a cell there is lost");
}

const uint8_t* HiveReader::cellData(uint64_t fileOffset, uint64_t needed, uint32_t& dataSize,
                                    const char* what, const HiveKey* key) const {
    ++cellsRead_;
    return cellAt(fileOffset, needed, dataSize, what, key);
}

const uint8_t* HiveReader::cellAt(uint64_t fileOffset, uint64_t needed, uint32_t& dataSize,
                                  const char* what, const HiveKey* key) const {
    if (fileOffset < kBaseBlockSize + kBinHeaderSize || fileOffset + 4 > binsEnd_)
        failCell(key, what, fileOffset, "lies outside the hive bins");
    if ((fileOffset - kBaseBlockSize) % 4 != 0 || !cellStarts_.test(bitIndex(fileOffset)))
        failCell(key, what, fileOffset, "is not the start of a cell");
    const int64_t size = int32_t(Read32(data_ + fileOffset));
    if (size >= 0)
        failCell(key, what, fileOffset, "is not an allocated cell");
    const uint64_t cellSize = uint64_t(-size);
    if (cellSize < 4 + needed)
        failCell(key, what, fileOffset, "is too small for its contents");
    dataSize = uint32_t(cellSize - 4); // the cell lies inside its bin: findCells saw to that
    return data_ + fileOffset + 4;
}

// Only for an offset cellData has accepted.
void HiveReader::markVisited(uint64_t fileOffset, const char* what, const HiveKey* key) {
    if (lazy_)
        return; // each key is read once, and the whole file was checked at first
    if (visited_.testAndSet(bitIndex(fileOffset)))
        failCell(key, what, fileOffset, "is reached a second time (a cycle or a shared cell)");
}

std::shared_ptr<const Bytes> HiveReader::readSecurity(uint32_t offset, const HiveKey& key) {
    if (offset == lastSecurityOffset_)
        return lastSecurity_;
    auto& slot = security_[offset];
    if (!slot) {
        uint32_t size = 0;
        const uint8_t* d = cellData(kBaseBlockSize + uint64_t(offset), sk::kDescriptor, size,
                                    "security cell", &key);
        if (!HasSignature(d, "sk"))
            failCell(&key, "security cell", kBaseBlockSize + uint64_t(offset),
                     "has no sk signature");
        const uint32_t length = Read32(d + sk::kDescriptorSize);
        if (length > size - sk::kDescriptor)
            failCell(&key, "security cell", kBaseBlockSize + uint64_t(offset),
                     "holds a descriptor longer than the cell");
        slot = std::make_shared<const Bytes>(d + sk::kDescriptor, d + sk::kDescriptor + length);
    }
    lastSecurityOffset_ = offset;
    lastSecurity_ = slot;
    return slot;
}

// `what` names the cell for messages, which speak of the parent when there is one.
void HiveReader::readKey(uint64_t fileOffset, HiveKey& key, const char* what,
                         uint32_t parentOffset) {
    const uint8_t* d = readKeyCell(fileOffset, key, what, parentOffset);
    std::optional<Bytes> className;
    std::shared_ptr<const Bytes> security;
    readClassAndSecurity(d, key, className, security);
    key.setClassName(std::move(className));
    key.setSecurity(std::move(security));
}

const uint8_t* HiveReader::readKeyCell(uint64_t fileOffset, HiveKey& key, const char* what,
                                       uint32_t parentOffset) {
    uint32_t size = 0;
    const uint8_t* d = cellData(fileOffset, nk::kName, size, what, key.parent);
    if (!HasSignature(d, "nk"))
        failCell(key.parent, what, fileOffset, "has no nk signature");
    // A damaged list may name another key's cell: the key names its parent, and a
    // salvaging read leaves it to that parent rather than lose it there.
    if (salvage_ && parentOffset != kNoOffset && Read32(d + nk::kParent) != parentOffset)
        failCell(key.parent, what, fileOffset, "names another key as its parent");
    markVisited(fileOffset, what, key.parent);
    key.flags = Read16(d + nk::kFlags);
    key.lastWriteTime = Read64(d + nk::kLastWrite);
    const uint16_t nameLength = Read16(d + nk::kNameLength);
    if (nk::kName + nameLength > size)
        failCell(key.parent, what, fileOffset, "has a name longer than its cell");
    key.name = DecodeName(d + nk::kName, nameLength, key.flags & HiveKey::kFlagCompressedName,
                          key.nameForm);
    return d;
}

void HiveReader::readClassAndSecurity(const uint8_t* d, const HiveKey& key,
                                      std::optional<Bytes>& className,
                                      std::shared_ptr<const Bytes>& security) {
    // Windows stores no class cell for an empty class name, so a zero length means none.
    const uint32_t classOffset = Read32(d + nk::kClass);
    const uint16_t classLength = Read16(d + nk::kClassLength);
    if (classOffset != kNoOffset && classLength != 0) {
        try {
            uint32_t classSize = 0;
            const uint8_t* c = cellData(kBaseBlockSize + uint64_t(classOffset), classLength,
                                        classSize, "class name", &key);
            className.emplace(c, c + classLength);
        } catch (const Damage& damage) {
            if (!salvage_)
                throw;
            leaveOut(damage, "the key is kept without its class name");
        }
    }
    const uint32_t securityOffset = Read32(d + nk::kSecurity);
    if (securityOffset != kNoOffset) {
        try {
            security = readSecurity(securityOffset, key);
        } catch (const Damage& damage) {
            if (!salvage_)
                throw;
            // Written back, the key takes its parent's descriptor.
            leaveOut(damage, "the key is kept without its security descriptor");
        }
    }
}

void HiveReader::readValues(const uint8_t* nkData, const HiveKey& key,
                            std::vector<HiveValue>& values) {
    const uint32_t count = Read32(nkData + nk::kValueCount);
    if (count == 0)
        return;
    const uint64_t listOffset = kBaseBlockSize + uint64_t(Read32(nkData + nk::kValueList));
    uint32_t listSize = 0;
    const uint8_t* list = nullptr;
    try {
        list = cellData(listOffset, 4 * uint64_t(count), listSize, "value list", &key);
    } catch (const Damage& damage) {
        if (!salvage_)
            throw;
        leaveOut(damage, "the key's " + std::to_string(count) + " values are left out");
        return;
    }
    // A hostile count may still be large; the vector grows past this as values check out.
    constexpr uint32_t kReserveAtMost = 4096;
    values.reserve(std::min(count, kReserveAtMost));
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = kBaseBlockSize + uint64_t(Read32(list + 4 * uint64_t(i)));
        try {
            readValue(at, key, values);
        } catch (const Damage& damage) {
            if (!salvage_)
                throw;
            leaveOut(damage, "the value is left out");
        }
    }
}

void HiveReader::readValue(uint64_t at, const HiveKey& key, std::vector<HiveValue>& values) {
    uint32_t size = 0;
    const uint8_t* d = cellData(at, vk::kName, size, "value cell", &key);
    markVisited(at, "value cell", &key);
    if (!HasSignature(d, "vk"))
        failCell(&key, "value cell", at, "has no vk signature");
    const uint16_t nameLength = Read16(d + vk::kNameLength);
    if (vk::kName + nameLength > size)
        failCell(&key, "value cell", at, "has a name longer than its cell");
    HiveValue value;
    value.name = DecodeName(d + vk::kName, nameLength,
                            Read16(d + vk::kFlags) & vk::kFlagCompressedName, value.nameForm);
    value.type = Read32(d + vk::kType); // raw: types beyond the documented ones are common
    readValueData(d, at, value, key);
    values.push_back(std::move(value));
}

void HiveReader::readValueData(const uint8_t* vkData, uint64_t vkOffset, HiveValue& value,
                               const HiveKey& key) {
    const uint32_t declared = Read32(vkData + vk::kDataSize);
    if (declared & kInlineDataFlag) {
        const uint32_t length = declared & ~kInlineDataFlag;
        if (length > 4)
            failCell(&key, "value cell", vkOffset,
                     "holds " + std::to_string(length) + " bytes of data in a 4-byte field");
        value.data.assign(vkData + vk::kData, vkData + vk::kData + length);
        return;
    }
    if (declared == 0)
        return; // no data cell to follow
    // Cells shared between values could otherwise blow a small file up to terabytes.
    if (countData_) {
        if (declared > size_ - dataBytes_)
            failAt(&key, "value data adds up to more than the file holds");
        dataBytes_ += declared;
        counting_ += declared;
    }
    const uint64_t at = kBaseBlockSize + uint64_t(Read32(vkData + vk::kData));
    uint32_t size = 0;
    // From format 1.4 on, Windows keeps data beyond one segment in a db cell; a single
    // large cell, as older writers leave it, is read as it is.
    if (minorVersion_ >= kBigDataMinorVersion && declared > kBigDataSegment) {
        const uint8_t* d = cellData(at, kBigDataSegmentList + 4, size, "value data", &key);
        if (HasSignature(d, "db")) {
            readBigData(at, d, declared, value, key);
            return;
        }
    }
    const uint8_t* d = cellData(at, declared, size, "value data", &key);
    value.data.assign(d, d + declared);
}

void HiveReader::readBigData(uint64_t fileOffset, const uint8_t* db, uint32_t length,
                             HiveValue& value, const HiveKey& key) const {
    const uint32_t segments = Read16(db + kListCount);
    const uint32_t needed = (length + kBigDataSegment - 1) / kBigDataSegment;
    if (segments < needed)
        failCell(&key, "big data cell", fileOffset,
                 "has " + std::to_string(segments) + " segments for " + std::to_string(length) +
                     " bytes of data");
    const uint64_t listOffset = kBaseBlockSize + uint64_t(Read32(db + kBigDataSegmentList));
    uint32_t listSize = 0;
    const uint8_t* list =
        cellData(listOffset, 4 * uint64_t(segments), listSize, "big data segment list", &key);
    value.data.resize(length);
    uint32_t done = 0;
    for (uint32_t i = 0; i < needed; ++i) {
        const uint32_t part = std::min(kBigDataSegment, length - done);
        const uint64_t at = kBaseBlockSize + uint64_t(Read32(list + 4 * uint64_t(i)));
        uint32_t size = 0;
        const uint8_t* segment = cellData(at, part, size, "big data segment", &key);
        std::memcpy(value.data.data() + done, segment, part);
        done += part;
    }
}

// Reads the subkeys a leaf list (li, lf or lh) names, in its order; returns how many.
uint32_t HiveReader::readLeaf(uint64_t fileOffset, const uint8_t* leaf, uint32_t size,
                              const char* what, const Pending& current,
                              std::vector<Pending>& pending) {
    HiveKey& key = *current.key;
    uint32_t entrySize = 0;
    if (HasSignature(leaf, "lh") || HasSignature(leaf, "lf"))
        entrySize = 8; // nk offset and a hash or hint that only speeds up Windows' lookups
    else if (HasSignature(leaf, "li"))
        entrySize = 4;
    else
        failCell(&key, what, fileOffset, "is not a list of subkeys");
    const uint32_t count = Read16(leaf + kListCount);
    if (kListEntries + uint64_t(count) * entrySize > size)
        failCell(&key, what, fileOffset, "holds more entries than its cell");
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at =
            kBaseBlockSize + uint64_t(Read32(leaf + kListEntries + uint64_t(i) * entrySize));
        if (lazy_) {
            std::shared_ptr<HiveKey> child;
            for (auto& k : *built_)
                if (k && kBaseBlockSize + uint64_t(k->cell()) == at)
                    child = std::move(k);
            try {
                if (!child)
                    child =
                        readLazyKey(at, &key, "subkey cell", uint32_t(current.nk - kBaseBlockSize));
            } catch (const Damage& damage) {
                leaveOut(damage, "the subkey and all below it are left out");
                continue;
            }
            key.appendLoadedSubkey(std::move(child));
            continue;
        }
        auto child = std::make_shared<HiveKey>();
        child->parent = &key; // for messages; appendLoadedSubkey sets it for good
        try {
            readKey(at, *child, "subkey cell", uint32_t(current.nk - kBaseBlockSize));
        } catch (const Damage& damage) {
            if (!salvage_)
                throw;
            leaveOut(damage, "the subkey and all below it are left out");
            continue;
        }
        HiveKey* raw = child.get();
        key.appendLoadedSubkey(std::move(child));
        pending.push_back({raw, at, current.depth + 1});
    }
    return count;
}

void HiveReader::readSubkeys(const Pending& current, std::vector<Pending>& pending) {
    HiveKey& key = *current.key;
    const uint8_t* d = data_ + current.nk + 4; // checked by readKey
    const uint32_t expected = Read32(d + nk::kSubkeyCount);
    if (expected == 0)
        return;
    const char* const allLost = "the key's subkeys are left out"; // no string built per key
    if (current.depth >= kMaxKeyDepth) {
        Damage damage("key " + keyPath(&key) + ": keys are nested deeper than 512 levels");
        if (!salvage_)
            throw damage;
        leaveOut(damage, allLost);
        return;
    }
    const uint64_t at = kBaseBlockSize + uint64_t(Read32(d + nk::kSubkeyList));
    uint32_t size = 0;
    const uint8_t* list = nullptr;
    uint64_t found = 0;
    try {
        list = cellData(at, kListEntries, size, "subkey list", &key);
        if (!HasSignature(list, "ri")) {
            found = readLeaf(at, list, size, "subkey list", current, pending);
        } else {
            // An index of leaf lists, one level only: Windows never nests them.
            const uint32_t leaves = Read16(list + kListCount);
            if (kListEntries + 4 * uint64_t(leaves) > size)
                failCell(&key, "subkey list", at, "holds more entries than its cell");
            for (uint32_t i = 0; i < leaves; ++i) {
                const uint64_t leafAt =
                    kBaseBlockSize + uint64_t(Read32(list + kListEntries + 4 * uint64_t(i)));
                try {
                    uint32_t leafSize = 0;
                    const uint8_t* leaf =
                        cellData(leafAt, kListEntries, leafSize, "part of the subkey list", &key);
                    if (HasSignature(leaf, "ri"))
                        failCell(&key, "part of the subkey list", leafAt,
                                 "is an index inside an index");
                    found += readLeaf(leafAt, leaf, leafSize, "part of the subkey list", current,
                                      pending);
                } catch (const Damage& damage) {
                    if (!salvage_)
                        throw;
                    leaveOut(damage, "the subkeys it lists are left out");
                }
            }
        }
    } catch (const Damage& damage) {
        if (!salvage_)
            throw;
        leaveOut(damage, allLost);
        return;
    }
    if (found != expected) {
        Damage damage("key " + keyPath(&key) + ": subkey list at offset " +
                      Hex(at - kBaseBlockSize) + " holds " + std::to_string(found) +
                      " subkeys where the key counts " + std::to_string(expected));
        if (!salvage_)
            throw damage;
        leaveOut(damage, "the subkeys it holds are kept");
    }
}

void HiveReader::read(LoadedHive& out, const std::function<std::string()>& libhivexRefusal) {
    out_ = &out;
    try {
        checkBaseBlock(out);
        // libhivex stays the judge of the file as a whole: what it refuses to open, we
        // refuse, unless asked to salvage what can be read.
        if (const std::string refusal = libhivexRefusal(); !refusal.empty()) {
            if (!salvage_)
                fatal("rejected by libhivex: " + refusal);
            leaveOut(Damage("libhivex refuses the file (" + refusal + ")"),
                     "it is read by the checked reader alone");
        }
        findCells();

        const uint64_t rootOffset = kBaseBlockSize + uint64_t(Read32(data_ + base::kRootOffset));
        out.root = std::make_shared<HiveKey>();
        readKey(rootOffset, *out.root, "root key cell", kNoOffset);

        std::vector<Pending> pending;
        pending.reserve(1024);
        pending.push_back({out.root.get(), rootOffset, 0});
        while (!pending.empty()) {
            const Pending current = pending.back();
            pending.pop_back();
            readValues(data_ + current.nk + 4, *current.key, current.key->values());
            readSubkeys(current, pending);
        }
    } catch (const Damage& damage) {
        out.root.reset();
        fatal(damage.what());
    }
}

bool HiveReader::checkAll(LoadedHive& out, const std::function<void()>& releasePages) {
    out_ = &out;
    try {
        checkBaseBlock(out);
    } catch (const HiveFileError&) {
        return false; // read whole, the file says the same again
    }
    if (Read32(data_ + base::kChecksum) != BaseBlockChecksum(data_) ||
        binsEnd_ != kBaseBlockSize + uint64_t(Read32(data_ + base::kBinsSize)))
        return false;
    releasePages_ = releasePages;
    struct Unset {
        std::function<void()>& hook;
        ~Unset() { hook = nullptr; }
    } unset{releasePages_};
    findCells();
    if (!binsComplete_)
        return false;
    try {
        std::vector<KeyToCheck> pending{
            {Read32(data_ + base::kRootOffset), kNoOffset, kNoOffset, 0}};
        // The key checked a few keys from now: most keys have no subkeys, so it is the
        // one a few places from the end.
        constexpr size_t kKeysAhead = 8;
        while (!pending.empty()) {
            const KeyToCheck current = pending.back();
            pending.pop_back();
            if (pending.size() >= kKeysAhead)
                fetchAhead(kBaseBlockSize + uint64_t(pending[pending.size() - kKeysAhead].nk));
            releaseNowAndThen();
            checkKey(current, pending);
        }
    } catch (const Damage&) {
        return false;
    }
    visited_.clear();
    return true;
}

void HiveReader::fetchAhead(uint64_t fileOffset) const {
    if (fileOffset + 2 * 64 > binsEnd_)
        return; // never a pointer outside the file; cellData says what is wrong with it
    __builtin_prefetch(data_ + fileOffset);
    __builtin_prefetch(data_ + fileOffset + 4 + nk::kNameLength); // and its name
    __builtin_prefetch(cellStarts_.wordOf(bitIndex(fileOffset)));
    __builtin_prefetch(visited_.wordOf(bitIndex(fileOffset)));
}

void HiveReader::checkKey(const KeyToCheck& key, std::vector<KeyToCheck>& pending) {
    uint32_t size = 0;
    const uint64_t at = kBaseBlockSize + uint64_t(key.nk);
    const uint8_t* d = cellData(at, nk::kName, size, "key cell", nullptr);
    if (!HasSignature(d, "nk"))
        fail("no nk signature");
    if (key.parent != kNoOffset && Read32(d + nk::kParent) != key.parent)
        fail("another parent");
    if (visited_.testAndSet(bitIndex(at)))
        fail("reached twice");
    if (nk::kName + uint64_t(Read16(d + nk::kNameLength)) > size)
        fail("name longer than the cell");
    // A key's class name, descriptor and values are checked when the key is read.
    if (key.previous != kNoOffset) {
        const uint8_t* before = data_ + kBaseBlockSize + uint64_t(key.previous) + 4;
        if (CompareStored(KeyNameOf(before), KeyNameOf(d)) >= 0)
            listsSorted_ = false;
    }

    const uint32_t expected = Read32(d + nk::kSubkeyCount);
    if (expected == 0)
        return;
    if (key.depth >= kMaxKeyDepth)
        fail("too deep");
    // Every key takes a cell of its own: a count beyond what the bins hold is damage, and
    // so is a list longer than the count, found before its entries are taken.
    if (expected > (binsEnd_ - kBaseBlockSize) / (4 + nk::kName))
        fail("count");
    const uint32_t self = key.nk;
    const size_t first = pending.size();
    uint64_t found = 0;
    uint32_t previous = kNoOffset;
    for (const auto& [leaf, leafSize] : subkeyLeavesAt(Read32(d + nk::kSubkeyList), nullptr)) {
        uint32_t stride = 0;
        if (HasSignature(leaf, "lh") || HasSignature(leaf, "lf"))
            stride = 8;
        else if (HasSignature(leaf, "li"))
            stride = 4;
        else
            fail("not a list");
        const uint32_t count = Read16(leaf + kListCount);
        if (kListEntries + uint64_t(count) * stride > leafSize)
            fail("list longer than its cell");
        if (found + count > expected)
            fail("count");
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t subkey = Read32(leaf + kListEntries + uint64_t(i) * stride);
            pending.push_back({subkey, self, previous, key.depth + 1});
            previous = subkey;
        }
        found += count;
    }
    if (found != expected)
        fail("count");
    std::reverse(pending.begin() + ptrdiff_t(first), pending.end());
}

const std::vector<std::pair<const uint8_t*, uint32_t>>& HiveReader::subkeyLeaves(const uint8_t* d,
                                                                                 HiveKey* key) {
    return subkeyLeavesAt(Read32(d + nk::kSubkeyList), key);
}

const std::vector<std::pair<const uint8_t*, uint32_t>>&
HiveReader::subkeyLeavesAt(uint32_t listOffset, HiveKey* key) {
    uint32_t size = 0;
    const uint64_t listAt = kBaseBlockSize + uint64_t(listOffset);
    const uint8_t* list = cellData(listAt, kListEntries, size, "subkey list", key);
    leaves_.clear();
    if (!HasSignature(list, "ri")) {
        leaves_.emplace_back(list, size);
        return leaves_;
    }
    const uint32_t count = Read16(list + kListCount);
    if (kListEntries + 4 * uint64_t(count) > size)
        fail("index longer than its cell");
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t leafSize = 0;
        const uint64_t at =
            kBaseBlockSize + uint64_t(Read32(list + kListEntries + 4 * uint64_t(i)));
        const uint8_t* leaf = cellData(at, kListEntries, leafSize, "leaf", key);
        if (HasSignature(leaf, "ri"))
            fail("index in an index");
        leaves_.emplace_back(leaf, leafSize);
    }
    return leaves_;
}

std::shared_ptr<HiveKey> HiveReader::readLazyKey(uint64_t fileOffset, HiveKey* parent,
                                                 const char* what, uint32_t parentOffset) {
    auto key = std::allocate_shared<HiveKey>(KeyArenaAllocator<HiveKey>(arena_));
    key->parent = parent;
    if (parent) {
        key->hive = parent->hive;
        key->deleted = parent->deleted;
    }
    const uint8_t* d = readKeyCell(fileOffset, *key, what, parentOffset);
    key->readLazily(source_.lock(), uint32_t(fileOffset - kBaseBlockSize),
                    Read32(d + nk::kSubkeyCount) != 0, Read32(d + nk::kValueCount) != 0);
    return key;
}

const uint8_t* HiveReader::storedKeyCell(const HiveKey& key) {
    const uint64_t at = kBaseBlockSize + uint64_t(key.cell());
    uint32_t size = 0;
    const uint8_t* d = cellData(at, nk::kName, size, "key cell", &key);
    if (!HasSignature(d, "nk"))
        failCell(&key, "key cell", at, "has no nk signature");
    return d;
}

void HiveReader::readStoredValues(const HiveKey& key, std::vector<HiveValue>& values) {
    counting_ = 0;
    // Values read in place first had their data counted when they were checked.
    countData_ = !key.storedValuesChecked();
    try {
        readValues(storedKeyCell(key), key, values);
    } catch (const Damage& damage) {
        leaveOut(damage, "the key's values are left out");
    }
    countData_ = true;
}

const uint8_t* HiveReader::storedValueList(const HiveKey& key, uint32_t& count) const {
    const uint64_t at = kBaseBlockSize + uint64_t(key.cell());
    uint32_t size = 0;
    const uint8_t* d = cellAt(at, nk::kName, size, "key cell", &key);
    if (!HasSignature(d, "nk"))
        failCell(&key, "key cell", at, "has no nk signature");
    count = Read32(d + nk::kValueCount);
    if (count == 0)
        return nullptr;
    const uint64_t listOffset = kBaseBlockSize + uint64_t(Read32(d + nk::kValueList));
    uint32_t listSize = 0;
    return cellAt(listOffset, 4 * uint64_t(count), listSize, "value list", &key);
}

uint32_t HiveReader::parseValue(uint64_t at, const HiveKey& key, StoredValue& value) const {
    uint32_t size = 0;
    const uint8_t* d = cellAt(at, vk::kName, size, "value cell", &key);
    if (!HasSignature(d, "vk"))
        failCell(&key, "value cell", at, "has no vk signature");
    const uint16_t nameLength = Read16(d + vk::kNameLength);
    if (vk::kName + nameLength > size)
        failCell(&key, "value cell", at, "has a name longer than its cell");
    value.name = d + vk::kName;
    value.nameBytes = nameLength;
    value.narrowName = Read16(d + vk::kFlags) & vk::kFlagCompressedName;
    value.type = Read32(d + vk::kType);
    value.segmentList = nullptr;
    const uint32_t declared = Read32(d + vk::kDataSize);
    if (declared & kInlineDataFlag) {
        const uint32_t length = declared & ~kInlineDataFlag;
        if (length > 4)
            failCell(&key, "value cell", at, "holds too much data in its own cell");
        value.data = d + vk::kData;
        value.size = length;
        return 0;
    }
    value.size = declared;
    value.data = d + vk::kData; // no data: any place will do
    if (declared == 0)
        return 0;
    const uint64_t dataAt = kBaseBlockSize + uint64_t(Read32(d + vk::kData));
    if (minorVersion_ >= kBigDataMinorVersion && declared > kBigDataSegment) {
        const uint8_t* db = cellAt(dataAt, kBigDataSegmentList + 4, size, "value data", &key);
        if (HasSignature(db, "db")) {
            const uint32_t segments = Read16(db + kListCount);
            if (segments < (declared + kBigDataSegment - 1) / kBigDataSegment)
                failCell(&key, "big data cell", dataAt, "has too few segments for its data");
            const uint64_t listOffset = kBaseBlockSize + uint64_t(Read32(db + kBigDataSegmentList));
            uint32_t listSize = 0;
            value.segmentList =
                cellAt(listOffset, 4 * uint64_t(segments), listSize, "big data segment list", &key);
            value.data = nullptr;
            return declared;
        }
    }
    value.data = cellAt(dataAt, declared, size, "value data", &key);
    return declared;
}

bool HiveReader::storedValueCount(const HiveKey& key, uint32_t& count) const {
    try {
        storedValueList(key, count);
        return true;
    } catch (const Damage&) {
        return false;
    }
}

StoredRead HiveReader::storedValueAt(const HiveKey& key, uint32_t index, StoredValue& value) const {
    try {
        uint32_t count = 0;
        const uint8_t* list = storedValueList(key, count);
        if (index >= count)
            return StoredRead::Missing;
        parseValue(kBaseBlockSize + uint64_t(Read32(list + 4 * uint64_t(index))), key, value);
        return StoredRead::Found;
    } catch (const Damage&) {
        return StoredRead::Built;
    }
}

bool HiveReader::copyStoredData(const HiveKey& key, const StoredValue& value, uint8_t* out) const {
    if (value.data) {
        if (value.size)
            std::memcpy(out, value.data, value.size);
        return true;
    }
    try {
        copySegments(key, value, out);
        return true;
    } catch (const Damage&) {
        return false;
    }
}

void HiveReader::copySegments(const HiveKey& key, const StoredValue& value, uint8_t* out) const {
    const uint32_t needed = (value.size + kBigDataSegment - 1) / kBigDataSegment;
    uint32_t done = 0;
    for (uint32_t i = 0; i < needed; ++i) {
        const uint32_t part = std::min(kBigDataSegment, value.size - done);
        const uint64_t at = kBaseBlockSize + uint64_t(Read32(value.segmentList + 4 * uint64_t(i)));
        uint32_t size = 0;
        const uint8_t* segment = cellAt(at, part, size, "big data segment", &key);
        if (out)
            std::memcpy(out + done, segment, part);
        done += part;
    }
}

bool HiveReader::checkStoredValues(const HiveKey& key) {
    counting_ = 0;
    try {
        uint32_t count = 0;
        const uint8_t* list = storedValueList(key, count);
        StoredValue value;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t at = kBaseBlockSize + uint64_t(Read32(list + 4 * uint64_t(i)));
            const uint32_t declared = parseValue(at, key, value);
            if (declared > size_ - dataBytes_)
                fail("value data adds up to more than the file holds");
            dataBytes_ += declared;
            counting_ += declared;
            if (value.segmentList)
                copySegments(key, value, nullptr);
        }
        return true;
    } catch (const Damage&) {
        dataBytes_ -= counting_;
        counting_ = 0;
        return false;
    }
}

void HiveReader::readStoredClassAndSecurity(const HiveKey& key, std::optional<Bytes>& className,
                                            std::shared_ptr<const Bytes>& security) {
    try {
        readClassAndSecurity(storedKeyCell(key), key, className, security);
    } catch (const Damage& damage) {
        leaveOut(damage, "the key is kept without its class name and security descriptor");
    }
}

std::shared_ptr<HiveKey> HiveReader::readRoot() {
    const uint64_t root = kBaseBlockSize + uint64_t(Read32(data_ + base::kRootOffset));
    try {
        return readLazyKey(root, nullptr, "root key cell", kNoOffset);
    } catch (const Damage& damage) {
        fatal(damage.what());
    }
}

void HiveReader::readStoredSubkeys(HiveKey& key, std::vector<std::shared_ptr<HiveKey>>& built) {
    uint32_t depth = 0;
    for (const HiveKey* k = key.parent; k && k->source() == key.source(); k = k->parent)
        ++depth;
    const Pending current{&key, kBaseBlockSize + uint64_t(key.cell()), depth};
    std::vector<Pending> unused;
    built_ = &built;
    try {
        readSubkeys(current, unused);
    } catch (const Damage& damage) {
        leaveOut(damage, "the key's subkeys are left out");
    }
    built_ = nullptr;
}

std::optional<std::shared_ptr<HiveKey>> HiveReader::findStoredSubkey(HiveKey& key,
                                                                     std::u16string_view name) {
    if (!listsSorted_)
        return std::nullopt;
    try {
        const uint64_t nkAt = kBaseBlockSize + uint64_t(key.cell());
        const uint8_t* d = data_ + nkAt + 4; // checked when the key was read
        const uint32_t expected = Read32(d + nk::kSubkeyCount);
        if (expected == 0)
            return std::shared_ptr<HiveKey>();
        struct Leaf {
            const uint8_t* entries;
            uint32_t count;
            uint32_t stride;
        };
        std::vector<Leaf> leaves;
        uint64_t total = 0;
        for (const auto& [leaf, leafSize] : subkeyLeaves(d, &key)) {
            const auto [count, stride] = leafEntries(leaf, leafSize);
            leaves.push_back({leaf + kListEntries, count, stride});
            total += count;
        }
        if (total != expected)
            return std::nullopt;
        const auto entryAt = [&](uint64_t index) {
            for (const Leaf& leaf : leaves) {
                if (index < leaf.count)
                    return kBaseBlockSize + uint64_t(Read32(leaf.entries + index * leaf.stride));
                index -= leaf.count;
            }
            return uint64_t(0); // not reached: index < total
        };
        // The list is in ascending order (checked at the mount): a binary search on the
        // stored names finds the key without reading its siblings.
        uint64_t low = 0, high = total;
        while (low < high) {
            const uint64_t middle = low + (high - low) / 2;
            const uint64_t at = entryAt(middle);
            uint32_t childSize = 0;
            const uint8_t* child = cellData(at, nk::kName, childSize, "subkey cell", &key);
            if (!HasSignature(child, "nk") ||
                nk::kName + uint64_t(Read16(child + nk::kNameLength)) > childSize)
                fail("not a key");
            const int order = CompareStored(KeyNameOf(child), name);
            if (order == 0)
                return readLazyKey(at, &key, "subkey cell", key.cell());
            if (order < 0)
                low = middle + 1;
            else
                high = middle;
        }
        return std::shared_ptr<HiveKey>();
    } catch (const Damage&) {
        return std::nullopt; // reading the whole list says what is wrong
    }
}

int64_t HiveReader::storedSubkeyCount(const HiveKey& key) {
    try {
        const uint8_t* d = data_ + kBaseBlockSize + uint64_t(key.cell()) + 4; // checked
        const uint32_t expected = Read32(d + nk::kSubkeyCount);
        if (expected == 0)
            return 0;
        uint64_t total = 0;
        for (const auto& [leaf, size] : subkeyLeaves(d, const_cast<HiveKey*>(&key)))
            total += leafEntries(leaf, size).first;
        if (total == expected)
            return expected;
    } catch (const Damage&) {
    }
    return -1; // reading the whole list says what is wrong
}

int HiveReader::storedSubkeyCell(const HiveKey& key, uint64_t index, uint32_t& cell) {
    try {
        const uint8_t* d = data_ + kBaseBlockSize + uint64_t(key.cell()) + 4; // checked
        const uint32_t expected = Read32(d + nk::kSubkeyCount);
        if (index >= expected)
            return storedSubkeyCount(key) < 0 ? -1 : 0;
        for (const auto& [leaf, size] : subkeyLeaves(d, const_cast<HiveKey*>(&key))) {
            const auto [count, stride] = leafEntries(leaf, size);
            if (index < count) {
                cell = Read32(leaf + kListEntries + index * stride);
                return 1;
            }
            index -= count;
        }
    } catch (const Damage&) {
    }
    return -1;
}

namespace {
// The key cell at `cell` with its name within bounds, or null.
const uint8_t* checkedKeyCell(const uint8_t* data, uint64_t size, uint32_t cell) {
    const uint64_t at = kBaseBlockSize + uint64_t(cell);
    if (at + 4 + nk::kName > size)
        return nullptr;
    const int32_t cellSize = int32_t(Read32(data + at));
    if (cellSize >= 0 || uint64_t(-int64_t(cellSize)) > size - at)
        return nullptr;
    const uint8_t* d = data + at + 4;
    const uint64_t room = uint64_t(-int64_t(cellSize)) - 4;
    if (room < nk::kName || !HasSignature(d, "nk") ||
        nk::kName + uint64_t(Read16(d + nk::kNameLength)) > room)
        return nullptr;
    return d;
}
} // namespace

bool HiveReader::storedKeyName(uint32_t cell, std::u16string& name, uint64_t* lastWrite) {
    const uint8_t* d = checkedKeyCell(data_, size_, cell);
    if (!d)
        return false;
    const StoredName stored = KeyNameOf(d);
    name.resize(stored.size());
    for (size_t i = 0; i < stored.size(); ++i)
        name[i] = stored.at(i);
    if (lastWrite)
        *lastWrite = Read64(d + nk::kLastWrite);
    return true;
}

bool HiveReader::storedKeyNamed(uint32_t cell, std::u16string_view name) {
    const uint8_t* d = checkedKeyCell(data_, size_, cell);
    return d && KeyNameOf(d).size() == name.size() && CompareStored(KeyNameOf(d), name) == 0;
}

std::shared_ptr<HiveKey> HiveReader::readStoredSubkey(HiveKey& key, uint32_t cell) {
    try {
        return readLazyKey(kBaseBlockSize + uint64_t(cell), &key, "subkey cell", key.cell());
    } catch (const Damage&) {
        return nullptr; // reading the whole list says what is wrong
    }
}

// The keys of a sound hive, read from its bytes when they are first used. The bytes stay
// as long as a key read from them does: a hive file replaced meanwhile keeps its mapping.
class LazyHive final : public HiveSource, public std::enable_shared_from_this<LazyHive> {
public:
    LazyHive(const std::string& name, std::shared_ptr<const FileMapping> mapping, uint64_t size,
             bool salvage)
        : mapping_(std::move(mapping)), size_(size), salvage_(salvage),
          reader_(name, mapping_->get(), size, false) {}
    LazyHive(const std::string& name, Bytes bytes, bool salvage)
        : bytes_(std::move(bytes)), size_(bytes_.size()), salvage_(salvage),
          reader_(name, bytes_.data(), bytes_.size(), false) {}
    ~LazyHive() override {
        if (arena_->release())
            delete arena_;
    }
    LazyHive(const LazyHive&) = delete;
    LazyHive& operator=(const LazyHive&) = delete;

    // Checks the whole file and reads its root; false (and `out` as it was) when the file
    // is not sound through and through, and must be read whole.
    bool open(LoadedHive& out) {
        LoadedHive checked;
        checked.logFiles = std::move(out.logFiles);
        checked.recovery = std::move(out.recovery);
        // The kernel maps a whole folio of the page cache (up to megabytes) where one of
        // its bytes is read: checking a very large file lets go of what it read now and
        // then, and keeps only the pages used from then on. Letting go costs a fault for
        // every page read again, many times the check itself, so a file of the sizes
        // Windows' own hives reach stays mapped whole, as libhivex maps it.
        constexpr uint64_t kSmallFile = 256 << 20;
        const auto release = [this] {
            if (mapping_ && size_ > kSmallFile)
                mapping_->release();
        };
        const bool sound = reader_.checkAll(checked, release);
        release();
        out.logFiles = std::move(checked.logFiles);
        out.recovery = std::move(checked.recovery);
        if (!sound)
            return false;
        std::weak_ptr<LazyHive> self = weak_from_this();
        reader_.readLazily(self, arena_, [self](std::string sentence) {
            if (const auto hive = self.lock())
                hive->noteDamage(std::move(sentence));
        });
        out.minorVersion = checked.minorVersion;
        out.fileNameField = std::move(checked.fileNameField);
        out.sequence = checked.sequence;
        out.dirty = checked.dirty;
        out.root = reader_.readRoot();
        return true;
    }

    void readSubkeys(HiveKey& key, std::vector<std::shared_ptr<HiveKey>>& built) override {
        reader_.readStoredSubkeys(key, built);
    }
    void readValues(HiveKey& key, std::vector<HiveValue>& values) override {
        reader_.readStoredValues(key, values);
        countedFor(key, reader_.lastCounted());
    }
    bool checkStoredValues(const HiveKey& key) override {
        const bool sound = reader_.checkStoredValues(key);
        countedFor(key, reader_.lastCounted());
        return sound;
    }
    void forgetData(uint64_t bytes) override { reader_.forgetData(bytes); }
    bool storedValueCount(const HiveKey& key, uint32_t& count) const override {
        return reader_.storedValueCount(key, count);
    }
    StoredRead storedValueAt(const HiveKey& key, uint32_t index,
                             StoredValue& value) const override {
        return reader_.storedValueAt(key, index, value);
    }
    bool copyStoredData(const HiveKey& key, const StoredValue& value, uint8_t* out) const override {
        return reader_.copyStoredData(key, value, out);
    }
    void readClassAndSecurity(HiveKey& key, std::optional<Bytes>& className,
                              std::shared_ptr<const Bytes>& security) override {
        reader_.readStoredClassAndSecurity(key, className, security);
    }
    bool findStoredSubkey(HiveKey& key, std::u16string_view name,
                          std::shared_ptr<HiveKey>& found) override {
        auto result = reader_.findStoredSubkey(key, name);
        if (!result)
            return false;
        found = std::move(*result);
        return true;
    }
    int64_t storedSubkeyCount(const HiveKey& key) override {
        return reader_.storedSubkeyCount(key);
    }
    int storedSubkeyCell(const HiveKey& key, uint64_t index, uint32_t& cell) override {
        return reader_.storedSubkeyCell(key, index, cell);
    }
    bool storedKeyName(uint32_t cell, std::u16string& name, uint64_t* lastWrite) override {
        return reader_.storedKeyName(cell, name, lastWrite);
    }
    bool storedKeyNamed(uint32_t cell, std::u16string_view name) override {
        return reader_.storedKeyNamed(cell, name);
    }
    std::shared_ptr<HiveKey> readStoredSubkey(HiveKey& key, uint32_t cell) override {
        return reader_.readStoredSubkey(key, cell);
    }
    bool salvaging() const override { return salvage_; }

private:
    KeyArena* arena_ = new KeyArena; // shared with the keys made in it
    std::shared_ptr<const FileMapping> mapping_;
    Bytes bytes_;
    uint64_t size_;
    bool salvage_;
    HiveReader reader_;
};

// Why libhivex refuses to open the file at `path`, empty when it opens it.
std::string LibhivexRefusal(const std::string& path) {
    errno = 0;
    hive_h* hive = hivex_open(path.c_str(), 0);
    if (!hive)
        return std::strerror(errno ? errno : EINVAL);
    hivex_close(hive);
    return {};
}

// The same for bytes in memory, through a memory file of their own.
std::string LibhivexRefusalOfBytes(const uint8_t* data, uint64_t size) {
    FileDescriptor fd(::memfd_create("hive", MFD_CLOEXEC));
    if (fd.get() < 0)
        return std::string("cannot hand the hive to it: ") + std::strerror(errno);
    for (uint64_t done = 0; done < size;) {
        const ssize_t wrote = ::write(fd.get(), data + done, size_t(size - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return std::string("cannot hand the hive to it: ") + std::strerror(errno);
        done += uint64_t(wrote);
    }
    return LibhivexRefusal("/proc/self/fd/" + std::to_string(fd.get()));
}

Bytes ReadLogFile(const std::string& path, std::vector<std::string>& notes) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        notes.push_back(path + ": cannot be read: " + std::strerror(errno ? errno : EINVAL));
        return {};
    }
    Bytes bytes(size_t(info.st_size));
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            notes.push_back(path + ": cannot be read: " +
                            (got < 0 ? std::strerror(errno) : "it is shorter than its size"));
            return {};
        }
        done += size_t(got);
    }
    return bytes;
}

// Reads a hive's bytes: recovers them from the logs first when they need it. The bytes
// stay the caller's; `vetOriginal` is how libhivex gets to see them unchanged.
// `mapping`: the mapping `data` lies in, when keys are to be read on first use (a null
// mapping with `lazy` means bytes the caller keeps only for the call).
LoadedHive Load(const std::string& name, const uint8_t* data, uint64_t size,
                const std::function<std::vector<HiveLogFile>(std::vector<std::string>&)>& logs,
                const std::function<std::string()>& vetOriginal, const HiveLoadOptions& options,
                bool lazy = false, const std::shared_ptr<const FileMapping>& mapping = {}) {
    LoadedHive out;
    const uint8_t* image = data;
    uint64_t imageSize = size;
    if (options.applyLogs && HiveNeedsRecovery(data, size_t(size))) {
        std::vector<std::string> readNotes;
        const std::vector<HiveLogFile> files = logs(readNotes);
        for (const HiveLogFile& file : files)
            out.logFiles.push_back(file.name);
        out.recovery = RecoverFromLogs(Bytes(data, data + size), files);
        out.recovery.notes.insert(out.recovery.notes.begin(), readNotes.begin(), readNotes.end());
        if (out.recovery.applied) {
            image = out.recovery.hive.data();
            imageSize = out.recovery.hive.size();
        }
    }
    if (lazy) {
        std::shared_ptr<LazyHive> source;
        if (image == data && mapping)
            source = std::make_shared<LazyHive>(name, mapping, size, options.salvage);
        else
            source =
                std::make_shared<LazyHive>(name, Bytes(image, image + imageSize), options.salvage);
        if (source->open(out))
            return out;
    }
    // A file that is not sound is read whole: that says what is wrong with it, and a
    // salvaging read keeps what can be read.
    const auto vet = [&]() {
        return image == data ? vetOriginal() : LibhivexRefusalOfBytes(image, imageSize);
    };
    HiveReader(name, image, imageSize, options.salvage).read(out, vet);
    return out;
}

} // namespace

namespace {

LoadedHive LoadFile(const std::string& hostPath, const HiveLoadOptions& options, bool lazy) {
    const auto fatal = [&](const std::string& reason) {
        throw HiveFileError(hostPath + ": " + reason);
    };
    // O_NONBLOCK: a pipe in a hive's place must fail the check below, not wait for a writer.
    FileDescriptor fd(::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fatal("the file does not exist");
        fatal(std::string("the file cannot be opened: ") + std::strerror(error));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fatal(std::string("the file cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        fatal("not a regular file");
    const uint64_t size = uint64_t(info.st_size);
    if (size == 0)
        fatal("the file is empty");
    auto bytes = std::make_shared<FileMapping>();
    if (const int error = bytes->map(fd.get(), size); error != 0)
        fatal(std::string("the file cannot be read: ") + std::strerror(error));

    const auto logs = [&](std::vector<std::string>& notes) {
        std::vector<HiveLogFile> files;
        for (const std::string& path : FindLogFiles(hostPath))
            files.push_back({path, ReadLogFile(path, notes)});
        return files;
    };
    // Through our descriptor libhivex reads the very file we read, even if the path is
    // replaced meanwhile.
    const auto vet = [&]() {
        const std::string procPath = "/proc/self/fd/" + std::to_string(fd.get());
        return LibhivexRefusal(::access(procPath.c_str(), R_OK) == 0 ? procPath : hostPath);
    };
    return Load(hostPath, bytes->get(), size, logs, vet, options, lazy, bytes);
}

} // namespace

LoadedHive LoadHiveFile(const std::string& hostPath, const HiveLoadOptions& options) {
    return LoadFile(hostPath, options, false);
}

LoadedHive MountHiveFile(const std::string& hostPath, const HiveLoadOptions& options) {
    return LoadFile(hostPath, options, true);
}

LoadedHive MountHiveImage(const Bytes& image, const std::string& name,
                          const std::vector<HiveLogFile>& logs, const HiveLoadOptions& options) {
    if (image.empty())
        throw HiveFileError(name + ": the file is empty");
    return Load(
        name, image.data(), image.size(), [&](std::vector<std::string>&) { return logs; },
        [&]() { return LibhivexRefusalOfBytes(image.data(), image.size()); }, options, true);
}

LoadedHive LoadHiveImage(const Bytes& image, const std::string& name,
                         const std::vector<HiveLogFile>& logs, const HiveLoadOptions& options) {
    if (image.empty())
        throw HiveFileError(name + ": the file is empty");
    return Load(
        name, image.data(), image.size(), [&](std::vector<std::string>&) { return logs; },
        [&]() { return LibhivexRefusalOfBytes(image.data(), image.size()); }, options);
}

} // namespace hive
