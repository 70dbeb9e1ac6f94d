// The Registry Wizard in Backup mode, driven as a user drives it: the list of backup
// profiles and undo files, a new backup through the profile dialog with the pruning of
// old records, restore, removal and opening of an entry, and closing during a backup.

#include "UiTestSupport.h"
#include "backup/ProfileConfig.h"
#include "compact/THiveManager.h"
#include "registry/DateTime.h"
#include "registry/OSInfo.h"
#include "registry/TRegistry.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "support/MachineFixture.h"
#include "ui/HostPages.h"
#include "ui/TfrmBackProfile.h"
#include "ui/TfrmRepair.h"
#include "ui/UndoFileViewer.h"
#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>
#include <memory>

using namespace ui_testing;
using ui::TfrmBackProfile;
using ui::TfrmRepair;

namespace {

constexpr int kNameColumn = 5;
const char kUndoAction[] = "Scan \"Application paths\"";

QString backupFolder() {
    return QString::fromStdString(RegistryBackupFolder());
}

QDateTime day(int year, int month, int dayOfMonth) {
    return QDateTime(QDate(year, month, dayOfMonth), QTime(10, 0, 0));
}

// A record as a repair or a backup adds it; its key is named by its creation time.
void addRecord(const std::string& action, const std::string& name, const QDateTime& created) {
    const TDateTime time = DateTimeFromQDateTime(created);
    AddRestoreRecord(StoreFilePath(), action, name, time, time);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A profile folder as the list takes it: its "config.ini" names five hive files it holds
// (whose content the list does not read).
void makeProfileFolder(const QString& name) {
    const QString folder = backupFolder() + name;
    TProfileConfig config(Now());
    for (const char* hive : {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"}) {
        writeFile(folder + "/" + hive, "regf");
        const std::string key = std::string(hive) == "DEFAULT"
                                    ? "\\REGISTRY\\USER\\.DEFAULT"
                                    : std::string("\\REGISTRY\\MACHINE\\") + hive;
        config.AddHive(hive, key, std::string("C:\\WINDOWS\\system32\\config\\") + hive);
    }
    config.Write(folder.toStdString());
}

// The backup names of the records in the settings file, oldest first.
QStringList storedNames() {
    QStringList names;
    for (const TRestoreRecord& record : ReadRestoreRecords(StoreFilePath()))
        names << QString::fromStdString(record.backupName);
    return names;
}

void writeOptions(bool canReplace, int amount) {
    TfxRegFile store(StoreFilePath());
    store.OpenKey(kOptionsKey, true);
    store.WriteBool(kCanReplaceValue, canReplace);
    store.WriteInteger(kReplaceAmountValue, amount);
    store.CloseKey();
}

QListView* backupList(TfrmRepair& wizard) {
    return Child<QListView>(wizard, "gdRestore");
}

QStringList listedNames(TfrmRepair& wizard) {
    QStringList names;
    const QAbstractItemModel* model = backupList(wizard)->model();
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, kNameColumn).data().toString();
    return names;
}

int rowOf(TfrmRepair& wizard, const QString& name) {
    return int(listedNames(wizard).indexOf(name));
}

// A click on a slide: on its first label, or on the backup name's link.
void clickSlide(TfrmRepair& wizard, int row, bool onLink = false) {
    QListView* view = backupList(wizard);
    const QRect slide = view->visualRect(view->model()->index(row, 0));
    const QPoint at = onLink ? QPoint(slide.left() + 112, slide.top() + 44 + 9)
                             : QPoint(slide.left() + 10, slide.top() + 9);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
}

// Clicks an entry of the task panel: "taskBackup", "taskRestore" or "taskRemove".
void clickTask(TfrmRepair& wizard, const char* name) {
    wizard.UpdateActions();
    auto* entry = Child<QToolButton>(wizard, name);
    QVERIFY2(entry->isEnabled(), name);
    QTest::mouseClick(entry, Qt::LeftButton);
}

void waitForHiveJob(TfrmRepair& wizard) {
    QTRY_VERIFY_WITH_TIMEOUT(!wizard.HiveManager()->IsBusy(), 30000);
}

// Backup with the profile dialog's name, or `name` typed over it; `shown` receives the
// name the dialog offered. Returns once the dialog has closed: the backup may run on.
void startBackup(TfrmRepair& wizard, const QString& name = {}, QString* shown = nullptr,
                 bool* allSelected = nullptr) {
    WhenModal<TfrmBackProfile>([name, shown, allSelected](TfrmBackProfile& dialog) {
        if (shown)
            *shown = dialog.edtProfile->text();
        if (allSelected)
            *allSelected = dialog.edtProfile->selectedText() == dialog.edtProfile->text();
        if (!name.isEmpty())
            dialog.edtProfile->setText(name);
        QTest::mouseClick(Child<QPushButton>(dialog, "btnOK"), Qt::LeftButton);
    });
    clickTask(wizard, "taskBackup");
}

std::vector<win32::PendingReplacement> pending() {
    return win32::PendingReplacementsOf(win32::MachineFolder());
}

} // namespace

class TestWizardBackup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void listsTheRecordsWhoseEntriesExist();
    void aBackupFromThePageWithTheDefaultName();
    void pruningBeforeABackup_data();
    void pruningBeforeABackup();
    void profileNamesTheDialogRefuses_data();
    void profileNamesTheDialogRefuses();
    void aFileOfTheNameIsNoTakenProfile();
    void aProfileFolderNamedLikeAnUndoFile();
    void removeAnsweredNoChangesNothing();
    void removeDeletesTheRecordAndTheEntry();
    void restoreOfAnUndoFile_data();
    void restoreOfAnUndoFile();
    void theWindowGoesOnWhileAnUndoFileIsImported();
    void restoreOfAProfileSaysWhatHappened();
    void anUndoFileOpensInAViewerOfTheProgram_data();
    void anUndoFileOpensInAViewerOfTheProgram();
    void aProfileFolderOpensInTheFileManager();
    void anEntryThatCannotBeOpenedIsSaid_data();
    void anEntryThatCannotBeOpenedIsSaid();
    void aCutActionShowsItsWholeTextAsTooltip();
    void closingDuringABackup_data();
    void closingDuringABackup();
    void backupOnWindows98();

private:
    std::unique_ptr<testing_support::TestMachine> machine_;
    std::unique_ptr<QTemporaryDir> programFolder_;
    std::unique_ptr<QTemporaryDir> home_;
    QByteArray oldHome_;
    QList<QUrl> opened_;
};

