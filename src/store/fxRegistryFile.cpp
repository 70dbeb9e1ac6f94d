#include "store/fxRegistryFile.h"

#include "store/StoreError.h"

#include <QIODevice>
#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <unordered_set>

using namespace store;

namespace {

constexpr int kCacheCapacity = 64;
// Records are checked on opening by reading this much of the file at a time.
constexpr int64_t kCheckWindow = 64 * 1024;

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool isRecordOffset(int64_t offset, int64_t fileSize) {
    return offset >= kHeaderSize && offset + kRecordSize <= fileSize;
}

} // namespace

// Runs one call as one operation on the file, under the stream's lock. A failed change
// leaves the file as it was, and the object as it was before the call.
template <typename Operation> auto TfxRegFile::operation(bool writes, Operation run) {
    if (depth_ > 0)
        return run();
    const StoreRecord savedCurrent = current_;
    const int32_t savedOffset = currentOffset_;
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    } depth(depth_);
    try {
        if (stream_.begin(writes) || stale_)
            reload();
        if constexpr (std::is_void_v<decltype(run())>) {
            run();
            stream_.commit();
            stream_.end();
        } else {
            auto result = run();
            stream_.commit();
            stream_.end();
            return result;
        }
    } catch (...) {
        stream_.discard();
        if (writes) {
            current_ = savedCurrent;
            currentOffset_ = savedOffset;
            stale_ = true;
        }
        if (stale_ && stream_.locked() && !stream_.needsRecovery()) {
            try {
                reload();
            } catch (...) {
            }
        }
        stream_.end();
        throw;
    }
}

TfxRegFile::TfxRegFile(const std::string& fileName, Access access)
    : stream_(fileName, access == Access::ReadWrite ? StoreStream::Mode::ReadWrite
                                                    : StoreStream::Mode::ReadOnly),
      cache_(kCacheCapacity) {
    stream_.begin(stream_.writable());
    try {
        openStore();
        stream_.commit();
    } catch (...) {
        stream_.end();
        throw;
    }
    stream_.end();
}

void TfxRegFile::openStore() {
    if (stream_.size() < kHeaderSize) {
        requireWritable();
        initialiseNewFile();
        return;
    }
    loadHeader();
    if (header_.createdCount == 0) {
        requireWritable();
        createRoot();
    }
}

void TfxRegFile::initialiseNewFile() {
    header_ = StoreHeader::New();
    writeHeader();
    header_.directoryOffset = allocateBlock();
    writeHeader();
    createRoot();
}

void TfxRegFile::loadHeader() {
    uint8_t bytes[kHeaderSize];
    if (stream_.readAt(0, bytes, kHeaderSize) != kHeaderSize)
        throw StoreError(kInvalidFormatMessage);
    header_ = DecodeHeader(bytes);
    if (!header_.hasValidSignature())
        throw StoreError(kInvalidFormatMessage);
    const int64_t fileSize = stream_.size();
    checkHeader(fileSize);
    loadIndex(fileSize);
    checkIndexRecords(fileSize);
}

// Numbers no writer produces would send later writes into the header or past the
// file, so such a file is refused before anything is written to it.
void TfxRegFile::checkHeader(int64_t fileSize) const {
    const StoreHeader& h = header_;
    const bool countsValid = h.indexCount >= 0 && h.indexCount <= kMaxRecords &&
                             h.createdCount >= 0 && h.lastId >= 0 &&
                             (h.createdCount > 0 || h.indexCount == 0);
    const bool directoryValid = h.directoryOffset == 0
                                    ? h.indexCount == 0
                                    : h.directoryOffset >= kHeaderSize &&
                                          int64_t(h.directoryOffset) + kBlockSize <= fileSize;
    const bool rootValid = h.createdCount == 0 || isRecordOffset(h.rootOffset, fileSize);
    if (!countsValid || !directoryValid || !rootValid)
        throw StoreError(kInvalidFormatMessage);
}

