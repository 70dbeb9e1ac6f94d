// The wizard's Select, Options and Scan pages: choosing the sections, the options of the
// repair, and the scan with its progress.

#include "registry/DateTimeText.h"
#include "scan/TFixRegistry.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/SelectionItems.h"
#include "store/SettingsNames.h"
#include "store/StoreError.h"
#include "store/fxRegistryFile.h"
#include "ui/ActionButton.h"
#include "ui/BoldLabel.h"
#include "ui/CutTextToolTips.h"
#include "ui/Images.h"
#include "ui/MessageBox.h"
#include "ui/TfrmRepair.h"
#include "ui/WizardCategories.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ui {

namespace {

constexpr int kProblemItemsColumn = 1;
constexpr int kProblemFoundColumn = 2;

QTableWidget* grid(const char* name, const QStringList& headers, const QList<int>& widths,
                   QWidget* parent) {
    auto* table = new QTableWidget(0, int(headers.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(headers);
    for (int column = 0; column < widths.size(); ++column)
        table->setColumnWidth(column, widths[column]);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(20);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setIconSize(QSize(16, 16));
    ShowCutTextsAsToolTips(*table);
    return table;
}

QTableWidgetItem* iconItem(TRepairItem item) {
    auto* cell = new QTableWidgetItem(CategoryImage(item), QString());
    cell->setData(Qt::UserRole, CategoryImageIndex(item));
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cell;
}

QTableWidgetItem* textItem(const QString& text, Qt::Alignment alignment = Qt::AlignLeft) {
    auto* cell = new QTableWidgetItem(text);
    cell->setTextAlignment(alignment | Qt::AlignVCenter);
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cell;
}

} // namespace

QWidget* TfrmRepair::CreateSelectPage() {
    auto* page = new QWidget;
    page->setObjectName("Select");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(BoldLabel("Select Registry sections", page));
    layout->addWidget(
        new QLabel("Select Registry sections and click \"Next\" button to continue...", page));
    gdItems = grid("gdItems", {"", "", "Items to be examined for errors"}, {24, 24, 448}, page);
    layout->addWidget(gdItems, 1);
    connect(gdItems, &QTableWidget::itemChanged, this, [this] { UpdateActions(); });
    return page;
}

QWidget* TfrmRepair::CreateOptionsPage() {
    auto* page = new QWidget;
    page->setObjectName("Options");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(BoldLabel("Configure Options", page));
    auto* search = new QGroupBox("Search and Repair", page);
    rdDisplayRepair = new QRadioButton("Display invalid Registry keys information", search);
    rdDisplayRepair->setObjectName("rdDisplayRepair");
    rdAutoRepair =
        new QRadioButton("Automatically repair invalid Registry keys information", search);
    rdAutoRepair->setObjectName("rdAutoRepair");
    rdDisplayRepair->setChecked(true);
    auto* searchLayout = new QVBoxLayout(search);
    searchLayout->addWidget(rdDisplayRepair);
    searchLayout->addWidget(rdAutoRepair);
    auto* undo = new QGroupBox("Undo", page);
    chkUndo = new QCheckBox("Save information required for undo purpose (recommended)", undo);
    chkUndo->setObjectName("chkUndo");
    chkUndo->setChecked(true);
    auto* undoLayout = new QVBoxLayout(undo);
    undoLayout->addWidget(chkUndo);
    layout->addWidget(search);
    layout->addWidget(undo);
    layout->addStretch();
    return page;
}

QWidget* TfrmRepair::CreateScanPage() {
    auto* page = new QWidget;
    page->setObjectName("Scan");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(BoldLabel("Searching Progress", page));
    lblSearchfor = new QLabel("Searching for :", page);
    lblSearchfor->setObjectName("lblSearchfor");
    layout->addWidget(lblSearchfor);
    pgTotal = new QProgressBar(page);
    pgTotal->setObjectName("pgTotal");
    pgTotal->setTextVisible(false);
    layout->addWidget(pgTotal);
    // Both labels sit centred under the total bar, whatever their text and the width.
    lblTotalProgress = new QLabel("Total Progress:  0%", page);
    lblTotalProgress->setObjectName("lblTotalProgress");
    layout->addWidget(lblTotalProgress, 0, Qt::AlignHCenter);
    pgScanning = new QProgressBar(page);
    pgScanning->setObjectName("pgScanning");
    pgScanning->setTextVisible(false);
    layout->addWidget(pgScanning);
    lblScanning = new QLabel("Scanning for :", page);
    lblScanning->setObjectName("lblScanning");
    layout->addWidget(lblScanning, 0, Qt::AlignHCenter);
    btnStop = new QPushButton(page);
    btnStop->setObjectName("btnStop");
    btnStop->setAutoDefault(false);
    BindButtonToAction(btnStop, actStop);
    connect(actStop, &QAction::triggered, this, [this] { FixRegistry_->Stop(); });
    layout->addWidget(btnStop, 0, Qt::AlignRight);
    gdProblem = grid("gdProblem", {"", "Items", "Found problem"}, {24, 318, 188}, page);
    layout->addWidget(gdProblem, 1);
    return page;
}

void TfrmRepair::FillSelectGrid() {
    const QSignalBlocker quiet(gdItems);
    gdItems->setRowCount(0);
    for (int i = 0; i < kRepairItemCount; ++i) {
        const auto item = TRepairItem(i);
        gdItems->insertRow(i);
        auto* check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        check->setCheckState(Qt::Unchecked);
        gdItems->setItem(i, 0, check);
        gdItems->setItem(i, 1, iconItem(item));
        gdItems->setItem(i, 2, textItem(RepairItemDisplayName(item)));
    }
}

void TfrmRepair::RestoreSelection() {
    const std::vector<bool> checked = LoadSelection(StoreFilePath(), gdItems->rowCount());
    for (int row = 0; row < gdItems->rowCount() && row < int(checked.size()); ++row)
        if (checked[size_t(row)])
            gdItems->item(row, 0)->setCheckState(Qt::Checked);
}

void TfrmRepair::SaveSelection() {
    std::vector<int> checked;
    for (int row = 0; row < gdItems->rowCount(); ++row)
        if (gdItems->item(row, 0)->checkState() == Qt::Checked)
            checked.push_back(row);
    ::SaveSelection(StoreFilePath(), checked);
}

bool TfrmRepair::OptionsKeyHolds(const char* value, std::string& text) {
    TfxRegFile store(StoreFilePath());
    bool held = false;
    if (store.OpenKey(kOptionsKey, false) && store.ValueExists(value)) {
        text = store.ReadString(value);
        held = true;
    }
    store.CloseKey();
    return held;
}

void TfrmRepair::StartScan() {
    gdProblem->setRowCount(0);
    pgTotal->setValue(0);
    pgScanning->setValue(0);
    TRepairItems items;
    for (int row = 0; row < gdItems->rowCount(); ++row) {
        if (gdItems->item(row, 0)->checkState() != Qt::Checked)
            continue;
        const auto item = TRepairItem(row);
        const int line = gdProblem->rowCount();
        gdProblem->insertRow(line);
        gdProblem->setItem(line, 0, iconItem(item));
        gdProblem->setItem(line, kProblemItemsColumn, textItem(RepairItemDisplayName(item)));
        gdProblem->setItem(line, kProblemFoundColumn, textItem("", Qt::AlignHCenter));
        items.Include(item);
    }
    FixRegistry_->ScanItems = items;
    try {
        std::string exclusions;
        if (OptionsKeyHolds(kExclusionsKeyValue, exclusions))
            FixRegistry_->SetExcludeKEYText(exclusions);
    } catch (const StoreError& e) {
        // The scan goes on with the exclusions it had.
        ShowMessageBox(this, "Registry Wizard", QString::fromUtf8(e.what()), QMessageBox::Warning);
    }
    lastProgress_ = -1;
    FixRegistry_->Start();
    UpdateActions();
}

namespace {

// The first row of the problem grid whose "Items" text is `name`, ignoring case; -1.
int problemRowOf(QTableWidget* grid, const QString& name) {
    for (int row = 0; row < grid->rowCount(); ++row)
        if (grid->item(row, kProblemItemsColumn)->text().compare(name, Qt::CaseInsensitive) == 0)
            return row;
    return -1;
}

} // namespace

void TfrmRepair::ScanStatus(TRepairItem curItem) {
    const QString name = RepairItemDisplayName(curItem);
    const int row = problemRowOf(gdProblem, name);
    if (row >= 1) {
        const int percent = row * 100 / gdProblem->rowCount();
        pgTotal->setValue(percent);
        lblTotalProgress->setText(QString("Total Progress: %1%").arg(percent));
        QTableWidgetItem* before = gdProblem->item(row - 1, kProblemFoundColumn);
        if (before->text().isEmpty())
            before->setText("success");
    }
    lblSearchfor->setText("Searching for " + name);
    lblScanning->setText("Scanning for : " + name);
}

void TfrmRepair::ScanProgress(int percent) {
    if (WizardMode == wmClean)
        pgScanning->setValue(std::clamp(percent, 0, 100));
}

void TfrmRepair::ScanFound(TRepairItem datatype) {
    const QString name = RepairItemDisplayName(datatype);
    for (int row = 0; row < gdProblem->rowCount(); ++row) {
        QTableWidgetItem* items = gdProblem->item(row, kProblemItemsColumn);
        if (items->text().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QTableWidgetItem* found = gdProblem->item(row, kProblemFoundColumn);
        bool number = false;
        const int count = found->text().toInt(&number);
        found->setText(QString::number((number ? count : 0) + 1));
    }
}

void TfrmRepair::ScanFinished() {
    try {
        WriteOptionString(StoreFilePath(), kLastScanValue, DateTimeToText(Now()));
    } catch (const StoreError& e) {
        ShowMessageBox(this, "Registry Wizard", QString::fromUtf8(e.what()), QMessageBox::Warning);
    }
    pgTotal->setValue(100);
    lblTotalProgress->setText(QString("Total Progress:  %1%").arg(100));
    const int rows = gdProblem->rowCount();
    if (rows == 1 && gdProblem->item(0, kProblemFoundColumn)->text().isEmpty())
        gdProblem->item(0, kProblemFoundColumn)->setText("success");
    FillResultGrid();
    if (!FixRegistry_->LastScanError().empty())
        // A scan ended by an error lists what it found before it.
        ShowMessageBox(this, "Registry Wizard",
                       "The scan ended early: " +
                           QString::fromUtf8(FixRegistry_->LastScanError().c_str()),
                       QMessageBox::Warning);
    if (!FixRegistry_->InvalidDataList().empty()) {
        BindButtonToAction(btnNext, actRepair);
        SetPageIndex(pgResult);
    } else {
        if (rows > 0)
            gdProblem->item(rows - 1, kProblemFoundColumn)->setText("success");
        btnCancel->setText("&Finish");
    }
    UpdateActions();
}

} // namespace ui
