// The Registry Wizard in Clean mode, driven as a user drives it: choosing sections,
// scanning, reviewing and repairing, with the undo file and the restore record.

#include "UiTestSupport.h"
#include "registry/OSInfo.h"
#include "registry/TRegistry.h"
#include "scan/TFixRegistry.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "support/MachineFixture.h"
#include "ui/ActionButton.h"
#include "ui/RegistryEditorViewer.h"
#include "ui/RegistryViewer.h"
#include "ui/ResultModel.h"
#include "ui/ResultSlideDelegate.h"
#include "ui/TfrmRepair.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <memory>
#include <thread>

using namespace ui_testing;
using ui::TfrmRepair;

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kHklmRun[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Three run entries whose programs are gone, and fonts and help files that are all there.
const char kMachine[] = R"reg(
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run]
"Alpha"="C:\\Gone\\alpha.exe"
"Beta"="C:\\Gone\\beta.exe"
"Gamma"="C:\\Gone\\gamma.exe"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts]
"Arial (TrueType)"="arial.ttf"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help]
"notepad.hlp"="C:\\WINDOWS\\Help"
)reg";

QString problemCell(TfrmRepair& wizard, int row) {
    auto* grid = Child<QTableWidget>(wizard, "gdProblem");
    return grid->item(row, 2)->text();
}

QStringList runValues() {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QStringList names;
    if (!registry.OpenKeyReadOnly(kRunKey))
        return {"(no run key)"};
    for (const char* name : {"Alpha", "Beta", "Gamma"})
        if (registry.ValueExists(name))
            names << name;
    return names;
}

QStringList restoreRecords() {
    QStringList records;
    for (const TRestoreRecord& record : ReadRestoreRecords(StoreFilePath()))
        records << QString::fromStdString(record.backupName + " " + record.action);
    return records;
}

// Keys enough in SOFTWARE that writing the hive takes the time a large installation's does.
void fillSoftwareHive(int keys) {
    TRegistry registry(KEY_ALL_ACCESS);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    for (int n = 0; n < keys; ++n) {
        QVERIFY(registry.OpenKey("SOFTWARE\\Bulk\\Vendor " + std::to_string(n), true));
        registry.WriteString("Path", "C:\\Program Files\\Vendor " + std::to_string(n));
        registry.CloseKey();
    }
}

QStringList undoFiles() {
    return QDir(QString::fromStdString(RegistryBackupFolder())).entryList({"*.reg"}, QDir::Files);
}

} // namespace

class TestWizardClean : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void nextNeedsACheckedSection();
    void storedSelectionChecksOnlyValidRows_data();
    void storedSelectionChecksOnlyValidRows();
    void theSelectionIsStoredAtClosing();
    void aCategoryWithoutProblemsEndsOnTheScanPage();
    void severalCategoriesOnlyTheFirstWithProblems();
    void resultRowsShowTheRecordAndNullData();
    void aCutValueShowsItsWholeTextAsTooltip_data();
    void aCutValueShowsItsWholeTextAsTooltip();
    void theSortMenuFiltersAndRebuilds();
    void toolsActOnTheListedRows();
    void openItemLocationShowsTheKeyInTheViewer();
    void repairWithNothingFailing();
    void repairStopsAtTheFirstFailure();
    void theUncheckedRowsStayWhereverTheyAre_data();
    void theUncheckedRowsStayWhereverTheyAre();
    void theWindowGoesOnWhileTheRepairsAreWritten();
    void aKeyAnExclusionKeepsStaysAndTheUserIsToldWhy();
    void withoutUndoNothingIsSaved();
    void twoRepairsOnOnePageShareTheUndoFile();
    void backFromTheResultPageStartsANewUndoFile();
    void automaticRepairOnEnteringTheResultPage();
    void closingDuringAScan();
    void backupAndCompactModesHaveNoBackOrNext();
    void aHiveListThatCannotBeReadLeavesCleanWorking();

