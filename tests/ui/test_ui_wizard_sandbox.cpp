// The whole windowed program on a new sandbox, driven as a user from the home window:
// every section scanned and every problem repaired with undo, the undo file bringing every
// entry back; and a backup, a change, its restore and a compaction ended by Restart.

#include "UiTestSupport.h"
#include "compact/THiveManager.h"
#include "registry/TRegistry.h"
#include "support/ScanHarness.h"
#include "ui/ProgramStart.h"
#include "ui/ResultModel.h"
#include "ui/TfrmBackProfile.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmRepair.h"
#include "win32/machine/Machine.h"
#include "win32/registry/RegImport.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using namespace ui_testing;

class TestWizardSandbox : public QObject {
    Q_OBJECT
private slots:
    void cleanEverythingThenUndo();
    void backupChangeRestoreCompactRestart();
};

void TestWizardSandbox::cleanEverythingThenUndo() {
    QTemporaryDir programFolder;
    qputenv("HIVEWARDEN_PROGRAM_FOLDER", programFolder.path().toLocal8Bit());
    qunsetenv("HIVEWARDEN_MACHINE");

    std::vector<TInvalidRegData> found;
    QString lastScan;
    QStringList failures;
    const auto fail = [&failures](const QString& what) { failures << what; };
    MessageBoxes boxes;
    const WhenHomeShown atHome([&] {
        ui::TfrmMain* home = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* main = qobject_cast<ui::TfrmMain*>(window); main && main->isVisible())
                home = main;
        if (!home)
            return fail("no home window");
        WhenModal<ui::TfrmRepair>([&](ui::TfrmRepair& wizard) {
            auto* sections = Child<QTableWidget>(wizard, "gdItems");
            for (int row = 0; row < sections->rowCount(); ++row)
                sections->item(row, 0)->setCheckState(Qt::Checked);
            auto* next = Child<QPushButton>(wizard, "btnNext");
            wizard.UpdateActions();
            QTest::mouseClick(next, Qt::LeftButton);
            QTest::mouseClick(next, Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return wizard.PageIndex() == ui::TfrmRepair::pgResult; },
                                 120000))
                return fail("the scan did not reach the result page");
            found = wizard.Engine().InvalidDataList();
            wizard.UpdateActions();
            QTest::mouseClick(next, Qt::LeftButton); // Repair Now
            if (Child<QListView>(wizard, "gdResult")->model()->rowCount() != 0)
                fail("problems left after the repair");
            auto* cancel = Child<QPushButton>(wizard, "btnCancel");
            if (cancel->text() != "&Finish")
                fail("the wizard does not offer to finish: " + cancel->text());
            QTest::mouseClick(cancel, Qt::LeftButton);
        });
        QTest::mouseClick(Child<QPushButton>(*home, "lvRepair"), Qt::LeftButton);
        lastScan = Child<QLabel>(*home, "lblLastscan")->text();
        home->close();
    });
    QCOMPARE(ui::RunHivewarden({"hivewarden"}), 0);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("; ")));
    // The sandbox has leftovers in every section.
    QCOMPARE(found.size(), size_t(27));
    QVERIFY2(QRegularExpression("^[A-Z][a-z]+ \\d\\d,\\d{4} \\d{1,2}:\\d{1,2} [ap]m$")
                 .match(lastScan)
                 .hasMatch(),
             qPrintable(lastScan));
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.asked()[0].text,
             QString("Repair completed\r\nPlease click finish button to end this Wizard."));

    // One undo file, in the installation's own backup folder.
    QStringList undoFiles;
    QDirIterator files(programFolder.path(), {"*.reg"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        undoFiles << files.next();
    QCOMPARE(undoFiles.size(), 1);
    QVERIFY2(undoFiles[0].contains("/Registry Backup/"), qPrintable(undoFiles[0]));

    const std::string sandbox = (programFolder.path() + "/Sandbox").toStdString();
    win32::BootMachine(sandbox);
    QVERIFY(testing_support::ScanMachine(TRepairItems::All()).records.empty());
    const win32::RegImportResult imported = win32::RegImportFile(undoFiles[0].toStdString());
    QVERIFY(imported.problems.empty());
    QCOMPARE(testing_support::ScanMachine(TRepairItems::All()).records, found);
    win32::ShutdownMachine();
    qunsetenv("HIVEWARDEN_PROGRAM_FOLDER");
}

namespace {

// The home window's job link of this name, clicked once `act` waits for the wizard.
void startJob(ui::TfrmMain& home, const char* link, std::function<void(ui::TfrmRepair&)> act) {
    WhenModal<ui::TfrmRepair>(std::move(act));
    QTest::mouseClick(Child<QPushButton>(home, link), Qt::LeftButton);
}

ui::TfrmMain* visibleHome() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible())
            return home;
    return nullptr;
}

QString valueOf(const char* key) {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(key) || !registry.ValueExists("State"))
        return "(none)";
    return QString::fromStdString(registry.ReadString("State"));
}

