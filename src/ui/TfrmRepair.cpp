#include "ui/TfrmRepair.h"

#include "compact/THiveManager.h"
#include "registry/OSInfo.h"
#include "scan/TFixRegistry.h"
#include "store/ProgramFolder.h"
#include "store/StoreError.h"
#include "ui/ActionButton.h"
#include "ui/Images.h"
#include "ui/MessageBox.h"
#include "ui/ProgramFont.h"
#include "ui/ResultModel.h"
#include "ui/WizardHeader.h"
#include "win32/machine/Machine.h"

#include <QAction>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace ui {

namespace {

constexpr char kCaption[] = "Registry Wizard";

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QAction* makeAction(QObject* owner, const char* name, const QString& caption) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(name);
    return action;
}

} // namespace

TfrmRepair::TfrmRepair(QWidget* parent) : QDialog(parent) {
    setObjectName("frmRepair");
    setWindowTitle(kCaption);
    setFont(TahomaOrDesktopFont());
    resize(651, 520);
    setMinimumSize(560, 460);

    actBack = makeAction(this, "actBack", "< &Back");
    actNext = makeAction(this, "actNext", "&Next >");
    actStop = makeAction(this, "actStop", "&Stop");
    actRepair = makeAction(this, "actRepair", "&Repair Now");
    actUncheckall = makeAction(this, "actUncheckall", "&Uncheck all");
    actCheckall = makeAction(this, "actCheckall", "C&heck all");
    actInvertChecked = makeAction(this, "actInvertChecked", "&Invert checked");
    actOpenedt = makeAction(this, "actOpenedt", "&Open item location in Regedit");

    // The scan engine. Its worker raises three of the events: each is posted to this
    // window's thread in the order raised. The window outlives the worker (its
    // destructor frees the engine, which waits for it), and Qt drops what is still
    // posted when the window goes.
    FixRegistry_ = std::make_unique<TFixRegistry>(dispatcher_);
    FixRegistry_->OnStatus = [this](TFixRegistry*, TRepairItem item, const std::string&) {
        QMetaObject::invokeMethod(
            this, [this, item] { ScanStatus(item); }, Qt::QueuedConnection);
    };
    // Progress comes per item: only a changed percentage is worth a trip.
    FixRegistry_->OnProgressing = [this](TFixRegistry*, int percent) {
        if (lastProgress_.exchange(percent) == percent)
            return;
        QMetaObject::invokeMethod(
            this, [this, percent] { ScanProgress(percent); }, Qt::QueuedConnection);
    };
    FixRegistry_->OnFound = [this](TFixRegistry*, TRepairItem item) {
        QMetaObject::invokeMethod(
            this, [this, item] { ScanFound(item); }, Qt::QueuedConnection);
    };
    FixRegistry_->OnFinished = [this](TFixRegistry*) { ScanFinished(); };

    try {
        HiveManager_ = std::make_unique<THiveManager>(dispatcher_);
    } catch (const std::exception& e) {
        hiveManagerError_ = e.what();
    }
    if (HiveManager_) {
        HiveManager_->OnProgress = [this](THiveManager*, int percent) {
            QMetaObject::invokeMethod(
                this, [this, percent] { HiveJobProgress(percent); }, Qt::QueuedConnection);
        };
        HiveManager_->OnDone = [this](THiveManager*, bool success) { HiveJobFinished(success); };
    }

    header_ = new WizardHeader(this);
    Notebook = new QStackedWidget(this);
    Notebook->setObjectName("Notebook");
    Notebook->addWidget(CreateSelectPage());
    Notebook->addWidget(CreateOptionsPage());
    Notebook->addWidget(CreateScanPage());
    Notebook->addWidget(CreateResultPage());
    Notebook->addWidget(CreateBackupPage());
    Notebook->addWidget(CreateCompactPage());
    Notebook->addWidget(CreateReportPage());
    connect(Notebook, &QStackedWidget::currentChanged, this, &TfrmRepair::NotebookPageChanged);

    btnBack = new QPushButton(this);
    btnBack->setObjectName("btnBack");
    btnNext = new QPushButton(this);
    btnNext->setObjectName("btnNext");
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setAutoDefault(false);
    btnBack->setAutoDefault(false);
    btnNext->setAutoDefault(false);
    BindButtonToAction(btnBack, actBack);
    BindButtonToAction(btnNext, actNext);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmRepair::reject);
    connect(actNext, &QAction::triggered, this, &TfrmRepair::actNextExecute);
    connect(actBack, &QAction::triggered, this, &TfrmRepair::actBackExecute);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 0, 8, 8);
    buttons->addStretch();
    for (QPushButton* button : {btnBack, btnNext, btnCancel}) {
        button->setMinimumWidth(75);
        buttons->addWidget(button);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(header_);
    layout->addWidget(separator(this));
    layout->addWidget(Notebook, 1);
    layout->addWidget(separator(this));
    layout->addLayout(buttons);

    FillSelectGrid();
    // The program's folder and "Registry Backup" below it, made when missing.
    const QString backup = QString::fromStdString(RegistryBackupFolder());
    if (QDir().mkpath(backup) && QDir(backup).exists())
        BackupFolder = QDir::cleanPath(backup).toStdString();

    // Actions follow the window's state whenever it has nothing else to do.
    auto* idle = new QTimer(this);
    idle->setInterval(100);
    connect(idle, &QTimer::timeout, this, &TfrmRepair::UpdateActions);
    idle->start();
}