private:
    void check(TfrmRepair& wizard, std::initializer_list<int> rows);
    // Next, Next: the scan runs; returns once it has finished.
    void scan(TfrmRepair& wizard);
    void repair(TfrmRepair& wizard);
    // Scans the run entries and repairs the first of the three only.
    ui::ResultModel* repairTheFirstRunEntryOnly(TfrmRepair& wizard);

    std::unique_ptr<testing_support::TestMachine> machine_;
    std::unique_ptr<QTemporaryDir> programFolder_;
};

void TestWizardClean::init() {
    machine_ = std::make_unique<testing_support::TestMachine>(
        kMachine,
        std::vector<testing_support::FixtureFile>{{"C:\\WINDOWS\\Fonts\\ARIAL.TTF", "font"},
                                                  {"C:\\WINDOWS\\Help\\notepad.hlp", "help"}});
    InitOSInfo();
    programFolder_ = std::make_unique<QTemporaryDir>();
    SetProgramFolder(programFolder_->path().toStdString());
}

void TestWizardClean::cleanup() {
    SetProgramFolder("");
    machine_.reset();
}

void TestWizardClean::check(TfrmRepair& wizard, std::initializer_list<int> rows) {
    auto* grid = Child<QTableWidget>(wizard, "gdItems");
    for (int row = 0; row < grid->rowCount(); ++row)
        grid->item(row, 0)->setCheckState(Qt::Unchecked);
    for (int row : rows)
        grid->item(row, 0)->setCheckState(Qt::Checked);
}

void TestWizardClean::scan(TfrmRepair& wizard) {
    auto* next = Child<QPushButton>(wizard, "btnNext");
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(wizard.PageIndex(), int(TfrmRepair::pgOptions));
    QTest::mouseClick(next, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Child<QLabel>(wizard, "lblTotalProgress")->text(),
                              QString("Total Progress:  100%"), 30000);
    QVERIFY(!wizard.Engine().IsRunning());
}

void TestWizardClean::repair(TfrmRepair& wizard) {
    wizard.UpdateActions();
    auto* next = Child<QPushButton>(wizard, "btnNext");
    QCOMPARE(ui::BoundAction(next), wizard.actRepair);
    QVERIFY(next->isEnabled());
    QTest::mouseClick(next, Qt::LeftButton);
    QVERIFY(!wizard.IsRepairing());
}

ui::ResultModel* TestWizardClean::repairTheFirstRunEntryOnly(TfrmRepair& wizard) {
    check(wizard, {2});
    scan(wizard);
    auto* model = qobject_cast<ui::ResultModel*>(Child<QListView>(wizard, "gdResult")->model());
    model->SetChecked(1, false);
    model->SetChecked(2, false);
    repair(wizard);
    return model;
}

void TestWizardClean::nextNeedsACheckedSection() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {});
    wizard->UpdateActions();
    QVERIFY(!wizard->actNext->isEnabled());
    QVERIFY(!Child<QPushButton>(*wizard, "btnNext")->isEnabled());
    QVERIFY(!wizard->actBack->isEnabled());
    check(*wizard, {7});
    wizard->UpdateActions();
    QVERIFY(wizard->actNext->isEnabled());
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgOptions));
    // Unchecking on the way back disables Next on the Options page too.
    check(*wizard, {});
    wizard->UpdateActions();
    QVERIFY(!wizard->actNext->isEnabled());
    QVERIFY(wizard->actBack->isEnabled());
}

void TestWizardClean::storedSelectionChecksOnlyValidRows_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QList<int>>("checked");
    QTest::newRow("pieces 3, a word, 12 and 0") << "3,word,12,0" << QList<int>{0, 3};
    QTest::newRow("empty") << "" << QList<int>{};
    QTest::newRow("empty pieces and the last row") << ",,11,,-1," << QList<int>{11};
}

