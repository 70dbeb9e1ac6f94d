#pragma once
// Reading a hive file into a HiveKey tree (libhivex checks the file when it opens
// it; our own checked reader takes the tree, since libhivex caps subkeys, values and
// data below what Windows writes and does not expose class names or descriptors),
// and writing a tree as a new, dense hive file.

#include "hive/HiveKey.h"
#include "hive/HiveLogs.h"

#include <stdexcept>
#include <string>

namespace hive {

// A hive file that cannot be read: the message names the file and the reason.
class HiveFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct LoadedHive {
    std::shared_ptr<HiveKey> root;
    uint32_t minorVersion = 5;
    std::u16string fileNameField; // base block 0x30, as stored (may be empty)
    // The larger of the base block's two sequence numbers (after recovery: the last one a
    // log applied). Windows' transaction logs carry numbers up to it; a rewrite must count
    // on from it so no log entry looks newer.
    uint32_t sequence = 1;
    // Windows did not finish writing the file (its sequence numbers differ or its header
    // checksum is wrong) and no log brought it up to date: the tree is the file as last
    // written, and what Windows did not write may wait in a log that cannot be applied.
    bool dirty = false;
    // The logs beside a file that needed recovery, and what recovery did with them;
    // recovery.applied means the tree is the recovered hive, and recovery.hive its bytes.
    std::vector<std::string> logFiles;
    LogRecovery recovery;
    // A damaged file read with HiveLoadOptions::salvage: one sentence per part left out
    // (at most kMaxDamageNotes), and how many there were in all. Empty for a sound file.
    std::vector<std::string> damage;
    size_t damageCount = 0;
    static constexpr size_t kMaxDamageNotes = 200;
};

struct HiveLoadOptions {
    // Brings a file that Windows did not finish writing up to date from the logs beside
    // it (NAME.LOG, NAME.LOG1, NAME.LOG2), as Windows does when it loads the hive.
    bool applyLogs = true;
    // Reads a damaged file instead of refusing it: the keys and values that can be
    // reached soundly are kept, the rest is left out and listed in LoadedHive::damage.
    // The base block and the root key must still be sound.
    bool salvage = false;
};

// Loads the whole tree, recovered from the logs beside the file when it needs that.
// Throws HiveFileError for a file that is missing, truncated, not a hive, rejected by
// libhivex, or whose cells do not check out; with salvage, only for a file whose base
// block or root key is unsound.
LoadedHive LoadHiveFile(const std::string& hostPath, const HiveLoadOptions& options = {});

// As LoadHiveFile, but a sound file's keys are read where the file lies, when they are
// first used: the whole file is checked first, and the tree is built as far as it is
// walked. A file that is not sound is read whole, as LoadHiveFile reads it. Damage found
// later (the file changed under the mount) is left out and listed by the root's
// source(); WriteHive then refuses to write the tree unless it is being salvaged.
LoadedHive MountHiveFile(const std::string& hostPath, const HiveLoadOptions& options = {});

// The same for a file's bytes in memory, with the logs given rather than looked for;
// `name` names the file in messages.
LoadedHive LoadHiveImage(const Bytes& image, const std::string& name,
                         const std::vector<HiveLogFile>& logs = {},
                         const HiveLoadOptions& options = {});

// As MountHiveFile, for bytes in memory (copied: the tree may outlive them).
LoadedHive MountHiveImage(const Bytes& image, const std::string& name,
                          const std::vector<HiveLogFile>& logs = {},
                          const HiveLoadOptions& options = {});

struct HiveWriteOptions {
    uint32_t minorVersion = 5; // 3: lf lists, big data in one cell; 5: lh lists, db cells
    std::u16string fileNameField;
    uint64_t timestamp = 0; // FILETIME of the base block; 0 = now
    uint32_t sequence = 1;  // both sequence numbers (equal: a consistent file)
    // Name to store in the root's nk instead of root.name (a mounted hive's root is
    // known by its mount name, but its file keeps the name it was created with).
    std::optional<std::u16string> rootName;
};

// Serialises the tree below `root` (which becomes the new hive's root) as a
// complete hive file. Volatile keys and deleted keys are left out. Throws
// std::runtime_error for a tree the format cannot hold (over 2 GB, a name too long).
Bytes WriteHive(const HiveKey& root, const HiveWriteOptions& options);

// A file could not be written; `error` is the errno (ENOSPC for a full disk).
class FileError : public std::runtime_error {
public:
    FileError(const std::string& message, int error) : std::runtime_error(message), error(error) {}
    int error;
};

// Writes bytes to a new file beside `hostPath`, fsyncs it and renames it over
// `hostPath`, so that a crash leaves the old file or the new one.
// Throws std::runtime_error naming the file on failure.
void ReplaceFileAtomically(const std::string& hostPath, const Bytes& bytes);
// The new file ReplaceFileAtomically writes for `hostPath`: what a killed process leaves.
std::string ReplacementFileOf(const std::string& hostPath);

// As ReplaceFileAtomically, for a file that must not exist yet: false (and nothing
// written) when `hostPath` exists, even when it appears while the bytes are written.
bool CreateFileAtomically(const std::string& hostPath, const Bytes& bytes);

// The descriptor new hives give their keys: owner Administrators, full control
// for SYSTEM, Administrators and CREATOR OWNER, read for Users.
std::shared_ptr<const Bytes> DefaultKeySecurity();

// FILETIME of now.
uint64_t FileTimeNow();

} // namespace hive
