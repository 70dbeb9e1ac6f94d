#pragma once
// Layout of a hive file shared by its reader and its writer: sizes, field offsets
// of the base block and of each record, and little-endian access to them.

#include <cstdint>

namespace hive::regf {

constexpr uint32_t kBaseBlockSize = 4096;
constexpr uint32_t kPageSize = 4096; // hbins are whole pages
constexpr uint32_t kBinHeaderSize = 32;
constexpr uint32_t kCellAlignment = 8;
constexpr uint32_t kNoOffset = 0xFFFFFFFF;
constexpr uint32_t kMaxKeyDepth = 512; // Windows refuses deeper keys
// Largest data a single cell holds before minor version 5 files split it into a db.
constexpr uint32_t kBigDataSegment = 16344;
// From this minor version on, Windows reads data longer than one segment as a db cell.
constexpr uint32_t kBigDataMinorVersion = 4;
constexpr uint32_t kMaxLeafEntries = 512; // beyond this a subkey list becomes an ri
constexpr uint32_t kInlineDataFlag = 0x80000000;

// Base block.
namespace base {
constexpr uint32_t kSignature = 0x000;
constexpr uint32_t kPrimarySequence = 0x004;
constexpr uint32_t kSecondarySequence = 0x008;
constexpr uint32_t kTimestamp = 0x00C;
constexpr uint32_t kMajorVersion = 0x014;
constexpr uint32_t kMinorVersion = 0x018;
constexpr uint32_t kFileType = 0x01C;
constexpr uint32_t kFileFormat = 0x020;
constexpr uint32_t kRootOffset = 0x024;
constexpr uint32_t kBinsSize = 0x028;
constexpr uint32_t kClustering = 0x02C;
constexpr uint32_t kFileName = 0x030;
constexpr uint32_t kFileNameBytes = 64;
constexpr uint32_t kChecksum = 0x1FC;
} // namespace base

// hbin header.
namespace bin {
constexpr uint32_t kOffset = 0x04;
constexpr uint32_t kSize = 0x08;
constexpr uint32_t kTimestamp = 0x14;
} // namespace bin

// nk record, offsets from the start of the cell's data.
namespace nk {
constexpr uint32_t kFlags = 0x02;
constexpr uint32_t kLastWrite = 0x04;
constexpr uint32_t kParent = 0x10;
constexpr uint32_t kSubkeyCount = 0x14;
constexpr uint32_t kVolatileSubkeyCount = 0x18;
constexpr uint32_t kSubkeyList = 0x1C;
constexpr uint32_t kVolatileSubkeyList = 0x20;
constexpr uint32_t kValueCount = 0x24;
constexpr uint32_t kValueList = 0x28;
constexpr uint32_t kSecurity = 0x2C;
constexpr uint32_t kClass = 0x30;
constexpr uint32_t kMaxSubkeyNameBytes = 0x34;
constexpr uint32_t kMaxSubkeyClassBytes = 0x38;
constexpr uint32_t kMaxValueNameBytes = 0x3C;
constexpr uint32_t kMaxValueDataBytes = 0x40;
constexpr uint32_t kNameLength = 0x48;
constexpr uint32_t kClassLength = 0x4A;
constexpr uint32_t kName = 0x4C;
} // namespace nk

// vk record.
namespace vk {
constexpr uint32_t kNameLength = 0x02;
constexpr uint32_t kDataSize = 0x04;
constexpr uint32_t kData = 0x08;
constexpr uint32_t kType = 0x0C;
constexpr uint32_t kFlags = 0x10;
constexpr uint32_t kName = 0x14;
constexpr uint16_t kFlagCompressedName = 0x0001;
} // namespace vk

// sk record.
namespace sk {
constexpr uint32_t kNext = 0x04;
constexpr uint32_t kPrevious = 0x08;
constexpr uint32_t kReferences = 0x0C;
constexpr uint32_t kDescriptorSize = 0x10;
constexpr uint32_t kDescriptor = 0x14;
} // namespace sk

// db record and subkey lists: signature, 16-bit count, then the payload.
constexpr uint32_t kListCount = 0x02;
constexpr uint32_t kListEntries = 0x04;
constexpr uint32_t kBigDataSegmentList = 0x04;

inline uint16_t Read16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t Read64(const uint8_t* p) {
    return Read32(p) | uint64_t(Read32(p + 4)) << 32;
}

inline void Write16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Write32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void Write64(uint8_t* p, uint64_t v) {
    Write32(p, uint32_t(v));
    Write32(p + 4, uint32_t(v >> 32));
}
inline bool HasSignature(const uint8_t* p, const char (&sig)[3]) {
    return p[0] == uint8_t(sig[0]) && p[1] == uint8_t(sig[1]);
}

// XOR of the dwords before the checksum field, with 0 and ~0 avoided as Windows does.
inline uint32_t BaseBlockChecksum(const uint8_t* block) {
    uint32_t sum = 0;
    for (uint32_t off = 0; off < base::kChecksum; off += 4)
        sum ^= Read32(block + off);
    if (sum == 0)
        return 1;
    if (sum == 0xFFFFFFFF)
        return 0xFFFFFFFE;
    return sum;
}

} // namespace hive::regf
