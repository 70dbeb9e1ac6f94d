#include "store/StoreJournal.h"

#include "store/StoreError.h"
#include "store/StoreIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr char kMagic[8] = {'H', 'W', 'J', 'R', 'N', 'L', '0', '1'};
constexpr int64_t kJournalHeaderSize = 45;
constexpr int64_t kRangeHeaderSize = 12;
constexpr int64_t kChecksumAt = 37;
// Once done, a journal keeps up to this much room for the next change: rewriting bytes in
// place syncs faster than growing a file. Bytes past a journal's ranges are never read.
constexpr int64_t kKeptJournalSize = 64 * 1024;

void putUint(std::string& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

uint64_t getUint(const std::string& in, size_t at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(in[at + size_t(i)]);
    return value;
}

uint64_t fnv1a(const char* bytes, size_t size, uint64_t hash = 14695981039346656037ull) {
    for (size_t i = 0; i < size; ++i) {
        hash ^= static_cast<uint8_t>(bytes[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

// The checksum covers the header before it and everything after it.
uint64_t checksumOf(const std::string& journal) {
    const uint64_t head = fnv1a(journal.data(), size_t(kChecksumAt));
    return fnv1a(journal.data() + kJournalHeaderSize, journal.size() - size_t(kJournalHeaderSize),
                 head);
}

std::string encode(bool pending, uint64_t stamp, int64_t originalLength,
                   const std::vector<JournalRange>& ranges) {
    std::string body;
    for (const JournalRange& range : ranges) {
        putUint(body, uint64_t(range.offset), 8);
        putUint(body, range.bytes.size(), 4);
        body += range.bytes;
    }
    std::string journal(kMagic, sizeof kMagic);
    journal.push_back(pending ? 1 : 0);
    putUint(journal, stamp, 8);
    putUint(journal, uint64_t(originalLength), 8);
    putUint(journal, ranges.size(), 4);
    putUint(journal, body.size(), 8);
    putUint(journal, 0, 8); // the checksum, below
    journal += body;
    const uint64_t checksum = checksumOf(journal);
    for (int i = 0; i < 8; ++i)
        journal[size_t(kChecksumAt + i)] = static_cast<char>(checksum >> (8 * i));
    return journal;
}

// The ranges of a sealed journal; false when the seal or the layout does not hold.
bool decodeRanges(const std::string& journal, JournalState& state) {
    if (journal.size() < size_t(kJournalHeaderSize))
        return false;
    const uint64_t count = getUint(journal, 25, 4);
    const uint64_t bodySize = getUint(journal, 29, 8);
    if (bodySize > journal.size() - uint64_t(kJournalHeaderSize))
        return false;
    const std::string sealed = journal.substr(0, size_t(kJournalHeaderSize + int64_t(bodySize)));
    if (checksumOf(sealed) != getUint(journal, size_t(kChecksumAt), 8))
        return false;
    if (state.originalLength < 0)
        return false;
    size_t at = size_t(kJournalHeaderSize);
    for (uint64_t i = 0; i < count; ++i) {
        if (sealed.size() - at < size_t(kRangeHeaderSize))
            return false;
        JournalRange range;
        range.offset = int64_t(getUint(sealed, at, 8));
        const uint64_t length = getUint(sealed, at + 8, 4);
        at += size_t(kRangeHeaderSize);
        if (length > sealed.size() - at || range.offset < 0 ||
            range.offset + int64_t(length) > state.originalLength)
            return false;
        range.bytes = sealed.substr(at, size_t(length));
        at += size_t(length);
        state.ranges.push_back(std::move(range));
    }
    return at == sealed.size();
}

// The file's first `size` bytes, or as many as it has.
std::string readUpTo(int fd, int64_t size) {
    std::string bytes(size_t(size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    bytes.resize(done);
    return bytes;
}

std::string describe(const std::string& path, const std::string& what) {
    return "The journal of the settings file \"" + path + "\" " + what;
}

} // namespace

StoreJournal::StoreJournal(const std::string& storeFileName) : path_(storeFileName + "-journal") {}

JournalState StoreJournal::read() const {
    JournalState state;
    // Not blocking: a named pipe in its place must not hold the store up.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return state;
        throw StoreError(describe(path_, std::string("cannot be read: ") + std::strerror(errno)));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw StoreError(describe(path_, "is not a file"));
    }
    state.exists = true;
    // The header alone, unless it announces ranges to undo.
    std::string journal = readUpTo(fd, kJournalHeaderSize);
    if (journal.size() == size_t(kJournalHeaderSize) &&
        std::memcmp(journal.data(), kMagic, sizeof kMagic) == 0) {
        state.stamp = getUint(journal, 9, 8);
        const uint64_t bodySize = getUint(journal, 29, 8);
        if (journal[8] == 1 && bodySize <= uint64_t(info.st_size)) {
            journal = readUpTo(fd, kJournalHeaderSize + int64_t(bodySize));
            state.originalLength = int64_t(getUint(journal, 17, 8));
            state.pending = decodeRanges(journal, state);
            if (!state.pending) {
                state.ranges.clear();
                state.originalLength = 0;
            }
        }
    }
    ::close(fd);
    return state;
}

int StoreJournal::openForWriting(bool& created, int64_t& size) const {
    created = false;
    int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
    }
    if (fd < 0)
        throw StoreError(
            describe(path_, std::string("cannot be written: ") + std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw StoreError(describe(path_, "is not a file"));
    }
    size = int64_t(info.st_size);
    return fd;
}

void StoreJournal::record(uint64_t stamp, int64_t originalLength,
                          const std::vector<JournalRange>& ranges) {
    const std::string journal = encode(true, stamp, originalLength, ranges);
    bool created = false;
    int64_t size = 0;
    const int fd = openForWriting(created, size);
    const bool written =
        io::WriteAt(fd, 0, journal.data(), int64_t(journal.size())) == int64_t(journal.size()) &&
        io::Sync(fd);
    const int error = errno;
    ::close(fd);
    // A new journal must not vanish from its folder while the store is being changed.
    if (!written || (created && !io::SyncDirectoryOf(path_)))
        throw StoreError(describe(path_, std::string("cannot be written: ") +
                                             std::strerror(written ? errno : error)));
}

void StoreJournal::markDone(uint64_t stamp) {
    const std::string header = encode(false, stamp, 0, {});
    bool created = false;
    int64_t size = 0;
    const int fd = openForWriting(created, size);
    const bool written =
        io::WriteAt(fd, 0, header.data(), int64_t(header.size())) == int64_t(header.size()) &&
        (size <= kKeptJournalSize || io::Truncate(fd, int64_t(header.size()))) && io::Sync(fd);
    const int error = errno;
    ::close(fd);
    if (!written)
        throw StoreError(
            describe(path_, std::string("cannot be written: ") + std::strerror(error)));
}

uint64_t FreshStamp() {
    uint64_t stamp = 0;
    // getrandom rather than a seeded generator: a forked process must not repeat its
    // parent's stamps.
    while (stamp == 0) {
        if (::getrandom(&stamp, sizeof stamp, 0) != ssize_t(sizeof stamp))
            stamp = (uint64_t(std::random_device{}()) << 32) ^ std::random_device{}();
    }
    return stamp;
}

} // namespace store