void TestWizardBackup::init() {
    machine_ = std::make_unique<testing_support::TestMachine>(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"before\"\r\n");
    InitOSInfo();
    programFolder_ = std::make_unique<QTemporaryDir>();
    SetProgramFolder(programFolder_->path().toStdString());
    // The desktop's trash of a home of the test's own.
    home_ = std::make_unique<QTemporaryDir>();
    oldHome_ = qgetenv("HOME");
    qputenv("HOME", home_->path().toUtf8());
    qputenv("XDG_DATA_HOME", (home_->path() + "/share").toUtf8());
    opened_.clear();
    ui::SetHostOpener([this](const QUrl& url) {
        opened_ << url;
        return true;
    });
}

void TestWizardBackup::cleanup() {
    ui::SetHostOpener({});
    qputenv("HOME", oldHome_);
    qunsetenv("XDG_DATA_HOME");
    SetProgramFolder("");
    machine_.reset();
}

void TestWizardBackup::listsTheRecordsWhoseEntriesExist() {
    makeProfileFolder("Before the update");
    makeProfileFolder("Deleted by hand");
    writeFile(backupFolder() + "01022021100000.reg", "REGEDIT4\r\n");
    addRecord("Backup Registry", "Before the update", day(2021, 1, 1));
    addRecord(kUndoAction, "01022021100000.reg", day(2021, 2, 1));
    addRecord("Backup Registry", "Deleted by hand", day(2021, 3, 1));
    addRecord("Backup Registry", "../outside", day(2021, 4, 1));
    QVERIFY(QDir(backupFolder() + "Deleted by hand").removeRecursively());
    // Folders that are no whole profile: empty, or a profile that lost a hive file.
    QVERIFY(QDir().mkpath(backupFolder() + "Empty"));
    addRecord("Backup Registry", "Empty", day(2021, 5, 1));
    makeProfileFolder("Half");
    QVERIFY(QFile::remove(backupFolder() + "Half/SAM"));
    addRecord("Backup Registry", "Half", day(2021, 6, 1));

    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    QCOMPARE(listedNames(*wizard), (QStringList{"Before the update", "01022021100000.reg"}));
    const QAbstractItemModel* model = backupList(*wizard)->model();
    QCOMPARE(model->index(1, 0).data().toString(), QString("Action:"));
    QCOMPARE(model->index(1, 1).data().toString(), QString("Date created:"));
    QCOMPARE(model->index(1, 2).data().toString(), QString("Backup Name:"));
    QCOMPARE(model->index(1, 3).data().toString(), QString(kUndoAction));
    QCOMPARE(model->index(1, 4).data().toString(), QString("2021-02-01 10:00:00"));
    // Records whose entry has gone, or is no whole profile, stay in the settings file.
    QCOMPARE(storedNames().size(), 6);
    // Nothing selected: nothing to restore or remove.
    wizard->UpdateActions();
    QVERIFY(!Child<QToolButton>(*wizard, "taskRestore")->isEnabled());
    QVERIFY(!Child<QToolButton>(*wizard, "taskRemove")->isEnabled());
    clickSlide(*wizard, 1);
    wizard->UpdateActions();
    QVERIFY(Child<QToolButton>(*wizard, "taskRestore")->isEnabled());
    QVERIFY(Child<QToolButton>(*wizard, "taskRemove")->isEnabled());
}

