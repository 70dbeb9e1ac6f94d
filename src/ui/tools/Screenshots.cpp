// hivewarden-screenshots: renders the windows of the program into PNG files of a folder
// (scripts/screenshots), on a machine it may change: the sandbox of a program folder made
// for the run (HIVEWARDEN_PROGRAM_FOLDER), unless --machine names another. Every picture shows
// a state the program reaches as a user drives it: the windows are opened from the home
// window, the sections ticked, the scan run, the problems repaired, the backup taken and
// the compaction run; a picture of a state that passes is taken while the program is in it.

#include "app/BootedMachine.h"
#include "compact/THiveManager.h"
#include "registry/OSInfo.h"
#include "sandbox/MachineChoice.h"
#include "scan/TFixRegistry.h"
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

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <functional>
#include <optional>

namespace {

// Every picture, by the name of its file.
const QStringList kAllPictures = {
    "home",           "options",        "browse-key",    "about",          "wizard-select",
    "wizard-options", "wizard-scan",    "wizard-result", "wizard-backup",  "wizard-backup-progress",
    "backup-profile", "wizard-compact", "wizard-report", "registry-viewer"};

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

// The pictures asked for, and what went wrong on the way.
class Pictures {
public:
    Pictures(QDir folder, QStringList only, QString suffix)
        : folder_(std::move(folder)), only_(std::move(only)), suffix_(std::move(suffix)) {}

    bool wants(const QString& name) const { return only_.isEmpty() || only_.contains(name); }
    bool wantsAny(std::initializer_list<const char*> names) const {
        for (const char* name : names)
            if (wants(name))
                return true;
        return false;
    }

    // The window as it stands (shown, its pending paints done).
    void take(QWidget& window, const QString& name) {
        if (!wants(name))
            return;
        QApplication::processEvents();
        const QString file = folder_.filePath(name + suffix_ + ".png");
        if (!window.grab().save(file))
            return fail("cannot write " + file);
        taken_ << name;
        QTextStream(stdout) << file << "\n";
    }

    void fail(const QString& why) {
        err() << "hivewarden-screenshots: " << why << "\n";
        err().flush();
        ok_ = false;
    }

    // Every picture asked for was taken, and nothing failed.
    bool complete() {
        for (const QString& name : only_.isEmpty() ? kAllPictures : only_)
            if (!taken_.contains(name))
                fail("no picture of " + name);
        return ok_;
    }

private:
    QDir folder_;
    QStringList only_;
    QString suffix_;
    QStringList taken_;
    bool ok_ = true;
};

// Runs the event loop until `done` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 120000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Runs `act` on the next modal window of type Window to come up (the caller then opens
// it); gives up after a minute. A window `act` leaves open is closed.
template <typename Window> void whenModal(Pictures& pictures, std::function<void(Window&)> act) {
    auto* timer = new QTimer;
    auto* waited = new QElapsedTimer;
    waited->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, act, &pictures] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        if (!window && waited->elapsed() < 60000)
            return;
        timer->stop();
        timer->deleteLater();
        delete waited;
        if (!window)
            return pictures.fail(
                QString("no %1 came up").arg(Window::staticMetaObject.className()));
        act(*window);
        if (window->isVisible())
            window->reject();
    });
    timer->start();
}

template <typename T> T* child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

void click(QWidget& parent, const char* button) {
    child<QAbstractButton>(parent, button)->click();
}

// Opens the wizard from the home window's link, as a click does, and runs `drive` on it.
void openWizard(ui::TfrmMain& home, Pictures& pictures, const char* link,
                std::function<void(ui::TfrmRepair&)> drive) {
    whenModal<ui::TfrmRepair>(pictures, std::move(drive));
    click(home, link);
}

