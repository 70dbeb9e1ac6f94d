#include "UiTestSupport.h"

#include "ui/TfrmMain.h"
#include "ui/TfrmRepair.h"

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

} // namespace ui_testing
