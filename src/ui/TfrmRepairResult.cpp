// The wizard's Result page: the problems found as slides, the Tools and Sort menus, and
// the repair of the checked problems with their undo file.

#include "app/AnsiText.h"
#include "backup/ExportRegKey.h"
#include "registry/RegeditDriver.h"
#include "scan/TFixRegistry.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/StoreError.h"
#include "ui/ActionButton.h"
#include "ui/Images.h"
#include "ui/MessageBox.h"
#include "ui/ResultModel.h"
#include "ui/ResultSlideDelegate.h"
#include "ui/TfrmRepair.h"
#include "ui/WizardCategories.h"
#include "ui/WorkOffThread.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <mutex>

namespace ui {

namespace {

constexpr char kShowAllData[] = "Show all data";
constexpr char kRepairCaption[] = "Repair and Clean the Registry";

QIcon imageOfIndex(int imageIndex) {
    const std::optional<TRepairItem> item = CategoryFromImageIndex(imageIndex);
    return item ? CategoryImage(*item) : QIcon();
}

QToolButton* menuButton(const char* name, const QString& caption, QMenu* menu, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

} // namespace

QWidget* TfrmRepair::CreateResultPage() {
    auto* page = new QWidget;
    page->setObjectName("Result");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 4, 8, 0);

    auto* tools = new QMenu(page);
    tools->setObjectName("popTools");
    tools->addAction(actUncheckall);
    tools->addAction(actCheckall);
    tools->addAction(actInvertChecked);
    tools->addSeparator();
    tools->addAction(actOpenedt);
    // A menu's entries follow the window's state when it opens.
    connect(tools, &QMenu::aboutToShow, this, &TfrmRepair::UpdateActions);
    popSort = new QMenu(page);
    popSort->setObjectName("popSort");
    btnTools = menuButton("btnTools", "&Tools", tools, page);
    btnSorttype = menuButton("btnSorttype", "&Sort", popSort, page);
    auto* toolBar = new QHBoxLayout;
    toolBar->addWidget(btnTools);
    toolBar->addWidget(btnSorttype);
    toolBar->addStretch();
    layout->addLayout(toolBar);

    resultModel_ = new ResultModel(this);
    gdResult = new QListView(page);
    gdResult->setObjectName("gdResult");
    gdResult->setModel(resultModel_);
    gdResult->setModelColumn(ResultModel::colCheck);
    gdResult->setItemDelegate(new ResultSlideDelegate(imageOfIndex, gdResult));
    gdResult->setSelectionMode(QAbstractItemView::ExtendedSelection);
    gdResult->setUniformItemSizes(true);
    gdResult->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gdResult->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // A slide is as wide as the list; long values are cut short with an ellipsis.
    gdResult->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(gdResult, 1);
    connect(resultModel_, &ResultModel::checkChanged, this, &TfrmRepair::UpdateCheckedCount);
    connect(gdResult->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmRepair::UpdateActions);

    auto* statusBar = new QHBoxLayout;
    pelItemchecked = new QLabel("  1 items checked", page);
    pelItemchecked->setObjectName("pelItemchecked");
    pelItemRemoved = new QLabel(" No items removed", page);
    pelItemRemoved->setObjectName("pelItemRemoved");
    pgRepair = new QProgressBar(page);
    pgRepair->setObjectName("pgRepair");
    pgRepair->setTextVisible(false);
    for (QLabel* panel : {pelItemchecked, pelItemRemoved}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setMinimumWidth(150);
    }
    statusBar->addWidget(pelItemchecked);
    statusBar->addWidget(pelItemRemoved);
    statusBar->addWidget(pgRepair, 1);
    layout->addLayout(statusBar);

