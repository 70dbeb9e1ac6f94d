#pragma once
// "config.ini" of a backup profile: which file of the profile holds which hive, and
// where that hive's live file is.
//
//     [Creation]
//     2026-12-08 21:05:00
//
//     [SAM]
//     "\REGISTRY\MACHINE\SAM"
//     "C:\WINDOWS\system32\config\SAM"
//
// and so on for each hive saved; single-byte text, lines ended by CR LF.

#include "registry/DateTime.h"
#include "win32/base/WinTypes.h"

#include <string>
#include <vector>

inline constexpr char kProfileConfigName[] = "config.ini";
// The number of hives a complete profile holds.
inline constexpr int kProfileHiveCount = 5;

// One hive of a profile as the reader finds it.
struct TProfileEntry {
    std::string HiveFile; // host path of the copy in the profile
    HKEY Root = nullptr;  // HKEY_LOCAL_MACHINE or HKEY_USERS
    std::string KeyName;  // below the root: "SAM", ".DEFAULT"
    std::string FilePath; // drive path of the live hive file
};

// The lines of a profile's "config.ini", built as the hives are saved.
class TProfileConfig {
public:
    // "[Creation]", the time as "yyyy-mm-dd hh:nn:ss", an empty line.
    explicit TProfileConfig(TDateTime created);
    // The four lines of one saved hive: "[" + the file's name + "]", the hive's key name
    // and its live file between double quotes, an empty line.
    void AddHive(const std::string& fileName, const std::string& keyName,
                 const std::string& liveFile);
    const std::vector<std::string>& Lines() const { return lines_; }
    // Replaces the folder's "config.ini" with the lines; when this returns, the file is
    // complete on disk. Throws std::runtime_error naming the file.
    void Write(const std::string& folder) const;

private:
    std::vector<std::string> lines_;
};

// `folder` (a host path) with "/" and `name` appended.
std::string ProfileFilePath(const std::string& folder, const std::string& name);

// Reads the profile's "config.ini" into at most five entries. True only when the folder
// and its "config.ini" exist, every hive file named exists in the folder, every key line
// splits into three pieces, and five entries each have a root, a key name, a hive file
// and a live file.
bool ReadProfileConfig(const std::string& folder, std::vector<TProfileEntry>& entries);

// The name the wizard gives a new profile: the time as "dd-mm-yyyy hh.nn.ss".
std::string DefaultProfileName(TDateTime time);
