// WriteHive: a dense hive file for a tree. Every cell's size is known before any
// byte is written, so the cells are placed first (first fit into the last few open
// bins) and then written straight to their offsets.

#include "hive/HiveFile.h"
#include "hive/HiveFormat.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace hive {

namespace {

using namespace regf;

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr size_t kOpenBins = 8;
// Windows marks volatile cells with bit 31, so stable offsets stay below 2 GB.
constexpr uint64_t kMaxBinsSize = 0x80000000ull - kPageSize;
constexpr uint32_t kMaxCellSize = 0x7FFFFFF8;
constexpr uint32_t kRootFlags = HiveKey::kFlagHiveEntry | HiveKey::kFlagNoDelete;

[[noreturn]] void TooLarge(const std::string& what) {
    throw std::runtime_error("cannot write the hive: " + what);
}

uint32_t CellSize(uint64_t payload) {
    const uint64_t size = (4 + payload + kCellAlignment - 1) / kCellAlignment * kCellAlignment;
    if (size > kMaxCellSize)
        TooLarge("a cell would exceed 2 GB");
    return uint32_t(size);
}

bool FitsLatin1(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF; });
}

// Whether a name is stored one byte a character (the record's "compressed" flag).
bool StoredCompressed(std::u16string_view name, const StoredNameForm& form) {
    return !form.wide && !form.oddByte && FitsLatin1(name);
}

// Bytes a name takes in a record, checked against the 16-bit length field.
uint32_t StoredNameBytes(std::u16string_view name, const StoredNameForm& form, const char* what) {
    const uint64_t bytes = StoredCompressed(name, form)
                               ? name.size()
                               : 2 * uint64_t(name.size()) + (form.oddByte ? 1 : 0);
    if (bytes > 0xFFFF)
        TooLarge(std::string(what) + " is longer than a hive record holds");
    return uint32_t(bytes);
}

void WriteName(uint8_t* to, std::u16string_view name, const StoredNameForm& form) {
    if (StoredCompressed(name, form)) {
        for (size_t i = 0; i < name.size(); ++i)
            to[i] = uint8_t(name[i]);
        return;
    }
    for (size_t i = 0; i < name.size(); ++i)
        Write16(to + 2 * i, name[i]);
    if (form.oddByte)
        to[2 * name.size()] = *form.oddByte;
}

uint32_t NameHash(std::u16string_view name) {
    uint32_t hash = 0;
    for (const char16_t c : name)
        hash = hash * 37 + UpcaseChar(c);
    return hash;
}

// lf lists keep the first four characters; one that needs two bytes leaves a zero.
uint32_t NameHint(std::u16string_view name) {
    uint32_t hint = 0;
    for (size_t i = 0; i < 4 && i < name.size(); ++i)
        if (name[i] <= 0xFF)
            hint |= uint32_t(name[i]) << (8 * i);
    return hint;
}

uint32_t SegmentCount(size_t dataSize) {
    return uint32_t((dataSize + kBigDataSegment - 1) / kBigDataSegment);
}

// libhivex reads a segment as its cell less 8 bytes, so a segment that fills its cell
// exactly loses its last 4 bytes there; Windows leaves the same slack (its segments are
// all full 16352-byte cells).
uint32_t SegmentCellSize(size_t dataSize, uint32_t segment) {
    const size_t length =
        std::min<size_t>(kBigDataSegment, dataSize - segment * size_t(kBigDataSegment));
    return CellSize(length + 4);
}

// Places cells into 4096-byte bins, first fit among the most recently opened ones.
class CellPlacer {
public:
    struct Bin {
        uint32_t start;
        uint32_t size;
        uint32_t used; // header included
    };

