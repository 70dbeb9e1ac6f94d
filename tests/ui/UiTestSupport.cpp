#include "UiTestSupport.h"

#include "store/ProgramFolder.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"

#include <QFileInfo>

namespace ui_testing {

MessageBoxes::MessageBoxes(QList<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)) {
    ui::SetMessageBoxAnswerer([this](const ui::MessageBoxRequest& request) {
        asked_.push_back(request);
        if (answers_.size() > 1)
            return answers_.takeFirst();
        return answers_.value(0, QMessageBox::Ok);
    });
}

MessageBoxes::~MessageBoxes() {
    ui::SetMessageBoxAnswerer({});
}

QList<StoredRestoreRecord> StoredRestoreRecords() {
    QList<StoredRestoreRecord> records;
    if (!QFileInfo::exists(QString::fromStdString(StoreFilePath())))
        return records;
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    std::vector<std::string> keys;
    if (store.OpenKey(kRestoresKey, false))
        store.GetKeyNames(keys);
    for (const std::string& key : keys) {
        store.OpenKey(std::string(kRestoresKey) + "\\" + key, false);
        records.push_back({QString::fromStdString(store.ReadString(kBackupNameValue)),
                           QString::fromStdString(store.ReadString(kActionValue))});
    }
    store.CloseKey();
    return records;
}

} // namespace ui_testing
