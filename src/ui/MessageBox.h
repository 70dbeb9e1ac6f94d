#pragma once
// Every message box of the program: one caption, one icon, the buttons, owned by the
// window that caused it. Tests answer the boxes through SetMessageBoxAnswerer.

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace ui {

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Shows the box modally over `owner` and returns the button that closed it (Escape and
// the close button give No or Cancel when the box has one, else its only button).
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// While set, boxes are not shown: the answerer receives each request and gives the
// button the user would have pressed. An empty function shows them again.
using MessageBoxAnswerer = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

} // namespace ui
