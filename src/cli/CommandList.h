#pragma once
// The commands of hivewarden-cli as the user reads about them: the list in the program's
// usage, each command's --help, and the list in its manual page, all from the commands
// themselves so that they say the same.

#include "cli/Command.h"

#include <QString>

namespace cli {

// "  name   description" for every command, the descriptions lined up and wrapped to
// `width` columns.
QString CommandListText(int width = 80);

// The command's --help: its usage, description and details.
QString CommandHelpText(const Command& command);

// The commands in scdoc markup, for the manual page: each command's usage as a term and
// its description and details below it.
QString CommandListScdoc();

} // namespace cli