void TestWizardBackup::aBackupFromThePageWithTheDefaultName() {
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    QString shown;
    bool allSelected = false;
    const QDateTime asked = QDateTime::currentDateTime();
    startBackup(*wizard, {}, &shown, &allSelected);
    QVERIFY(allSelected);
    QVERIFY2(QRegularExpression("^\\d\\d-\\d\\d-\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d$")
                 .match(shown)
                 .hasMatch(),
             qPrintable(shown));
    QVERIFY(qAbs(QDateTime::fromString(shown, "dd-MM-yyyy HH.mm.ss").secsTo(asked)) <= 2);
    QCOMPARE(Child<QStackedWidget>(*wizard, "NoteBackup")->currentIndex(), 1);
    waitForHiveJob(*wizard);

    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Backup"));
    QCOMPARE(boxes.asked()[0].text, QString("Backup is complete."));
    QCOMPARE(Child<QProgressBar>(*wizard, "pgBackup")->value(), 100);
    QCOMPARE(Child<QStackedWidget>(*wizard, "NoteBackup")->currentIndex(), 0);
    QCOMPARE(listedNames(*wizard), QStringList{shown});
    QCOMPARE(backupList(*wizard)->model()->index(0, 3).data().toString(),
             QString("Backup Registry"));
    QVERIFY(QFileInfo::exists(backupFolder() + shown + "/config.ini"));
    QVERIFY(QFileInfo::exists(backupFolder() + shown + "/SOFTWARE"));
    TfxRegFile store(StoreFilePath(), TfxRegFile::Access::ReadOnly);
    QVERIFY(store.OpenKey(kOptionsKey, false));
    QVERIFY(!store.ReadString(kLastBackupValue).empty());
}

void TestWizardBackup::pruningBeforeABackup_data() {
    QTest::addColumn<bool>("canReplace");
    QTest::addColumn<int>("amount");
    QTest::addColumn<QStringList>("kept");
    const QStringList all = {"first", "second", "third", "fourth"};
    QTest::newRow("three kept with the new one") << true << 3 << QStringList{"third", "fourth"};
    QTest::newRow("only the new one") << true << 1 << QStringList{};
    QTest::newRow("pruning off") << false << 3 << all;
    QTest::newRow("no amount") << true << 0 << all;
    QTest::newRow("a negative amount") << true << -2 << all;
}

void TestWizardBackup::pruningBeforeABackup() {
    QFETCH(bool, canReplace);
    QFETCH(int, amount);
    QFETCH(QStringList, kept);
    const QStringList backups = {"first", "second", "third", "fourth"};
    // Made in another order than their times, which decide.
    for (int i : {2, 0, 3, 1}) {
        makeProfileFolder(backups[i]);
        addRecord("Backup Registry", backups[i].toStdString(), day(2020, 1, 1 + i));
    }
    // Older than all: but its folder has gone, so it is not listed and not pruned.
    makeProfileFolder("gone");
    addRecord("Backup Registry", "gone", day(2019, 1, 1));
    QVERIFY(QDir(backupFolder() + "gone").removeRecursively());
    writeFile(backupFolder() + "01012019100000.reg", "REGEDIT4\r\n");
    addRecord(kUndoAction, "01012019100000.reg", day(2019, 1, 2));
    writeOptions(canReplace, amount);

    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    startBackup(*wizard, "newest");
    waitForHiveJob(*wizard);
    QCOMPARE(boxes.asked().value(0).text, QString("Backup is complete."));

    QCOMPARE(listedNames(*wizard),
             QStringList{"01012019100000.reg"} + kept + QStringList{"newest"});
    QVERIFY(storedNames().contains("gone"));
    // Only the records go: every folder stays.
    for (const QString& name : backups)
        QVERIFY2(QFileInfo(backupFolder() + name).isDir(), qPrintable(name));
}

