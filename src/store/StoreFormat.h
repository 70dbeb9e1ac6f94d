#pragma once
// The bytes of a store file: the 37-byte header, the 82-byte records, the index blocks,
// and the order of the index. Everything is little-endian and unaligned, so fields are
// encoded one by one rather than copied as structures.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace store {

constexpr int32_t kHeaderSize = 37;
constexpr int32_t kRecordSize = 82;
constexpr int32_t kNameSize = 48;
constexpr int32_t kMaxNameLength = kNameSize - 1;
constexpr int32_t kInlineDataSize = 10;

constexpr int32_t kBlockSize = 4096;
constexpr int32_t kSlotsPerBlock = kBlockSize / 4;
constexpr int32_t kDirectorySlots = kSlotsPerBlock;
constexpr int32_t kMaxRecords = kDirectorySlots * kSlotsPerBlock;
constexpr int32_t kAllocationSize = 2 * kBlockSize;
// Offsets are signed 32-bit: no byte of the file may lie beyond this.
constexpr int64_t kMaxFileSize = INT32_MAX;

constexpr std::string_view kMagic = "REG$";
constexpr std::string_view kVersion = "2.00";
constexpr std::string_view kRootName = "RDB$ROOT";

constexpr uint8_t kKindKey = 0;
constexpr uint8_t kKindValue = 1;

constexpr uint8_t kTypeString = 2;
constexpr uint8_t kTypeKey = 4;
constexpr uint8_t kTypeInteger = 5;
constexpr uint8_t kTypeBool = 21;
constexpr uint8_t kTypeDateTime = 22;

// Codes 0 to 3 keep their data right behind the record; the others inline or nowhere.
constexpr bool HasOutOfRecordData(uint8_t dataType) {
    return dataType <= 3;
}

struct StoreHeader {
    std::array<char, 4> magic{};
    std::array<char, 4> version{};
    int32_t lastId = 0;
    uint8_t reserved = 0;
    int32_t createdCount = 0;
    int32_t indexCount = 0;
    int32_t directoryOffset = 0;
    int32_t rootOffset = 0;
    int32_t freeHead = 0;
    int32_t freeTail = 0;

    static StoreHeader New();
    bool hasValidSignature() const;
};

struct StoreRecord {
    std::array<char, kNameSize> name{};
    int32_t id = 0;
    int32_t parentId = 0;
    uint8_t kind = 0;
    uint8_t dataType = 0;
    int32_t dataOffset = 0;
    int32_t dataSize = 0;
    uint8_t noData = 0;
    std::array<uint8_t, kInlineDataSize> inlineData{};
    uint8_t free = 0;
    int32_t nextFree = 0;

    // The name up to its terminator (all 48 bytes when a damaged record has none).
    std::string_view nameView() const;
    // The name must be at most kMaxNameLength bytes; the rest is zero-filled.
    void setName(std::string_view text);

    bool operator==(const StoreRecord&) const = default;
};

using HeaderBytes = std::array<uint8_t, kHeaderSize>;
using RecordBytes = std::array<uint8_t, kRecordSize>;

HeaderBytes EncodeHeader(const StoreHeader& header);
StoreHeader DecodeHeader(const uint8_t* bytes);
RecordBytes EncodeRecord(const StoreRecord& record);
StoreRecord DecodeRecord(const uint8_t* bytes);

void PutInt32(uint8_t* at, int32_t value);
int32_t GetInt32(const uint8_t* at);

// The index order: ParentId (signed), then Kind, then Name as unsigned bytes, a prefix
// first. Negative when (parentId, kind, name) sorts before the record.
int CompareToRecord(int32_t parentId, uint8_t kind, std::string_view name,
                    const StoreRecord& record);

// Where index entry `position` lives: the block's slot in the directory, and the entry's
// byte position inside its block.
constexpr int32_t DirectorySlotOf(int32_t position) {
    return position / kSlotsPerBlock;
}
constexpr int32_t BlockByteOf(int32_t position) {
    return 4 * (position % kSlotsPerBlock);
}

} // namespace store
