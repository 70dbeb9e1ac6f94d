// LoadHiveFile: libhivex walks the structure; names, flags, times, class names and
// security descriptors come from our own reading of the same bytes, each offset
// checked before it is followed, because a hive may come from an infected machine.

#include "win32/CodePage.h"
#include "win32/HiveFile.h"
#include "win32/HiveFormat.h"

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace win32 {

namespace {

using namespace regf;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
struct HiveCloser {
    void operator()(hive_h* h) const { hivex_close(h); }
};

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

std::u16string DecodeName(const uint8_t* bytes, size_t length, bool latin1) {
    std::u16string name;
    if (latin1) {
        name.resize(length);
        for (size_t i = 0; i < length; ++i)
            name[i] = char16_t(bytes[i]);
    } else {
        name.resize(length / 2);
        for (size_t i = 0; i < name.size(); ++i)
            name[i] = char16_t(Read16(bytes + 2 * i));
    }
    return name;
}

class HiveReader {
public:
    explicit HiveReader(const std::string& path) : path_(path) {}
    LoadedHive load();

private:
    struct Pending {
        HiveKey* key;
        hive_node_h node;
        uint32_t depth;
    };

    [[noreturn]] void fail(const std::string& reason) const {
        throw HiveFileError(path_ + ": " + reason);
    }
    // A null key means the reason concerns the root key itself.
    [[noreturn]] void failAt(const HiveKey* key, const std::string& reason) const {
        fail(key ? "key " + keyPath(key) + ": " + reason : reason);
    }
    [[noreturn]] void failLibhivex(const HiveKey* key, const char* what) const {
        const int error = errno;
        failAt(key, std::string("rejected by libhivex (") + what +
                        "): " + std::strerror(error ? error : EINVAL));
    }
    // `fileOffset` is where the cell starts in the file; messages give it as the format does.
    [[noreturn]] void failCell(const HiveKey* key, const char* what, uint64_t fileOffset,
                               const char* problem) const {
        failAt(key, std::string(what) + " at offset " + Hex(fileOffset - kBaseBlockSize) + " " +
                        problem);
    }
    std::string keyPath(const HiveKey* key) const;

    void readFile(const FileDescriptor& fd);
    void checkBaseBlock(LoadedHive& out);
    void openLibhivex(const FileDescriptor& fd);
    const uint8_t* cellData(uint64_t fileOffset, uint64_t needed, uint32_t& dataSize,
                            const char* what, const HiveKey* key) const;
    void markVisited(uint64_t fileOffset, const char* what, const HiveKey* key);
    void readKey(hive_node_h node, HiveKey& key, const char* what);
    void checkLists(hive_node_h node, const HiveKey& key) const;
    void readValues(hive_node_h node, HiveKey& key);
    std::shared_ptr<const Bytes> readSecurity(uint32_t offset, const HiveKey& key);

    std::string path_;
    FileMapping bytes_;
    uint64_t size_ = 0;
    uint64_t binsEnd_ = 0; // file offset where the hive bins end, as the header says
    std::unique_ptr<hive_h, HiveCloser> hive_;
    std::vector<bool> visited_; // nk and vk cells already read: a second visit is a cycle
    uint64_t dataBytes_ = 0;    // sum of out-of-line value data, bounded by the file size
    std::unordered_map<uint32_t, std::shared_ptr<const Bytes>> security_;
    uint32_t lastSecurityOffset_ = kNoOffset;
    std::shared_ptr<const Bytes> lastSecurity_;
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
    return "\"" + Utf16ToUtf8(path) + "\"";
}

void HiveReader::readFile(const FileDescriptor& fd) {
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fail("the file does not exist");
        fail(std::string("the file cannot be opened: ") + std::strerror(error));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fail(std::string("the file cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        fail("not a regular file");
    size_ = uint64_t(info.st_size);
    if (size_ == 0)
        fail("the file is empty");
    if (const int error = bytes_.map(fd.get(), size_); error != 0)
        fail(std::string("the file cannot be read: ") + std::strerror(error));
}

void HiveReader::checkBaseBlock(LoadedHive& out) {
    const uint8_t* b = bytes_.get();
    if (size_ < 4 || std::memcmp(b, "regf", 4) != 0)
        fail("not a registry hive (no regf signature)");
    if (size_ < kBaseBlockSize)
        fail("the file is truncated (" + std::to_string(size_) +
             " bytes, shorter than the 4096-byte hive header)");
    if (Read32(b + base::kChecksum) != BaseBlockChecksum(b))
        fail("the header is damaged (its checksum does not match)");
    const uint32_t major = Read32(b + base::kMajorVersion);
    const uint32_t minor = Read32(b + base::kMinorVersion);
    if (major != 1)
        fail("unsupported hive format version " + std::to_string(major) + "." +
             std::to_string(minor));
    const uint32_t binsSize = Read32(b + base::kBinsSize);
    if (binsSize == 0 || binsSize % kPageSize != 0)
        fail("the header's hive-bins size (" + std::to_string(binsSize) +
             ") is not a whole number of 4096-byte pages");
    binsEnd_ = uint64_t(kBaseBlockSize) + binsSize;
    if (binsEnd_ > size_) {
        std::string said = DescribeSize(binsSize), has = DescribeSize(size_ - kBaseBlockSize);
        if (said == has) {
            said = std::to_string(binsSize) + " bytes";
            has = std::to_string(size_ - kBaseBlockSize) + " bytes";
        }
        fail("the file is truncated (header says " + said + " of hive bins, file has " + has + ")");
    }
    const uint64_t root = uint64_t(kBaseBlockSize) + Read32(b + base::kRootOffset);
    if (root < kBaseBlockSize + kBinHeaderSize || root + 4 + nk::kName > binsEnd_)
        fail("the root key offset " + Hex(Read32(b + base::kRootOffset)) +
             " lies outside the hive bins");

    out.minorVersion = minor;
    std::u16string name = DecodeName(b + base::kFileName, base::kFileNameBytes, false);
    name.resize(std::min(name.size(), name.find(u'\0')));
    out.fileNameField = std::move(name);
}

void HiveReader::openLibhivex(const FileDescriptor& fd) {
    // Through our descriptor libhivex reads the very file we read, even if the path
    // is replaced meanwhile.
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd.get());
    const std::string& open = ::access(procPath.c_str(), R_OK) == 0 ? procPath : path_;
    errno = 0;
    hive_.reset(hivex_open(open.c_str(), 0));
    if (!hive_) {
        const int error = errno ? errno : EINVAL;
        fail(std::string("rejected by libhivex: ") + std::strerror(error));
    }
}

const uint8_t* HiveReader::cellData(uint64_t fileOffset, uint64_t needed, uint32_t& dataSize,
                                    const char* what, const HiveKey* key) const {
    if (fileOffset < kBaseBlockSize + kBinHeaderSize || fileOffset + 4 > binsEnd_)
        failCell(key, what, fileOffset, "lies outside the hive bins");
    const int64_t size = int32_t(Read32(bytes_.get() + fileOffset));
    if (size >= 0)
        failCell(key, what, fileOffset, "is not an allocated cell");
    const uint64_t cellSize = uint64_t(-size);
    if (cellSize < 4 + needed)
        failCell(key, what, fileOffset, "is too small for its contents");
    if (fileOffset + cellSize > binsEnd_)
        failCell(key, what, fileOffset, "runs past the end of the hive bins");
    dataSize = uint32_t(cellSize - 4);
    return bytes_.get() + fileOffset + 4;
}

void HiveReader::markVisited(uint64_t fileOffset, const char* what, const HiveKey* key) {
    if (fileOffset >= visited_.size())
        failCell(key, what, fileOffset, "lies outside the hive bins");
    if (visited_[fileOffset])
        failCell(key, what, fileOffset, "is reached a second time (a cycle or a shared cell)");
    visited_[fileOffset] = true;
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
void HiveReader::readKey(hive_node_h node, HiveKey& key, const char* what) {
    uint32_t size = 0;
    const uint8_t* d = cellData(node, nk::kName, size, what, key.parent);
    if (!HasSignature(d, "nk"))
        failCell(key.parent, what, node, "has no nk signature");
    key.flags = Read16(d + nk::kFlags);
    key.lastWriteTime = Read64(d + nk::kLastWrite);
    const uint16_t nameLength = Read16(d + nk::kNameLength);
    if (nk::kName + nameLength > size)
        failCell(key.parent, what, node, "has a name longer than its cell");
    key.name = DecodeName(d + nk::kName, nameLength, key.flags & HiveKey::kFlagCompressedName);

    // Windows stores no class cell for an empty class name, so a zero length means none.
    const uint32_t classOffset = Read32(d + nk::kClass);
    const uint16_t classLength = Read16(d + nk::kClassLength);
    if (classOffset != kNoOffset && classLength != 0) {
        uint32_t classSize = 0;
        const uint8_t* c = cellData(kBaseBlockSize + uint64_t(classOffset), classLength, classSize,
                                    "class name", &key);
        key.className.emplace(c, c + classLength);
    }
    const uint32_t securityOffset = Read32(d + nk::kSecurity);
    if (securityOffset != kNoOffset)
        key.security = readSecurity(securityOffset, key);
}

// libhivex would only say "Bad address" for these; we can say which list is bad.
void HiveReader::checkLists(hive_node_h node, const HiveKey& key) const {
    const uint8_t* d = bytes_.get() + node + 4; // checked by readKey
    uint32_t size = 0;
    if (Read32(d + nk::kSubkeyCount) != 0) {
        const uint64_t at = kBaseBlockSize + uint64_t(Read32(d + nk::kSubkeyList));
        const uint8_t* list = cellData(at, 4, size, "subkey list", &key);
        if (!HasSignature(list, "lh") && !HasSignature(list, "lf") && !HasSignature(list, "li") &&
            !HasSignature(list, "ri"))
            failCell(&key, "subkey list", at, "is not a list of subkeys");
    }
    const uint32_t values = Read32(d + nk::kValueCount);
    if (values != 0)
        cellData(kBaseBlockSize + uint64_t(Read32(d + nk::kValueList)), 4 * uint64_t(values), size,
                 "value list", &key);
}

void HiveReader::readValues(hive_node_h node, HiveKey& key) {
    errno = 0;
    std::unique_ptr<hive_value_h[], FreeDeleter> list(hivex_node_values(hive_.get(), node));
    if (!list)
        failLibhivex(&key, "value list");
    size_t count = 0;
    while (list[count])
        ++count;
    key.values.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const hive_value_h handle = list[i];
        markVisited(handle, "value cell", &key);
        uint32_t size = 0;
        const uint8_t* d = cellData(handle, vk::kName, size, "value cell", &key);
        if (!HasSignature(d, "vk"))
            failCell(&key, "value cell", handle, "has no vk signature");
        const uint16_t nameLength = Read16(d + vk::kNameLength);
        if (vk::kName + nameLength > size)
            failCell(&key, "value cell", handle, "has a name longer than its cell");
        HiveValue value;
        value.name =
            DecodeName(d + vk::kName, nameLength, Read16(d + vk::kFlags) & vk::kFlagCompressedName);
        value.type = Read32(d + vk::kType); // raw: types beyond hive_type's range are common
        const uint32_t declared = Read32(d + vk::kDataSize);
        if (!(declared & kInlineDataFlag)) {
            // Cells shared between values could otherwise blow a small file up to terabytes.
            dataBytes_ += declared;
            if (dataBytes_ > size_)
                failAt(&key, "value data adds up to more than the file holds");
        }
        hive_type ignored;
        size_t length = 0;
        errno = 0;
        std::unique_ptr<char, FreeDeleter> data(
            hivex_value_value(hive_.get(), handle, &ignored, &length));
        if (!data && (errno != 0 || length != 0))
            failLibhivex(&key, "value data");
        if (data && length)
            value.data.assign(data.get(), data.get() + length);
        key.values.push_back(std::move(value));
    }
}

LoadedHive HiveReader::load() {
    FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    readFile(fd);
    LoadedHive out;
    checkBaseBlock(out);
    openLibhivex(fd);

    const hive_node_h rootNode = hivex_root(hive_.get());
    if (rootNode == 0)
        failLibhivex(nullptr, "root key");
    visited_.assign(binsEnd_, false);
    markVisited(rootNode, "root key cell", nullptr);
    out.root = std::make_shared<HiveKey>();
    readKey(rootNode, *out.root, "root key cell");

    std::vector<Pending> pending;
    pending.reserve(1024);
    pending.push_back({out.root.get(), rootNode, 0});
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        HiveKey& key = *current.key;
        checkLists(current.node, key);
        readValues(current.node, key);

        errno = 0;
        std::unique_ptr<hive_node_h[], FreeDeleter> children(
            hivex_node_children(hive_.get(), current.node));
        if (!children)
            failLibhivex(&key, "subkey list");
        if (children[0] && current.depth >= kMaxKeyDepth)
            failAt(&key, "keys are nested deeper than 512 levels");
        for (size_t i = 0; children[i]; ++i) {
            markVisited(children[i], "subkey cell", &key);
            auto child = std::make_shared<HiveKey>();
            child->parent = &key; // for messages; appendLoadedSubkey sets it for good
            readKey(children[i], *child, "subkey cell");
            HiveKey* raw = child.get();
            key.appendLoadedSubkey(std::move(child));
            pending.push_back({raw, children[i], current.depth + 1});
        }
    }
    return out;
}

} // namespace

LoadedHive LoadHiveFile(const std::string& hostPath) {
    return HiveReader(hostPath).load();
}

} // namespace win32