void TestWizardBackup::profileNamesTheDialogRefuses_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message"); // empty: none
    const QString forbidden = "Profile name cannot contain any of the characters: \"\\/:*?\"<>|\".";
    QTest::newRow("a slash") << "one/two" << forbidden;
    QTest::newRow("a question mark") << "why?" << forbidden;
    QTest::newRow("a backslash") << "C:\\x" << forbidden;
    QTest::newRow("a taken name") << "taken"
                                  << "This Profile name already exist, please rename profile.";
    QTest::newRow("a name an undo file would have")
        << "my.registry"
        << "Profile name cannot contain \".reg\": a restore would take the profile for an undo "
           "file.";
    QTest::newRow("empty") << ""
                           << "";
    // Names of the backup folder itself and of its parent, and a line break.
    QTest::newRow("two dots") << ".."
                              << "The profile name \"..\" is made of dots alone, which name a "
                                 "folder, not a file in it.";
    QTest::newRow("three dots") << "..."
                                << "The profile name \"...\" is made of dots alone, which name a "
                                   "folder, not a file in it.";
    QTest::newRow("a line break") << "one\ntwo"
                                  << "The profile name \"one\ntwo\" holds the control character "
                                     "0x0A.";
}

void TestWizardBackup::profileNamesTheDialogRefuses() {
    QFETCH(QString, name);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir("taken"));
    TfrmBackProfile dialog;
    QCOMPARE(dialog.windowTitle(), QString("Registry Backup Profile"));
    dialog.ProfileFolder = folder.path().toStdString() + "/";
    dialog.show();
    dialog.edtProfile->setText(name);
    MessageBoxes boxes;
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOK"), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    if (message.isEmpty()) {
        QVERIFY(boxes.asked().isEmpty());
    } else {
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.asked()[0].caption, QString("Profile"));
        QCOMPARE(boxes.asked()[0].text, message);
        QCOMPARE(boxes.asked()[0].icon, QMessageBox::Information);
    }
    // Cancel closes without a check; a good name closes with OK.
    QTest::mouseClick(Child<QPushButton>(dialog, "btnCancel"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.show();
    dialog.edtProfile->setText("free");
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOK"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(boxes.asked().size(), message.isEmpty() ? 0 : 1);
}

void TestWizardBackup::aFileOfTheNameIsNoTakenProfile() {
    writeFile(backupFolder() + "clash", "an undo file's name");
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    startBackup(*wizard, "clash");
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Backup Registry"));
    QCOMPARE(boxes.asked()[0].text, QString("Create profile failed!"));
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Warning);
    QVERIFY(!wizard->HiveManager()->IsBusy());
    QVERIFY(storedNames().isEmpty());
}

void TestWizardBackup::aProfileFolderNamedLikeAnUndoFile() {
    makeProfileFolder("my.registry");
    addRecord("Backup Registry", "my.registry", day(2022, 5, 1));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    QCOMPARE(listedNames(*wizard), QStringList{"my.registry"});
    clickSlide(*wizard, 0);
    MessageBoxes boxes({QMessageBox::Ok, QMessageBox::Yes});
    clickTask(*wizard, "taskRestore");
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Restore"));
    QCOMPARE(boxes.asked()[0].text, "File \"" + backupFolder() +
                                        "my.registry\" does not exist, "
                                        "restore failed.");
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Information);
    QVERIFY(pending().empty());

    // Remove takes the record, not the folder, which is no undo file.
    clickTask(*wizard, "taskRemove");
    QCOMPARE(boxes.asked().size(), 2);
    QVERIFY(storedNames().isEmpty());
    QVERIFY(QFileInfo(backupFolder() + "my.registry").isDir());
    QCOMPARE(listedNames(*wizard), QStringList{"my.registry"});
    // The link still opens the folder.
    clickSlide(*wizard, 0, true);
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(backupFolder() + "my.registry")});
}