    uint32_t place(uint32_t size) {
        for (size_t i = 0; i < open_.size(); ++i) {
            Bin& bin = bins_[open_[i]];
            if (bin.size - bin.used < size)
                continue;
            const uint32_t at = bin.start + bin.used;
            bin.used += size;
            if (bin.used == bin.size)
                open_.erase(open_.begin() + long(i));
            return at;
        }
        const uint64_t binSize =
            (uint64_t(kBinHeaderSize) + size + kPageSize - 1) / kPageSize * kPageSize;
        if (total_ + binSize > kMaxBinsSize)
            TooLarge("the tree needs more than 2 GB of hive bins");
        bins_.push_back({uint32_t(total_), uint32_t(binSize), kBinHeaderSize + size});
        total_ += binSize;
        if (bins_.back().used < binSize) {
            open_.push_back(bins_.size() - 1);
            if (open_.size() > kOpenBins)
                open_.erase(open_.begin());
        }
        return bins_.back().start + kBinHeaderSize;
    }
    const std::vector<Bin>& bins() const { return bins_; }
    uint32_t total() const { return uint32_t(total_); }

private:
    std::vector<Bin> bins_;
    std::vector<size_t> open_; // oldest first
    uint64_t total_ = 0;
};

class HiveWriter {
public:
    HiveWriter(const HiveKey& root, const HiveWriteOptions& options)
        : root_(root), options_(options), rootName_(options.rootName.value_or(root.name)),
          lhLists_(options.minorVersion >= 5),
          timestamp_(options.timestamp ? options.timestamp : FileTimeNow()) {}

    Bytes write() {
        plan();
        refuseDamage();
        Bytes out(kBaseBlockSize + uint64_t(placer_.total()), 0);
        emitBaseBlock(out);
        emitBins(out);
        for (uint32_t i = 0; i < keys_.size(); ++i)
            emitKey(out, i);
        emitSecurity(out);
        return out;
    }

private:
    // A tree read from a file that proved damaged after it was mounted lacks what could
    // not be read; written back, that part would be lost for good. Only a tree being
    // salvaged is written without it.
    void refuseDamage() const {
        const HiveSource* checked = nullptr;
        for (const KeyPlan& plan : keys_) {
            const HiveSource* source = plan.key->source();
            if (!source || source == checked)
                continue;
            checked = source;
            if (source->salvaging() || source->damageCount() == 0)
                continue;
            const size_t count = source->damageCount();
            throw std::runtime_error(
                "cannot write the hive: it proved damaged after it was mounted (" +
                source->damage().front() +
                (count > 1 ? "; " + std::to_string(count - 1) + " more" : "") +
                "), and writing it would lose what cannot be read; a mount that repairs "
                "damaged hives writes what can be read");
        }
    }

    struct KeyPlan {
        const HiveKey* key;
        uint32_t parent;     // plan index; kNone for the root
        uint32_t firstChild; // into children_
        uint32_t childCount;
        uint32_t firstValue; // into values_
        uint32_t security;   // into securities_
        uint32_t firstLeaf;  // into leaves_, when the subkey list is an ri
        uint32_t nk, classCell, valueList, subkeyList;
    };
    struct ValuePlan {
        uint32_t vk;
        uint32_t data; // data cell or db cell; kNone when the data is inline
        uint32_t segmentList;
        uint32_t firstSegment; // into segments_
    };
    struct SecurityPlan {
        const Bytes* descriptor;
        uint32_t cell;
        uint32_t references;
    };
    struct Pending {
        const HiveKey* key;
        uint32_t parent;
        uint32_t slot; // into children_
    };

    static bool Written(const HiveKey& key) { return !key.isVolatile && !key.deleted; }
    // An empty class name gets no cell, as Windows does; readers refuse a zero-length one.
    static bool HasClass(const HiveKey& key) {
        return key.className() && !key.className()->empty();
    }
    const std::u16string& nameOf(uint32_t index) const {
        return index == 0 ? rootName_ : keys_[index].key->name;
    }
    // A root stored under another name is written the usual way.
    const StoredNameForm& nameFormOf(uint32_t index, const HiveKey& key) const {
        static const StoredNameForm usual;
        return index == 0 && rootName_ != key.name ? usual : key.nameForm;
    }
    bool bigData(size_t size) const { return lhLists_ && size > kBigDataSegment; }
    static uint32_t LeafCount(uint32_t subkeys) {
        return subkeys <= kMaxLeafEntries ? 1 : (subkeys + kMaxLeafEntries - 1) / kMaxLeafEntries;
    }
    // Leaves split the subkeys evenly, so each stays well inside a page.
    static uint32_t LeafStart(uint32_t subkeys, uint32_t leaves, uint32_t leaf) {
        return uint32_t(uint64_t(subkeys) * leaf / leaves);
    }
    static uint32_t LeafCellSize(uint32_t entries) { return CellSize(4 + 8 * uint64_t(entries)); }

