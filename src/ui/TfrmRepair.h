#pragma once
// The Registry Wizard: the one window through which every registry job runs. Clean mode
// walks Select, Options, Scan and Result; Backup mode (and Restore, which only changes
// how a job's end is reported) shows the backup list; Compact mode the compaction and its
// report. The wizard owns the scan engine and the hive manager and shows what they report.

#include "app/QtUiDispatcher.h"
#include "registry/DateTime.h"
#include "scan/TRepairItem.h"

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QLabel;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTableWidget;
class QStandardItemModel;
class QToolButton;
class TFixRegistry;
class THiveManager;

namespace ui {

class BackupListView;
class ResultModel;
class WizardHeader;

class TfrmRepair : public QDialog {
    Q_OBJECT
public:
    enum Mode : uint8_t { wmClean = 0, wmBackup = 1, wmCompact = 2, wmRestore = 3 };
    enum Page {
        pgSelect = 0,
        pgOptions = 1,
        pgScan = 2,
        pgResult = 3,
        pgBackupAndRestore = 4,
        pgCompact = 5,
        pgReport = 6
    };

    explicit TfrmRepair(QWidget* parent = nullptr);
    ~TfrmRepair() override;

    uint8_t WizardMode = wmClean;
    // The undo file of the current result page (host path); empty until its first repair.
    std::string UndoFileName;
    // The program's "Registry Backup" folder without a trailing separator; empty when it
    // cannot be made.
    std::string BackupFolder;
    int CheckedCount = 0;

    TFixRegistry& Engine() { return *FixRegistry_; }
    // Null when the machine's hive list could not be mapped.
    THiveManager* HiveManager() { return HiveManager_.get(); }
    // Whether the hive list was read: the Backup and Compact modes work only then.
    bool HivesUsable() const { return hivesUsable_; }

    int PageIndex() const;
    void SetPageIndex(int page);

    // Evaluates every action's enabled rule (the window does it whenever it is idle).
    void UpdateActions();

    // --- the Clean pages ---
    void FillSelectGrid();
    void RestoreSelection();
    void SaveSelection();
    void StartScan();
    void FillResultGrid(const QString& filter = {});
    void UpdateCheckedCount();
    void RepairChecked();
    bool IsRepairing() const { return repairing_; }
    // The Sort menu's entries, in order.
    QStringList SortCaptions() const;
    // Chooses a Sort menu entry as a click would.
    void ChooseSortItem(const QString& caption);

    QAction* actBack;
    QAction* actNext;
    QAction* actStop;
    QAction* actRepair;
    QAction* actUncheckall;
    QAction* actCheckall;
    QAction* actInvertChecked;
    QAction* actOpenedt;

    // Cancel, Esc and the window's close button come here: the window closes unless
    // the close question keeps it open.
    void reject() override;

    // --- the Backup and Compact pages ---
    // Fills the Report page from the hive manager's list, as the end of a compaction does.
    void ShowCompactReport();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
    bool FormCloseQuery();
    void LoadTitleImage();
    void NotebookPageChanged(int page);

    void actNextExecute();
    void actBackExecute();

    // Engine notifications, on the user-interface thread.
    void ScanStatus(TRepairItem curItem);
    void ScanProgress(int percent);
    void ScanFound(TRepairItem datatype);
    void ScanFinished();

    QWidget* CreateSelectPage();
    QWidget* CreateOptionsPage();
    QWidget* CreateScanPage();
    QWidget* CreateResultPage();
    void AddSortItem(const QString& caption, int imageIndex);
    void SortItemClick(const QString& caption);
    int SelectedResultRow() const;
    void OpenSelectedInRegedit();
    void FlushRepairedHives();
    bool OptionsKeyHolds(const char* value, std::string& text);

    // --- the Backup and Compact pages ---
    QWidget* CreateBackupPage();
    QWidget* CreateCompactPage();
    QWidget* CreateReportPage();
    // Showing in Backup mode: the list of profiles and undo files.
    void ShowBackupList();
    // The hive replacements that wait for the installation, under the list.
    void ShowWaitingReplacements();
    void LoadProfiles();
    // Showing in Compact mode.
    void PrepareCompactPage();
    void UpdateHiveActions();
    // Whether the window may close while the hive manager works (it stops the job and
    // the window waits for it), asking the user.
    bool MayCloseDuringHiveJob();
    // Hive manager notifications, on the user-interface thread.
    void HiveJobProgress(int percent);
    void HiveJobFinished(bool success);
    void actBackupExecute();
    void actRestoreExecute();
    void actRemoveExecute();
    void ReplaceOldBackups();
    void StartBackup(const std::string& path);
    void RestoreUndoFile(const std::string& path);
    // A click on a cell of the backup list: column 5, the backup name, opens the entry (an
    // undo file in the program's own viewer, a profile folder in the file manager).
    void gdRestoreCellClick(int column, int row);
    int SelectedBackupRow() const;
    // The file or folder of the backup list's row.
    std::string EntryPath(int row) const;
    void btnCompactClick();
    void btnRestartClick();
    void BackupJobFinished(bool success);
    void CompactJobFinished(bool success);

    // The engines post to the window through this; it outlives them.
    app::QtUiDispatcher dispatcher_;
    std::unique_ptr<TFixRegistry> FixRegistry_;
    std::unique_ptr<THiveManager> HiveManager_;
    std::string hiveManagerError_;
    bool hivesUsable_ = false;
    TDateTime undoFileCreated_ = 0;
    bool repairing_ = false;
    bool shown_ = false;
    std::atomic<int> lastProgress_{-1}; // the last percentage posted by the scan

    WizardHeader* header_;
    QStackedWidget* Notebook;
    QPushButton* btnBack;
    QPushButton* btnNext;
    QPushButton* btnCancel;

    // Select and Options
    QTableWidget* gdItems;
    QRadioButton* rdDisplayRepair;
    QRadioButton* rdAutoRepair;
    QCheckBox* chkUndo;
    // Scan
    QLabel* lblSearchfor;
    QProgressBar* pgTotal;
    QLabel* lblTotalProgress;
    QProgressBar* pgScanning;
    QLabel* lblScanning;
    QPushButton* btnStop;
    QTableWidget* gdProblem;
    // Result
    QToolButton* btnTools;
    QToolButton* btnSorttype;
    QMenu* popSort;
    QListView* gdResult;
    ResultModel* resultModel_;
    QLabel* pelItemchecked;
    QLabel* pelItemRemoved;
    QProgressBar* pgRepair;

    // --- the Backup and Compact pages ---
    QAction* actBackup;
    QAction* actRestore;
    QAction* actRemove;
    // BackupList and Progress
    QStackedWidget* NoteBackup;
    BackupListView* gdRestore;
    QStandardItemModel* restoreModel_;
    QLabel* lblProgress;
    QProgressBar* pgBackup;
    QPushButton* btnStopBackup;
    QLabel* lblWaitingReplacements;
    // Compact and Report
    QLabel* lblCompact;
    // The control "pgCompact" (the name of the page is taken by the page index).
    QProgressBar* pgCompactBar;
    QPushButton* btnCompact;
    QLabel* lblTotalkey;
    QLabel* lblKeysize;
    QLabel* lblCompactsize;
    QPushButton* btnRestart;
    // The user stopped the running backup: its incomplete end is no surprise to report.
    bool backupStopped_ = false;
    // The user closed the window during a hive job: it closes when the job has ended.
    bool closeAfterHiveJob_ = false;
};

} // namespace ui
