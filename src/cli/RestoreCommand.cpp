#include "app/QtUiDispatcher.h"
#include "backup/ProfileFolder.h"
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
// registry editor, a backup profile replaces the hives at the machine's next start, which
// is when the command lets the machine go.
class RestoreCommand : public Command {
public:
    QString name() const override { return "restore"; }
    QString usage() const override { return "restore NAME"; }
    QString description() const override {
        return "Restores a backup profile (when the command ends) or imports an undo file.";
    }
    int execute(const GlobalOptions& global, const QStringList& args) override {
        QCommandLineParser parser;
        ParseArguments(parser, name(), args, 1, usage());
        const std::string entry = parser.positionalArguments().at(0).toStdString();
        if (const std::string fault = win32::PlainFileNameFault(entry); !fault.empty())
            throw CommandError("NAME is an entry of \"Registry Backup\" (see hivewarden-cli "
                               "backups), not a path: \"" +
                               entry + "\" " + fault + ".");
        BootedMachine machine(global, false);
        InitOSInfo();
        const std::string backups = RegistryBackupFolder();
        const std::string path = backups + entry;
        for (const auto& [link, what] :
             {std::pair{backups, "The backup folder"}, std::pair{path, "The entry"}})
            if (const std::string why = SymbolicLinkProblem(link, what); !why.empty())
                throw CommandError(why + "; restore failed.");
        const QFileInfo info(QString::fromStdString(path));
        QTextStream out(stdout);
        if (IsUndoFileName(entry)) {
            if (!info.isFile())
                throw CommandError("File \"" + path + "\" does not exist, restore failed.");
            // Nothing of a file that is no undo file is shown: it may be anything.
            if (!HasUndoFileHeader(path))
                throw CommandError("File \"" + path +
                                   "\" is no undo file: it does not begin as the registry "
                                   "editor's files do, restore failed.");
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
        if (!success) {
            machine.finish();
            throw CommandError("File corrupt or erroneous type, restore failed. " +
                               manager.LastError() + ". No hive will be replaced.");
        }
        out << "You need to restart Windows to complete restoration.\n"
            << "Hivewarden makes the change when it lets the machine go, at the end of this "
               "command: the profile's hives replace the machine's, and changes made since "
               "the backup are undone.\n";
        out.flush();
        if (!machine.finish())
            return 1;
        return 0;
    }
};

} // namespace

std::unique_ptr<Command> MakeRestoreCommand() {
    return std::make_unique<RestoreCommand>();
}

} // namespace cli
