#include "store/StoreStream.h"

#include "store/StoreError.h"
#include "store/StoreIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

std::string openError(const std::string& fileName, const std::string& why) {
    return "Cannot open the settings file \"" + fileName + "\": " + why;
}

} // namespace

StoreStream::StoreStream(const std::string& fileName, Mode mode)
    : fileName_(fileName), mode_(mode), journal_(fileName) {
    // Not blocking: opening a named pipe for reading would wait for a writer.
    const int access = mode == Mode::ReadWrite ? O_RDWR : O_RDONLY;
    fd_ = ::open(fileName.c_str(), access | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT && mode == Mode::ReadWrite) {
        fd_ = ::open(fileName.c_str(), access | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
        created_ = fd_ >= 0;
    }
    if (fd_ < 0)
        throw StoreError(openError(fileName, std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw StoreError(openError(fileName, "not a file"));
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

StoreStream::~StoreStream() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock too
}

// ---- locking ----

void StoreStream::lock(int operation) {
    int result;
    do
        result = ::flock(fd_, operation);
    while (result != 0 && errno == EINTR);
    if (result != 0)
        throw StoreError("The settings file \"" + fileName_ +
                         "\" cannot be locked: " + std::strerror(errno));
    locked_ = true;
}

void StoreStream::unlock() {
    if (locked_)
        ::flock(fd_, LOCK_UN);
    locked_ = false;
}

bool StoreStream::Identity::operator==(const Identity& other) const {
    return stamp == other.stamp && size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
}

StoreStream::Identity StoreStream::identity(uint64_t stamp) const {
    Identity id;
    id.stamp = stamp;
    struct stat info {};
    if (::fstat(fd_, &info) == 0) {
        id.size = info.st_size;
        id.modified = info.st_mtim;
        id.changed = info.st_ctim;
    }
    return id;
}

int64_t StoreStream::physicalSize() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 ? int64_t(info.st_size) : 0;
}

// ---- operations ----

bool StoreStream::begin(bool forWriting) {
    pending_.clear();
    before_.clear();
    readingBefore_ = false;
    forWriting_ = forWriting && writable();
    lock(forWriting_ ? LOCK_EX : LOCK_SH);
    try {
        JournalState journal = journal_.read();
        if (journal.pending && writable()) {
            // Undoing needs the file to itself.
            if (!forWriting_) {
                lock(LOCK_EX);
                journal = journal_.read();
            }
            if (journal.pending)
                recover(journal);
            journal = journal_.read();
        } else if (journal.pending) {
            before_.clear();
            for (const JournalRange& range : journal.ranges)
                before_.write(range.offset, range.bytes.data(), int64_t(range.bytes.size()));
            readingBefore_ = true;
            lengthBefore_ = journal.originalLength;
        }
        needsRecovery_ = false;
        stamp_ = journal.stamp;
        baseSize_ = physicalSize();
        const Identity now = identity(stamp_);
        const bool changed = !seenOnce_ || !(now == seen_);
        seen_ = now;
        seenOnce_ = true;
        return changed;
    } catch (...) {
        unlock();
        throw;
    }
}

void StoreStream::recover(const JournalState& journal) {
    if (!restore(journal.ranges, journal.originalLength))
        throw StoreError("The settings file \"" + fileName_ +
                         "\" could not be put back as it was before an unfinished change: " +
                         std::strerror(errno));
    journal_.markDone(FreshStamp());
}

bool StoreStream::restore(const std::vector<JournalRange>& ranges, int64_t length) {
    for (const JournalRange& range : ranges) {
        const int64_t size = int64_t(range.bytes.size());
        if (io::WriteAt(fd_, range.offset, range.bytes.data(), size) != size)
            return false;
    }
    return io::Truncate(fd_, length) && io::Sync(fd_);
}

void StoreStream::commit() {
    if (!forWriting_ || pending_.empty())
        return;
    const int64_t original = baseSize_;
    std::vector<JournalRange> ranges;
    for (const auto& [offset, bytes] : pending_.ranges()) {
        if (offset >= original)
            continue;
        JournalRange range;
        range.offset = offset;
        range.bytes.resize(size_t(std::min<int64_t>(int64_t(bytes.size()), original - offset)));
        const int64_t size = int64_t(range.bytes.size());
        int64_t done = 0;
        while (done < size) {
            const ssize_t n =
                ::pread(fd_, range.bytes.data() + done, size_t(size - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw StoreError(kFileReadErrorMessage);
            done += n;
        }
        // Bytes that would not change need no journal and no write.
        if (range.bytes.size() == bytes.size() && range.bytes == bytes)
            continue;
        ranges.push_back(std::move(range));
    }
    const bool grows = pending_.end() > original;
    if (ranges.empty() && !grows) {
        pending_.clear();
        return;
    }

    const uint64_t stamp = FreshStamp();
    journal_.record(stamp, original, ranges);

    bool applied = true;
    for (const auto& [offset, bytes] : pending_.ranges()) {
        const int64_t size = int64_t(bytes.size());
        if (io::WriteAt(fd_, offset, bytes.data(), size) != size) {
            applied = false;
            break;
        }
    }
    applied = applied && io::Sync(fd_);
    // A new file must not vanish from its folder once it holds settings.
    if (applied && created_) {
        applied = io::SyncDirectoryOf(fileName_);
        created_ = !applied;
    }
    if (applied) {
        try {
            journal_.markDone(stamp);
        } catch (const StoreError&) {
            // Still marked unfinished, the change would be undone later; undo it now so
            // that the caller's failure is the whole truth.
            applied = false;
        }
    }
    if (!applied) {
        pending_.clear();
        try {
            if (!restore(ranges, original))
                throw StoreError(kFileWriteErrorMessage);
            stamp_ = FreshStamp();
            journal_.markDone(stamp_);
            baseSize_ = physicalSize();
            seen_ = identity(stamp_);
        } catch (const StoreError&) {
            needsRecovery_ = true;
        }
        throw StoreError(kFileWriteErrorMessage);
    }
    pending_.clear();
    stamp_ = stamp;
    baseSize_ = physicalSize();
    seen_ = identity(stamp_);
}

void StoreStream::end() {
    pending_.clear();
    before_.clear();
    readingBefore_ = false;
    forWriting_ = false;
    unlock();
}

// ---- reads and writes ----

int64_t StoreStream::size() const {
    const int64_t base = readingBefore_ ? lengthBefore_ : baseSize_;
    return std::max(base, pending_.end());
}

int64_t StoreStream::readAt(int64_t offset, void* buffer, int64_t size) const {
    if (offset < 0 || size <= 0)
        return 0;
    const int64_t available = std::min(size, this->size() - offset);
    if (available <= 0)
        return 0;
    auto* bytes = static_cast<char*>(buffer);
    const int64_t onDisk = readingBefore_ ? std::min(baseSize_, lengthBefore_) : baseSize_;
    const int64_t fromFile = std::clamp<int64_t>(onDisk - offset, 0, available);
    int64_t done = 0;
    while (done < fromFile) {
        const ssize_t n = ::pread(fd_, bytes + done, static_cast<size_t>(fromFile - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done; // the file ended or failed early
        done += n;
    }
    std::memset(bytes + fromFile, 0, size_t(available - fromFile));
    if (readingBefore_)
        before_.overlay(offset, bytes, available);
    pending_.overlay(offset, bytes, available);
    return available;
}

int64_t StoreStream::writeAt(int64_t offset, const void* buffer, int64_t size) {
    if (offset < 0 || size < 0 || !forWriting_)
        return 0;
    pending_.write(offset, buffer, size);
    return size;
}

} // namespace store
