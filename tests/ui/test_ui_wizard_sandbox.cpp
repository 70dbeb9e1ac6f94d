// The whole windowed program on a new sandbox, driven as a user: the home window starts
// the wizard, every section is scanned, every problem repaired with undo; the undo file
// brings every entry back.

#include "UiTestSupport.h"
#include "support/ScanHarness.h"
#include "ui/ProgramStart.h"
#include "ui/ResultModel.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmRepair.h"
#include "win32/machine/Machine.h"
#include "win32/registry/RegImport.h"

#include <QDirIterator>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace ui_testing;

class TestWizardSandbox : public QObject {
    Q_OBJECT
private slots:
    void cleanEverythingThenUndo();
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
    QTimer::singleShot(0, [&] {
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

QTEST_MAIN(TestWizardSandbox)
#include "test_ui_wizard_sandbox.moc"