void TfxRegFile::loadIndex(int64_t fileSize) {
    index_.clear();
    index_.reserve(static_cast<size_t>(header_.indexCount));
    const int32_t blocks = (header_.indexCount + kSlotsPerBlock - 1) / kSlotsPerBlock;
    for (int32_t k = 0; k < blocks; ++k) {
        uint8_t slot[4];
        if (stream_.readAt(int64_t(header_.directoryOffset) + 4 * k, slot, 4) != 4)
            throw StoreError(kFileReadErrorMessage);
        const int32_t block = GetInt32(slot);
        // A missing block would silently drop its entries and shift every later one.
        if (block < kHeaderSize || block + int64_t(kBlockSize) > fileSize)
            throw StoreError(kIndexCorruptMessage);
        const int32_t remaining = header_.indexCount - k * kSlotsPerBlock;
        const int32_t entries = std::min(remaining, kSlotsPerBlock);
        std::vector<uint8_t> bytes(size_t(entries) * 4);
        if (stream_.readAt(block, bytes.data(), int64_t(bytes.size())) != int64_t(bytes.size()))
            throw StoreError(kFileReadErrorMessage);
        for (int32_t j = 0; j < entries; ++j) {
            const int32_t offset = GetInt32(&bytes[size_t(j) * 4]);
            if (!isRecordOffset(offset, fileSize))
                throw StoreError(kIndexCorruptMessage);
            index_.push_back(offset);
        }
    }
}

// Every lookup relies on the index being sorted and naming live records, and every new
// record on LastId being above all ids. An index that says otherwise (left by a writer
// that stopped halfway, or damaged) is refused rather than trusted or repaired.
void TfxRegFile::checkIndexRecords(int64_t fileSize) {
    std::vector<uint8_t> window;
    int64_t windowStart = 0;
    StoreRecord previous;
    for (size_t i = 0; i < index_.size(); ++i) {
        const int32_t offset = index_[i];
        if (window.empty() || offset < windowStart ||
            offset + kRecordSize > windowStart + int64_t(window.size())) {
            windowStart = offset;
            window.resize(size_t(std::min(kCheckWindow, fileSize - offset)));
            if (stream_.readAt(offset, window.data(), int64_t(window.size())) !=
                int64_t(window.size()))
                throw StoreError(kFileReadErrorMessage);
        }
        const StoreRecord record = DecodeRecord(&window[size_t(offset - windowStart)]);
        if (record.free != 0 || record.id < 1 || record.id > header_.lastId)
            throw StoreError(kIndexCorruptMessage);
        if (i > 0 &&
            CompareToRecord(previous.parentId, previous.kind, previous.nameView(), record) >= 0)
            throw StoreError(kIndexCorruptMessage);
        previous = record;
    }
}

void TfxRegFile::createRoot() {
    // A header without a directory (written by a run that stopped early) gets one first.
    if (header_.directoryOffset == 0) {
        header_.directoryOffset = allocateBlock();
        writeHeader();
    }
    StoreRecord root;
    root.setName(kRootName);
    root.id = 1;
    root.kind = kKindKey;
    root.dataType = kTypeKey;
    root.noData = 1;
    const auto [offset, written] = writeRecord(root, {});
    header_.rootOffset = offset;
    writeHeader();
    current_ = written;
    currentOffset_ = offset;
}

void TfxRegFile::reload() {
    stale_ = true;
    cache_.Clear();
    loadHeader();
    if (header_.createdCount == 0)
        throw StoreError(kInvalidFormatMessage);
    // The current key may have been removed, or removed and made anew, by another object.
    if (current_.id != 0) {
        const Lookup key = find(current_.parentId, kKindKey, current_.nameView());
        if (key.found && key.record.id == current_.id) {
            current_ = key.record;
            currentOffset_ = key.offset;
        } else {
            current_ = StoreRecord{};
            currentOffset_ = 0;
        }
    }
    stale_ = false;
}

// ---- records ----

StoreRecord TfxRegFile::readRecord(int32_t offset) {
    const int position = cache_.Find(offset);
    if (position >= 0)
        return cache_.Get(position);
    StoreRecord record = readRecordDirect(offset, kFileReadErrorMessage);
    cache_.Add(offset, record);
    return record;
}

StoreRecord TfxRegFile::readRecordDirect(int32_t offset, const char* shortReadMessage) const {
    RecordBytes bytes;
    if (offset < kHeaderSize || stream_.readAt(offset, bytes.data(), kRecordSize) != kRecordSize)
        throw StoreError(shortReadMessage);
    return DecodeRecord(bytes.data());
}

