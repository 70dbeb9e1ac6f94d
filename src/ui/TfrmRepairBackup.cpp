// The wizard's BackupandRestore page: the list of backup profiles and undo files, a new
// backup through the profile dialog, restore, removal and opening of an entry, and the
// progress of a backup or restore run by the hive manager.

#include "app/AnsiText.h"
#include "backup/ProfileConfig.h"
#include "backup/ProfileFolder.h"
#include "backup/RestoreChoice.h"
#include "compact/THiveManager.h"
#include "registry/DateTimeText.h"
#include "registry/OSInfo.h"
#include "registry/ShellServices.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/SettingsNames.h"
#include "store/StoreError.h"
#include "store/fxRegistryFile.h"
#include "ui/BackupSlides.h"
#include "ui/HostPages.h"
#include "ui/MessageBox.h"
#include "ui/TfrmBackProfile.h"
#include "ui/TfrmRepair.h"
#include "ui/UndoFileViewer.h"
#include "ui/WaitingReplacements.h"
#include "ui/WorkOffThread.h"
#include "win32/host/PlainFileName.h"
#include "win32/shell/RegistryEditor.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace ui {

namespace {

constexpr char kBackupCaption[] = "Backup Registry";
constexpr char kNot9x[] = "This function does not support Windows 9x system.";

// A record's name is the name of an entry of "Registry Backup"; anything that would lead
// out of it (a settings file edited by hand) is no entry.
bool isEntryName(const std::string& name) {
    return win32::IsPlainFileName(name);
}

// The hive manager's own words on why its job failed, as a line to add to a message.
QString failureReason(const THiveManager* manager) {
    const std::string why = manager ? manager->LastError() : std::string();
    return why.empty() ? QString() : "\r\n" + QString::fromStdString(why) + ".";
}

QString hostPath(const std::string& path) {
    return QString::fromStdString(path);
}

// A record the list shows: its undo file is a file, its profile whole; links, half
// profiles and anything else in the folder are no backups.
bool isListedEntry(const std::string& folder, const std::string& name) {
    if (!isEntryName(name) || IsPartialProfileName(name))
        return false;
    const QFileInfo entry(hostPath(folder + name));
    if (entry.isSymLink())
        return false;
    // A profile folder whose name holds ".reg" is listed too: its restore then says that
    // no such undo file exists.
    return (IsUndoFileName(name) && entry.isFile()) || IsWholeProfile(folder + name);
}

QToolButton* taskEntry(QAction* action, QWidget* parent) {
    auto* entry = new QToolButton(parent);
    entry->setObjectName(QString("task") + action->objectName().mid(3));
    entry->setDefaultAction(action);
    entry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    entry->setAutoRaise(true);
    entry->setFixedHeight(30);
    entry->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return entry;
}

} // namespace

