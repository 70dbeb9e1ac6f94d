#pragma once
// Starting the windowed program when the user logs on to the host desktop: an entry in
// the user's autostart folder (as freedesktop's Desktop Application Autostart standard
// lays it out), one per machine, which starts the program on that machine.

#include <QString>

namespace app {

// $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset).
QString AutoStartFolder();
// The entry for the machine in `machineFolder`: "hivewarden-" and a digest of the
// folder, so that every machine has an entry of its own.
QString AutoStartEntryPath(const QString& machineFolder);

// Creates (enable) or removes the entry that runs `program --machine machineFolder`.
// False, with the reason in `error`, when the entry cannot be written or removed;
// removing an entry that is not there succeeds.
bool SetHostAutoStart(const QString& machineFolder, const QString& program, bool enable,
                      QString& error);

} // namespace app
