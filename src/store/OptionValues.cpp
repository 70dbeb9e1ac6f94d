#include "store/OptionValues.h"

#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"

#include <QFileInfo>

void WriteOptionString(const std::string& storeFile, std::string_view name, std::string_view text) {
    TfxRegFile store(storeFile);
    store.OpenKey(kOptionsKey, true);
    store.WriteString(name, text);
    store.CloseKey();
}

void ResetLastRunValues(const std::string& storeFile) {
    if (!QFileInfo::exists(QString::fromStdString(storeFile)))
        return;
    TfxRegFile store(storeFile);
    if (store.OpenKey(kOptionsKey, false)) {
        store.WriteString(kLastScanValue, "");
        store.WriteString(kLastBackupValue, "");
        store.WriteString(kLastCompactValue, "");
    }
    store.CloseKey();
}

TLastRunValues ReadLastRunValues(const std::string& storeFile) {
    TLastRunValues values;
    if (!QFileInfo::exists(QString::fromStdString(storeFile)))
        return values;
    TfxRegFile store(storeFile, TfxRegFile::Access::ReadOnly);
    if (store.OpenKey(kOptionsKey, false)) {
        const auto read = [&store](const char* name) -> std::optional<std::string> {
            if (!store.ValueExists(name))
                return std::nullopt;
            return store.ReadString(name);
        };
        values.scan = read(kLastScanValue);
        values.backup = read(kLastBackupValue);
        values.compact = read(kLastCompactValue);
    }
    store.CloseKey();
    return values;
}