void TestWizardClean::storedSelectionChecksOnlyValidRows() {
    QFETCH(QString, stored);
    QFETCH(QList<int>, checked);
    {
        TfxRegFile store(StoreFilePath());
        store.OpenKey(kOptionsKey, true);
        store.WriteString(kSelectionItemsValue, stored.toStdString());
        store.CloseKey();
    }
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    auto* grid = Child<QTableWidget>(*wizard, "gdItems");
    QCOMPARE(grid->rowCount(), 12);
    QList<int> shown;
    for (int row = 0; row < grid->rowCount(); ++row)
        if (grid->item(row, 0)->checkState() == Qt::Checked)
            shown << row;
    QCOMPARE(shown, checked);
}

void TestWizardClean::theSelectionIsStoredAtClosing() {
    {
        auto wizard = OpenWizard(TfrmRepair::wmClean);
        check(*wizard, {1, 4, 10});
    }
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    QVERIFY(store.OpenKey(kOptionsKey, false));
    QCOMPARE(store.ReadString(kSelectionItemsValue), std::string("1,4,10"));
    store.CloseKey();
}

void TestWizardClean::aCategoryWithoutProblemsEndsOnTheScanPage() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {5});
    scan(*wizard);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgScan));
    QCOMPARE(problemCell(*wizard, 0), QString("success"));
    QCOMPARE(Child<QPushButton>(*wizard, "btnCancel")->text(), QString("&Finish"));
    QCOMPARE(ui::BoundAction(Child<QPushButton>(*wizard, "btnNext")), wizard->actNext);
    // The time of the scan is kept for the home window.
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    QVERIFY(store.OpenKey(kOptionsKey, false));
    QVERIFY(!store.ReadString(kLastScanValue).empty());
    store.CloseKey();
    // Back is enabled once the scan has ended, and leads to the Options page.
    wizard->UpdateActions();
    QVERIFY(wizard->actBack->isEnabled());
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnBack"), Qt::LeftButton);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgOptions));
    QCOMPARE(Child<QPushButton>(*wizard, "btnCancel")->text(), QString("&Cancel"));
}

void TestWizardClean::severalCategoriesOnlyTheFirstWithProblems() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2, 5, 6});
    scan(*wizard);
    QCOMPARE(problemCell(*wizard, 0), QString("3"));
    QCOMPARE(problemCell(*wizard, 1), QString("success"));
    QCOMPARE(problemCell(*wizard, 2), QString(""));
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgResult));
    auto* next = Child<QPushButton>(*wizard, "btnNext");
    QCOMPARE(ui::BoundAction(next), wizard->actRepair);
    QCOMPARE(next->text(), QString("&Repair Now"));
    QCOMPARE(Child<QLabel>(*wizard, "pelItemchecked")->text(), QString("  3 items checked"));
}

void TestWizardClean::resultRowsShowTheRecordAndNullData() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    TFixRegistry& engine = wizard->Engine();
    engine.AddInvalidData(riUninstallers, "HKEY_LOCAL_MACHINE\\SOFTWARE\\X", "No file", "", "Name");
    engine.AddInvalidData(riFonts, "HKEY_LOCAL_MACHINE\\SOFTWARE\\F", "Gone", "f.ttf", "F");
    wizard->FillResultGrid();
    auto* model = qobject_cast<ui::ResultModel*>(Child<QListView>(*wizard, "gdResult")->model());
    QVERIFY(model);
    QCOMPARE(model->rowCount(), 2);
    const auto cell = [&](int row, int column) {
        return model->index(row, column).data().toString();
    };
    QCOMPARE(cell(0, ui::ResultModel::colKeyLocation), QString("HKEY_LOCAL_MACHINE\\SOFTWARE\\X"));
    QCOMPARE(cell(0, ui::ResultModel::colValueName), QString("Name"));
    QCOMPARE(cell(0, ui::ResultModel::colValueData), QString("{ null }"));
    QCOMPARE(cell(0, ui::ResultModel::colDiagnosis), QString("No file"));
    QCOMPARE(cell(0, ui::ResultModel::colRepair),
             QString("Delete erroneous key entry (recommended)"));
    QCOMPARE(cell(1, ui::ResultModel::colValueData), QString("f.ttf"));
    QCOMPARE(cell(1, ui::ResultModel::colRepair),
             QString("Delete erroneous value entry (recommended)"));
    QCOMPARE(cell(1, ui::ResultModel::colFirstLabel + 2), QString("Value Data:"));
    QCOMPARE(model->index(1, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
}

// A long key location, value name, data or diagnosis is cut on its slide; hovering it shows
// the whole text, so that the user can read what a repair deletes. A key location is cut in
// the middle: its root and the key's own name stay in sight.
void TestWizardClean::aCutValueShowsItsWholeTextAsTooltip_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("longRow");
    QTest::newRow("key location") << 0 << true;
    QTest::newRow("value name") << 1 << true;
    QTest::newRow("value data") << 2 << true;
    QTest::newRow("diagnosis") << 3 << true;
    QTest::newRow("a key location that fits") << 0 << false;
    QTest::newRow("data that fits") << 2 << false;
}