TfrmRepair::~TfrmRepair() {
    try {
        // After a restart of Windows the machine, and its settings file, are gone.
        if (win32::IsMachineBooted())
            SaveSelection();
    } catch (const StoreError&) {
        // The selection is a convenience; a store that cannot be written loses only it.
    }
    // Both engines stop and wait for their workers here, before the controls go.
    HiveManager_.reset();
    FixRegistry_.reset();
}

int TfrmRepair::PageIndex() const {
    return Notebook->currentIndex();
}

void TfrmRepair::SetPageIndex(int page) {
    Notebook->setCurrentIndex(page);
}

void TfrmRepair::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    if (const QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
    FormShow();
}

void TfrmRepair::FormShow() {
    switch (WizardMode) {
    case wmClean:
        SetPageIndex(pgSelect);
        header_->SetCaption("Clean and Repair Your Registry");
        header_->SetComment("To keep your PC running cleaner, faster, and error-free.");
        break;
    case wmBackup:
    case wmRestore:
        SetPageIndex(pgBackupAndRestore);
        ShowBackupList();
        header_->SetCaption("Backup and Restore Your Registry");
        header_->SetComment("Backup and restore the Registry to the last good configuration.");
        btnBack->hide();
        btnNext->hide();
        break;
    case wmCompact:
        SetPageIndex(pgCompact);
        PrepareCompactPage();
        btnBack->hide();
        btnNext->hide();
        header_->SetCaption("Compact and Defragment Your Registry");
        header_->SetComment(
            "Remove fragmentation, delete unused entries, and compact the Registry.");
        break;
    }
    LoadTitleImage();
    // The hive list. The 9x family has none; a later NT version than the product codes
    // name (code 0) has the same list as the others, so it is read there too.
    if (!IsWin9x()) {
        try {
            if (!HiveManager_)
                throw std::runtime_error(hiveManagerError_);
            HiveManager_->ScanHives();
            hivesUsable_ = true;
        } catch (const std::exception& e) {
            // The Backup and Compact jobs stay unavailable; the Clean pages work on.
            hivesUsable_ = false;
            ShowMessageBox(this, kCaption, QString::fromUtf8(e.what()), QMessageBox::Critical);
        }
    }
    try {
        RestoreSelection();
    } catch (const StoreError& e) {
        ShowMessageBox(this, kCaption, QString::fromUtf8(e.what()), QMessageBox::Critical);
    }
    if (WizardMode == wmBackup || WizardMode == wmRestore)
        LoadProfiles();
    UpdateActions();
}

