#include "cli/Command.h"
#include "cli/Commands.h"

namespace cli {

std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(MakeMachineCreateCommand());
    commands.push_back(MakeMachineResetSandboxCommand());
    commands.push_back(MakeRegImportCommand());
    commands.push_back(MakeRegSaveCommand());
    commands.push_back(MakeRegDeleteCommand());
    commands.push_back(MakeRegQueryCommand());
    commands.push_back(MakeRestartCommand());
    commands.push_back(MakeInfoCommand());
    commands.push_back(MakeStoreDumpCommand());
    commands.push_back(MakeStoreRunCommand());
    commands.push_back(MakeExportCommand());
    commands.push_back(MakeScanCommand());
    commands.push_back(MakeCleanCommand());
    commands.push_back(MakeHivesCommand());
    commands.push_back(MakeCompactCommand());
    commands.push_back(MakeBackupCommand());
    commands.push_back(MakeBackupsCommand());
    commands.push_back(MakeRestoreCommand());
    commands.push_back(MakeHiveCheckCommand());
    commands.push_back(MakeHiveRecoverCommand());
    return commands;
}

} // namespace cli