std::string TfxRegFile::readValueData(int32_t offset) {
    const StoreRecord record = readRecordDirect(offset, kFileReadErrorMessage);
    if (!HasOutOfRecordData(record.dataType) || record.dataOffset <= 0)
        return {};
    const int64_t start = int64_t(offset) + kRecordSize;
    if (record.dataSize < 0 || start + record.dataSize > stream_.size())
        throw StoreError(kFileReadErrorMessage);
    std::string data(size_t(record.dataSize), '\0');
    if (stream_.readAt(start, data.data(), record.dataSize) != record.dataSize)
        throw StoreError(kFileReadErrorMessage);
    return data;
}

void TfxRegFile::writeRecordAt(int32_t offset, const StoreRecord& record,
                               const char* shortWriteMessage) {
    const RecordBytes bytes = EncodeRecord(record);
    if (stream_.writeAt(offset, bytes.data(), kRecordSize) != kRecordSize)
        throw StoreError(shortWriteMessage);
    const int position = cache_.Find(offset);
    if (position >= 0)
        cache_.Update(position, offset, record);
}

void TfxRegFile::writeHeader() {
    const HeaderBytes bytes = EncodeHeader(header_);
    if (stream_.writeAt(0, bytes.data(), kHeaderSize) != kHeaderSize)
        throw StoreError(kFileWriteErrorMessage);
}

// ---- lookups ----

TfxRegFile::Lookup TfxRegFile::find(int32_t parentId, uint8_t kind, std::string_view name) {
    Lookup result;
    int32_t lo = 0;
    int32_t hi = static_cast<int32_t>(index_.size()) - 1;
    while (lo <= hi) {
        const int32_t probe = (lo + hi) / 2;
        const int32_t offset = index_[size_t(probe)];
        const StoreRecord record = readRecord(offset);
        const int order = CompareToRecord(parentId, kind, name, record);
        if (order > 0) {
            lo = probe + 1;
        } else if (order < 0) {
            hi = probe - 1;
        } else {
            result.found = true;
            result.position = probe;
            result.offset = offset;
            result.record = record;
            return result;
        }
    }
    result.position = lo;
    return result;
}

void TfxRegFile::listNames(int32_t parentId, uint8_t kind, std::vector<std::string>& list) {
    list.clear();
    if (parentId == 0)
        return;
    // The empty name sorts first, so this is where the group begins.
    const Lookup first = find(parentId, kind, {});
    for (size_t i = size_t(first.position); i < index_.size(); ++i) {
        const StoreRecord record = readRecord(index_[i]);
        if (record.parentId != parentId || record.kind != kind)
            break;
        list.emplace_back(record.nameView());
    }
}

TfxRegFile::Lookup TfxRegFile::findTypedValue(std::string_view name, uint8_t dataType) {
    if (current_.id == 0)
        return {};
    Lookup value = find(current_.id, kKindValue, name);
    if (value.found && value.record.dataType != dataType)
        throw StoreError(kWrongDataTypeMessage);
    return value;
}

// ---- placing and freeing slots ----

int32_t TfxRegFile::placeSlot(uint8_t dataType, int32_t dataSize, int32_t rewritten) {
    const int64_t fileSize = stream_.size();
    if (header_.freeHead == 0)
        return static_cast<int32_t>(fileSize);
    // Each record can be on the list once, so a longer walk is a cycle.
    const int64_t maxSteps = fileSize / kRecordSize + 1;
    int64_t steps = 0;
    int32_t previous = 0;
    StoreRecord previousRecord;
    int32_t offset = header_.freeHead;
    while (offset != 0) {
        if (++steps > maxSteps || !isRecordOffset(offset, fileSize))
            throw StoreError(kCorruptedFileMessage);
        const StoreRecord record = readRecordDirect(offset, kCorruptedFileMessage);
        // Taking a live record would overwrite it; so would taking a freed one that the
        // index still lists (left so by a write that failed), other than the record
        // being rewritten right now.
        if (record.free != 1)
            throw StoreError(kCorruptedFileMessage);
        if (offset != rewritten) {
            const Lookup listed = find(record.parentId, record.kind, record.nameView());
            if (listed.found && listed.offset == offset)
                throw StoreError(kCorruptedFileMessage);
        }
        const bool fits = !HasOutOfRecordData(dataType) ||
                          (HasOutOfRecordData(record.dataType) && record.dataSize >= dataSize);
        if (fits) {
            if (offset == header_.freeHead)
                header_.freeHead = record.nextFree;
            if (offset == header_.freeTail)
                header_.freeTail = previous != 0 ? previous : header_.freeHead;
            if (previous != 0) {
                previousRecord.nextFree = record.nextFree;
                writeRecordAt(previous, previousRecord, kCorruptedFileMessage);
            }
            writeHeader();
            return offset;
        }
        previous = offset;
        previousRecord = record;
        offset = record.nextFree;
    }
    return static_cast<int32_t>(fileSize);
}