void TestWizardClean::aCutValueShowsItsWholeTextAsTooltip() {
    QFETCH(int, line);
    QFETCH(bool, longRow);
    const std::string longKey =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\" +
        QString("Nested Subkey Of Some Length\\").repeated(6).toStdString() + "TheKeysOwnName";
    const std::string longName = "A value name " + std::string(120, 'n');
    const std::string longData = "C:\\Program Files\\" +
                                 QString("A Long Folder Name\\").repeated(10).toStdString() +
                                 "tool.exe";
    const std::string longDiagnosis = "The file " + longData + " does not exist";
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    TFixRegistry& engine = wizard->Engine();
    if (longRow)
        engine.AddInvalidData(riAutoRun, longKey, longDiagnosis, longData, longName);
    else
        engine.AddInvalidData(riAutoRun, "HKEY_LOCAL_MACHINE\\SOFTWARE\\R", "Gone", "a.exe", "A");
    wizard->FillResultGrid();
    wizard->SetPageIndex(TfrmRepair::pgResult);
    QVERIFY(QTest::qWaitForWindowExposed(wizard.get()));
    auto* list = Child<QListView>(*wizard, "gdResult");
    const QModelIndex row = list->model()->index(0, 0);
    const QString whole =
        list->model()->index(0, ui::ResultModel::colKeyLocation + line).data().toString();

    const QRect slide = list->visualRect(row);
    const QPoint at(slide.left() + 160,
                    slide.top() + ui::ResultSlideDelegate::kLineOffsets[line] + 8);
    QCOMPARE(ui::ResultSlideDelegate::ValueLineAt(slide, at), line);
    const QString shown =
        ui::ResultSlideDelegate::ShownValue(row, line, slide, list->fontMetrics());
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    QHelpEvent hover(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &hover);
    if (!longRow) {
        QCOMPARE(shown, whole);
        QVERIFY(!QToolTip::isVisible());
        return;
    }
    QVERIFY2(shown != whole && shown.contains(QChar(0x2026)), qPrintable(shown));
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), whole);
    if (line == 0) {
        QVERIFY2(shown.startsWith("HKEY_LOCAL_MACHINE\\SOFTWARE") &&
                     shown.endsWith("TheKeysOwnName"),
                 qPrintable(shown));
    }
}

