#pragma once
// The rollback journal beside a store file ("system.dat-journal"). Before a change touches
// the store, the journal receives the original bytes of every range about to change and
// the file's original length, sealed by a checksum, and is synced; once the changed store
// is synced, the journal is marked done. A sealed journal that is not marked done belongs
// to a change that never finished: writing its bytes back and cutting the file to its
// length undoes that change. A journal whose seal does not hold was cut short while being
// written, before the store was touched, and is ignored.
//
// The journal file stays once created. Its header carries a stamp, new with every change,
// so that another store object can tell that the file changed since it last looked.
// Bytes after the ranges (left by an earlier, longer journal) mean nothing.
//
//   offset  size  field
//        0     8  "HWJRNL01"
//        8     1  1 while the change it records may be unfinished, 0 when done
//        9     8  stamp
//       17     8  the store's length before the change
//       25     4  number of ranges
//       29     8  bytes of ranges that follow the header
//       37     8  FNV-1a 64 of bytes 0 to 36 and of the ranges
//       45        ranges: offset (8), length (4), the original bytes
// All numbers little-endian.

#include <cstdint>
#include <string>
#include <vector>

namespace store {

struct JournalRange {
    int64_t offset = 0;
    std::string bytes;
};

struct JournalState {
    bool exists = false;
    uint64_t stamp = 0;
    // Sealed and not done: the store must be given back these bytes and this length.
    bool pending = false;
    int64_t originalLength = 0;
    std::vector<JournalRange> ranges;
};

class StoreJournal {
public:
    explicit StoreJournal(const std::string& storeFileName);

    const std::string& path() const { return path_; }

    // Never creates or changes anything. Throws StoreError when the journal cannot be
    // read or is no regular file.
    JournalState read() const;
    // Writes, seals and syncs the journal of a change. Throws StoreError on failure; the
    // store has not been touched then.
    void record(uint64_t stamp, int64_t originalLength, const std::vector<JournalRange>& ranges);
    // Marks the recorded change done (or undone) and syncs that. Throws StoreError.
    void markDone(uint64_t stamp);

private:
    int openForWriting(bool& created, int64_t& size) const;

    std::string path_;
};

// A stamp that no other change of any process has used.
uint64_t FreshStamp();

} // namespace store