QWidget* TfrmRepair::CreateBackupPage() {
    auto* page = new QWidget;
    page->setObjectName("BackupandRestore");
    const auto makeAction = [this](const char* name, const QString& text,
                                   QStyle::StandardPixmap icon) {
        auto* action = new QAction(style()->standardIcon(icon), text, this);
        action->setObjectName(name);
        return action;
    };
    actBackup = makeAction("actBackup", "Backup Now", QStyle::SP_DialogSaveButton);
    actBackup->setIconText("Backup");
    actRestore = makeAction("actRestore", "Restore", QStyle::SP_BrowserReload);
    actRemove = makeAction("actRemove", "Remove", QStyle::SP_TrashIcon);
    connect(actBackup, &QAction::triggered, this, &TfrmRepair::actBackupExecute);
    connect(actRestore, &QAction::triggered, this, &TfrmRepair::actRestoreExecute);
    connect(actRemove, &QAction::triggered, this, &TfrmRepair::actRemoveExecute);

    // The task panel.
    auto* tasks = new QGroupBox("Backup and Restore", page);
    tasks->setObjectName("grpBackupTasks");
    tasks->setFixedWidth(201);
    auto* taskLayout = new QVBoxLayout(tasks);
    for (QAction* action : {actBackup, actRestore, actRemove})
        taskLayout->addWidget(taskEntry(action, tasks));
    taskLayout->addStretch();

    NoteBackup = new QStackedWidget(page);
    NoteBackup->setObjectName("NoteBackup");

    auto* listPage = new QWidget;
    listPage->setObjectName("BackupList");
    auto* listLayout = new QVBoxLayout(listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    restoreModel_ = new QStandardItemModel(0, bcCount, this);
    gdRestore = new BackupListView(listPage);
    gdRestore->setObjectName("gdRestore");
    gdRestore->setModel(restoreModel_);
    gdRestore->setItemDelegate(new BackupSlideDelegate(gdRestore));
    gdRestore->setSelectionMode(QAbstractItemView::SingleSelection);
    gdRestore->setUniformItemSizes(true);
    gdRestore->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gdRestore->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    listLayout->addWidget(gdRestore);
    connect(gdRestore, &BackupListView::cellClicked, this, &TfrmRepair::gdRestoreCellClick);
    connect(gdRestore->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmRepair::UpdateActions);

    auto* progressPage = new QWidget;
    progressPage->setObjectName("Progress");
    auto* progressLayout = new QVBoxLayout(progressPage);
    auto* note =
        new QLabel("During backup or restore process your computer may slow down.", progressPage);
    note->setStyleSheet("color: grey;");
    lblProgress = new QLabel(progressPage);
    lblProgress->setObjectName("lblProgress");
    pgBackup = new QProgressBar(progressPage);
    pgBackup->setObjectName("pgBackup");
    pgBackup->setRange(0, 100);
    btnStopBackup = new QPushButton("Stop", progressPage);
    btnStopBackup->setObjectName("btnStopBackup");
    btnStopBackup->setAutoDefault(false);
    connect(btnStopBackup, &QPushButton::clicked, this, [this] {
        // The backup ends before its next hive, and keeps what it saved.
        if (HiveManager_ && HiveManager_->IsBusy()) {
            backupStopped_ = true;
            HiveManager_->Stop();
        }
    });
    progressLayout->addWidget(note);
    progressLayout->addSpacing(12);
    progressLayout->addWidget(lblProgress);
    progressLayout->addWidget(pgBackup);
    progressLayout->addWidget(btnStopBackup, 0, Qt::AlignHCenter);
    progressLayout->addStretch();

    NoteBackup->addWidget(listPage);
    NoteBackup->addWidget(progressPage);

    // A restore's hives wait for the installation until the program lets it go.
    lblWaitingReplacements = new QLabel(page);
    lblWaitingReplacements->setObjectName("lblPendingReplacements");
    lblWaitingReplacements->setWordWrap(true);
    lblWaitingReplacements->hide();
    auto* column = new QVBoxLayout;
    column->addWidget(NoteBackup, 1);
    column->addWidget(lblWaitingReplacements);

    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(8, 4, 8, 0);
    layout->addWidget(tasks);
    layout->addLayout(column, 1);
    return page;
}

void TfrmRepair::ShowBackupList() {
    NoteBackup->setCurrentIndex(0);
    ShowWaitingReplacements();
}

void TfrmRepair::ShowWaitingReplacements() {
    const QString waiting = WaitingReplacementsText();
    lblWaitingReplacements->setText(waiting);
    lblWaitingReplacements->setVisible(!waiting.isEmpty());
}

int TfrmRepair::SelectedBackupRow() const {
    const QModelIndex current = gdRestore->currentIndex();
    if (!current.isValid() || !gdRestore->selectionModel()->isSelected(current))
        return -1;
    return current.row();
}

std::string TfrmRepair::EntryPath(int row) const {
    return RegistryBackupFolder() +
           restoreModel_->item(row, bcName)->data(Qt::UserRole).toByteArray().toStdString();
}

void TfrmRepair::LoadProfiles() {
    restoreModel_->removeRows(0, restoreModel_->rowCount());
    std::vector<TRestoreRecord> records;
    try {
        records = ReadRestoreRecords(StoreFilePath());
    } catch (const StoreError& e) {
        ShowMessageBox(this, kBackupCaption, QString::fromUtf8(e.what()), QMessageBox::Warning);
        return;
    }
    const std::string folder = RegistryBackupFolder();
    if (const std::string why = SymbolicLinkProblem(folder, "The backup folder"); !why.empty()) {
        ShowMessageBox(this, kBackupCaption, QString::fromStdString(why) + ".",
                       QMessageBox::Warning);
        return;
    }
    for (const TRestoreRecord& record : records) {
        if (!isListedEntry(folder, record.backupName))
            continue;
        QList<QStandardItem*> row;
        for (const char* label : {"Action:", "Date created:", "Backup Name:"})
            row << new QStandardItem(label);
        row << new QStandardItem(app::FromAnsi(record.action));
        row << new QStandardItem(
            QString::fromStdString(FormatDateTime(kDateCreatedTextFormat, record.dateCreated)));
        // The name is the entry's file name on the host.
        row << new QStandardItem(QString::fromStdString(record.backupName));
        // The texts as stored, to find the record again.
        row[bcAction]->setData(QByteArray::fromStdString(record.action), Qt::UserRole);
        row[bcName]->setData(QByteArray::fromStdString(record.backupName), Qt::UserRole);
        for (QStandardItem* item : row)
            item->setEditable(false);
        restoreModel_->appendRow(row);
    }
    gdRestore->setModelColumn(0);
    UpdateActions();
}

void TfrmRepair::UpdateHiveActions() {
    const bool busy = HiveManager_ && HiveManager_->IsBusy();
    // On the 9x family the actions stay available to say that they are not.
    const bool usable = IsWin9x() || (HiveManager_ && hivesUsable_);
    const bool selected = SelectedBackupRow() >= 0;
    actBackup->setEnabled(!busy && usable);
    actRestore->setEnabled(selected && !busy);
    actRemove->setEnabled(selected && !busy);
    btnStopBackup->setEnabled(busy && !backupStopped_);
    btnCompact->setEnabled(usable);
}

bool TfrmRepair::MayCloseDuringHiveJob() {
    // Asked once: the window closes when the stopped job has ended and told its outcome.
    if (closeAfterHiveJob_)
        return false;
    const QString job = WizardMode == wmCompact   ? "A compaction"
                        : WizardMode == wmRestore ? "A restore"
                                                  : "A backup";
    if (ShowMessageBox(this, "Confirm", job + " is running. Stop it and close the window?",
                       QMessageBox::Question,
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return false;
    closeAfterHiveJob_ = true;
    backupStopped_ = true;
    HiveManager_->Stop();
    return false;
}

void TfrmRepair::actBackupExecute() {
    WizardMode = wmBackup;
    try {
        if (BackupFolder.empty()) {
            ShowMessageBox(this, kBackupCaption, "Create profile failed!", QMessageBox::Warning);
            return;
        }
        TfrmBackProfile dialog(this);
        dialog.edtProfile->setText(QString::fromStdString(DefaultProfileName(Now())));
        dialog.ProfileFolder = BackupFolder + "/";
        if (dialog.exec() != QDialog::Accepted)
            return;
        const QString path =
            QString::fromStdString(dialog.ProfileFolder) + dialog.edtProfile->text();
        // Nothing is made through a link that leads out of the program's folder.
        for (const auto& [link, what] : {std::pair{BackupFolder, "The backup folder"},
                                         std::pair{path.toStdString(), "The profile folder"}})
            if (const std::string why = SymbolicLinkProblem(link, what); !why.empty()) {
                ShowMessageBox(this, kBackupCaption, QString::fromStdString(why) + ".",
                               QMessageBox::Warning);
                return;
            }
        if (!QFileInfo(path).isDir())
            QDir().mkpath(path);
        if (!QFileInfo(path).isDir()) {
            ShowMessageBox(this, kBackupCaption, "Create profile failed!", QMessageBox::Warning);
            return;
        }
        ReplaceOldBackups();
        StartBackup(path.toStdString());
    } catch (const std::exception& e) {
        // A settings file that cannot be read stops the backup: the user learns why.
        ShowMessageBox(this, kBackupCaption, QString::fromUtf8(e.what()), QMessageBox::Warning);
    }
}

void TfrmRepair::ReplaceOldBackups() {
    const std::string storeFile = StoreFilePath();
    if (!QFileInfo::exists(hostPath(storeFile)))
        return;
    bool canReplace = false;
    int amount = 0;
    {
        TfxRegFile store(storeFile);
        if (store.OpenKey(kOptionsKey, false)) {
            if (store.ValueExists(kCanReplaceValue))
                canReplace = store.ReadBool(kCanReplaceValue);
            if (store.ValueExists(kReplaceAmountValue))
                amount = store.ReadInteger(kReplaceAmountValue);
        }
        store.CloseKey();
    }
    // A count below one is no count the Options window gives: nothing is pruned for it.
    if (!canReplace || amount <= 0)
        return;
    std::vector<TRestoreRecord> backups;
    const std::string folder = RegistryBackupFolder();
    for (TRestoreRecord& record : ReadRestoreRecords(storeFile))
        if (QString::fromStdString(record.action)
                    .compare(kBackupRegistryAction, Qt::CaseInsensitive) == 0 &&
            isEntryName(record.backupName) &&
            QFileInfo(hostPath(folder + record.backupName)).isDir())
            backups.push_back(std::move(record));
    std::stable_sort(backups.begin(), backups.end(),
                     [](const TRestoreRecord& a, const TRestoreRecord& b) {
                         return a.dateCreated < b.dateCreated;
                     });
    // With the new backup there are `amount`. Only the records go: the folders stay.
    size_t oldest = 0;
    while (oldest < backups.size() && backups.size() - oldest >= size_t(amount)) {
        const TRestoreRecord& record = backups[oldest++];
        DeleteRestoreRecord(storeFile, record.action, record.backupName,
                            FormatDateTime(kDateCreatedTextFormat, record.dateCreated));
    }
}

void TfrmRepair::StartBackup(const std::string& path) {
    if (IsWin9x()) {
        ShowMessageBox(this, kBackupCaption, kNot9x, QMessageBox::Information);
        return;
    }
    // The hive list was read at showing, or why not was said then.
    if (!HiveManager_ || !hivesUsable_)
        return;
    lblProgress->setText("Backup Registry now, please wait...");
    pgBackup->setValue(0);
    btnStopBackup->show();
    backupStopped_ = false;
    NoteBackup->setCurrentIndex(1);
    HiveManager_->Folder = path;
    HiveManager_->Start(hoBackup);
    UpdateActions();
}

void TfrmRepair::actRestoreExecute() {
    WizardMode = wmRestore;
    try {
        const int row = SelectedBackupRow();
        if (row < 0)
            return;
        const std::string name =
            restoreModel_->item(row, bcName)->data(Qt::UserRole).toByteArray().toStdString();
        const std::string path = EntryPath(row);
        if (IsUndoFileName(name)) {
            RestoreUndoFile(path);
            return;
        }
        if (!QFileInfo(hostPath(path)).isDir()) {
            ShowMessageBox(this, "Restore", "Backup folder not found, restore failed!",
                           QMessageBox::Information);
            return;
        }
        btnStopBackup->hide();
        lblProgress->setText("Restoreing Registry now, Please wait...");
        pgBackup->setValue(0);
        backupStopped_ = false;
        NoteBackup->setCurrentIndex(1);
        if (!HiveManager_) {
            HiveJobFinished(false);
            return;
        }
        HiveManager_->Folder = path;
        HiveManager_->Start(hoRestore);
        UpdateActions();
    } catch (const std::exception&) {
        // As a failed restore: the list stays as it was.
    }
}

void TfrmRepair::RestoreUndoFile(const std::string& path) {
    const QString quoted = "File \"" + hostPath(path) + "\"";
    if (!QFileInfo(hostPath(path)).isFile()) {
        ShowMessageBox(this, "Restore", quoted + " does not exist, restore failed.",
                       QMessageBox::Information);
        return;
    }
    bool restored = false;
    // A large undo file takes a while to import: the window goes on meanwhile.
    RunOffWindowThread(
        this, "Restore", "Restoring the registry from the undo file, please wait...", [&] {
            restored = ImportRegFile(path);
            if (!restored)
                return;
            // The registry editor imports on its own; its outcome says
            // whether the entries are back, which is what the user is told.
            for (const win32::RegistryImportOutcome& outcome : win32::WaitForRegistryImports())
                if (QFileInfo(hostPath(outcome.file)) == QFileInfo(hostPath(path)))
                    restored = outcome.imported && outcome.problems.empty();
        });
    if (restored)
        ShowMessageBox(this, "Restore", "Restore successfully", QMessageBox::Information);
    else
        ShowMessageBox(this, "Restore", quoted + " is corrupt, restore failed.",
                       QMessageBox::Warning);
}

void TfrmRepair::actRemoveExecute() {
    try {
        if (ShowMessageBox(this, "Confirm",
                           "Are you sure you want to permanently remove the selected backup "
                           "profile?",
                           QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        const int row = SelectedBackupRow();
        if (row < 0)
            return;
        const std::string action =
            restoreModel_->item(row, bcAction)->data(Qt::UserRole).toByteArray().toStdString();
        const std::string name =
            restoreModel_->item(row, bcName)->data(Qt::UserRole).toByteArray().toStdString();
        const std::string created = restoreModel_->item(row, bcDate)->text().toStdString();
        const std::string path = EntryPath(row);
        // The record goes first, whether or not its file or folder can be deleted.
        DeleteRestoreRecord(StoreFilePath(), action, name, created);
        const QFileInfo entry(hostPath(path));
        bool deleted = false;
        if (IsUndoFileName(name))
            deleted = entry.isFile() && QFile::remove(hostPath(path));
        else
            deleted = entry.isDir() && DeleteToRecycleBin(path);
        if (deleted)
            restoreModel_->removeRow(row);
        gdRestore->viewport()->update();
        UpdateActions();
    } catch (const std::exception&) {
        // The list shows what is left at the next listing.
    }
}

void TfrmRepair::gdRestoreCellClick(int column, int row) {
    if (column != bcName || row < 0 || row >= restoreModel_->rowCount())
        return;
    const std::string name =
        restoreModel_->item(row, bcName)->data(Qt::UserRole).toByteArray().toStdString();
    const QFileInfo entry(hostPath(EntryPath(row)));
    const QString path = entry.absoluteFilePath();
    // The list holds no links; one put in an entry's place since is not followed out of
    // the folder.
    if (entry.isSymLink()) {
        ShowMessageBox(this, kBackupCaption,
                       "\"" + path + "\" is a link now, which Hivewarden does not follow.",
                       QMessageBox::Warning);
        return;
    }
    if (IsUndoFileName(name) && entry.isFile()) {
        // An undo file is shown here, never handed to the desktop, whose handler of its
        // type may import it into another registry.
        for (auto* open : findChildren<UndoFileViewer*>())
            if (open->Path() == path) {
                open->raise();
                open->activateWindow();
                return;
            }
        auto* viewer = new UndoFileViewer(this);
        QString why;
        if (!viewer->Load(path, &why)) {
            delete viewer;
            ShowMessageBox(this, kBackupCaption, why, QMessageBox::Warning);
            return;
        }
        viewer->show();
        return;
    }
    if (entry.isDir()) {
        // A profile folder is looked into with the desktop's file manager.
        if (!OpenOnHost(QUrl::fromLocalFile(path)))
            ShowMessageBox(this, kBackupCaption,
                           "No program of this desktop opens the folder \"" + path + "\".",
                           QMessageBox::Warning);
        return;
    }
    ShowMessageBox(this, kBackupCaption, "\"" + path + "\" no longer exists.",
                   QMessageBox::Warning);
}

void TfrmRepair::HiveJobProgress(int percent) {
    pgBackup->setValue(percent);
    pgCompactBar->setValue(percent);
}

void TfrmRepair::HiveJobFinished(bool success) {
    if (WizardMode == wmCompact)
        CompactJobFinished(success);
    else
        BackupJobFinished(success);
    NoteBackup->setCurrentIndex(0);
    ShowWaitingReplacements();
    UpdateActions();
    if (closeAfterHiveJob_) {
        closeAfterHiveJob_ = false;
        reject();
    }
}

void TfrmRepair::BackupJobFinished(bool success) {
    if (WizardMode == wmRestore) {
        if (success)
            ShowMessageBox(this, "Restore",
                           "You need to restart Windows to complete restoration.\n"
                           "Hivewarden makes the change when it closes: the profile's hives "
                           "then replace the installation's, and changes made to the registry "
                           "since the backup are undone.",
                           QMessageBox::Information);
        else
            ShowMessageBox(this, "Restore",
                           "File corrupt or erroneous type, restore failed.\r\nPlease verify "
                           "the backup directory." +
                               failureReason(HiveManager_.get()),
                           QMessageBox::Information);
        return;
    }
    const std::string folder = HiveManager_ ? HiveManager_->Folder : std::string();
    if (!success) {
        // A backup the user stopped ends incomplete, as asked; any other is a fault to tell.
        if (!backupStopped_ && HiveManager_)
            ShowMessageBox(this, "Backup",
                           "The backup is incomplete: " +
                               QString::fromStdString(HiveManager_->LastError()) + ".",
                           QMessageBox::Warning);
        return;
    }
    try {
        const std::string storeFile = StoreFilePath();
        WriteOptionString(storeFile, kLastBackupValue, DateTimeToText(Now()));
        const std::string name = QFileInfo(hostPath(folder)).fileName().toStdString();
        AddRestoreRecord(storeFile, kBackupRegistryAction, name, Now());
    } catch (const StoreError& e) {
        ShowMessageBox(this, "Backup", QString::fromUtf8(e.what()), QMessageBox::Warning);
    }
    ShowMessageBox(this, "Backup", "Backup is complete.", QMessageBox::Information);
    LoadProfiles();
}

} // namespace ui
