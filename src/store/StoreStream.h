#pragma once
// The store file as positioned reads and writes, changed only in whole operations. An
// operation runs under a lock on the file: shared with other readers, or held alone to
// change it, so that the changes of two store objects, in one process or in two, never
// interleave. Writes are held in memory until the operation commits them; then either all
// of them reach the file or none do, even across a crash or a power loss, through the
// rollback journal beside the file.

#include "store/PendingWrites.h"
#include "store/StoreJournal.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>

namespace store {

class StoreStream {
public:
    enum class Mode { ReadWrite, ReadOnly };

    // ReadWrite creates a missing file; ReadOnly never does. Throws StoreError when the
    // file cannot be opened or is no regular file.
    StoreStream(const std::string& fileName, Mode mode);
    ~StoreStream();
    StoreStream(const StoreStream&) = delete;
    StoreStream& operator=(const StoreStream&) = delete;

    // Starts an operation: takes the lock and undoes a change that a stopped process left
    // unfinished. A read-only stream cannot undo it and reads the file as it was before
    // that change instead. True when the file may differ from what this stream saw at
    // the end of its previous operation, or on the first call. Throws StoreError.
    bool begin(bool forWriting);
    // Writes the operation's changes all or nothing. Throws StoreError when they could not
    // be written; the file is then as it was before the operation, or, should even that
    // fail, will be put back by the next operation of any store object.
    void commit();
    // Drops the operation's changes that were not committed; the lock stays.
    void discard() { pending_.clear(); }
    // Drops changes that were not committed and releases the lock.
    void end();
    // True after a commit failed so badly that the file is half changed until the next
    // begin puts it back.
    bool needsRecovery() const { return needsRecovery_; }
    // Between begin and end.
    bool locked() const { return locked_; }

    // The number of bytes transferred; fewer than asked at the end of the file. Reads see
    // the operation's uncommitted writes.
    int64_t readAt(int64_t offset, void* buffer, int64_t size) const;
    int64_t writeAt(int64_t offset, const void* buffer, int64_t size);
    int64_t size() const;
    bool writable() const { return mode_ == Mode::ReadWrite; }
    const std::string& fileName() const { return fileName_; }

private:
    // What tells whether another store object changed the file.
    struct Identity {
        uint64_t stamp = 0;
        int64_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const Identity& other) const;
    };

    void lock(int operation);
    void unlock();
    void recover(const JournalState& journal);
    // Gives the file back its journaled bytes and length and syncs it; false on failure.
    bool restore(const std::vector<JournalRange>& ranges, int64_t length);
    Identity identity(uint64_t stamp) const;
    int64_t physicalSize() const;

    std::string fileName_;
    Mode mode_;
    int fd_ = -1;
    bool created_ = false;
    StoreJournal journal_;

    bool locked_ = false;
    bool forWriting_ = false;
    bool needsRecovery_ = false;
    bool seenOnce_ = false;
    Identity seen_;
    uint64_t stamp_ = 0;

    // The file's length when the operation began, and for a read-only stream that found
    // an unfinished change, the bytes and length it had before that change.
    int64_t baseSize_ = 0;
    PendingWrites before_;
    bool readingBefore_ = false;
    int64_t lengthBefore_ = 0;

    PendingWrites pending_;
};

} // namespace store
