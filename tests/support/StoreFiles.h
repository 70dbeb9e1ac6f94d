#pragma once
// Settings files for tests: raw bytes, header and record fields read straight from the
// file, and an independent check of the file's invariants.

#include "store/StoreFormat.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace testing_support {

inline std::string ReadFileBytes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes.data(), qint64(bytes.size()));
}

inline int32_t Int32At(const std::string& bytes, size_t at) {
    if (at + 4 > bytes.size())
        return INT32_MIN;
    return store::GetInt32(reinterpret_cast<const uint8_t*>(bytes.data() + at));
}

inline void PutInt32At(std::string& bytes, size_t at, int32_t value) {
    store::PutInt32(reinterpret_cast<uint8_t*>(bytes.data() + at), value);
}

inline store::StoreHeader HeaderOf(const std::string& bytes) {
    return store::DecodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()));
}

inline store::StoreRecord RecordAt(const std::string& bytes, int32_t offset) {
    return store::DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data() + offset));
}

// Index entry i as the file holds it, through the directory.
inline int32_t IndexEntryAt(const std::string& bytes, int32_t i) {
    const store::StoreHeader header = HeaderOf(bytes);
    const int32_t block = Int32At(bytes, size_t(header.directoryOffset) + 4 * (i / 1024));
    return Int32At(bytes, size_t(block) + 4 * (i % 1024));
}

// A sound store file holding `records`, given in index order with their ids and parents
// and without out-of-record data; the first is the root. The index blocks follow one
// another after the directory, and the records follow them.
inline std::string StoreFileOf(const std::vector<store::StoreRecord>& records) {
    using namespace store;
    const int32_t count = int32_t(records.size());
    const int32_t blocks = std::max(1, (count + kSlotsPerBlock - 1) / kSlotsPerBlock);
    const int32_t firstBlock = kHeaderSize + kBlockSize;
    const int32_t firstRecord = firstBlock + blocks * kBlockSize;
    std::string bytes(size_t(firstRecord) + size_t(count) * kRecordSize, '\0');
    StoreHeader header = StoreHeader::New();
    for (const StoreRecord& record : records)
        header.lastId = std::max(header.lastId, record.id);
    header.createdCount = count;
    header.indexCount = count;
    header.directoryOffset = kHeaderSize;
    header.rootOffset = firstRecord;
    const HeaderBytes head = EncodeHeader(header);
    bytes.replace(0, head.size(), reinterpret_cast<const char*>(head.data()), head.size());
    for (int32_t k = 0; k < blocks; ++k)
        PutInt32At(bytes, size_t(kHeaderSize + 4 * k), firstBlock + k * kBlockSize);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t offset = firstRecord + i * kRecordSize;
        PutInt32At(bytes, size_t(firstBlock + 4 * i), offset);
        const RecordBytes record = EncodeRecord(records[size_t(i)]);
        bytes.replace(size_t(offset), record.size(), reinterpret_cast<const char*>(record.data()),
                      record.size());
    }
    return bytes;
}

inline store::StoreRecord KeyRecord(int32_t id, int32_t parentId, std::string_view name) {
    store::StoreRecord record;
    record.setName(name);
    record.id = id;
    record.parentId = parentId;
    record.kind = store::kKindKey;
    record.dataType = store::kTypeKey;
    record.noData = 1;
    return record;
}

// The offsets of the free list, oldest first; stops after a cycle.
inline std::vector<int32_t> FreeListOf(const std::string& bytes) {
    std::vector<int32_t> list;
    int32_t offset = HeaderOf(bytes).freeHead;
    while (offset != 0 && list.size() <= bytes.size() / 82 &&
           offset + size_t(store::kRecordSize) <= bytes.size()) {
        list.push_back(offset);
        offset = RecordAt(bytes, offset).nextFree;
    }
    return list;
}

// Everything a writer must keep true, checked from the bytes alone. Empty when sound.
inline std::string StoreProblems(const std::string& bytes) {
    using namespace store;
    std::string problems;
    const auto fail = [&](const std::string& what) { problems += what + "\n"; };
    if (bytes.size() < size_t(kHeaderSize))
        return "short file\n";
    const StoreHeader h = HeaderOf(bytes);
    if (!h.hasValidSignature())
        fail("signature");
    std::vector<std::pair<int64_t, int64_t>> ranges; // [begin, end) of every used area
    ranges.push_back({0, kHeaderSize});
    ranges.push_back({h.directoryOffset, h.directoryOffset + kBlockSize});
    const int32_t blocks = (h.indexCount + 1023) / 1024;
    for (int32_t k = 0; k < blocks; ++k)
        ranges.push_back({Int32At(bytes, size_t(h.directoryOffset) + 4 * k),
                          Int32At(bytes, size_t(h.directoryOffset) + 4 * k) + kBlockSize});
    const auto slotEnd = [&](int32_t offset, const StoreRecord& r) {
        return int64_t(offset) + kRecordSize + (HasOutOfRecordData(r.dataType) ? r.dataSize : 0);
    };
    std::set<int32_t> ids, keyIds;
    int32_t maxId = 0;
    std::vector<StoreRecord> live;
    for (int32_t i = 0; i < h.indexCount; ++i) {
        const int32_t offset = IndexEntryAt(bytes, i);
        if (offset < kHeaderSize || offset + size_t(kRecordSize) > bytes.size()) {
            fail("entry " + std::to_string(i) + " outside the file");
            return problems;
        }
        const StoreRecord r = RecordAt(bytes, offset);
        if (r.free != 0)
            fail("entry " + std::to_string(i) + " is free");
        if (HasOutOfRecordData(r.dataType) && r.dataOffset != offset + kRecordSize)
            fail("data offset of " + std::string(r.nameView()));
        if (slotEnd(offset, r) > int64_t(bytes.size()))
            fail("data past the end: " + std::string(r.nameView()));
        if (!ids.insert(r.id).second)
            fail("duplicate id " + std::to_string(r.id));
        if (r.kind == kKindKey)
            keyIds.insert(r.id);
        maxId = std::max(maxId, r.id);
        if (!live.empty() &&
            CompareToRecord(live.back().parentId, live.back().kind, live.back().nameView(), r) >= 0)
            fail("index out of order at " + std::to_string(i));
        live.push_back(r);
        ranges.push_back({offset, slotEnd(offset, r)});
    }
    if (h.indexCount > 0 && IndexEntryAt(bytes, 0) != h.rootOffset)
        fail("root is not entry 0");
    for (const StoreRecord& r : live)
        if (r.parentId != 0 && !keyIds.count(r.parentId))
            fail("orphan " + std::string(r.nameView()));
    if (h.lastId < maxId)
        fail("LastId below an id");
    if (h.createdCount < h.indexCount)
        fail("CreatedCount below IndexCount");
    const std::vector<int32_t> freeList = FreeListOf(bytes);
    if (freeList.size() > bytes.size() / 82)
        fail("free list cycle");
    for (const int32_t offset : freeList) {
        const StoreRecord r = RecordAt(bytes, offset);
        if (r.free != 1)
            fail("live record on the free list");
        ranges.push_back({offset, offset + kRecordSize});
    }
    const int32_t tail = freeList.empty() ? 0 : freeList.back();
    if (h.freeTail != tail)
        fail("FreeTail is not the list's end");
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second)
            fail("overlapping slots at " + std::to_string(ranges[i].first));
    return problems;
}

} // namespace testing_support
