#include "ui/WaitingReplacements.h"

#include "win32/machine/Machine.h"
#include "win32/registry/PendingReplacements.h"

#include <QStringList>

namespace ui {

QString WaitingReplacementsText() {
    // This run's replacements, or an earlier run's that could not be made then.
    QStringList waiting;
    for (const win32::PendingReplacement& r : win32::PendingReplacementsOf(win32::MachineFolder()))
        waiting << QString::fromStdString(r.hive.substr(r.hive.find_last_of("\\:") + 1));
    if (waiting.isEmpty())
        return {};
    return QString("Hive replacements wait for this installation (%1): Hivewarden makes them "
                   "when it closes.")
        .arg(waiting.join(", "));
}

} // namespace ui
