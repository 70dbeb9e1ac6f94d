#pragma once
// The sentence the windows show while hive replacements (a restore's, a compaction's)
// wait for the installation: they are made when the program lets the machine go.

#include <QString>

namespace ui {

// "Hive replacements wait for this installation (SOFTWARE, SYSTEM): Hivewarden makes them
// when it closes."; empty when none waits.
QString WaitingReplacementsText();

} // namespace ui
