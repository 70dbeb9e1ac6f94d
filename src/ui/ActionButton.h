#pragma once
// A push button that acts through an action: it shows the action's text and enabled
// state and triggers it when clicked. A button is bound to one action at a time.

class QAction;
class QAbstractButton;

namespace ui {

void BindButtonToAction(QAbstractButton* button, QAction* action);
// The action the button is bound to; null when none.
QAction* BoundAction(const QAbstractButton* button);

} // namespace ui