    connect(actRepair, &QAction::triggered, this, &TfrmRepair::RepairChecked);
    connect(actCheckall, &QAction::triggered, this, [this] {
        resultModel_->SetAllChecked(true);
        UpdateCheckedCount();
    });
    connect(actUncheckall, &QAction::triggered, this, [this] {
        resultModel_->SetAllChecked(false);
        UpdateCheckedCount();
    });
    connect(actInvertChecked, &QAction::triggered, this, [this] {
        resultModel_->InvertChecked();
        UpdateCheckedCount();
    });
    connect(actOpenedt, &QAction::triggered, this, &TfrmRepair::OpenSelectedInRegedit);
    return page;
}

void TfrmRepair::FillResultGrid(const QString& filter) {
    resultModel_->Clear();
    if (filter.isNull()) {
        popSort->clear();
        AddSortItem(kShowAllData, -1);
    }
    std::vector<ResultModel::Row> rows;
    rows.reserve(FixRegistry_->InvalidDataList().size());
    TRepairItem lastCategory = TRepairItem(kRepairItemCount);
    for (const TInvalidRegData& record : FixRegistry_->InvalidDataList()) {
        const QString name = RepairItemDisplayName(record.Category);
        if (!filter.isNull() && name.compare(filter, Qt::CaseInsensitive) != 0)
            continue;
        // Records of a category come together; the menu is asked only when one changes.
        if (filter.isNull() && record.Category != lastCategory)
            AddSortItem(name, CategoryImageIndex(record.Category));
        lastCategory = record.Category;
        ResultModel::Row row;
        row.imageIndex = CategoryImageIndex(record.Category);
        row.keyLocation = record.KeyLocation;
        row.valueName = record.ValueName;
        row.valueData =
            record.ValueData.empty() ? QString("{ null }") : app::FromAnsi(record.ValueData);
        row.diagnosis = app::FromAnsi(record.Diagnosis);
        row.repair = RepairItemRepairText(record.Category);
        rows.push_back(std::move(row));
    }
    resultModel_->Append(std::move(rows));
    UpdateCheckedCount();
}

void TfrmRepair::AddSortItem(const QString& caption, int imageIndex) {
    for (const QAction* entry : popSort->actions())
        if (entry->text().compare(caption, Qt::CaseInsensitive) == 0)
            return;
    auto* entry = new QAction(imageOfIndex(imageIndex), caption, popSort);
    entry->setCheckable(true);
    entry->setChecked(true);
    connect(entry, &QAction::triggered, this, [this, caption] { SortItemClick(caption); });
    popSort->addAction(entry);
}

void TfrmRepair::SortItemClick(const QString& caption) {
    if (caption.compare(kShowAllData, Qt::CaseInsensitive) == 0)
        FillResultGrid();
    else
        FillResultGrid(caption);
    // Every entry keeps its check mark: the menu lists what there is, not a choice.
    for (QAction* entry : popSort->actions())
        entry->setChecked(true);
}

QStringList TfrmRepair::SortCaptions() const {
    QStringList captions;
    for (const QAction* entry : popSort->actions())
        captions << entry->text();
    return captions;
}

void TfrmRepair::ChooseSortItem(const QString& caption) {
    for (QAction* entry : popSort->actions())
        if (entry->text() == caption) {
            entry->trigger();
            return;
        }
}

void TfrmRepair::UpdateCheckedCount() {
    CheckedCount = resultModel_->CheckedCount();
    pelItemchecked->setText("  " + QString::number(CheckedCount) + " items checked");
    UpdateActions();
}

int TfrmRepair::SelectedResultRow() const {
    const QItemSelectionModel* selection = gdResult->selectionModel();
    if (!selection || !selection->hasSelection())
        return -1;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isSelected(current))
        return current.row();
    return selection->selectedIndexes().first().row();
}

void TfrmRepair::OpenSelectedInRegedit() {
    const int row = SelectedResultRow();
    if (row < 0)
        return;
    if (!OpenRegeditAt(resultModel_->At(row).keyLocation, ""))
        ShowMessageBox(this, "Registry Wizard", "The registry viewer could not be opened.",
                       QMessageBox::Warning);
}