void TestWizardClean::theSortMenuFiltersAndRebuilds() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    TFixRegistry& engine = wizard->Engine();
    engine.AddInvalidData(riFonts, "HKEY_LOCAL_MACHINE\\F", "d", "1", "f1");
    engine.AddInvalidData(riAutoRun, "HKEY_LOCAL_MACHINE\\R", "d", "2", "r1");
    engine.AddInvalidData(riFonts, "HKEY_LOCAL_MACHINE\\F", "d", "3", "f2");
    wizard->FillResultGrid();
    const QStringList all = {"Show all data", "Invalid Fonts", "Invalid Auto Run Section"};
    QCOMPARE(wizard->SortCaptions(), all);
    auto* model = Child<QListView>(*wizard, "gdResult")->model();

    wizard->ChooseSortItem("Invalid Fonts");
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(wizard->SortCaptions(), all);
    // Only the listed rows are acted on.
    wizard->actUncheckall->trigger();
    QCOMPARE(Child<QLabel>(*wizard, "pelItemchecked")->text(), QString("  0 items checked"));

    wizard->ChooseSortItem("Invalid Auto Run Section");
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, ui::ResultModel::colValueName).data().toString(), QString("r1"));

    wizard->ChooseSortItem("Show all data");
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(wizard->SortCaptions(), all);
    QCOMPARE(Child<QLabel>(*wizard, "pelItemchecked")->text(), QString("  3 items checked"));
}

void TestWizardClean::toolsActOnTheListedRows() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    TFixRegistry& engine = wizard->Engine();
    wizard->UpdateActions();
    QVERIFY(!wizard->actCheckall->isEnabled());
    QVERIFY(!wizard->actRepair->isEnabled());
    for (const char* name : {"a", "b", "c"})
        engine.AddInvalidData(riFonts, "HKEY_LOCAL_MACHINE\\F", "d", "x", name);
    wizard->FillResultGrid();
    auto* view = Child<QListView>(*wizard, "gdResult");
    auto* model = qobject_cast<ui::ResultModel*>(view->model());
    QVERIFY(wizard->actCheckall->isEnabled());
    QVERIFY(!wizard->actOpenedt->isEnabled());
    model->SetChecked(1, false);
    QCOMPARE(wizard->CheckedCount, 2);
    wizard->actInvertChecked->trigger();
    QCOMPARE(wizard->CheckedCount, 1);
    QVERIFY(model->IsChecked(1));
    wizard->actUncheckall->trigger();
    QVERIFY(!wizard->actRepair->isEnabled());
    wizard->actCheckall->trigger();
    QCOMPARE(Child<QLabel>(*wizard, "pelItemchecked")->text(), QString("  3 items checked"));
    view->setCurrentIndex(model->index(2, 0));
    QVERIFY(wizard->actOpenedt->isEnabled());
}

void TestWizardClean::openItemLocationShowsTheKeyInTheViewer() {
    ui::RegistryViewer viewer;
    ui::RegistryEditorViewer editor(viewer);
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    scan(*wizard);
    auto* view = Child<QListView>(*wizard, "gdResult");
    view->setCurrentIndex(view->model()->index(1, 0));
    wizard->UpdateActions();
    QVERIFY(wizard->actOpenedt->isEnabled());
    wizard->actOpenedt->trigger();
    QVERIFY(viewer.isVisible());
    // The viewer spells the key as the registry does.
    const QString shown = QString::fromStdString(viewer.SelectedKeyLocation());
    QVERIFY2(shown.compare(kHklmRun, Qt::CaseInsensitive) == 0, qPrintable(shown));
}

void TestWizardClean::repairWithNothingFailing() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    scan(*wizard);
    MessageBoxes boxes;
    repair(*wizard);
    QCOMPARE(Child<QListView>(*wizard, "gdResult")->model()->rowCount(), 0);
    QCOMPARE(Child<QLabel>(*wizard, "pelItemRemoved")->text(), QString("3 items removed"));
    QCOMPARE(Child<QLabel>(*wizard, "pelItemchecked")->text(), QString("  0 items checked"));
    QCOMPARE(Child<QPushButton>(*wizard, "btnCancel")->text(), QString("&Finish"));
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Repair and Clean the Registry"));
    QCOMPARE(boxes.asked()[0].text,
             QString("Repair completed\r\nPlease click finish button to end this Wizard."));
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Information);
    QCOMPARE(runValues(), QStringList());
    // What was removed is in the undo file, which the backup list finds by its record.
    const QStringList files = undoFiles();
    QCOMPARE(files.size(), 1);
    QVERIFY(QRegularExpression("^\\d{14}\\.reg$").match(files[0]).hasMatch());
    QCOMPARE(QString::fromStdString(wizard->UndoFileName),
             QDir(QString::fromStdString(RegistryBackupFolder())).filePath(files[0]));
    QFile undo(QDir(QString::fromStdString(RegistryBackupFolder())).filePath(files[0]));
    QVERIFY(undo.open(QIODevice::ReadOnly));
    const QByteArray text = undo.readAll();
    for (const char* entry : {"\"Alpha\"=\"C:\\\\Gone\\\\alpha.exe\"", "\"Beta\"", "\"Gamma\""})
        QVERIFY2(text.contains(entry), entry);
    QCOMPARE(restoreRecords(), QStringList{files[0] + " Scan \"Invalid Auto Run Section\""});
    // The repair reached the hive files: a restarted machine no longer has the entries.
    wizard.reset();
    machine_->shutdown();
    machine_->boot();
    QCOMPARE(runValues(), QStringList());
}

