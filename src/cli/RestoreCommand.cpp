#include "app/QtUiDispatcher.h"
#include "backup/RestoreChoice.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/HiveRun.h"
#include "compact/THiveManager.h"
#include "registry/OSInfo.h"
#include "store/ProgramFolder.h"
#include "win32/host/PlainFileName.h"
#include "win32/shell/RegistryEditor.h"

#include <QFileInfo>
#include <QTextStream>

namespace cli {

namespace {

// Restores an entry of the machine's "Registry Backup": an undo file is imported by the
// registry editor, a backup profile replaces the hives at the next restart.
class RestoreCommand : public Command {
public:
    QString name() const override { return "restore"; }
    QString description() const override {
        return "Restores a backup profile (at the next restart) or imports an undo file.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 1, "restore NAME");
        const std::string entry = parser.positionalArguments().at(0).toStdString();
        if (const std::string fault = win32::PlainFileNameFault(entry); !fault.empty())
            throw CommandError("NAME is an entry of \"Registry Backup\" (see hivewarden-cli "
                               "backups), not a path: \"" +
                               entry + "\" " + fault + ".");
        BootedMachine machine(global, false);
        InitOSInfo();
        const std::string path = RegistryBackupFolder() + entry;
        const QFileInfo info(QString::fromStdString(path));
        QTextStream out(stdout);
        if (IsUndoFileName(entry)) {
            if (!info.isFile())
                throw CommandError("File \"" + path + "\" does not exist, restore failed.");
            if (!ImportRegFile(path))
                throw CommandError("File \"" + path + "\" is corrupt, restore failed.");
            int failed = 0;
            for (const win32::RegistryImportOutcome& outcome : win32::WaitForRegistryImports()) {
                QTextStream err(stderr);
                for (const auto& problem : outcome.problems)
                    err << QString::fromStdString(outcome.file) << ":" << problem.line << ": "
                        << QString::fromStdString(problem.message) << "\n";
                if (!outcome.imported) {
                    ++failed;
                    err << "Not imported: " << QString::fromStdString(outcome.error) << "\n";
                } else {
                    out << "Imported " << outcome.applied << " entries from "
                        << QString::fromStdString(outcome.file) << "\n";
                }
                failed += outcome.problems.empty() ? 0 : 1;
            }
            machine.finish();
            if (failed > 0)
                return 1;
            out << "Restore successfully\n";
            return 0;
        }

        if (!info.isDir())
            throw CommandError("Backup folder not found, restore failed!");
        RefuseWindows9x();
        app::QtUiDispatcher ui;
        THiveManager manager(ui);
        ScanMachineHives(manager);
        manager.Folder = path;
        const bool success = RunHiveOperation(manager, ui, hoRestore, "Restoring");
        machine.finish();
        if (!success)
            throw CommandError("File corrupt or erroneous type, restore failed. " +
                               manager.LastError() + ". No hive will be replaced.");
        out << "You need to restart Windows to complete restoration.\n"
            << "(hivewarden-cli restart puts the profile's hives in place.)\n";
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeRestoreCommand() {
    return std::make_unique<RestoreCommand>();
}

} // namespace cli