// Clean mode: every section ticked, the scan run (its page taken halfway), the problems
// found, the registry viewer opened at the first of them; then, when the later pictures
// need an undo file, the problems repaired.
void driveClean(ui::TfrmRepair& wizard, Pictures& pictures, bool repair) {
    auto* sections = child<QTableWidget>(wizard, "gdItems");
    for (int row = 0; row < sections->rowCount(); ++row)
        sections->item(row, 0)->setCheckState(Qt::Checked);
    wizard.UpdateActions();
    pictures.take(wizard, "wizard-select");
    click(wizard, "btnNext");
    pictures.take(wizard, "wizard-options");

    // The scan page as it stands when the scan has come halfway through the sections.
    // The engine raises its events on its worker; the wizard's handler goes to the
    // window's thread, and the picture is taken there right after it.
    TFixRegistry& engine = wizard.Engine();
    bool scanTaken = false;
    auto status = engine.OnStatus;
    engine.OnStatus = [&, status](TFixRegistry* sender, TRepairItem item, const std::string& d) {
        status(sender, item, d);
        QMetaObject::invokeMethod(
            &wizard,
            [&] {
                if (!scanTaken && child<QProgressBar>(wizard, "pgTotal")->value() >= 50) {
                    scanTaken = true;
                    pictures.take(wizard, "wizard-scan");
                }
            },
            Qt::QueuedConnection);
    };
    click(wizard, "btnNext");
    if (!waitUntil(
            [&] { return !engine.IsRunning() && wizard.PageIndex() != ui::TfrmRepair::pgOptions; }))
        return pictures.fail("the scan did not end");
    engine.OnStatus = status;
    if (wizard.PageIndex() != ui::TfrmRepair::pgResult)
        return pictures.fail("the scan found no problems");

    // The first problem clicked, then shown in the registry viewer from the Tools menu.
    auto* result = child<QListView>(wizard, "gdResult");
    result->setCurrentIndex(result->model()->index(0, 0));
    pictures.take(wizard, "wizard-result");
    if (pictures.wants("registry-viewer")) {
        wizard.UpdateActions();
        wizard.actOpenedt->trigger();
        QWidget* viewer = nullptr;
        waitUntil(
            [&] {
                for (QWidget* window : QApplication::topLevelWidgets())
                    if (qobject_cast<ui::RegistryViewer*>(window) && window->isVisible())
                        viewer = window;
                return viewer != nullptr;
            },
            10000);
        if (!viewer)
            return pictures.fail("the registry viewer did not open");
        pictures.take(*viewer, "registry-viewer");
        viewer->close();
    }
    if (repair) {
        wizard.UpdateActions();
        click(wizard, "btnNext"); // "Repair Now": the pass runs before the click returns
        if (child<QListView>(wizard, "gdResult")->model()->rowCount() != 0)
            pictures.fail("not every problem was repaired");
    }
    click(wizard, "btnCancel"); // "Finish"
}

// Options: an exclusion added through the browse-key window.
void driveOptions(ui::TfrmMain& home, Pictures& pictures) {
    whenModal<ui::TfrmOptions>(pictures, [&pictures](ui::TfrmOptions& options) {
        whenModal<ui::TfrmBrowsekey>(pictures, [&pictures](ui::TfrmBrowsekey& browse) {
            // Down to a key of the user's, as the clicks on the tree go.
            auto& model = *browse.Model();
            QModelIndex at = model.FindChild(model.TopIndex(), "HKEY_LOCAL_MACHINE");
            browse.Tree()->expand(at);
            at = model.FindChild(model.TopIndex(), "HKEY_CURRENT_USER");
            for (const char* name : {"Software", "Microsoft", "Notepad"}) {
                browse.Tree()->expand(at);
                const QModelIndex next = model.FindChild(at, name);
                if (!next.isValid())
                    break;
                at = next;
            }
            browse.Tree()->setCurrentIndex(at);
            browse.Tree()->scrollTo(at);
            child<QCheckBox>(browse, "chkIncludeSub")->setChecked(true);
            pictures.take(browse, "browse-key");
            click(browse, "btnOK");
        });
        click(options, "btnAdd");
        pictures.take(options, "options");
        click(options, "btnOK");
    });
    click(home, "lvOptions");
}

// Backup mode: the profile dialog as it offers its name, the backup taken (its progress
// view taken halfway), the list that then holds it beside the repair's undo file.
void driveBackup(ui::TfrmRepair& wizard, Pictures& pictures) {
    THiveManager* manager = wizard.HiveManager();
    if (!manager || !wizard.HivesUsable())
        return pictures.fail("the hive list of the machine cannot be read");
    bool progressTaken = false;
    auto progress = manager->OnProgress;
    // Raised on the backup's worker, as the scan's events are.
    manager->OnProgress = [&, progress](THiveManager* sender, int percent) {
        progress(sender, percent);
        QMetaObject::invokeMethod(
            &wizard,
            [&, percent] {
                if (!progressTaken && percent >= 40 && percent < 100) {
                    progressTaken = true;
                    pictures.take(wizard, "wizard-backup-progress");
                }
            },
            Qt::QueuedConnection);
    };
    whenModal<ui::TfrmBackProfile>(pictures, [&pictures](ui::TfrmBackProfile& dialog) {
        pictures.take(dialog, "backup-profile");
        dialog.edtProfile->setText("Before the driver update");
        click(dialog, "btnOK");
    });
    wizard.UpdateActions();
    click(wizard, "taskBackup");
    if (!waitUntil([&] { return !manager->IsBusy(); }))
        return pictures.fail("the backup did not end");
    manager->OnProgress = progress;
    // The new profile clicked.
    auto* list = child<QListView>(wizard, "gdRestore");
    for (int row = 0; row < list->model()->rowCount(); ++row)
        if (list->model()->index(row, 5).data().toString() == "Before the driver update")
            list->setCurrentIndex(list->model()->index(row, 0));
    wizard.UpdateActions();
    pictures.take(wizard, "wizard-backup");
    click(wizard, "btnCancel");
}