void TestWizardClean::theWindowGoesOnWhileTheRepairsAreWritten() {
    fillSoftwareHive(4000);
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    scan(*wizard);
    // Once every checked problem is removed, what is left of the pass is the writing of
    // the hives: a timer of the window's thread counts the loop's turns meanwhile.
    int turnsWhileWriting = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] {
        if (wizard->IsRepairing() && wizard->CheckedCount == 0)
            ++turnsWhileWriting;
    });
    turn.start(0);
    MessageBoxes boxes;
    repair(*wizard);
    turn.stop();
    QCOMPARE(boxes.asked().size(), 1);
    QVERIFY2(boxes.asked()[0].text.startsWith("Repair completed\r\n"),
             qPrintable(boxes.asked()[0].text));
    // One turn follows the last removal in any case; the writing gives many more.
    QVERIFY2(turnsWhileWriting > 1, qPrintable(QString::number(turnsWhileWriting)));
    wizard.reset();
    machine_->shutdown();
    machine_->boot();
    QCOMPARE(runValues(), QStringList());
}

void TestWizardClean::theUncheckedRowsStayWhereverTheyAre_data() {
    QTest::addColumn<QList<int>>("unchecked"); // rows of Alpha, Beta, Gamma
    QTest::addColumn<QStringList>("left");
    QTest::newRow("the first") << QList<int>{0} << QStringList{"Alpha"};
    QTest::newRow("the middle") << QList<int>{1} << QStringList{"Beta"};
    QTest::newRow("the last") << QList<int>{2} << QStringList{"Gamma"};
    QTest::newRow("both ends") << QList<int>{0, 2} << QStringList{"Alpha", "Gamma"};
}

void TestWizardClean::theUncheckedRowsStayWhereverTheyAre() {
    QFETCH(QList<int>, unchecked);
    QFETCH(QStringList, left);
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    scan(*wizard);
    auto* model = qobject_cast<ui::ResultModel*>(Child<QListView>(*wizard, "gdResult")->model());
    for (int row : unchecked)
        model->SetChecked(row, false);
    MessageBoxes boxes;
    repair(*wizard);
    QStringList listed;
    for (int row = 0; row < model->Count(); ++row)
        listed << QString::fromStdString(model->At(row).valueName);
    QCOMPARE(listed, left);
    QCOMPARE(runValues(), left);
    QCOMPARE(Child<QLabel>(*wizard, "pelItemRemoved")->text(),
             QString("%1 items removed").arg(3 - left.size()));
    QCOMPARE(Child<QProgressBar>(*wizard, "pgRepair")->value(), 100);
}