    uint32_t intern(const Bytes& descriptor);
    void plan();
    void planKey(const Pending& pending);
    void planValue(const HiveValue& value);
    void planSubkeyList(KeyPlan& plan);

    void emitBaseBlock(Bytes& out) const;
    void emitBins(Bytes& out) const;
    void emitKey(Bytes& out, uint32_t index) const;
    void emitValue(Bytes& out, const HiveValue& value, const ValuePlan& plan) const;
    void emitSubkeyList(Bytes& out, const KeyPlan& plan) const;
    void emitLeaf(Bytes& out, uint32_t cell, const uint32_t* children, uint32_t count) const;
    void emitSecurity(Bytes& out) const;
    static uint8_t* Cell(Bytes& out, uint32_t offset, uint32_t size) {
        uint8_t* p = out.data() + kBaseBlockSize + offset;
        Write32(p, uint32_t(-int32_t(size)));
        return p + 4;
    }

    const HiveKey& root_;
    const HiveWriteOptions& options_;
    const std::u16string rootName_;
    const bool lhLists_;
    const uint64_t timestamp_;
    CellPlacer placer_;
    std::vector<KeyPlan> keys_;
    std::vector<uint32_t> children_;
    std::vector<ValuePlan> values_;
    std::vector<uint32_t> segments_;
    std::vector<uint32_t> leaves_;
    std::vector<SecurityPlan> securities_;
    std::unordered_map<const Bytes*, uint32_t> securityByAddress_;
    std::unordered_map<std::string_view, uint32_t> securityByContent_;
};

uint32_t HiveWriter::intern(const Bytes& descriptor) {
    if (const auto it = securityByAddress_.find(&descriptor); it != securityByAddress_.end())
        return it->second;
    const std::string_view content(reinterpret_cast<const char*>(descriptor.data()),
                                   descriptor.size());
    uint32_t index;
    if (const auto it = securityByContent_.find(content); it != securityByContent_.end()) {
        index = it->second;
    } else {
        index = uint32_t(securities_.size());
        const uint32_t cell =
            placer_.place(CellSize(sk::kDescriptor + uint64_t(descriptor.size())));
        securities_.push_back({&descriptor, cell, 0});
        securityByContent_.emplace(content, index);
    }
    securityByAddress_.emplace(&descriptor, index);
    return index;
}

void HiveWriter::plan() {
    std::vector<Pending> pending{{&root_, kNone, kNone}};
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        planKey(current);
        const KeyPlan& plan = keys_.back();
        // Reverse order on the stack keeps the cells in the tree's order.
        uint32_t slot = plan.firstChild + plan.childCount;
        const auto& subkeys = current.key->stableSubkeys();
        for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it)
            if (Written(**it))
                pending.push_back({it->get(), uint32_t(keys_.size() - 1), --slot});
    }
}

void HiveWriter::planKey(const Pending& pending) {
    const HiveKey& key = *pending.key;
    const uint32_t index = uint32_t(keys_.size());
    if (index == kNone)
        TooLarge("too many keys");
    if (pending.parent != kNone)
        children_[pending.slot] = index;

    KeyPlan plan{};
    plan.key = &key;
    plan.parent = pending.parent;
    plan.nk =
        placer_.place(CellSize(nk::kName + StoredNameBytes(index == 0 ? rootName_ : key.name,
                                                           nameFormOf(index, key), "a key name")));

    if (key.security())
        plan.security = intern(*key.security());
    else if (pending.parent == kNone)
        plan.security = intern(*DefaultKeySecurity());
    else
        plan.security = keys_[pending.parent].security;
    ++securities_[plan.security].references;

    plan.classCell = kNone;
    if (HasClass(key)) {
        if (key.className()->size() > 0xFFFF)
            TooLarge("a class name is longer than a hive record holds");
        plan.classCell = placer_.place(CellSize(key.className()->size()));
    }

    plan.firstValue = uint32_t(values_.size());
    plan.valueList = kNone;
    if (!key.values().empty()) {
        plan.valueList = placer_.place(CellSize(4 * uint64_t(key.values().size())));
        for (const HiveValue& value : key.values())
            planValue(value);
    }

    plan.childCount = uint32_t(std::count_if(key.stableSubkeys().begin(), key.stableSubkeys().end(),
                                             [](const auto& k) { return Written(*k); }));
    plan.firstChild = uint32_t(children_.size());
    children_.resize(children_.size() + plan.childCount, kNone);
    planSubkeyList(plan);
    keys_.push_back(plan);
}

