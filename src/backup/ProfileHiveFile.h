#pragma once
// A hive file of a backup profile, read without trusting it: its base block first (what
// it declares, whether Windows finished writing it), then only the bytes it declares,
// so that a file extended far past its hive (a sparse 3 GB tail, say) costs nothing.
// The hive's root keys say which of the five system hives it is.

#include "hive/HiveFile.h"

#include <QCryptographicHash>

#include <cstdint>
#include <string>

namespace hive {
struct HiveKey;
}

// What a hive file's base block says about it.
struct TProfileHiveHeader {
    uint64_t FileSize = 0;     // bytes on disk
    uint64_t DeclaredSize = 0; // the base block and the hive bins it declares
    bool Unfinished = false;   // sequence numbers differ or the checksum is wrong
};

// Reads and checks the base block of `path`. Returns why the file is no hive that can
// be taken (not a hive, declares more than the file holds), empty when it can.
std::string ReadProfileHiveHeader(const std::string& path, TProfileHiveHeader& header);

// Loads the hive at `path` from its declared bytes only. A file Windows did not finish
// is brought up to date from the logs beside it (NAME.LOG, .LOG1, .LOG2); without logs
// that do so it is refused. Throws std::runtime_error with a sentence naming the file.
hive::LoadedHive LoadProfileHive(const std::string& path, const TProfileHiveHeader& header);

// Copies the first `size` bytes of `source` to `target` through a small buffer, adding
// them to `hash` when given, syncs the copy and renames it into place. Throws
// std::runtime_error naming the file that could not be read or written.
void CopyFileHead(const std::string& source, const std::string& target, uint64_t size,
                  QCryptographicHash* hash = nullptr);

// The five hives a profile holds, by the key name a "config.ini" line gives below its
// root ("SYSTEM", ".DEFAULT", ...).
enum class THiveKind { System, Software, Sam, Security, DefaultUser, Unknown };

// The kind a profile entry's key name stands for (ignoring case); Unknown for others.
THiveKind HiveKindOfKeyName(const std::string& keyName);
// Whether the tree below `root` holds the keys every hive of `kind` holds: SYSTEM its
// Select key and a ControlSet00N, SOFTWARE Microsoft, SAM SAM\Domains, SECURITY Policy,
// a user hive Software or Control Panel.
bool HiveHasKindKeys(const hive::HiveKey& root, THiveKind kind);
// The first kind whose keys the tree holds, in the order SYSTEM, SAM, SECURITY, SOFTWARE,
// user hive (a SYSTEM hive has a Software key too), Unknown when none. A hive is of the
// kind this gives, and of no other.
THiveKind GuessHiveKind(const hive::HiveKey& root);
// "a SYSTEM hive", "a user hive", "no system hive" for the messages.
std::string HiveKindPhrase(THiveKind kind);