void TestWizardBackup::removeAnsweredNoChangesNothing() {
    writeFile(backupFolder() + "03032023100000.reg", "REGEDIT4\r\n");
    addRecord(kUndoAction, "03032023100000.reg", day(2023, 3, 3));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    clickSlide(*wizard, 0);
    MessageBoxes boxes({QMessageBox::No});
    clickTask(*wizard, "taskRemove");
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Confirm"));
    QCOMPARE(boxes.asked()[0].text,
             QString("Are you sure you want to permanently remove the selected backup profile?"));
    QCOMPARE(boxes.asked()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(storedNames(), QStringList{"03032023100000.reg"});
    QVERIFY(QFileInfo::exists(backupFolder() + "03032023100000.reg"));
    QCOMPARE(listedNames(*wizard), QStringList{"03032023100000.reg"});
}

void TestWizardBackup::removeDeletesTheRecordAndTheEntry() {
    writeFile(backupFolder() + "03032023100000.reg", "REGEDIT4\r\n");
    addRecord(kUndoAction, "03032023100000.reg", day(2023, 3, 3));
    makeProfileFolder("Old profile");
    addRecord("Backup Registry", "Old profile", day(2023, 3, 4));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes({QMessageBox::Yes});

    clickSlide(*wizard, rowOf(*wizard, "03032023100000.reg"));
    clickTask(*wizard, "taskRemove");
    QVERIFY(!QFileInfo::exists(backupFolder() + "03032023100000.reg"));
    QCOMPARE(storedNames(), QStringList{"Old profile"});
    QCOMPARE(listedNames(*wizard), QStringList{"Old profile"});

    clickSlide(*wizard, 0);
    clickTask(*wizard, "taskRemove");
    QVERIFY(!QFileInfo::exists(backupFolder() + "Old profile"));
    // A profile goes to the desktop's trash, whence the user can take it back.
    QVERIFY(QFileInfo::exists(home_->path() + "/share/Trash/files/Old profile/config.ini"));
    QVERIFY(storedNames().isEmpty());
    QVERIFY(listedNames(*wizard).isEmpty());
    QCOMPARE(boxes.asked().size(), 2);
}

void TestWizardBackup::restoreOfAnUndoFile_data() {
    QTest::addColumn<QByteArray>("content"); // empty: gone since listing
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("restoredValue");
    QTest::newRow("an undo file of a repair")
        << QByteArray("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"back\"\r\n")
        << "Restore successfully"
        << "back";
    QTest::newRow("not a registry file")
        << QByteArray("these are not the entries you are looking for\r\n")
        << "File \"%1\" is corrupt, restore failed."
        << "before";
    QTest::newRow("gone since listing")
        << QByteArray() << "File \"%1\" does not exist, restore failed."
        << "before";
}

void TestWizardBackup::restoreOfAnUndoFile() {
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(QString, restoredValue);
    const QString file = backupFolder() + "05052024100000.reg";
    writeFile(file, content.isEmpty() ? QByteArray("REGEDIT4\r\n") : content);
    addRecord(kUndoAction, "05052024100000.reg", day(2024, 5, 5));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    if (content.isEmpty())
        QVERIFY(QFile::remove(file));
    clickSlide(*wizard, 0);
    MessageBoxes boxes;
    clickTask(*wizard, "taskRestore");
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Restore"));
    QCOMPARE(boxes.asked()[0].text, message.contains("%1") ? message.arg(file) : message);
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(registry.OpenKeyReadOnly("SOFTWARE\\Kept"));
    QCOMPARE(QString::fromStdString(registry.ReadString("v")), restoredValue);
}

void TestWizardBackup::theWindowGoesOnWhileAnUndoFileIsImported() {
    // An undo file of a large repair.
    QByteArray content = "REGEDIT4\r\n";
    for (int n = 0; n < 3000; ++n)
        content += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Restored\\Key " + QByteArray::number(n) +
                   "]\r\n\"Path\"=\"C:\\\\Gone\\\\" + QByteArray::number(n) + "\"\r\n";
    writeFile(backupFolder() + "05052024100000.reg", content);
    addRecord(kUndoAction, "05052024100000.reg", day(2024, 5, 5));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    clickSlide(*wizard, 0);
    int turns = 0, turnsWhenTold = -1;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] { ++turns; });
    ui::SetMessageBoxAnswerer([&](const ui::MessageBoxRequest& request) {
        if (request.text == "Restore successfully")
            turnsWhenTold = turns;
        return QMessageBox::Ok;
    });
    turn.start(0);
    clickTask(*wizard, "taskRestore");
    turn.stop();
    ui::SetMessageBoxAnswerer({});
    // The window's loop kept turning while the file was imported.
    QVERIFY2(turnsWhenTold > 0, qPrintable(QString::number(turnsWhenTold)));
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(registry.OpenKeyReadOnly("SOFTWARE\\Restored\\Key 2999"));
    QCOMPARE(QString::fromStdString(registry.ReadString("Path")), QString("C:\\Gone\\2999"));
}

