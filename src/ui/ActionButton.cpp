#include "ui/ActionButton.h"

#include <QAbstractButton>
#include <QAction>
#include <QPointer>

namespace ui {

namespace {

struct Binding : QObject {
    QPointer<QAction> action;
    QMetaObject::Connection clicked, changed;
};

constexpr char kBindingName[] = "hwActionBinding";

Binding* bindingOf(const QAbstractButton* button) {
    return button->findChild<Binding*>(kBindingName, Qt::FindDirectChildrenOnly);
}

} // namespace

void BindButtonToAction(QAbstractButton* button, QAction* action) {
    Binding* binding = bindingOf(button);
    if (!binding) {
        binding = new Binding;
        binding->setObjectName(kBindingName);
        binding->setParent(button);
    }
    QObject::disconnect(binding->clicked);
    QObject::disconnect(binding->changed);
    binding->action = action;
    if (!action)
        return;
    const auto show = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    };
    show();
    binding->clicked = QObject::connect(button, &QAbstractButton::clicked, action, [action] {
        if (action->isEnabled())
            action->trigger();
    });
    binding->changed = QObject::connect(action, &QAction::changed, button, show);
}

QAction* BoundAction(const QAbstractButton* button) {
    const Binding* binding = bindingOf(button);
    return binding ? binding->action.data() : nullptr;
}

} // namespace ui
