#pragma once
// One loaded hive of the machine's hive list: where its file is, who owns it, and the
// dense copy of it that a save writes and a replacement swaps in at the next start.

#include "registry/DeviceFileMapper.h"
#include "win32/base/WinTypes.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace win32 {
struct PendingReplacement;
}

// A step of a hive replacement failed; the message is "Compact error".
class ECompactError : public std::runtime_error {
public:
    ECompactError() : std::runtime_error("Compact error") {}
};

// File sizes are kept in 32 bits; a file that is not there has all bits set.
constexpr uint32_t kNoFileSize = 0xFFFFFFFF;

// The low 32 bits of the size of the file a directory search for exactly `path` finds,
// kNoFileSize when it finds none. `path` is a Windows path on the machine, or a host
// path (beginning with "/") for the program's own files.
uint32_t HiveFileSize(const std::string& path);

class THive {
public:
    // `keyName` as the hive list names it ("\REGISTRY\MACHINE\SOFTWARE"), `devicePath`
    // the hive list's data. Raises the mapper's EDeviceFileMapper when the path lies on
    // none of the machine's drives.
    THive(const std::string& keyName, const TDeviceFileMapper& mapper,
          const std::string& devicePath);
    ~THive();
    THive(const THive&) = delete;
    THive& operator=(const THive&) = delete;

    HKEY KeyHandle = nullptr; // the hive's root key, open from the first save on
    bool Saved = false;
    const TDeviceFileMapper* Mapper;
    std::string KeyName;
    std::string FileName; // drive path of the hive file
    std::string Owner;
    std::string TempFileName; // what the last save wrote
    uint32_t FileSize = kNoFileSize;
    uint32_t SavedSize = kNoFileSize;
    std::string SaveError; // why the last save failed ("Cannot write F.rctemp: ..."), or empty

    // Writes the live hive to `target` (a Windows path, or a host path beginning with
    // "/"), or to FileName + ".rctemp" when `target` is empty. The copy is written whole
    // beside the target first and then takes its place: a file of that name is replaced
    // only by a complete copy, and left as it is when the key cannot be opened or the
    // save fails. Sets Saved on success. Needs SeBackupPrivilege, which it enables.
    void Save(const std::string& target);
    // Clears Saved, then saves.
    void SaveTo(const std::string& target);
    // Asks the system to load the hive from TempFileName at the next start and keep the
    // present file as FileName + ".rcbak". Nothing when Saved is clear; clears it on
    // success. Raises ECompactError when a step fails.
    void Replace();
    // FileName + ".rcbak": where the present file goes at the next start.
    std::string BackupFileName() const { return FileName + ".rcbak"; }
    // The two names a restored copy of the hive waits under for the next start: a new
    // restore takes the one an earlier restore's replacement does not wait for, so the
    // earlier copy stays whole until the new one has been asked for.
    std::array<std::string, 2> RestoreCopyNames() const {
        return {FileName + ".rcrestore", FileName + ".rcrestore2"};
    }
    // Whether `file` is one of RestoreCopyNames (in any case).
    bool IsRestoreCopy(const std::string& file) const;
    // Removes the copies of the hive beside its file, a compaction's (FileName +
    // ".rctemp") and a restore's (RestoreCopyNames), that no replacement of `pending`
    // waits for: what a stopped, failed or finished run leaves.
    void RemoveUnawaitedCopies(const std::vector<win32::PendingReplacement>& pending) const;
    // The replacement of `pending` that waits for this hive (there is at most one), or
    // null.
    const win32::PendingReplacement*
    WaitingReplacement(const std::vector<win32::PendingReplacement>& pending) const;

    // The part of KeyName below its root, and the root: HKEY_LOCAL_MACHINE for
    // "\REGISTRY\MACHINE\...", HKEY_USERS for "\REGISTRY\USER\...", null for neither.
    HKEY RootOfKeyName(std::string& subKey) const;
};