StoreRecord TfxRegFile::checkedFreeTail() const {
    StoreRecord tail;
    if (header_.freeTail != 0) {
        if (!isRecordOffset(header_.freeTail, stream_.size()))
            throw StoreError(kCorruptedFileMessage);
        tail = readRecordDirect(header_.freeTail, kCorruptedFileMessage);
        if (tail.free != 1)
            throw StoreError(kCorruptedFileMessage);
    }
    return tail;
}

void TfxRegFile::freeRecord(int32_t offset, StoreRecord record) {
    // The tail is checked before anything is written, so a bad list changes nothing.
    StoreRecord tail = checkedFreeTail();
    record.free = 1;
    record.nextFree = 0; // it becomes the end of the list
    writeRecordAt(offset, record, kFileWriteErrorMessage);
    const int cached = cache_.Find(offset);
    if (cached >= 0)
        cache_.Delete(cached);
    if (header_.freeHead == 0)
        header_.freeHead = offset;
    if (header_.freeTail == 0) {
        header_.freeTail = offset;
    } else {
        tail.nextFree = offset;
        writeRecordAt(header_.freeTail, tail, kCorruptedFileMessage);
        header_.freeTail = offset;
    }
    writeHeader();
}

// ---- writing records ----

void TfxRegFile::ensureRoom(int64_t growth) const {
    if (stream_.size() + growth > kMaxFileSize)
        throw StoreError("The settings file \"" + FileName() +
                         "\" cannot grow beyond 2,147,483,647 bytes; nothing was written");
}

std::pair<int32_t, StoreRecord> TfxRegFile::writeRecord(StoreRecord record, std::string_view data) {
    const bool outOfRecord = HasOutOfRecordData(record.dataType);
    const int64_t dataBytes = outOfRecord ? int64_t(data.size()) : 0;
    Lookup existing = find(record.parentId, record.kind, record.nameView());

    if (existing.found) {
        record.id = existing.record.id;
        record.parentId = existing.record.parentId;
        record.free = 0;
        record.nextFree = 0;
        if (!outOfRecord && !HasOutOfRecordData(existing.record.dataType)) {
            record.dataOffset = 0;
            writeRecordAt(existing.offset, record, kFileWriteErrorMessage);
            writeHeader();
            return {existing.offset, record};
        }
        ensureRoom(kRecordSize + dataBytes);
        // Freed first, so that a text no longer than the old one goes back into its own
        // slot. Should the new record not be written, the operation fails as a whole and
        // the old value stays.
        freeRecord(existing.offset, existing.record);
    } else {
        if (header_.indexCount >= kMaxRecords)
            throw StoreError("The settings file \"" + FileName() +
                             "\" already holds 1,048,576 keys and values, the most it can hold; "
                             "nothing was written");
        if ((record.id == 0 && header_.lastId == INT32_MAX) || header_.createdCount == INT32_MAX)
            throw StoreError("The settings file \"" + FileName() +
                             "\" has no record numbers left; nothing was written");
        const bool needsBlock = header_.indexCount > 0 && header_.indexCount % kSlotsPerBlock == 0;
        ensureRoom(kRecordSize + dataBytes + (needsBlock ? kAllocationSize : 0));
    }
    return placeAndWrite(record, data, existing);
}