void TfrmRepair::RepairChecked() {
    if (repairing_ || CheckedCount <= 0)
        return;
    repairing_ = true;
    UpdateActions();
    if (UndoFileName.empty()) {
        undoFileCreated_ = Now();
        UndoFileName =
            RegistryBackupFolder() + FormatDateTime("ddmmyyyyhhnnss", undoFileCreated_) + ".reg";
    }
    const bool withUndo = chkUndo->isChecked();
    const std::string undoFile = withUndo ? UndoFileName : "";
    // The checked problems, in the list's order; the list does not change during the pass.
    struct Pending {
        int row;
        std::optional<TRepairItem> category;
        std::string keyLocation, valueName;
    };
    std::vector<Pending> pending;
    for (int row = 0; row < resultModel_->Count(); ++row)
        if (resultModel_->IsChecked(row)) {
            const ResultModel::Row& item = resultModel_->At(row);
            pending.push_back(
                {row, CategoryFromImageIndex(item.imageIndex), item.keyLocation, item.valueName});
        }
    // The undo file's record for the backup list, by the sections scanned.
    QString action = "Scan \"";
    for (int line = 0; line < gdProblem->rowCount(); ++line)
        action += (line ? ";" : "") + gdProblem->item(line, 1)->text();
    action += "\"";
    const std::string recordAction = action.toStdString();
    const std::string undoName =
        QFileInfo(QString::fromStdString(UndoFileName)).fileName().toStdString();
    const TDateTime undoCreated = undoFileCreated_;
    int removed = 0, failed = 0;
    QString failure;
    bool written = false;
    std::string recordError;
    // What the worker has done and the page does not show yet. The page takes it in one
    // go whenever its thread comes to it, however far the worker has got meanwhile.
    struct Done {
        int row;
        bool fixed;
        std::string refusal, exportError;
    };
    std::mutex doneLock;
    std::vector<Done> done;
    bool showQueued = false;
    size_t shown = 0;
    const auto show = [&] {
        std::vector<Done> batch;
        {
            std::lock_guard guard(doneLock);
            batch.swap(done);
            showQueued = false;
        }
        // Rows removed one after another lie together: each run goes in one change.
        size_t n = 0;
        while (n < batch.size()) {
            if (!batch[n].fixed) {
                ++failed;
                if (!batch[n].exportError.empty())
                    failure = QString::fromStdString(batch[n].exportError);
                else if (!batch[n].refusal.empty())
                    failure = app::FromAnsi(batch[n].refusal);
                ++n;
                continue;
            }
            // The rows removed before this one have moved it up.
            const int first = batch[n].row - removed;
            int count = 0;
            while (n < batch.size() && batch[n].fixed && batch[n].row - removed == first) {
                ++removed;
                ++count;
                ++n;
            }
            resultModel_->RemoveRows(first, count);
        }
        shown += batch.size();
        pgRepair->setValue(int(shown * 100 / std::max<size_t>(pending.size(), 1)));
        if (removed > 0)
            pelItemRemoved->setText(QString::number(removed) + " items removed");
        UpdateCheckedCount();
    };
    // Each repair, and writing the hives at the end, waits for the registry (which the
    // background flush of a large hive may hold for a while): the pass runs on a worker,
    // and the page follows it. It stops at the first problem that is not removed.
    RunOffWindowThread(
        this, kRepairCaption, "Repairing the registry, please wait...",
        [&](UiDispatcher& ui) {
            for (const Pending& item : pending) {
                Done result{item.row, false, {}, {}};
                try {
                    result.fixed =
                        item.category && FixRegistry_->FixItem(*item.category, undoFile,
                                                               item.keyLocation, item.valueName);
                    if (!result.fixed)
                        result.refusal = FixRegistry_->LastFixRefusal();
                } catch (const EExportError& e) {
                    // Nothing was deleted: what cannot be saved for undo is not removed.
                    result.exportError = e.what();
                }
                const bool fixed = result.fixed;
                {
                    std::lock_guard guard(doneLock);
                    done.push_back(std::move(result));
                    if (!showQueued) {
                        showQueued = true;
                        ui.Post(show);
                    }
                }
                if (!fixed)
                    break;
            }
            // The repairs are made in the mounted registry; they reach the hive files now,
            // so that closing the program or a crash later cannot lose them.
            written = FixRegistry_->FlushRepairs();
            if (withUndo)
                try {
                    AddRestoreRecord(StoreFilePath(), recordAction, undoName, undoCreated);
                } catch (const StoreError& e) {
                    recordError = e.what();
                }
        },
        kNeverShow);
    if (!recordError.empty())
        ShowMessageBox(this, kRepairCaption, QString::fromUtf8(recordError.c_str()),
                       QMessageBox::Warning);
    repairing_ = false;
    UpdateActions();
    if (!written)
        ShowMessageBox(this, kRepairCaption,
                       "The repairs could not be written to the registry's hive files. The "
                       "program tries again when it ends; until then Windows does not see them.",
                       QMessageBox::Critical);
    if (failed > 0) {
        QString text = "Repair completed,but has " + QString::number(failed) + " items can't fix";
        if (!failure.isEmpty())
            text += "\r\n" + failure;
        ShowMessageBox(this, kRepairCaption, text, QMessageBox::Information);
    } else {
        btnCancel->setText("&Finish");
        ShowMessageBox(this, kRepairCaption,
                       "Repair completed\r\nPlease click finish button to end this Wizard.",
                       QMessageBox::Information);
    }
}

} // namespace ui