void TestWizardClean::repairStopsAtTheFirstFailure() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    scan(*wizard);
    // The second problem's value goes away behind the wizard's back: its fix fails.
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(registry.OpenKey(kRunKey, false));
    QVERIFY(registry.DeleteValue("Beta"));
    registry.CloseKey();
    MessageBoxes boxes;
    repair(*wizard);
    auto* model = Child<QListView>(*wizard, "gdResult")->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->index(0, ui::ResultModel::colValueName).data().toString(), QString("Beta"));
    QCOMPARE(model->index(1, ui::ResultModel::colValueName).data().toString(), QString("Gamma"));
    QCOMPARE(Child<QLabel>(*wizard, "pelItemRemoved")->text(), QString("1 items removed"));
    QCOMPARE(Child<QPushButton>(*wizard, "btnCancel")->text(), QString("&Cancel"));
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].text, QString("Repair completed,but has 1 items can't fix"));
    QCOMPARE(runValues(), QStringList{"Gamma"});
}

void TestWizardClean::aKeyAnExclusionKeepsStaysAndTheUserIsToldWhy() {
    const std::string app = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\gone.exe";
    {
        // The application's key, with no program named: its default value is empty.
        TRegistry registry;
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        QVERIFY(registry.OpenKey(app + "\\Kept", true));
        registry.CloseKey();
    }
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {1});
    scan(*wizard);
    // The list in force when the repair runs keeps a key below the one reported.
    wizard->Engine().ExcludeKEYList = {"HKEY_LOCAL_MACHINE\\" + app + "\\Kept"};
    MessageBoxes boxes;
    repair(*wizard);
    QCOMPARE(boxes.asked().size(), 1);
    const QString text = boxes.asked()[0].text;
    QVERIFY2(text.startsWith("Repair completed,but has 1 items can't fix\r\n"), qPrintable(text));
    QVERIFY2(text.contains("the exclusion list keeps \"HKEY_LOCAL_MACHINE\\" +
                           QString::fromStdString(app) + "\\Kept\""),
             qPrintable(text));
    QCOMPARE(Child<QListView>(*wizard, "gdResult")->model()->rowCount(), 1);
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(registry.OpenKeyReadOnly(app + "\\Kept"));
}

void TestWizardClean::withoutUndoNothingIsSaved() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    Child<QCheckBox>(*wizard, "chkUndo")->setChecked(false);
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(wizard->PageIndex(), int(TfrmRepair::pgResult), 30000);
    MessageBoxes boxes;
    repair(*wizard);
    QCOMPARE(runValues(), QStringList());
    QCOMPARE(undoFiles(), QStringList());
    QCOMPARE(restoreRecords(), QStringList());
}

void TestWizardClean::twoRepairsOnOnePageShareTheUndoFile() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    MessageBoxes boxes;
    repairTheFirstRunEntryOnly(*wizard);
    QCOMPARE(runValues(), (QStringList{"Beta", "Gamma"}));
    const std::string undoFile = wizard->UndoFileName;
    wizard->actCheckall->trigger();
    repair(*wizard);
    QCOMPARE(Child<QLabel>(*wizard, "pelItemRemoved")->text(), QString("2 items removed"));
    QCOMPARE(wizard->UndoFileName, undoFile);
    QCOMPARE(undoFiles().size(), 1);
    QCOMPARE(restoreRecords().size(), 1);
    QFile undo(QString::fromStdString(undoFile));
    QVERIFY(undo.open(QIODevice::ReadOnly));
    const QByteArray text = undo.readAll();
    QVERIFY(text.contains("\"Alpha\"") && text.contains("\"Beta\"") && text.contains("\"Gamma\""));
}

void TestWizardClean::backFromTheResultPageStartsANewUndoFile() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    MessageBoxes boxes;
    auto* model = repairTheFirstRunEntryOnly(*wizard);
    QVERIFY(!wizard->UndoFileName.empty());
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnBack"), Qt::LeftButton);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgOptions));
    QVERIFY(wizard->UndoFileName.empty());
    QCOMPARE(Child<QLabel>(*wizard, "pelItemRemoved")->text(), QString("No items removed"));
    QCOMPARE(ui::BoundAction(Child<QPushButton>(*wizard, "btnNext")), wizard->actNext);
    // A new scan lists what is left; its repair makes its own undo file.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // a new second, a new name
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(wizard->PageIndex(), int(TfrmRepair::pgResult), 30000);
    QCOMPARE(model->rowCount(), 2);
    repair(*wizard);
    QCOMPARE(undoFiles().size(), 2);
    QCOMPARE(restoreRecords().size(), 2);
}

