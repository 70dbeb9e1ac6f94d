// hivewarden-screenshots: renders every window of the program, on the machine named by
// --machine or HIVEWARDEN_MACHINE, into PNG files of a folder (scripts/screenshots).

#include "app/BootedMachine.h"
#include "backup/ProfileConfig.h"
#include "compact/THiveManager.h"
#include "registry/OSInfo.h"
#include "registry/RegeditDriver.h"
#include "sandbox/MachineChoice.h"
#include "scan/TFixRegistry.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/SettingsNames.h"
#include "store/fxRegistryFile.h"
#include "ui/MessageBox.h"
#include "ui/RegistryEditorViewer.h"
#include "ui/RegistryTreeModel.h"
#include "ui/RegistryViewer.h"
#include "ui/TfrmAbout.h"
#include "ui/TfrmBackProfile.h"
#include "ui/TfrmBrowsekey.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmRepair.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>
#include <optional>

namespace {

bool save(QWidget& window, const QDir& folder, const QString& name) {
    window.show();
    QApplication::processEvents();
    const QString file = folder.filePath(name + ".png");
    if (!window.grab().save(file)) {
        QTextStream(stderr) << "hivewarden-screenshots: cannot write " << file << "\n";
        return false;
    }
    QTextStream(stdout) << file << "\n";
    window.hide();
    return true;
}

// The wizard's Clean pages, the Result page with what a scan of every section found.
bool saveCleanPages(QWidget& home, const QDir& folder) {
    ui::TfrmRepair wizard(&home);
    wizard.WizardMode = ui::TfrmRepair::wmClean;
    wizard.show();
    auto* sections = wizard.findChild<QTableWidget*>("gdItems");
    for (int row = 0; row < sections->rowCount(); ++row)
        sections->item(row, 0)->setCheckState(Qt::Checked);
    wizard.UpdateActions();
    bool ok = save(wizard, folder, "wizard-select");
    wizard.show();
    wizard.actNext->trigger();
    ok &= save(wizard, folder, "wizard-options");
    wizard.show();
    wizard.actNext->trigger();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!wizard.Engine().IsRunning() &&
            wizard.findChild<QLabel*>("lblTotalProgress")->text().endsWith("100%"))
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    wizard.UpdateActions();
    if (auto* result = wizard.findChild<QListView*>("gdResult"); result->model()->rowCount() > 0)
        result->setCurrentIndex(result->model()->index(0, 0));
    ok &= save(wizard, folder, "wizard-result");
    wizard.show();
    wizard.SetPageIndex(ui::TfrmRepair::pgScan);
    ok &= save(wizard, folder, "wizard-scan");
    return ok;
}