std::pair<int32_t, StoreRecord> TfxRegFile::placeAndWrite(StoreRecord record, std::string_view data,
                                                          const Lookup& existing) {
    const bool outOfRecord = HasOutOfRecordData(record.dataType);
    const int64_t dataBytes = outOfRecord ? int64_t(data.size()) : 0;
    const int32_t slot = placeSlot(record.dataType, static_cast<int32_t>(dataBytes),
                                   existing.found ? existing.offset : 0);
    if (!existing.found) {
        if (record.id == 0)
            record.id = ++header_.lastId;
        else if (record.id > header_.lastId)
            header_.lastId = record.id;
    }
    record.dataOffset = outOfRecord ? slot + kRecordSize : 0;
    record.free = 0;
    record.nextFree = 0;
    writeRecordAt(slot, record, kFileWriteErrorMessage);
    if (outOfRecord &&
        stream_.writeAt(int64_t(slot) + kRecordSize, data.data(), dataBytes) != dataBytes)
        throw StoreError(kFileWriteErrorMessage);

    if (existing.found) {
        if (slot != existing.offset) {
            index_[size_t(existing.position)] = slot;
            writeIndexSlots(existing.position, existing.position + 1);
        }
    } else {
        ++header_.createdCount;
        index_.insert(index_.begin() + existing.position, slot);
        ++header_.indexCount;
        writeIndexSlots(existing.position, header_.indexCount);
    }
    writeHeader();
    return {slot, record};
}

void TfxRegFile::writeValue(std::string_view name, uint8_t dataType, int32_t dataSize,
                            const uint8_t* inlineData, std::string_view data) {
    requireWritable();
    operation(true, [&] {
        requireOpenKey();
        checkName(name);
        StoreRecord record;
        record.setName(name);
        record.parentId = current_.id;
        record.kind = kKindValue;
        record.dataType = dataType;
        record.dataSize = dataSize;
        if (inlineData)
            std::memcpy(record.inlineData.data(), inlineData, size_t(dataSize));
        writeRecord(record, data);
    });
}

void TfxRegFile::removeEntry(const Lookup& entry) {
    // Out of the index first: should freeing then fail, the record is only unused,
    // never both listed and free. A bad free list changes nothing.
    checkedFreeTail();
    index_.erase(index_.begin() + entry.position);
    --header_.indexCount;
    writeIndexSlots(entry.position, header_.indexCount);
    writeHeader();
    freeRecord(entry.offset, entry.record);
}

// ---- the index blocks ----

int32_t TfxRegFile::allocateBlock() {
    const int64_t end = stream_.size();
    ensureRoom(kAllocationSize);
    std::vector<uint8_t> blocks(kAllocationSize, 0);
    PutInt32(blocks.data(), static_cast<int32_t>(end + kBlockSize));
    if (stream_.writeAt(end, blocks.data(), kAllocationSize) != kAllocationSize)
        throw StoreError(kFileWriteErrorMessage);
    return static_cast<int32_t>(end);
}

int32_t TfxRegFile::indexBlock(int32_t directorySlot) {
    const int64_t at = int64_t(header_.directoryOffset) + 4 * directorySlot;
    uint8_t bytes[4];
    if (stream_.readAt(at, bytes, 4) != 4)
        throw StoreError(kFileReadErrorMessage);
    const int32_t block = GetInt32(bytes);
    if (block > 0) {
        if (block < kHeaderSize || block + int64_t(kBlockSize) > stream_.size())
            throw StoreError(kIndexCorruptMessage);
        return block;
    }
    const int32_t allocated = allocateBlock();
    PutInt32(bytes, allocated);
    if (stream_.writeAt(at, bytes, 4) != 4)
        throw StoreError(kFileWriteErrorMessage);
    return allocated;
}