void TfrmRepair::LoadTitleImage() {
    const char* name = WizardMode == wmCompact ? "compact"
                       : WizardMode == wmClean ? "clean"
                                               : "backup";
    try {
        header_->SetTitleImage(TitleImage(name));
    } catch (const std::exception& e) {
        // The wizard works without its picture.
        ShowMessageBox(this, kCaption, QString::fromUtf8(e.what()), QMessageBox::Warning);
    }
}

void TfrmRepair::actNextExecute() {
    if (WizardMode != wmClean)
        return;
    if (PageIndex() == pgSelect) {
        SetPageIndex(pgOptions);
    } else if (PageIndex() == pgOptions) {
        SetPageIndex(pgScan);
        StartScan();
    }
    UpdateActions();
}

void TfrmRepair::actBackExecute() {
    if (WizardMode != wmClean || repairing_)
        return;
    switch (PageIndex()) {
    case pgOptions:
        SetPageIndex(pgSelect);
        break;
    case pgScan:
        btnCancel->setText("&Cancel");
        SetPageIndex(pgOptions);
        break;
    case pgResult:
        BindButtonToAction(btnNext, actNext);
        UndoFileName.clear();
        SetPageIndex(pgOptions);
        btnCancel->setText("&Cancel");
        pgRepair->setValue(0);
        pelItemRemoved->setText("No items removed");
        break;
    default:
        break;
    }
    UpdateActions();
}

void TfrmRepair::NotebookPageChanged(int page) {
    if (page == pgResult && rdAutoRepair->isChecked())
        // After the page has been drawn, so that the user sees what is being repaired.
        QTimer::singleShot(0, this, [this] {
            if (PageIndex() == pgResult && actRepair->isEnabled())
                actRepair->trigger();
        });
    UpdateActions();
}

void TfrmRepair::UpdateActions() {
    const bool scanning = FixRegistry_ && FixRegistry_->IsRunning();
    if (WizardMode == wmClean) {
        const int page = PageIndex();
        actBack->setEnabled(page > pgSelect && !scanning && !repairing_);
        bool anyChecked = false;
        for (int row = 0; row < gdItems->rowCount() && !anyChecked; ++row)
            anyChecked = gdItems->item(row, 0)->checkState() == Qt::Checked;
        actNext->setEnabled(page < pgResult && anyChecked);
    }
    actStop->setEnabled(scanning);
    const bool hasRows = resultModel_->Count() > 0;
    actRepair->setEnabled(CheckedCount > 0 && !repairing_);
    for (QAction* action : {actUncheckall, actCheckall, actInvertChecked})
        action->setEnabled(hasRows && !repairing_);
    actOpenedt->setEnabled(SelectedResultRow() >= 0);
    btnTools->setEnabled(hasRows);
    // Nothing in the list changes under a repair pass.
    gdResult->setEnabled(!repairing_);
    btnSorttype->setEnabled(hasRows && !repairing_);
    btnCancel->setEnabled(!repairing_);
    UpdateHiveActions();
}

void TfrmRepair::reject() {
    if (FormCloseQuery())
        QDialog::reject();
}

bool TfrmRepair::FormCloseQuery() {
    // A repair pass lets the window process messages between rows; it ends first.
    if (repairing_)
        return false;
    if (HiveManager_ && HiveManager_->IsBusy() && !MayCloseDuringHiveJob())
        return false;
    if (FixRegistry_->IsRunning()) {
        if (ShowMessageBox(this, "Confirm", "Are you sure you want to exit searching process?",
                           QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return false;
        // The ending scan delivers no results into the closing window; the engine waits
        // for its worker when the window is freed.
        FixRegistry_->OnFinished = nullptr;
        FixRegistry_->Stop();
    }
    return true;
}

void TfrmRepair::keyPressEvent(QKeyEvent* event) {
    // Esc presses Cancel, which asks before a running scan is given up.
    if (event->key() == Qt::Key_Escape) {
        if (btnCancel->isEnabled())
            btnCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace ui
