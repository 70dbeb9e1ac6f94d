#include "store/StoreFormat.h"

#include <algorithm>
#include <cstring>

namespace store {

namespace {

void putBytes(uint8_t* at, const char* bytes, size_t size) {
    std::memcpy(at, bytes, size);
}

} // namespace

void PutInt32(uint8_t* at, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    at[0] = static_cast<uint8_t>(bits);
    at[1] = static_cast<uint8_t>(bits >> 8);
    at[2] = static_cast<uint8_t>(bits >> 16);
    at[3] = static_cast<uint8_t>(bits >> 24);
}

int32_t GetInt32(const uint8_t* at) {
    const uint32_t bits =
        uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
    return static_cast<int32_t>(bits);
}

StoreHeader StoreHeader::New() {
    StoreHeader header;
    std::copy(kMagic.begin(), kMagic.end(), header.magic.begin());
    std::copy(kVersion.begin(), kVersion.end(), header.version.begin());
    return header;
}

bool StoreHeader::hasValidSignature() const {
    return std::string_view(magic.data(), magic.size()) == kMagic &&
           std::string_view(version.data(), version.size()) == kVersion;
}

HeaderBytes EncodeHeader(const StoreHeader& header) {
    HeaderBytes bytes{};
    putBytes(&bytes[0], header.magic.data(), 4);
    putBytes(&bytes[4], header.version.data(), 4);
    PutInt32(&bytes[8], header.lastId);
    bytes[12] = header.reserved;
    PutInt32(&bytes[13], header.createdCount);
    PutInt32(&bytes[17], header.indexCount);
    PutInt32(&bytes[21], header.directoryOffset);
    PutInt32(&bytes[25], header.rootOffset);
    PutInt32(&bytes[29], header.freeHead);
    PutInt32(&bytes[33], header.freeTail);
    return bytes;
}

StoreHeader DecodeHeader(const uint8_t* bytes) {
    StoreHeader header;
    std::memcpy(header.magic.data(), &bytes[0], 4);
    std::memcpy(header.version.data(), &bytes[4], 4);
    header.lastId = GetInt32(&bytes[8]);
    header.reserved = bytes[12];
    header.createdCount = GetInt32(&bytes[13]);
    header.indexCount = GetInt32(&bytes[17]);
    header.directoryOffset = GetInt32(&bytes[21]);
    header.rootOffset = GetInt32(&bytes[25]);
    header.freeHead = GetInt32(&bytes[29]);
    header.freeTail = GetInt32(&bytes[33]);
    return header;
}

RecordBytes EncodeRecord(const StoreRecord& record) {
    RecordBytes bytes{};
    putBytes(&bytes[0], record.name.data(), kNameSize);
    PutInt32(&bytes[48], record.id);
    PutInt32(&bytes[52], record.parentId);
    bytes[56] = record.kind;
    bytes[57] = record.dataType;
    PutInt32(&bytes[58], record.dataOffset);
    PutInt32(&bytes[62], record.dataSize);
    bytes[66] = record.noData;
    std::copy(record.inlineData.begin(), record.inlineData.end(), &bytes[67]);
    bytes[77] = record.free;
    PutInt32(&bytes[78], record.nextFree);
    return bytes;
}

StoreRecord DecodeRecord(const uint8_t* bytes) {
    StoreRecord record;
    std::memcpy(record.name.data(), &bytes[0], kNameSize);
    record.id = GetInt32(&bytes[48]);
    record.parentId = GetInt32(&bytes[52]);
    record.kind = bytes[56];
    record.dataType = bytes[57];
    record.dataOffset = GetInt32(&bytes[58]);
    record.dataSize = GetInt32(&bytes[62]);
    record.noData = bytes[66];
    std::copy(&bytes[67], &bytes[77], record.inlineData.begin());
    record.free = bytes[77];
    record.nextFree = GetInt32(&bytes[78]);
    return record;
}

std::string_view StoreRecord::nameView() const {
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string_view(name.data(), static_cast<size_t>(end - name.begin()));
}

void StoreRecord::setName(std::string_view text) {
    name.fill('\0');
    std::copy_n(text.begin(), std::min<size_t>(text.size(), kMaxNameLength), name.begin());
}

int CompareToRecord(int32_t parentId, uint8_t kind, std::string_view name,
                    const StoreRecord& record) {
    if (parentId != record.parentId)
        return parentId < record.parentId ? -1 : 1;
    if (kind != record.kind)
        return kind < record.kind ? -1 : 1;
    const std::string_view other = record.nameView();
    // memcmp compares as unsigned bytes, which is the stored order.
    const size_t common = std::min(name.size(), other.size());
    const int bytes = common ? std::memcmp(name.data(), other.data(), common) : 0;
    if (bytes != 0)
        return bytes < 0 ? -1 : 1;
    if (name.size() != other.size())
        return name.size() < other.size() ? -1 : 1;
    return 0;
}

} // namespace store
