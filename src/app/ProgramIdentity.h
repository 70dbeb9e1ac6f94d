#pragma once
// The name and version both programs run under. The name decides Qt's per-user data folder
// (~/.local/share/hivewarden), the program folder of an installed program, so the window
// and the command-line program must share it to share their backups and settings.

#include <QString>

namespace app {

// Lower case, as the XDG base-directory convention names a program's folders.
inline constexpr char kApplicationName[] = "hivewarden";

// The version the build was made from ("1.0"), as the windows show it.
QString ProgramVersion();

// Gives the running QCoreApplication the program's name and version.
void NameProgram();

} // namespace app
