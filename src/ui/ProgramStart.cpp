#include "ui/ProgramStart.h"

#include "app/BootedMachine.h"
#include "app/ProgramIdentity.h"
#include "registry/OSInfo.h"
#include "registry/Privileges.h"
#include "sandbox/MachineChoice.h"
#include "ui/MessageBox.h"
#include "ui/RegistryEditorViewer.h"
#include "ui/RegistryViewer.h"
#include "ui/TfrmMain.h"
#include "ui/WorkOffThread.h"

#include <QApplication>
#include <QCommandLineParser>
#include <optional>

namespace ui {

void DescribeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Registry maintenance of a Windows installation. The machine is DIR, else the folder "
        "named by HIVEWARDEN_MACHINE, else the sandbox.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({"machine", "The folder of the Windows installation (its drive C:).", "DIR"});
}

bool AsksForHelpOrVersion(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1)) {
        if (argument == "--")
            return false;
        if (argument == "--help" || argument == "-h" || argument == "-?" ||
            argument == "--help-all" || argument == "--version" || argument == "-v")
            return true;
    }
    return false;
}

int RunHivewarden(const QStringList& arguments) {
    app::NameProgram();
    // No display name: the platform would append it to every window title, and the
    // windows' titles ("Hivewarden 1.0", "About", the empty caption of the rights message)
    // stand alone. The desktop knows the program by its desktop entry.
    QGuiApplication::setDesktopFileName(app::kApplicationName);

    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.process(arguments);

    std::optional<app::BootedMachine> machine;
    TMachineChoice choice;
    try {
        // A large installation takes a while to mount: the program says so meanwhile.
        RunOffWindowThread(nullptr, "Hivewarden", "Opening the Windows installation...", [&] {
            choice = ChooseMachine(parser.value("machine").toStdString());
            // The wizard repairs, backs up and compacts: the machine is mounted for
            // writing, which holds its lock until the program ends.
            machine.emplace(choice.folder, win32::BootOptions{});
            InitOSInfo();
        });
    } catch (const std::exception& e) {
        ShowMessageBox(nullptr, "Hivewarden",
                       "The Windows installation cannot be opened.\n\n" +
                           QString::fromUtf8(e.what()),
                       QMessageBox::Critical);
        return 1;
    }
    // On the NT family only an administrator may work on the system's registry.
    if (IsWinNT() && !IsAdmin()) {
        ShowMessageBox(nullptr, "",
                       "In order to access System functions you must be logged on with Local "
                       "Administrator rights.\r\n \r\nFor more information please contact your "
                       "network or PC administrator.",
                       QMessageBox::Information);
        machine->finish();
        return 1;
    }
    if (!machine->warnings().empty()) {
        QStringList lines;
        for (const std::string& warning : machine->warnings())
            lines << QString::fromUtf8(warning);
        ShowMessageBox(nullptr, "Hivewarden", lines.join("\n"), QMessageBox::Warning);
    }

    int status = 0;
    {
        TfrmMain home;
        // The machine's registry editor, until the machine shuts down.
        RegistryViewer registryViewer;
        RegistryEditorViewer registryEditor(registryViewer);
        // Closing the home window ends the program, whatever other window is open: a
        // registry viewer closes with it (at the end of this block), and the machine is
        // let go.
        QObject::connect(&home, &TfrmMain::Closed, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        if (choice.sandbox)
            home.SetMachineNote(QString::fromStdString(SandboxNotice(choice)));
        home.show();
        status = QApplication::exec();
    }
    // Letting the machine go is its next start: the hive replacements a restore or a
    // compaction left waiting are made now. One that cannot be made is said, and waits.
    try {
        if (machine->finish()) {
            if (const auto problems = win32::LastReleaseReplacements().problems();
                !problems.empty()) {
                QStringList lines;
                for (const std::string& problem : problems)
                    lines << QString::fromStdString(problem);
                ShowMessageBox(nullptr, "Hivewarden",
                               "The hive replacements that wait for the installation could not "
                               "be made; they wait for the next time Hivewarden closes:\n" +
                                   lines.join("\n"),
                               QMessageBox::Warning);
                return 1;
            }
        }
    } catch (const std::exception& e) {
        ShowMessageBox(nullptr, "Hivewarden", QString::fromUtf8(e.what()), QMessageBox::Critical);
        return 1;
    }
    return status;
}

} // namespace ui