void TestWizardBackup::restoreOfAProfileSaysWhatHappened() {
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    for (const char* name : {"spoiled", "good"}) {
        // Restore records are named by the second they are made in: one each.
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() > second);
        startBackup(*wizard, name);
        waitForHiveJob(*wizard);
    }
    QVERIFY(QFile::remove(backupFolder() + "spoiled/SAM"));
    QCOMPARE(listedNames(*wizard), (QStringList{"spoiled", "good"}));

    // A profile that cannot be restored: nothing is asked of the next start.
    clickSlide(*wizard, 0);
    clickTask(*wizard, "taskRestore");
    QCOMPARE(Child<QLabel>(*wizard, "lblProgress")->text(),
             QString("Restoreing Registry now, Please wait..."));
    waitForHiveJob(*wizard);
    const QString failed("File corrupt or erroneous type, restore failed.\r\nPlease verify the "
                         "backup directory.\r\n");
    QCOMPARE(boxes.asked().last().caption, QString("Restore"));
    QVERIFY2(boxes.asked().last().text.startsWith(failed + "The profile "),
             qPrintable(boxes.asked().last().text));
    QVERIFY(boxes.asked().last().text.endsWith("is incomplete: its config.ini is missing, names a "
                                               "hive file the profile does not have, or does not "
                                               "list five hives."));
    QVERIFY(pending().empty());
    QCOMPARE(Child<QStackedWidget>(*wizard, "NoteBackup")->currentIndex(), 0);
    auto* waiting = Child<QLabel>(*wizard, "lblPendingReplacements");
    QVERIFY(!waiting->isVisible());

    // The second time, before the restart, it takes the place of the first.
    for (int time = 1; time <= 2; ++time) {
        clickSlide(*wizard, 1);
        clickTask(*wizard, "taskRestore");
        waitForHiveJob(*wizard);
        QCOMPARE(boxes.asked().last().text,
                 QString("You need to restart Windows to complete restoration.\nHivewarden "
                         "makes the change when it closes: the profile's hives then replace "
                         "the installation's, and changes made to the registry since the "
                         "backup are undone."));
        QCOMPARE(pending().size(), size_t(5));
        QCOMPARE(Child<QProgressBar>(*wizard, "pgBackup")->value(), 100);
        // The page says what waits, and when it is made.
        QVERIFY(waiting->isVisible());
        QCOMPARE(waiting->text(),
                 QString("Hive replacements wait for this installation (SYSTEM, SOFTWARE, SAM, "
                         "SECURITY, DEFAULT): Hivewarden makes them when it closes."));
    }
    // Neither is a backup to record.
    QCOMPARE(storedNames(), (QStringList{"spoiled", "good"}));

    // The program closes: the machine is let go, its next start, and the profile's hives
    // take the places of the live ones, a change made since going with them.
    TRegistry registry(KEY_ALL_ACCESS);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(registry.OpenKey("SOFTWARE\\Kept", false));
    registry.WriteString("v", "changed after the restore");
    registry.CloseKey();
    wizard.reset();
    machine_->shutdown();
    QVERIFY(win32::LastReleaseReplacements().allMade());
    QCOMPARE(win32::LastReleaseReplacements().outcomes.size(), size_t(5));
    QVERIFY(pending().empty());
    machine_->boot();
    TRegistry reader(KEY_READ);
    reader.SetRootKey(HKEY_LOCAL_MACHINE);
    QVERIFY(reader.OpenKeyReadOnly("SOFTWARE\\Kept"));
    QCOMPARE(QString::fromStdString(reader.ReadString("v")), QString("before"));
    QVERIFY(QFile::exists(
        QString::fromStdString(machine_->hostPath("WINDOWS/system32/config/SOFTWARE.rcbak"))));
}

