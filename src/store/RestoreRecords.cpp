#include "store/RestoreRecords.h"

#include "store/SettingsNames.h"
#include "store/StoreFormat.h"
#include "store/fxRegistryFile.h"
#include "win32/system/Nls.h"

#include <QFileInfo>
#include <algorithm>
#include <vector>

namespace {

std::string upperCase(std::string_view text) {
    std::string upper(text);
    if (!upper.empty())
        CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    return upper;
}

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && upperCase(a) == upperCase(b);
}

std::string restoreKey(std::string_view name) {
    return std::string(kRestoresKey) + "\\" + std::string(name);
}

// Opens the record `name` when it holds all three values, its date as a date-time; a
// record without them is no record, and must not stop a pass over the others.
bool openWholeRecord(TfxRegFile& store, std::string_view name) {
    store.CloseKey();
    return store.OpenKey(restoreKey(name), false) && store.ValueExists(kActionValue) &&
           store.ValueExists(kBackupNameValue) &&
           store.ValueDataType(kDateCreatedValue) == store::kTypeDateTime;
}

} // namespace

std::vector<TRestoreRecord> ReadRestoreRecords(const std::string& storeFile) {
    std::vector<TRestoreRecord> records;
    if (!QFileInfo::exists(QString::fromStdString(storeFile)))
        return records;
    TfxRegFile store(storeFile);
    std::vector<std::string> names;
    if (store.OpenKey(kRestoresKey, false))
        store.GetKeyNames(names);
    for (const std::string& name : names) {
        if (!openWholeRecord(store, name))
            continue;
        records.push_back({store.ReadString(kActionValue), store.ReadString(kBackupNameValue),
                           store.ReadDateTime(kDateCreatedValue)});
    }
    store.CloseKey();
    return records;
}

namespace {

// The key for a record added at `keyTime`: that second, or the first later second no
// record holds yet. Sharing a key would overwrite the earlier record (a repair's undo file
// and a backup made within one second), and the user would lose the way to it.
std::string freeRecordKey(const std::vector<std::string>& taken, TDateTime keyTime) {
    constexpr TDateTime kSecond = 1.0 / 86400.0;
    std::string name = FormatDateTime(kRestoreKeyTimeFormat, keyTime);
    for (int step = 1; step < 100000 && std::find(taken.begin(), taken.end(), name) != taken.end();
         ++step) {
        // Step from the original time, so rounding never adds up over the steps.
        name = FormatDateTime(kRestoreKeyTimeFormat, keyTime + step * kSecond);
    }
    return name;
}

} // namespace

bool AddRestoreRecord(const std::string& storeFile, std::string_view action,
                      std::string_view backupName, TDateTime dateCreated, TDateTime keyTime) {
    TfxRegFile store(storeFile);
    bool recorded = false;
    std::vector<std::string> names;
    if (store.OpenKey(kRestoresKey, false)) {
        store.GetKeyNames(names);
        for (const std::string& name : names) {
            store.CloseKey();
            if (store.OpenKey(restoreKey(name), false) && store.ValueExists(kBackupNameValue) &&
                sameText(store.ReadString(kBackupNameValue), backupName)) {
                recorded = true;
                break;
            }
        }
    }
    if (!recorded) {
        store.OpenKey(restoreKey(freeRecordKey(names, keyTime)), true);
        store.WriteString(kActionValue, action);
        store.WriteString(kBackupNameValue, backupName);
        store.WriteDateTime(kDateCreatedValue, dateCreated);
    }
    store.CloseKey();
    return !recorded;
}

bool DeleteRestoreRecord(const std::string& storeFile, std::string_view action,
                         std::string_view backupName, std::string_view dateCreated) {
    if (!QFileInfo::exists(QString::fromStdString(storeFile)))
        return false;
    TfxRegFile store(storeFile);
    bool removed = false;
    if (store.OpenKey(kRestoresKey, false)) {
        std::vector<std::string> names;
        store.GetKeyNames(names);
        for (const std::string& name : names) {
            if (!openWholeRecord(store, name))
                continue;
            const std::string recordAction = store.ReadString(kActionValue);
            const std::string recordDate =
                FormatDateTime(kDateCreatedTextFormat, store.ReadDateTime(kDateCreatedValue));
            const std::string recordName = store.ReadString(kBackupNameValue);
            if (sameText(recordAction, action) && sameText(recordDate, dateCreated) &&
                sameText(recordName, backupName)) {
                store.DeleteKey(restoreKey(name));
                removed = true;
                break;
            }
        }
    }
    store.CloseKey();
    return removed;
}