void HiveWriter::planValue(const HiveValue& value) {
    ValuePlan plan{};
    plan.vk = placer_.place(
        CellSize(vk::kName + StoredNameBytes(value.name, value.nameForm, "a value name")));
    plan.data = plan.segmentList = kNone;
    const size_t size = value.data.size();
    if (size >= kInlineDataFlag)
        TooLarge("a value's data is 2 GB or more");
    if (bigData(size)) {
        const uint32_t count = SegmentCount(size);
        if (count > 0xFFFF)
            TooLarge("a value's data needs more than 65535 segments");
        plan.data = placer_.place(CellSize(kBigDataSegmentList + 4));
        plan.segmentList = placer_.place(CellSize(4 * uint64_t(count)));
        plan.firstSegment = uint32_t(segments_.size());
        for (uint32_t i = 0; i < count; ++i)
            segments_.push_back(placer_.place(SegmentCellSize(size, i)));
    } else if (size > 4) {
        plan.data = placer_.place(CellSize(size));
    }
    values_.push_back(plan);
}

void HiveWriter::planSubkeyList(KeyPlan& plan) {
    plan.subkeyList = kNone;
    if (plan.childCount == 0)
        return;
    const uint32_t leaves = LeafCount(plan.childCount);
    if (leaves == 1) {
        plan.subkeyList = placer_.place(LeafCellSize(plan.childCount));
        return;
    }
    if (leaves > 0xFFFF)
        TooLarge("a key has too many subkeys");
    plan.firstLeaf = uint32_t(leaves_.size());
    for (uint32_t i = 0; i < leaves; ++i) {
        const uint32_t entries =
            LeafStart(plan.childCount, leaves, i + 1) - LeafStart(plan.childCount, leaves, i);
        leaves_.push_back(placer_.place(LeafCellSize(entries)));
    }
    plan.subkeyList = placer_.place(CellSize(4 + 4 * uint64_t(leaves)));
}

void HiveWriter::emitBaseBlock(Bytes& out) const {
    uint8_t* b = out.data();
    std::copy_n("regf", 4, b);
    Write32(b + base::kPrimarySequence, options_.sequence);
    Write32(b + base::kSecondarySequence, options_.sequence);
    Write64(b + base::kTimestamp, timestamp_);
    Write32(b + base::kMajorVersion, 1);
    Write32(b + base::kMinorVersion, options_.minorVersion);
    Write32(b + base::kFileType, 0);
    Write32(b + base::kFileFormat, 1);
    Write32(b + base::kRootOffset, keys_[0].nk);
    Write32(b + base::kBinsSize, placer_.total());
    Write32(b + base::kClustering, 1);
    // The field keeps the end of a long name, as Windows does.
    std::u16string_view name = options_.fileNameField;
    if (name.size() > base::kFileNameBytes / 2)
        name.remove_prefix(name.size() - base::kFileNameBytes / 2);
    for (size_t i = 0; i < name.size(); ++i)
        Write16(b + base::kFileName + 2 * i, name[i]);
    Write32(b + base::kChecksum, BaseBlockChecksum(b));
}

void HiveWriter::emitBins(Bytes& out) const {
    bool first = true;
    for (const auto& bin : placer_.bins()) {
        uint8_t* p = out.data() + kBaseBlockSize + bin.start;
        std::copy_n("hbin", 4, p);
        Write32(p + bin::kOffset, bin.start);
        Write32(p + bin::kSize, bin.size);
        if (first)
            Write64(p + bin::kTimestamp, timestamp_);
        first = false;
        if (bin.used < bin.size)
            Write32(p + bin.used, bin.size - bin.used); // the tail is one free cell
    }
}