// An undo file is shown as text in a window of the program's own, never handed to the
// desktop (whose handler of .reg files may be a registry importer).
void TestWizardBackup::anUndoFileOpensInAViewerOfTheProgram_data() {
    QTest::addColumn<QByteArray>("content");
    const QString text =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
        "Caf\u00e9]\r\n\"v\"=\"x\"\r\n";
    QTest::newRow("as the program writes it (ANSI)") << text.toLatin1();
    QByteArray utf16("\xFF\xFE", 2);
    for (const QChar c : text)
        utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    QTest::newRow("as Windows' registry editor writes it (UTF-16)") << utf16;
    QTest::newRow("UTF-8 with its mark") << "\xEF\xBB\xBF" + text.toUtf8();
}

void TestWizardBackup::anUndoFileOpensInAViewerOfTheProgram() {
    QFETCH(QByteArray, content);
    const QString file = backupFolder() + "06062024100000.reg";
    writeFile(file, content);
    addRecord(kUndoAction, "06062024100000.reg", day(2024, 6, 6));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    // A click beside the link opens nothing.
    clickSlide(*wizard, 0);
    QVERIFY(wizard->findChildren<ui::UndoFileViewer*>().isEmpty());
    clickSlide(*wizard, 0, true);
    QVERIFY(opened_.isEmpty());
    QVERIFY(boxes.asked().isEmpty());
    const auto viewers = wizard->findChildren<ui::UndoFileViewer*>();
    QCOMPARE(viewers.size(), 1);
    ui::UndoFileViewer* viewer = viewers[0];
    QVERIFY(viewer->isVisible());
    QVERIFY(viewer->windowTitle().contains("06062024100000.reg"));
    QCOMPARE(Child<QLabel>(*viewer, "lblUndoFilePath")->text(), file);
    auto* text = Child<QPlainTextEdit>(*viewer, "edtUndoFile");
    QVERIFY(text->isReadOnly());
    QCOMPARE(text->toPlainText(),
             QString("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                     "Caf\u00e9]\n\"v\"=\"x\"\n"));
    // A second click brings the same window forward.
    clickSlide(*wizard, 0, true);
    QCOMPARE(wizard->findChildren<ui::UndoFileViewer*>().size(), 1);
    // It closes with the wizard.
    QPointer<ui::UndoFileViewer> alive(viewer);
    wizard.reset();
    QVERIFY(alive.isNull());
}

void TestWizardBackup::aProfileFolderOpensInTheFileManager() {
    makeProfileFolder("A profile");
    addRecord("Backup Registry", "A profile", day(2024, 6, 7));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    clickSlide(*wizard, 0, true);
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(backupFolder() + "A profile")});
    QVERIFY(boxes.asked().isEmpty());
    QVERIFY(wizard->findChildren<ui::UndoFileViewer*>().isEmpty());
}

void TestWizardBackup::anEntryThatCannotBeOpenedIsSaid_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("said");
    QTest::newRow("a folder no program of the desktop opens")
        << "A profile"
        << "desktop refuses"
        << "No program of this desktop opens the folder \"%1\".";
    QTest::newRow("an undo file gone since listing") << "07062024100000.reg"
                                                     << "gone"
                                                     << "\"%1\" no longer exists.";
    QTest::newRow("a profile gone since listing") << "A profile"
                                                  << "gone"
                                                  << "\"%1\" no longer exists.";
    QTest::newRow("an undo file that is a link now") << "07062024100000.reg"
                                                     << "link"
                                                     << "\"%1\" is a link now, which Hivewarden "
                                                        "does not follow.";
    QTest::newRow("an undo file too large to show")
        << "07062024100000.reg"
        << "large"
        << "The undo file \"%1\" is too large to show (%2 MB).";
}