void setValue(const char* key, const char* text) {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (registry.OpenKey(key, true))
        registry.WriteString("State", text);
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestWizardSandbox::backupChangeRestoreCompactRestart() {
    QTemporaryDir programFolder;
    qputenv("HIVEWARDEN_PROGRAM_FOLDER", programFolder.path().toLocal8Bit());
    qunsetenv("HIVEWARDEN_MACHINE");
    const char kKey[] = "SOFTWARE\\Hivewarden Test";
    const QString sandbox = programFolder.path() + "/Sandbox";
    const QString config = sandbox + "/WINDOWS/system32/config/";

    QStringList failures;
    const auto fail = [&failures](const QString& what) { failures << what; };
    QString changed;
    MessageBoxes boxes;
    const WhenHomeShown atHome([&] {
        ui::TfrmMain* home = visibleHome();
        if (!home)
            return fail("no home window");
        setValue(kKey, "at the backup");
        // Backup, a change, and the restore of the backup, from the Backup page.
        startJob(*home, "lvBackup", [&](ui::TfrmRepair& wizard) {
            WhenModal<ui::TfrmBackProfile>([](ui::TfrmBackProfile& dialog) {
                dialog.edtProfile->setText("first");
                QTest::mouseClick(Child<QPushButton>(dialog, "btnOK"), Qt::LeftButton);
            });
            QTest::mouseClick(Child<QToolButton>(wizard, "taskBackup"), Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return !wizard.HiveManager()->IsBusy(); }, 60000))
                return fail("the backup did not end");
            if (boxes.asked().isEmpty() || boxes.asked().last().text != "Backup is complete.")
                return fail("the backup did not say it was complete");
            setValue(kKey, "changed");
            changed = valueOf(kKey);
            auto* list = Child<QListView>(wizard, "gdRestore");
            if (list->model()->rowCount() != 1)
                return fail("the backup list does not hold the one profile");
            list->setCurrentIndex(list->model()->index(0, 0));
            wizard.UpdateActions();
            QTest::mouseClick(Child<QToolButton>(wizard, "taskRestore"), Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return !wizard.HiveManager()->IsBusy(); }, 60000))
                return fail("the restore did not end");
            if (!boxes.asked().last().text.startsWith(
                    "You need to restart Windows to complete restoration."))
                return fail("the restore said: " + boxes.asked().last().text);
            QTest::mouseClick(Child<QPushButton>(wizard, "btnCancel"), Qt::LeftButton);
        });
        // The compaction, and Restart on its report, which ends the program.
        startJob(*home, "lvCompact", [&](ui::TfrmRepair& wizard) {
            QTest::mouseClick(Child<QPushButton>(wizard, "btnCompact"), Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return wizard.PageIndex() == ui::TfrmRepair::pgReport; },
                                 60000))
                return fail("the compaction did not reach its report");
            QTest::mouseClick(Child<QPushButton>(wizard, "btnRestart"), Qt::LeftButton);
        });
    });
    QCOMPARE(ui::RunHivewarden({"hivewarden"}), 0);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("; ")));
    QCOMPARE(changed, QString("changed"));
    QVERIFY(!win32::IsMachineBooted());

    // Every hive has its old file beside it; the five system hives are the profile's dense
    // copies (the compaction left them to the restore), the user's hives the compaction's.
    QString profile;
    QDirIterator configs(programFolder.path(), {"config.ini"}, QDir::Files,
                         QDirIterator::Subdirectories);
    while (configs.hasNext())
        profile = QFileInfo(configs.next()).path();
    QVERIFY(profile.endsWith("/Registry Backup/first"));
    for (const char* hive : {"SYSTEM", "SOFTWARE", "SAM", "SECURITY", "DEFAULT"}) {
        QCOMPARE(contentOf(config + hive), contentOf(profile + "/" + hive));
        // The old file as the machine left it at the restart: the change is in it.
        const QByteArray old = contentOf(config + hive + ".rcbak");
        QVERIFY2(old.startsWith("regf") && old != contentOf(config + hive), hive);
    }
    QDirIterator hives(sandbox, {"NTUSER.DAT", "UsrClass.dat"}, QDir::Files,
                       QDirIterator::Subdirectories);
    int userHives = 0;
    while (hives.hasNext()) {
        const QString hive = hives.next();
        QVERIFY2(QFileInfo::exists(hive + ".rcbak"), qPrintable(hive));
        QVERIFY(QFileInfo(hive).size() <= QFileInfo(hive + ".rcbak").size());
        ++userHives;
    }
    QCOMPARE(userHives, 2);

    // Started again, the machine's registry is as it was at the backup.
    win32::BootMachine(sandbox.toStdString());
    QCOMPARE(valueOf(kKey), QString("at the backup"));
    QVERIFY(testing_support::ScanMachine(TRepairItems::All()).records.size() == 27);
    win32::ShutdownMachine();
    qunsetenv("HIVEWARDEN_PROGRAM_FOLDER");
}

QTEST_MAIN(TestWizardSandbox)
#include "test_ui_wizard_sandbox.moc"
