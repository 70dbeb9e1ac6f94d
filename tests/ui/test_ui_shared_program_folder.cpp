// The windowed program and the command-line program share one program folder: a backup
// made with hivewarden-cli is in the window's backup list.

#include "UiTestSupport.h"
#include "registry/OSInfo.h"
#include "store/ProgramFolder.h"
#include "support/MachineFixture.h"
#include "ui/TfrmRepair.h"

#include <QDir>
#include <QFileInfo>
#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

using namespace ui_testing;

namespace {

constexpr int kNameColumn = 5;

QStringList listedBackups(ui::TfrmRepair& wizard) {
    QStringList names;
    const QAbstractItemModel* model = Child<QListView>(wizard, "gdRestore")->model();
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, kNameColumn).data().toString();
    return names;
}

} // namespace

class TestSharedProgramFolder : public QObject {
    Q_OBJECT
private slots:
    void bothProgramsAreBuiltIntoOneFolder();
    void aBackupOfTheCommandLineIsInTheWindowsList_data();
    void aBackupOfTheCommandLineIsInTheWindowsList();
};

void TestSharedProgramFolder::bothProgramsAreBuiltIntoOneFolder() {
    // Each program's folder is its program folder while writable, as it is in a build.
    QCOMPARE(QFileInfo(HW_CLI_PATH).absolutePath(), QFileInfo(HW_WINDOW_PATH).absolutePath());
}

void TestSharedProgramFolder::aBackupOfTheCommandLineIsInTheWindowsList_data() {
    QTest::addColumn<bool>("relative");
    QTest::newRow("absolute HIVEWARDEN_PROGRAM_FOLDER") << false;
    QTest::newRow("relative HIVEWARDEN_PROGRAM_FOLDER") << true;
}

void TestSharedProgramFolder::aBackupOfTheCommandLineIsInTheWindowsList() {
    QFETCH(bool, relative);
    testing_support::TestMachine machine;
    machine.shutdown();
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    const QString folder = relative ? QString("programs") : work.path() + "/programs";
    qputenv("HIVEWARDEN_PROGRAM_FOLDER", folder.toLocal8Bit());

    const auto backup = testing_support::RunProcess(
        HW_CLI_PATH, {"--machine", machine.folder(), "backup", "From the command line"});
    QVERIFY2(backup.exitCode == 0, backup.err.c_str());

    machine.boot();
    InitOSInfo();
    QCOMPARE(QString::fromStdString(BaseProgramFolder()), work.path() + "/programs/");
    {
        MessageBoxes boxes;
        auto wizard = OpenWizard(ui::TfrmRepair::wmBackup);
        QCOMPARE(listedBackups(*wizard), QStringList{"From the command line"});
        QVERIFY(boxes.asked().isEmpty());
    }
    qunsetenv("HIVEWARDEN_PROGRAM_FOLDER");
    QVERIFY(QDir::setCurrent(previous));
}

QTEST_MAIN(TestSharedProgramFolder)
#include "test_ui_shared_program_folder.moc"