void TestWizardBackup::anEntryThatCannotBeOpenedIsSaid() {
    QFETCH(QString, entry);
    QFETCH(QString, fault);
    QFETCH(QString, said);
    const QString path = backupFolder() + entry;
    const bool undoFile = entry.endsWith(".reg");
    if (undoFile) {
        writeFile(path, "REGEDIT4\r\n");
        addRecord(kUndoAction, entry.toStdString(), day(2024, 6, 7));
    } else {
        makeProfileFolder(entry);
        addRecord("Backup Registry", entry.toStdString(), day(2024, 6, 7));
    }
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    QCOMPARE(listedNames(*wizard), QStringList{entry});
    if (fault == "gone")
        QVERIFY(undoFile ? QFile::remove(path) : QDir(path).removeRecursively());
    if (fault == "link") {
        QVERIFY(QFile::remove(path));
        const QString outside = programFolder_->path() + "/outside.txt";
        writeFile(outside, "not an entry of the backup folder");
        QVERIFY(QFile::link(outside, path));
    }
    if (fault == "desktop refuses")
        ui::SetHostOpener([](const QUrl&) { return false; });
    qint64 megabytes = 0;
    if (fault == "large") {
        QFile file(path);
        QVERIFY(file.resize(ui::UndoFileViewer::kLargestShown + 1));
        megabytes = file.size() / (1024 * 1024);
    }
    MessageBoxes boxes;
    clickSlide(*wizard, 0, true);
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Backup Registry"));
    QCOMPARE(boxes.asked()[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes.asked()[0].text,
             said.contains("%2") ? said.arg(path).arg(megabytes) : said.arg(path));
    QVERIFY(wizard->findChildren<ui::UndoFileViewer*>().isEmpty());
    // Nothing of the machine's backups is handed to the desktop in its place.
    QVERIFY(opened_.isEmpty());
}

// The Action line of a repair names every section it scanned: cut on the slide, whole as
// its tooltip.
void TestWizardBackup::aCutActionShowsItsWholeTextAsTooltip() {
    QStringList sections;
    for (int i = 0; i < 12; ++i)
        sections << QString("Section number %1 of the scan").arg(i);
    const QString action = "Scan \"" + sections.join(";") + "\"";
    writeFile(backupFolder() + "08062024100000.reg", "REGEDIT4\r\n");
    addRecord(action.toStdString(), "08062024100000.reg", day(2024, 6, 8));
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    QVERIFY(QTest::qWaitForWindowExposed(wizard.get()));
    QListView* view = backupList(*wizard);
    const QRect slide = view->visualRect(view->model()->index(0, 0));
    const auto hover = [&](int lineTop) {
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        const QPoint at(slide.left() + 120, slide.top() + lineTop + 9);
        QHelpEvent event(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
    };
    hover(0);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), action);
    // The date fits: no tooltip.
    hover(26);
    QVERIFY(!QToolTip::isVisible());
}

void TestWizardBackup::closingDuringABackup_data() {
    QTest::addColumn<bool>("stop");
    QTest::newRow("stop and close") << true;
    QTest::newRow("go on") << false;
}

void TestWizardBackup::closingDuringABackup() {
    QFETCH(bool, stop);
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes({stop ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Ok});
    startBackup(*wizard, "interrupted");
    // The job's end has not reached the window yet, whatever the worker has done.
    QVERIFY(wizard->HiveManager()->IsBusy());
    wizard->reject();
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Confirm"));
    QCOMPARE(boxes.asked()[0].text, QString("A backup is running. Stop it and close the window?"));
    // The window waits for the worker either way.
    QVERIFY(wizard->isVisible());
    if (stop) {
        QTRY_VERIFY_WITH_TIMEOUT(!wizard->isVisible(), 30000);
        QVERIFY(!wizard->HiveManager()->IsBusy());
    } else {
        waitForHiveJob(*wizard);
        QVERIFY(wizard->isVisible());
        QCOMPARE(listedNames(*wizard), QStringList{"interrupted"});
    }
}

void TestWizardBackup::backupOnWindows98() {
    machine_->rebootWithIni("[Version]\nPlatform=9x\nVersion=4.10.2222\nCSDVersion=A\n");
    InitOSInfo();
    auto wizard = OpenWizard(TfrmRepair::wmBackup);
    MessageBoxes boxes;
    startBackup(*wizard, "nineties");
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].caption, QString("Backup Registry"));
    QCOMPARE(boxes.asked()[0].text, QString("This function does not support Windows 9x system."));
    QCOMPARE(Child<QStackedWidget>(*wizard, "NoteBackup")->currentIndex(), 0);
    QVERIFY(storedNames().isEmpty());
}

QTEST_MAIN(TestWizardBackup)
#include "test_ui_wizard_backup.moc"