// Compact mode: the page, the compaction run, its report.
void driveCompact(ui::TfrmRepair& wizard, Pictures& pictures) {
    pictures.take(wizard, "wizard-compact");
    click(wizard, "btnCompact");
    if (!waitUntil([&] {
            return wizard.PageIndex() == ui::TfrmRepair::pgReport &&
                   !(wizard.HiveManager() && wizard.HiveManager()->IsBusy());
        }))
        return pictures.fail("the compaction did not reach its report");
    pictures.take(wizard, "wizard-report");
    click(wizard, "btnCancel");
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName("Hivewarden");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Renders the windows of Hivewarden into PNG files, driving them as a user does: it "
        "scans, repairs, backs up and compacts the machine, which must be one that may "
        "change (a new sandbox).");
    parser.addHelpOption();
    parser.addOption({"machine", "The Windows installation (else the sandbox).", "DIR"});
    parser.addOption({"pictures", "Only these pictures (comma-separated names).", "NAMES"});
    parser.addOption({"suffix", "Appended to every file name.", "TEXT"});
    parser.addPositionalArgument("FOLDER", "Where the PNG files go.");
    parser.process(application);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    // The run repairs, backs up and compacts, and keeps what it does in the program
    // folder: never the user's own.
    if (qEnvironmentVariableIsEmpty("HIVEWARDEN_PROGRAM_FOLDER")) {
        err() << "hivewarden-screenshots: HIVEWARDEN_PROGRAM_FOLDER must name a program folder "
                 "made for the run.\n";
        return 2;
    }
    // Nor the installation the user works on.
    qunsetenv("HIVEWARDEN_MACHINE");
    const QDir folder(parser.positionalArguments().first());
    QDir().mkpath(folder.path());
    QStringList only;
    if (parser.isSet("pictures"))
        only = parser.value("pictures").split(',', Qt::SkipEmptyParts);
    Pictures pictures(folder, only, parser.value("suffix"));

    std::optional<app::BootedMachine> machine;
    TMachineChoice choice;
    try {
        choice = ChooseMachine(parser.value("machine").toStdString());
        machine.emplace(choice.folder, win32::BootOptions{});
        InitOSInfo();
    } catch (const std::exception& e) {
        err() << "hivewarden-screenshots: " << QString::fromUtf8(e.what()) << "\n";
        return 1;
    }
    // Every message is answered as a user would: OK, and Yes to a question.
    ui::SetMessageBoxAnswerer([](const ui::MessageBoxRequest& request) {
        QTextStream(stdout) << "  (" << request.caption << ": "
                            << QString(request.text).replace("\r\n", " ").replace('\n', ' ')
                            << ")\n";
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });

    {
        ui::TfrmMain home;
        ui::RegistryViewer registryViewer;
        ui::RegistryEditorViewer registryEditor(registryViewer);
        if (choice.sandbox)
            home.SetMachineNote(QString::fromStdString(SandboxNotice(choice)));
        home.show();
        QApplication::processEvents();

        const bool later = pictures.wantsAny({"wizard-backup", "wizard-backup-progress",
                                              "backup-profile", "wizard-compact", "wizard-report"});
        if (later || pictures.wantsAny({"wizard-select", "wizard-options", "wizard-scan",
                                        "wizard-result", "registry-viewer"}))
            openWizard(home, pictures, "lvRepair",
                       [&](ui::TfrmRepair& wizard) { driveClean(wizard, pictures, later); });
        if (pictures.wantsAny({"options", "browse-key"}))
            driveOptions(home, pictures);
        if (pictures.wantsAny({"wizard-backup", "wizard-backup-progress", "backup-profile"}))
            openWizard(home, pictures, "lvBackup",
                       [&](ui::TfrmRepair& wizard) { driveBackup(wizard, pictures); });
        if (pictures.wantsAny({"wizard-compact", "wizard-report"}))
            openWizard(home, pictures, "lvCompact",
                       [&](ui::TfrmRepair& wizard) { driveCompact(wizard, pictures); });
        if (pictures.wants("about")) {
            whenModal<ui::TfrmAbout>(
                pictures, [&pictures](ui::TfrmAbout& about) { pictures.take(about, "about"); });
            click(home, "lvAbout");
        }
        // The home window as the user comes back to it: the last jobs' times, and the
        // hive replacements that wait for the program's end.
        pictures.take(home, "home");
    }
    ui::SetMessageBoxAnswerer({});
    if (!pictures.complete())
        return 1;
    try {
        machine->finish();
    } catch (const std::exception& e) {
        err() << "hivewarden-screenshots: " << QString::fromUtf8(e.what()) << "\n";
        return 1;
    }
    return 0;
}