// The wizard's Backup and Compact pages: a backup made for the run beside an undo file,
// the progress view, the profile dialog, the Compact page, and the Report page over dense
// copies of the hives saved into a scratch folder (the machine itself is not changed).
bool saveHivePages(QWidget& home, const QDir& folder) {
    bool ok = true;
    const QString backups = QString::fromStdString(RegistryBackupFolder());
    QDir().mkpath(backups);
    const TDateTime repaired = Now() - 1.0 / 24;
    const std::string undoName = FormatDateTime("ddmmyyyyhhnnss", repaired) + ".reg";
    QFile undo(backups + QString::fromStdString(undoName));
    if (undo.open(QIODevice::WriteOnly))
        undo.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Contoso\\Backup Agent]\r\n");
    undo.close();
    AddRestoreRecord(StoreFilePath(), "Scan \"Application paths;Software\"", undoName, repaired,
                     repaired);

    ui::TfrmRepair wizard(&home);
    wizard.WizardMode = ui::TfrmRepair::wmBackup;
    wizard.show();
    {
        ui::TfrmBackProfile dialog(&wizard);
        dialog.ProfileFolder = RegistryBackupFolder();
        dialog.edtProfile->setText(QString::fromStdString(DefaultProfileName(Now())));
        ok &= save(dialog, folder, "backup-profile");
    }
    // A backup as a user makes it: the dialog's name taken, the message answered.
    ui::SetMessageBoxAnswerer([](const ui::MessageBoxRequest&) { return QMessageBox::Ok; });
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<ui::TfrmBackProfile*>(QApplication::activeModalWidget())) {
            dialog->edtProfile->setText("Before the driver update");
            dialog->accept();
        }
    });
    accept.start(10);
    if (auto* backup = wizard.findChild<QAction*>("actBackup"); backup && backup->isEnabled())
        backup->trigger();
    accept.stop();
    while (wizard.HiveManager() && wizard.HiveManager()->IsBusy())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    ui::SetMessageBoxAnswerer({});
    ok &= save(wizard, folder, "wizard-backup");

    // The progress view as it stands midway through a backup.
    wizard.show();
    wizard.findChild<QLabel*>("lblProgress")->setText("Backup Registry now, please wait...");
    wizard.findChild<QProgressBar*>("pgBackup")->setValue(60);
    wizard.findChild<QStackedWidget*>("NoteBackup")->setCurrentIndex(1);
    // While a backup runs, only its Stop button can be used.
    for (const char* action : {"actBackup", "actRestore", "actRemove"})
        wizard.findChild<QAction*>(action)->setEnabled(false);
    wizard.findChild<QPushButton*>("btnStopBackup")->setEnabled(true);
    ok &= save(wizard, folder, "wizard-backup-progress");

    ui::TfrmRepair compact(&home);
    compact.WizardMode = ui::TfrmRepair::wmCompact;
    ok &= save(compact, folder, "wizard-compact");
    if (THiveManager* manager = compact.HiveManager(); manager && compact.HivesUsable()) {
        QTemporaryDir scratch;
        int index = 0;
        for (const auto& hive : manager->Hives)
            hive->Save(scratch.path().toStdString() + "/hive" + std::to_string(index++));
        compact.ShowCompactReport();
        // As a compaction leaves the window when it ends.
        compact.findChild<QPushButton*>("btnCancel")->setText("&Finish");
        compact.show();
        compact.SetPageIndex(ui::TfrmRepair::pgReport);
        ok &= save(compact, folder, "wizard-report");
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Renders the windows of Hivewarden into PNG files.");
    parser.addHelpOption();
    parser.addOption({"machine",
                      "The Windows installation (else HIVEWARDEN_MACHINE, else the sandbox).",
                      "DIR"});
    parser.addOption(
        {"exclude", "An exclusion line the Options window shows (repeatable).", "LINE"});
    parser.addOption({"browse", "The key the browse-key window opens at.", "KEY"});
    parser.addOption({"regedit", "The key the registry viewer opens at.", "KEY"});
    parser.addOption({"regedit-value", "The value the registry viewer selects.", "NAME"});
    parser.addPositionalArgument("FOLDER", "Where the PNG files go.");
    parser.process(application);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QDir folder(parser.positionalArguments().first());
    QDir().mkpath(folder.path());

    std::optional<app::BootedMachine> machine;
    try {
        win32::BootOptions options;
        options.readOnly = true;
        machine.emplace(ChooseMachine(parser.value("machine").toStdString()).folder, options);
        InitOSInfo();
    } catch (const std::exception& e) {
        QTextStream(stderr) << "hivewarden-screenshots: " << QString::fromUtf8(e.what()) << "\n";
        return 1;
    }
    // The windows read their settings from a store of their own here, never the user's.
    QTemporaryDir programFolder;
    SetProgramFolder(programFolder.path().toStdString());
    {
        TfxRegFile store(StoreFilePath());
        store.OpenKey(kOptionsKey, true);
        std::string lines;
        for (const QString& line : parser.values("exclude"))
            lines += line.toStdString() + "\r\n";
        store.WriteString(kExclusionsKeyValue, lines);
        store.WriteBool(kCanReplaceValue, true);
        store.WriteInteger(kReplaceAmountValue, 10);
        store.CloseKey();
    }

    bool ok = true;
    ui::TfrmMain home;
    ok &= save(home, folder, "home");
    home.show();

    ui::TfrmAbout about(&home);
    about.FillSystemInfo();
    ok &= save(about, folder, "about");

    {
        TfxRegFile store(StoreFilePath());
        ui::TfrmOptions options(&home);
        options.LoadFromStore(store);
        ok &= save(options, folder, "options");
    }

    ui::TfrmBrowsekey browse(&home);
    browse.SetKeyPath(parser.value("browse").toStdString());
    browse.SetIncludeSubKeys(true);
    browse.show();
    // A second branch open beside the preset one.
    auto& model = *browse.Model();
    const QModelIndex hkcu = model.FindChild(model.TopIndex(), "HKEY_CURRENT_USER");
    browse.Tree()->expand(hkcu);
    browse.Tree()->scrollTo(browse.Tree()->currentIndex());
    ok &= save(browse, folder, "browse-key");
    ok &= saveCleanPages(home, folder);
    ok &= saveHivePages(home, folder);

    // Opened as the scan results open it: through the machine's registry editor.
    ui::RegistryViewer viewer;
    ui::RegistryEditorViewer editor(viewer);
    if (!OpenRegeditAt(parser.value("regedit").toStdString(),
                       parser.value("regedit-value").toStdString())) {
        QTextStream(stderr) << "hivewarden-screenshots: the registry viewer did not open\n";
        return 1;
    }
    ok &= save(viewer, folder, "registry-viewer");
    return ok ? 0 : 1;
}