void TfxRegFile::writeIndexSlots(int32_t from, int32_t to) {
    std::vector<uint8_t> bytes;
    for (int32_t position = from; position < to;) {
        const int32_t slot = DirectorySlotOf(position);
        const int32_t blockEnd = std::min(to, (slot + 1) * kSlotsPerBlock);
        const int32_t block = indexBlock(slot);
        bytes.resize(size_t(blockEnd - position) * 4);
        for (int32_t i = position; i < blockEnd; ++i)
            PutInt32(&bytes[size_t(i - position) * 4], index_[size_t(i)]);
        const int64_t size = int64_t(bytes.size());
        if (stream_.writeAt(int64_t(block) + BlockByteOf(position), bytes.data(), size) != size)
            throw StoreError(kFileWriteErrorMessage);
        position = blockEnd;
    }
}

// ---- checks ----

void TfxRegFile::requireWritable() const {
    if (!stream_.writable())
        throw StoreError("The settings file \"" + FileName() +
                         "\" is open for reading only and holds no settings to read");
}

void TfxRegFile::requireOpenKey() const {
    if (current_.id == 0)
        throw StoreError("No key of the settings file \"" + FileName() + "\" is open");
}

void TfxRegFile::checkName(std::string_view name) {
    if (name.size() > size_t(kMaxNameLength))
        throw StoreError("The name \"" + std::string(name) +
                         "\" is too long for the settings file: at most 47 bytes fit");
    if (name.find('\0') != std::string_view::npos)
        throw StoreError("The name \"" + std::string(name.substr(0, name.find('\0'))) +
                         "...\" holds a zero byte, which the settings file cannot store");
}

// ---- operations ----

bool TfxRegFile::OpenKey(std::string_view path, bool create) {
    return operation(create && stream_.writable(), [&] {
        if (!path.empty() && path.front() == '\\')
            CloseKey();
        else if (current_.id == 0)
            return false;
        for (const std::string_view name : splitPath(path)) {
            const Lookup key = find(current_.id, kKindKey, name);
            if (key.found) {
                current_ = key.record;
                currentOffset_ = key.offset;
                continue;
            }
            if (!create)
                return false;
            requireWritable();
            checkName(name);
            StoreRecord record;
            record.setName(name);
            record.parentId = current_.id;
            record.kind = kKindKey;
            record.dataType = kTypeKey;
            record.noData = 1;
            const auto [offset, written] = writeRecord(record, {});
            current_ = written;
            currentOffset_ = offset;
        }
        return true;
    });
}

void TfxRegFile::CloseKey() {
    operation(false, [&] {
        current_ = readRecordDirect(header_.rootOffset, kFileReadErrorMessage);
        currentOffset_ = header_.rootOffset;
    });
}

bool TfxRegFile::ValueExists(std::string_view name) {
    return operation(false,
                     [&] { return current_.id != 0 && find(current_.id, kKindValue, name).found; });
}

int TfxRegFile::ValueDataType(std::string_view name) {
    return operation(false, [&] {
        if (current_.id == 0)
            return -1;
        const Lookup value = find(current_.id, kKindValue, name);
        return value.found ? int(value.record.dataType) : -1;
    });
}

void TfxRegFile::GetKeyNames(std::vector<std::string>& list) {
    operation(false, [&] { listNames(current_.id, kKindKey, list); });
}

void TfxRegFile::GetValueNames(std::vector<std::string>& list) {
    operation(false, [&] { listNames(current_.id, kKindValue, list); });
}

std::string TfxRegFile::ReadString(std::string_view name) {
    return operation(false, [&] {
        if (current_.id == 0)
            return std::string();
        const Lookup value = find(current_.id, kKindValue, name);
        if (!value.found)
            return std::string();
        std::string data = readValueData(value.offset);
        data.resize(std::min(data.size(), data.find('\0')));
        return data;
    });
}

int32_t TfxRegFile::ReadInteger(std::string_view name) {
    return operation(false, [&] {
        const Lookup value = findTypedValue(name, kTypeInteger);
        return value.found ? GetInt32(value.record.inlineData.data()) : 0;
    });
}

bool TfxRegFile::ReadBool(std::string_view name) {
    return operation(false, [&] {
        const Lookup value = findTypedValue(name, kTypeBool);
        return value.found && value.record.inlineData[0] != 0;
    });
}

TDateTime TfxRegFile::ReadDateTime(std::string_view name) {
    return operation(false, [&] {
        const Lookup value = findTypedValue(name, kTypeDateTime);
        if (!value.found)
            return TDateTime(0);
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = bits << 8 | value.record.inlineData[size_t(i)];
        return std::bit_cast<double>(bits);
    });
}

