#pragma once
// A hive manager's operation for the commands: run to its end on the manager's worker,
// with its progress on stderr.

#include "app/QtUiDispatcher.h"
#include "compact/THiveManager.h"

#include <QString>

namespace cli {

// Throws CommandError "This function does not support Windows 9x system." on the 9x
// family, where there are no hive files to save or replace.
void RefuseWindows9x();

// Scans the booted machine's hive list into the manager; throws CommandError.
void ScanMachineHives(THiveManager& manager);

// `ui` is the manager's dispatcher. Starts `mode` and returns once OnDone has come, with the
// Success it reported. Each progress report is a line "`what`: N%" on stderr.
bool RunHiveOperation(THiveManager& manager, app::QtUiDispatcher& ui, int mode,
                      const QString& what);

// Text of the machine's ANSI code page for the terminal.
QString MachineText(const std::string& text);

} // namespace cli