void HiveWriter::emitKey(Bytes& out, uint32_t index) const {
    const KeyPlan& plan = keys_[index];
    const HiveKey& key = *plan.key;
    const std::u16string& name = nameOf(index);

    uint32_t maxSubkeyName = 0, maxSubkeyClass = 0, maxValueName = 0, maxValueData = 0;
    for (uint32_t i = 0; i < plan.childCount; ++i) {
        const HiveKey& child = *keys_[children_[plan.firstChild + i]].key;
        maxSubkeyName = std::max(maxSubkeyName, uint32_t(2 * child.name.size()));
        if (HasClass(child))
            maxSubkeyClass = std::max(maxSubkeyClass, uint32_t(child.className()->size()));
    }
    for (const HiveValue& value : key.values()) {
        maxValueName = std::max(maxValueName, uint32_t(2 * value.name.size()));
        maxValueData = std::max(maxValueData, uint32_t(value.data.size()));
    }

    uint16_t flags = key.flags;
    if (index == 0)
        flags |= kRootFlags;
    else
        flags &= uint16_t(~HiveKey::kFlagHiveEntry);
    const StoredNameForm& form = nameFormOf(index, key);
    if (StoredCompressed(name, form))
        flags |= HiveKey::kFlagCompressedName;
    else
        flags &= uint16_t(~HiveKey::kFlagCompressedName);

    const uint32_t nameBytes = StoredNameBytes(name, form, "a key name");
    uint8_t* d = Cell(out, plan.nk, CellSize(nk::kName + nameBytes));
    d[0] = 'n';
    d[1] = 'k';
    Write16(d + nk::kFlags, flags);
    Write64(d + nk::kLastWrite, key.lastWriteTime);
    Write32(d + nk::kParent, plan.parent == kNone ? kNoOffset : keys_[plan.parent].nk);
    Write32(d + nk::kSubkeyCount, plan.childCount);
    Write32(d + nk::kVolatileSubkeyCount, 0);
    Write32(d + nk::kSubkeyList, plan.subkeyList);
    Write32(d + nk::kVolatileSubkeyList, kNoOffset);
    Write32(d + nk::kValueCount, uint32_t(key.values().size()));
    Write32(d + nk::kValueList, plan.valueList);
    Write32(d + nk::kSecurity, securities_[plan.security].cell);
    Write32(d + nk::kClass, plan.classCell);
    Write32(d + nk::kMaxSubkeyNameBytes, maxSubkeyName);
    Write32(d + nk::kMaxSubkeyClassBytes, maxSubkeyClass);
    Write32(d + nk::kMaxValueNameBytes, maxValueName);
    Write32(d + nk::kMaxValueDataBytes, maxValueData);
    Write16(d + nk::kNameLength, uint16_t(nameBytes));
    Write16(d + nk::kClassLength, uint16_t(HasClass(key) ? key.className()->size() : 0));
    WriteName(d + nk::kName, name, form);

    if (HasClass(key)) {
        uint8_t* c = Cell(out, plan.classCell, CellSize(key.className()->size()));
        std::copy(key.className()->begin(), key.className()->end(), c);
    }
    if (!key.values().empty()) {
        uint8_t* list = Cell(out, plan.valueList, CellSize(4 * uint64_t(key.values().size())));
        for (size_t i = 0; i < key.values().size(); ++i) {
            const ValuePlan& value = values_[plan.firstValue + i];
            Write32(list + 4 * i, value.vk);
            emitValue(out, key.values()[i], value);
        }
    }
    emitSubkeyList(out, plan);
}

