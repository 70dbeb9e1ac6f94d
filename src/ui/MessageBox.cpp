#include "ui/MessageBox.h"

namespace ui {

namespace {

MessageBoxAnswerer& answerer() {
    static MessageBoxAnswerer instance;
    return instance;
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons) {
    if (const MessageBoxAnswerer& answer = answerer())
        return answer(MessageBoxRequest{owner, caption, text, icon, buttons});
    // Texts may break lines as Windows does.
    QMessageBox box(icon, caption, QString(text).replace("\r\n", "\n"), buttons, owner);
    if (buttons.testFlag(QMessageBox::Yes))
        box.setDefaultButton(QMessageBox::Yes);
    else if (buttons.testFlag(QMessageBox::Ok))
        box.setDefaultButton(QMessageBox::Ok);
    return QMessageBox::StandardButton(box.exec());
}

void SetMessageBoxAnswerer(MessageBoxAnswerer answer) {
    answerer() = std::move(answer);
}

} // namespace ui