void TfxRegFile::ReadData(std::string_view name, QIODevice& stream) {
    const std::string data = operation(false, [&] {
        if (current_.id == 0)
            return std::string();
        const Lookup value = find(current_.id, kKindValue, name);
        return value.found ? readValueData(value.offset) : std::string();
    });
    if (data.empty())
        return;
    stream.seek(0);
    stream.write(data.data(), qint64(data.size()));
}

void TfxRegFile::WriteString(std::string_view name, std::string_view text) {
    if (text.size() >= size_t(kMaxFileSize))
        throw StoreError("The text for \"" + std::string(name) +
                         "\" is too long for the settings file");
    std::string data(text);
    data.push_back('\0');
    writeValue(name, kTypeString, static_cast<int32_t>(data.size()), nullptr, data);
}

void TfxRegFile::WriteInteger(std::string_view name, int32_t number) {
    uint8_t bytes[4];
    PutInt32(bytes, number);
    writeValue(name, kTypeInteger, 4, bytes, {});
}

void TfxRegFile::WriteBool(std::string_view name, bool flag) {
    const uint8_t byte = flag ? 1 : 0;
    writeValue(name, kTypeBool, 1, &byte, {});
}

void TfxRegFile::WriteDateTime(std::string_view name, TDateTime time) {
    uint64_t bits = std::bit_cast<uint64_t>(time);
    uint8_t bytes[8];
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(bits);
        bits >>= 8;
    }
    writeValue(name, kTypeDateTime, 8, bytes, {});
}

void TfxRegFile::DeleteValue(std::string_view name) {
    requireWritable();
    operation(true, [&] {
        if (current_.id == 0)
            return;
        const Lookup value = find(current_.id, kKindValue, name);
        if (value.found)
            removeEntry(value);
    });
}

bool TfxRegFile::DeleteKey(std::string_view path) {
    requireWritable();
    return operation(true, [&] {
        const StoreRecord saved = current_;
        const int32_t savedOffset = currentOffset_;
        const bool found = OpenKey(path, false);
        const StoreRecord target = current_;
        const int32_t targetOffset = currentOffset_;
        current_ = saved;
        currentOffset_ = savedOffset;
        if (!found)
            return false;
        if (targetOffset == header_.rootOffset)
            throw StoreError("The root key of the settings file \"" + FileName() +
                             "\" cannot be deleted");
        std::vector<int32_t> removedIds;
        deleteTree(target, removedIds);
        // The former current key may have gone with the tree; its id must not be written
        // under again.
        if (std::find(removedIds.begin(), removedIds.end(), saved.id) != removedIds.end())
            CloseKey();
        return true;
    });
}

// Depth first: a key's values, then each subkey with everything below it, then the key.
// Kept on an explicit stack so that a deep tree cannot exhaust the call stack.
void TfxRegFile::deleteTree(const StoreRecord& key, std::vector<int32_t>& removedIds) {
    struct Frame {
        StoreRecord key;
        std::vector<std::string> subkeys;
        size_t next = 0;
    };
    std::unordered_set<int32_t> visited;
    std::vector<Frame> stack;
    const auto enter = [&](const StoreRecord& record) {
        if (!visited.insert(record.id).second)
            throw StoreError(kCorruptedFileMessage);
        std::vector<std::string> values;
        listNames(record.id, kKindValue, values);
        for (const std::string& name : values) {
            const Lookup value = find(record.id, kKindValue, name);
            if (value.found)
                removeEntry(value);
        }
        Frame frame{record, {}, 0};
        listNames(record.id, kKindKey, frame.subkeys);
        stack.push_back(std::move(frame));
    };
    enter(key);
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.subkeys.size()) {
            const Lookup subkey = find(top.key.id, kKindKey, top.subkeys[top.next++]);
            if (subkey.found)
                enter(subkey.record);
            continue;
        }
        const Lookup self = find(top.key.parentId, kKindKey, top.key.nameView());
        if (self.found)
            removeEntry(self);
        removedIds.push_back(top.key.id);
        stack.pop_back();
    }
}