void HiveWriter::emitValue(Bytes& out, const HiveValue& value, const ValuePlan& plan) const {
    const uint32_t nameBytes = StoredNameBytes(value.name, value.nameForm, "a value name");
    const size_t size = value.data.size();
    uint8_t* d = Cell(out, plan.vk, CellSize(vk::kName + nameBytes));
    d[0] = 'v';
    d[1] = 'k';
    Write16(d + vk::kNameLength, uint16_t(nameBytes));
    Write32(d + vk::kType, value.type);
    Write16(d + vk::kFlags,
            StoredCompressed(value.name, value.nameForm) ? vk::kFlagCompressedName : 0);
    WriteName(d + vk::kName, value.name, value.nameForm);
    if (size <= 4) {
        Write32(d + vk::kDataSize, uint32_t(size) | kInlineDataFlag);
        std::copy(value.data.begin(), value.data.end(), d + vk::kData);
        return;
    }
    Write32(d + vk::kDataSize, uint32_t(size));
    Write32(d + vk::kData, plan.data);
    if (!bigData(size)) {
        std::copy(value.data.begin(), value.data.end(), Cell(out, plan.data, CellSize(size)));
        return;
    }
    const uint32_t count = SegmentCount(size);
    uint8_t* db = Cell(out, plan.data, CellSize(kBigDataSegmentList + 4));
    db[0] = 'd';
    db[1] = 'b';
    Write16(db + kListCount, uint16_t(count));
    Write32(db + kBigDataSegmentList, plan.segmentList);
    uint8_t* list = Cell(out, plan.segmentList, CellSize(4 * uint64_t(count)));
    for (uint32_t i = 0; i < count; ++i) {
        const size_t from = size_t(i) * kBigDataSegment;
        const size_t length = std::min<size_t>(kBigDataSegment, size - from);
        const uint32_t cell = segments_[plan.firstSegment + i];
        Write32(list + 4 * i, cell);
        std::copy_n(value.data.begin() + long(from), length,
                    Cell(out, cell, SegmentCellSize(size, i)));
    }
}

void HiveWriter::emitLeaf(Bytes& out, uint32_t cell, const uint32_t* children,
                          uint32_t count) const {
    uint8_t* d = Cell(out, cell, LeafCellSize(count));
    d[0] = 'l';
    d[1] = lhLists_ ? 'h' : 'f';
    Write16(d + kListCount, uint16_t(count));
    for (uint32_t i = 0; i < count; ++i) {
        const std::u16string& name = keys_[children[i]].key->name;
        uint8_t* entry = d + kListEntries + 8 * i;
        Write32(entry, keys_[children[i]].nk);
        Write32(entry + 4, lhLists_ ? NameHash(name) : NameHint(name));
    }
}

void HiveWriter::emitSubkeyList(Bytes& out, const KeyPlan& plan) const {
    if (plan.childCount == 0)
        return;
    const uint32_t* children = children_.data() + plan.firstChild;
    const uint32_t leaves = LeafCount(plan.childCount);
    if (leaves == 1) {
        emitLeaf(out, plan.subkeyList, children, plan.childCount);
        return;
    }
    uint8_t* ri = Cell(out, plan.subkeyList, CellSize(4 + 4 * uint64_t(leaves)));
    ri[0] = 'r';
    ri[1] = 'i';
    Write16(ri + kListCount, uint16_t(leaves));
    for (uint32_t i = 0; i < leaves; ++i) {
        const uint32_t from = LeafStart(plan.childCount, leaves, i);
        const uint32_t to = LeafStart(plan.childCount, leaves, i + 1);
        const uint32_t cell = leaves_[plan.firstLeaf + i];
        Write32(ri + kListEntries + 4 * i, cell);
        emitLeaf(out, cell, children + from, to - from);
    }
}

void HiveWriter::emitSecurity(Bytes& out) const {
    const size_t count = securities_.size();
    for (size_t i = 0; i < count; ++i) {
        const SecurityPlan& plan = securities_[i];
        const Bytes& descriptor = *plan.descriptor;
        uint8_t* d = Cell(out, plan.cell, CellSize(sk::kDescriptor + uint64_t(descriptor.size())));
        d[0] = 's';
        d[1] = 'k';
        Write32(d + sk::kNext, securities_[(i + 1) % count].cell);
        Write32(d + sk::kPrevious, securities_[(i + count - 1) % count].cell);
        Write32(d + sk::kReferences, plan.references);
        Write32(d + sk::kDescriptorSize, uint32_t(descriptor.size()));
        std::copy(descriptor.begin(), descriptor.end(), d + sk::kDescriptor);
    }
}

} // namespace

Bytes WriteHive(const HiveKey& root, const HiveWriteOptions& options) {
    return HiveWriter(root, options).write();
}

} // namespace hive
