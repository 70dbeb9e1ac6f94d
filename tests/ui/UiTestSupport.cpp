#include "UiTestSupport.h"

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

} // namespace ui_testing
