#pragma once
// The restore records under "\Restores" of the settings file: one key per backup
// profile or undo file, named by the time it was added ("yyyymmddhhnnss").

#include "registry/DateTime.h"

#include <string>
#include <string_view>
#include <vector>

struct TRestoreRecord {
    std::string action;
    std::string backupName;
    TDateTime dateCreated = 0;
};

// The records, oldest first (by their keys' names), that hold an action, a backup name and
// a creation date-time; none when the settings file is missing. Store errors are raised.
std::vector<TRestoreRecord> ReadRestoreRecords(const std::string& storeFile);

// Adds a record unless one with the same backup name, ignoring letter case, exists.
// `keyTime` names the record's key; a second record of the same second takes the next
// second that no record holds, so that neither is lost.
// Creates the settings file when it is missing. True when a record was written.
bool AddRestoreRecord(const std::string& storeFile, std::string_view action,
                      std::string_view backupName, TDateTime dateCreated,
                      TDateTime keyTime = Now());

// Removes the first record whose action, backup name and creation date (as
// "yyyy-mm-dd hh:nn:ss") all equal the given ones, ignoring letter case. Does nothing
// when the settings file is missing. True when a record was removed.
bool DeleteRestoreRecord(const std::string& storeFile, std::string_view action,
                         std::string_view backupName, std::string_view dateCreated);
