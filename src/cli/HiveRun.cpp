#include "cli/HiveRun.h"

#include "cli/Command.h"
#include "cli/StoreText.h"
#include "registry/OSInfo.h"

#include <QEventLoop>
#include <QTextStream>

namespace cli {

void RefuseWindows9x() {
    if (IsWin9x())
        throw CommandError("This function does not support Windows 9x system.");
}

void ScanMachineHives(THiveManager& manager) {
    try {
        manager.ScanHives();
    } catch (const std::exception& e) {
        throw CommandError(e.what());
    }
}

bool RunHiveOperation(THiveManager& manager, app::QtUiDispatcher& ui, int mode,
                      const QString& what) {
    QEventLoop loop;
    bool success = false;
    // Progress comes on the worker: the line is printed on this thread.
    manager.OnProgress = [&ui, what](THiveManager*, int percent) {
        ui.Post([what, percent] {
            QTextStream err(stderr);
            err << what << ": " << percent << "%\n";
        });
    };
    manager.OnDone = [&](THiveManager*, bool done) {
        success = done;
        loop.quit();
    };
    manager.Start(mode);
    loop.exec();
    manager.OnProgress = nullptr;
    manager.OnDone = nullptr;
    return success;
}

QString MachineText(const std::string& text) {
    return FromAnsi(text);
}

} // namespace cli
