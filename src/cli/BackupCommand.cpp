#include "app/QtUiDispatcher.h"
#include "backup/ProfileConfig.h"
#include "backup/ProfileFolder.h"
#include "backup/RestoreChoice.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/HiveRun.h"
#include "compact/THiveManager.h"
#include "registry/DateTimeText.h"
#include "registry/OSInfo.h"
#include "store/OptionValues.h"
#include "store/ProgramFolder.h"
#include "store/RestoreRecords.h"
#include "store/SettingsNames.h"
#include "win32/host/PlainFileName.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

constexpr char kForbidden[] = "\\/:*?\"<>|";

// Saves the five system hives into a new profile folder of "Registry Backup" in the
// machine's program folder, as the wizard's Backup does.
class BackupCommand : public Command {
public:
    QString name() const override { return "backup"; }
    QString usage() const override { return "backup [NAME]"; }
    QString description() const override {
        return "Backs up the system hives into a new profile (named by the time, or NAME).";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, args.isEmpty() ? 0 : 1, usage());

        BootedMachine machine(global, false);
        InitOSInfo();
        RefuseWindows9x();
        const TDateTime asked = Now();
        const std::string profile = parser.positionalArguments().isEmpty()
                                        ? DefaultProfileName(asked)
                                        : parser.positionalArguments().at(0).toStdString();
        if (profile.find_first_of(kForbidden) != std::string::npos || profile.empty() ||
            profile == "." || profile == "..")
            throw CommandError(
                std::string("Profile name cannot contain any of the characters: \"") + kForbidden +
                "\".");
        if (const std::string fault = win32::PlainFileNameFault(profile); !fault.empty())
            throw CommandError("The profile name \"" + profile + "\" " + fault + ".");
        if (IsUndoFileName(profile))
            throw CommandError("A profile name cannot contain \".reg\": a restore would take "
                               "the profile for an undo file.");
        // The machine's own program folder: known only while it is booted.
        const std::string store = StoreFilePath();
        const std::string backups = RegistryBackupFolder();
        if (const std::string why = SymbolicLinkProblem(backups, "The backup folder"); !why.empty())
            throw CommandError(why + ".");
        const QString folder = QString::fromStdString(backups + profile);
        if (QFileInfo(folder).exists() || QFileInfo(folder).isSymLink())
            throw CommandError("This Profile name already exist, please rename profile.");
        // The backup makes the folder itself, when the profile in it is complete.
        QDir().mkpath(QString::fromStdString(backups));
        if (!QFileInfo(QString::fromStdString(backups)).isDir())
            throw CommandError("Create profile failed!");

        app::QtUiDispatcher ui;
        THiveManager manager(ui);
        ScanMachineHives(manager);
        manager.Folder = folder.toStdString();
        const bool success = RunHiveOperation(manager, ui, hoBackup, "Backing up");
        machine.finish();
        if (!success)
            throw CommandError(
                "The backup into " + manager.Folder +
                " is incomplete, and nothing of it was kept: " + manager.LastError() + ".");
        WriteOptionString(store, kLastBackupValue, DateTimeToText(Now()));
        AddRestoreRecord(store, kBackupRegistryAction, profile, Now());
        QTextStream(stdout) << "Backup is complete.\n"
                            << "Profile: " << QString::fromStdString(profile) << "\n"
                            << "Folder:  " << folder << "\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeBackupCommand() {
    return std::make_unique<BackupCommand>();
}

} // namespace cli
