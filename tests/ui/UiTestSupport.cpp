#include "UiTestSupport.h"

#include "support/MachineFixture.h"
#include "ui/TfrmMain.h"
#include "ui/TfrmRepair.h"
#include "win32/registry/Registry.h"

#include <QFile>

namespace ui_testing {

MessageBoxes::MessageBoxes(QList<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)) {
    ui::SetMessageBoxAnswerer([this](const ui::MessageBoxRequest& request) {
        asked_.push_back(request);
        if (answers_.size() > 1)
            return answers_.takeFirst();
        return answers_.value(0, QMessageBox::Ok);
    });
}

MessageBoxes::~MessageBoxes() {
    ui::SetMessageBoxAnswerer({});
}

std::unique_ptr<ui::TfrmRepair> OpenWizard(uint8_t mode) {
    auto wizard = std::make_unique<ui::TfrmRepair>();
    wizard->WizardMode = mode;
    wizard->show();
    return wizard;
}

WhenHomeShown::WhenHomeShown(std::function<void()> act) {
    poll_.setInterval(5);
    QObject::connect(&poll_, &QTimer::timeout, [this, act = std::move(act)] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* home = qobject_cast<ui::TfrmMain*>(window); home && home->isVisible()) {
                poll_.stop();
                act();
                return;
            }
    });
    poll_.start();
}

bool LeaveSoftwareReplacementWaiting(testing_support::TestMachine& machine, QString& failed) {
    HKEY software = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &software) != 0) {
        failed = "open SOFTWARE";
        return false;
    }
    const bool saved =
        testing_support::EnablePrivileges({"SeBackupPrivilege", "SeRestorePrivilege"}) &&
        RegSaveKeyA(software, "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp", nullptr) == 0;
    RegCloseKey(software);
    if (!saved || RegReplaceKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE",
                                 "C:\\WINDOWS\\system32\\config\\SOFTWARE.rctemp",
                                 "C:\\WINDOWS\\system32\\config\\SOFTWARE.rcbak") != 0) {
        failed = "save SOFTWARE and ask for its replacement";
        return false;
    }
    QFile blocker(
        QString::fromStdString(machine.hostPath("WINDOWS/system32/config/SOFTWARE.rcbak")));
    if (!blocker.open(QIODevice::WriteOnly)) {
        failed = "block the old file's name";
        return false;
    }
    blocker.close();
    machine.shutdown();
    if (!blocker.remove()) {
        failed = "unblock the old file's name";
        return false;
    }
    return true;
}

} // namespace ui_testing
