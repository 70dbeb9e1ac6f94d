#pragma once
// The commands of hivewarden-cli, one file each.

#include "cli/Command.h"

namespace cli {

std::unique_ptr<Command> MakeMachineCreateCommand();
std::unique_ptr<Command> MakeMachineResetSandboxCommand();
std::unique_ptr<Command> MakeRegImportCommand();
std::unique_ptr<Command> MakeRegSaveCommand();
std::unique_ptr<Command> MakeRegDeleteCommand();
std::unique_ptr<Command> MakeRegQueryCommand();
std::unique_ptr<Command> MakeRestartCommand();
std::unique_ptr<Command> MakeInfoCommand();
std::unique_ptr<Command> MakeStoreDumpCommand();
std::unique_ptr<Command> MakeStoreRunCommand();
std::unique_ptr<Command> MakeExportCommand();
std::unique_ptr<Command> MakeScanCommand();
std::unique_ptr<Command> MakeCleanCommand();
std::unique_ptr<Command> MakeHivesCommand();
std::unique_ptr<Command> MakeCompactCommand();
std::unique_ptr<Command> MakeBackupCommand();
std::unique_ptr<Command> MakeBackupsCommand();
std::unique_ptr<Command> MakeRestoreCommand();

} // namespace cli