void TestWizardClean::automaticRepairOnEnteringTheResultPage() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    Child<QRadioButton>(*wizard, "rdAutoRepair")->setChecked(true);
    MessageBoxes boxes;
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.asked().size(), 1, 30000);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgResult));
    QCOMPARE(Child<QListView>(*wizard, "gdResult")->model()->rowCount(), 0);
    QCOMPARE(runValues(), QStringList());
}

void TestWizardClean::closingDuringAScan() {
    auto wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2, 5});
    // A section whose scan goes on until it is told to stop.
    std::atomic<bool> entered{false};
    wizard->Engine().SetScanner(riFonts, [&entered](TFixRegistry& engine) {
        entered = true;
        while (!engine.IsStopped())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(*wizard, "btnNext"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(entered, 30000);
    wizard->UpdateActions();
    QVERIFY(!wizard->actBack->isEnabled());
    QVERIFY(wizard->actStop->isEnabled());
    {
        MessageBoxes boxes({QMessageBox::No});
        QTest::mouseClick(Child<QPushButton>(*wizard, "btnCancel"), Qt::LeftButton);
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked()[0].caption, QString("Confirm"));
        QCOMPARE(boxes.asked()[0].text,
                 QString("Are you sure you want to exit searching process?"));
        QCOMPARE(boxes.asked()[0].icon, QMessageBox::Question);
    }
    QVERIFY(wizard->isVisible());
    QVERIFY(wizard->Engine().IsRunning());
    {
        MessageBoxes boxes({QMessageBox::Yes});
        QTest::keyClick(wizard.get(), Qt::Key_Escape);
        QCOMPARE(boxes.asked().size(), 1);
    }
    QVERIFY(!wizard->isVisible());
    QCOMPARE(wizard->result(), int(QDialog::Rejected));
    // The ending scan loads nothing into the closed window, which waits for it when freed.
    QTest::qWait(100);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgScan));
    QCOMPARE(Child<QListView>(*wizard, "gdResult")->model()->rowCount(), 0);
    wizard.reset();
}

void TestWizardClean::backupAndCompactModesHaveNoBackOrNext() {
    for (uint8_t mode : {TfrmRepair::wmBackup, TfrmRepair::wmCompact}) {
        auto wizard = OpenWizard(mode);
        QVERIFY(!Child<QPushButton>(*wizard, "btnBack")->isVisible());
        QVERIFY(!Child<QPushButton>(*wizard, "btnNext")->isVisible());
        QCOMPARE(wizard->PageIndex(), mode == TfrmRepair::wmBackup
                                          ? int(TfrmRepair::pgBackupAndRestore)
                                          : int(TfrmRepair::pgCompact));
        const int page = wizard->PageIndex();
        wizard->actNext->trigger();
        wizard->actBack->trigger();
        QCOMPARE(wizard->PageIndex(), page);
        QVERIFY(wizard->HivesUsable());
    }
}

void TestWizardClean::aHiveListThatCannotBeReadLeavesCleanWorking() {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(registry.DeleteKey("SYSTEM\\CurrentControlSet\\Control\\hivelist"));
    MessageBoxes boxes;
    auto wizard = OpenWizard(TfrmRepair::wmCompact);
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].text, QString("Error Scanning For Registry Hives"));
    QVERIFY(!wizard->HivesUsable());
    wizard.reset();
    wizard = OpenWizard(TfrmRepair::wmClean);
    check(*wizard, {2});
    scan(*wizard);
    QCOMPARE(wizard->PageIndex(), int(TfrmRepair::pgResult));
}

QTEST_MAIN(TestWizardClean)
#include "test_ui_wizard_clean.moc"
